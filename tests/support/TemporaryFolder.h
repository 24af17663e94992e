#pragma once

#include <filesystem>
#include <string>

namespace kelvora::test {

// A fresh folder of the test's own below the system's temporary folder,
// removed with everything in it when it goes. Throws when it cannot be made,
// which fails the test before its body runs.
class TemporaryFolder {
public:
    // The folder's name is `prefix` and six random characters.
    explicit TemporaryFolder(const std::string& prefix);
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string string() const { return path_.string(); }
    std::filesystem::path operator/(const std::filesystem::path& name) const {
        return path_ / name;
    }

private:
    std::filesystem::path path_;
};

} // namespace kelvora::test
