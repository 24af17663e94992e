#pragma once

// The publication block as another program sees it: mapped by name on its own,
// read with atomic loads, its updated bytes cleared as a reader clears them.
// Block names are unique per process and test.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvora::test {

inline std::string uniqueBlockName(std::string_view tag) {
    static std::atomic<int> counter{0};
    return "/kelvora-test-" + std::to_string(::getpid()) + "-" + std::string(tag) + "-" +
           std::to_string(counter.fetch_add(1));
}

inline bool blockExists(const std::string& name) {
    const int fd = ::shm_open(name.c_str(), O_RDWR, 0);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

class SharedBlockReader {
public:
    static constexpr std::size_t kSize = 256;

    // Maps an existing block; with createSize, creates it first with that many
    // bytes, as a reader that starts before the monitor may.
    explicit SharedBlockReader(const std::string& name, std::size_t createSize = 0) {
        const int fd = createSize > 0 ? ::shm_open(name.c_str(), O_CREAT | O_RDWR, 0600)
                                      : ::shm_open(name.c_str(), O_RDWR, 0);
        if (fd < 0) {
            return;
        }
        if (createSize > 0 && ::ftruncate(fd, static_cast<off_t>(createSize)) != 0) {
            ::close(fd);
            return;
        }
        void* p = ::mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        ::close(fd);
        if (p != MAP_FAILED) {
            base_ = static_cast<std::uint8_t*>(p);
        }
    }
    ~SharedBlockReader() {
        if (base_ != nullptr) {
            ::munmap(base_, kSize);
        }
    }
    SharedBlockReader(const SharedBlockReader&) = delete;
    SharedBlockReader& operator=(const SharedBlockReader&) = delete;

    bool isOpen() const { return base_ != nullptr; }

    std::uint8_t byte(std::size_t offset) const {
        return std::atomic_ref<std::uint8_t>(base_[offset]).load();
    }
    double real(std::size_t offset) const {
        return std::atomic_ref<double>(*reinterpret_cast<double*>(base_ + offset)).load();
    }
    // Element i of the samples of the axis that starts at axisOffset.
    double sample(std::size_t axisOffset, std::size_t i) const { return real(axisOffset + 8 * i); }
    void write(std::size_t offset, std::uint8_t value) {
        std::atomic_ref<std::uint8_t>(base_[offset]).store(value);
    }
    // Reads an updated byte and clears it; true when it was 0xFF.
    bool takeUpdate(std::size_t updatedOffset) {
        const bool updated = byte(updatedOffset) == 0xFF;
        write(updatedOffset, 0);
        return updated;
    }
    std::array<std::uint8_t, kSize> bytes() const {
        std::array<std::uint8_t, kSize> out{};
        for (std::size_t i = 0; i < kSize; ++i) {
            out[i] = byte(i);
        }
        return out;
    }
    void fill(std::uint8_t value) {
        for (std::size_t i = 0; i < kSize; ++i) {
            write(i, value);
        }
    }

private:
    std::uint8_t* base_ = nullptr;
};

} // namespace kelvora::test
