// The single-instance lock on real files: a second start is refused whatever
// the runtime folder, falling back to a private folder of our own when the
// user has none; a name another user took first in the shared temporary
// folder is never followed.
#include "shell/SingleInstance.h"

#include "support/TemporaryFolder.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kName = "Kelvora.exe";

// Sets an environment variable for the life of the object.
class ScopedVariable {
public:
    ScopedVariable(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            previous_ = old;
        }
        set(value);
    }
    ~ScopedVariable() { set(previous_); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    void set(const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name_, value->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    const char* name_;
    std::optional<std::string> previous_;
};

struct FolderMode {
    bool isFolder;
    uid_t owner;
    unsigned mode;
};

FolderMode folderMode(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return {false, 0, 0};
    }
    return {S_ISDIR(info.st_mode), info.st_uid, info.st_mode & 07777u};
}

class SingleInstanceTest : public ::testing::Test {
protected:
    fs::path privateFolder() const {
        return temporaryFolder_ / ("Kelvora-" + std::to_string(::geteuid()));
    }

    TemporaryFolder temporary_{"kelvora-instance"};
    const fs::path temporaryFolder_ = temporary_ / "tmp";
    const bool made_ = fs::create_directories(temporaryFolder_);
    ScopedVariable tmpdir_{"TMPDIR", temporaryFolder_.string()};
};

struct RuntimeCase {
    const char* name;
    // XDG_RUNTIME_DIR from the test's folder; nullopt unsets it.
    std::function<std::optional<std::string>(const fs::path& folder)> runtime;
    bool inRuntimeFolder;
};

class RuntimeFolder : public SingleInstanceTest,
                      public ::testing::WithParamInterface<RuntimeCase> {};

TEST_P(RuntimeFolder, ASecondStartIsRefused) {
    const std::optional<std::string> runtime = GetParam().runtime(temporary_.path());
    ScopedVariable variable("XDG_RUNTIME_DIR", runtime);

    SingleInstance first;
    ASSERT_EQ(first.acquire(kName), SingleInstance::Result::Acquired);
    SingleInstance second;
    EXPECT_EQ(second.acquire(kName), SingleInstance::Result::AlreadyRunning);

    const fs::path folder = GetParam().inRuntimeFolder ? fs::path(*runtime) : privateFolder();
    EXPECT_EQ(fs::path(first.path()), folder / "Kelvora.exe.lock");
    EXPECT_TRUE(fs::is_regular_file(folder / "Kelvora.exe.lock"));
    if (!GetParam().inRuntimeFolder) {
        const FolderMode mode = folderMode(folder);
        EXPECT_TRUE(mode.isFolder);
        EXPECT_EQ(mode.owner, ::geteuid());
        EXPECT_EQ(mode.mode, 0700u);
    }

    first.release();
    EXPECT_EQ(second.acquire(kName), SingleInstance::Result::Acquired) << "free again";
}

INSTANTIATE_TEST_SUITE_P(
    Environments, RuntimeFolder,
    ::testing::Values(
        RuntimeCase{"TheUsersOwn",
                    [](const fs::path& folder) {
                        fs::create_directories(folder / "run");
                        return std::optional<std::string>((folder / "run").string());
                    },
                    true},
        RuntimeCase{"Unset", [](const fs::path&) { return std::optional<std::string>(); }, false},
        RuntimeCase{"Missing",
                    [](const fs::path& folder) {
                        return std::optional<std::string>((folder / "gone").string());
                    },
                    false},
        RuntimeCase{"Relative",
                    [](const fs::path&) { return std::optional<std::string>("run/user"); }, false},
        RuntimeCase{"AFile",
                    [](const fs::path& folder) {
                        std::ofstream(folder / "file") << "x";
                        return std::optional<std::string>((folder / "file").string());
                    },
                    false}),
    CaseName());

TEST_F(SingleInstanceTest, AnotherUsersRuntimeFolderIsNotUsed) {
    // As after `su`: the variable still names the first user's folder.
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can give a folder to another user";
    }
    const fs::path runtime = temporary_ / "run";
    fs::create_directories(runtime);
    ASSERT_EQ(::chown(runtime.c_str(), 65534, 65534), 0);
    ScopedVariable variable("XDG_RUNTIME_DIR", runtime.string());
    SingleInstance first;
    ASSERT_EQ(first.acquire(kName), SingleInstance::Result::Acquired);
    EXPECT_EQ(fs::path(first.path()), privateFolder() / "Kelvora.exe.lock");
    EXPECT_FALSE(fs::exists(runtime / "Kelvora.exe.lock"));
}

// The private folder's name as something else already made it.
struct PlantedCase {
    const char* name;
    std::function<void(const fs::path& privateFolder, const fs::path& elsewhere)> plant;
    bool rootOnly;
    bool usable;
};

class PlantedName : public SingleInstanceTest, public ::testing::WithParamInterface<PlantedCase> {};

TEST_P(PlantedName, IsNeverFollowed) {
    if (GetParam().rootOnly && ::geteuid() != 0) {
        GTEST_SKIP() << "only root can give a folder to another user";
    }
    ScopedVariable variable("XDG_RUNTIME_DIR", std::nullopt);
    const fs::path elsewhere = temporary_ / "elsewhere";
    fs::create_directories(elsewhere);
    GetParam().plant(privateFolder(), elsewhere);

    SingleInstance first;
    SingleInstance second;
    if (GetParam().usable) {
        ASSERT_EQ(first.acquire(kName), SingleInstance::Result::Acquired);
        EXPECT_EQ(second.acquire(kName), SingleInstance::Result::AlreadyRunning);
        const FolderMode mode = folderMode(privateFolder());
        EXPECT_TRUE(mode.isFolder);
        EXPECT_EQ(mode.mode, 0700u) << "private again";
        struct stat lock {};
        ASSERT_EQ(::lstat(first.path().c_str(), &lock), 0);
        EXPECT_TRUE(S_ISREG(lock.st_mode)) << "our own file, not the link";
    } else {
        EXPECT_EQ(first.acquire(kName), SingleInstance::Result::Unavailable);
        EXPECT_TRUE(first.path().empty());
        EXPECT_FALSE(fs::exists(privateFolder() / "Kelvora.exe.lock"));
    }
    EXPECT_TRUE(fs::is_empty(elsewhere)) << "nothing made through a link";
}

INSTANTIATE_TEST_SUITE_P(
    Names, PlantedName,
    ::testing::Values(PlantedCase{"ALinkToAnotherFolder",
                                  [](const fs::path& folder, const fs::path& elsewhere) {
                                      fs::create_directory_symlink(elsewhere, folder);
                                  },
                                  false, false},
                      PlantedCase{"AnotherUsersFolder",
                                  [](const fs::path& folder, const fs::path&) {
                                      fs::create_directory(folder);
                                      ::chmod(folder.c_str(), 0777);
                                      ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
                                  },
                                  true, false},
                      PlantedCase{"OurFolderOpenToOthers",
                                  [](const fs::path& folder, const fs::path&) {
                                      fs::create_directory(folder);
                                      ::chmod(folder.c_str(), 0777);
                                  },
                                  false, true},
                      PlantedCase{"ALinkAsTheLockFile",
                                  [](const fs::path& folder, const fs::path& elsewhere) {
                                      fs::create_directory(folder);
                                      ::chmod(folder.c_str(), 0777);
                                      fs::create_symlink(elsewhere / "target",
                                                         folder / "Kelvora.exe.lock");
                                  },
                                  false, true}),
    CaseName());

} // namespace
} // namespace kelvora::test
