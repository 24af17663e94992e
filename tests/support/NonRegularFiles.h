#pragma once

// A FIFO or a device where the program expects a regular file, for tests of
// code that must neither wait on one nor use it. A plain open(2) of a FIFO
// waits until another program opens its other end; a test of such code runs
// the call through returnsByItself, which sets a waiting call free after a
// while so that the test fails instead of hanging.
#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvora::test {

// What stands in the file's place.
enum class NonRegularFile {
    Fifo,             // nobody has its other end open: an open would wait
    FifoWithOtherEnd, // the test holds both ends: an open goes through
    LinkToDeviceNull, // a symbolic link to /dev/null
};

inline const char* nameOf(NonRegularFile kind) {
    switch (kind) {
    case NonRegularFile::Fifo:
        return "Fifo";
    case NonRegularFile::FifoWithOtherEnd:
        return "FifoWithOtherEnd";
    case NonRegularFile::LinkToDeviceNull:
        return "LinkToDeviceNull";
    }
    return "Unknown";
}

inline void PrintTo(NonRegularFile kind, std::ostream* os) {
    *os << nameOf(kind);
}

// The name of a table case of NonRegularFile, for INSTANTIATE_TEST_SUITE_P.
struct NonRegularFileName {
    std::string operator()(const ::testing::TestParamInfo<NonRegularFile>& info) const {
        return nameOf(info.param);
    }
};

// Puts a special file at path and removes it when it goes. Throws when it
// cannot be made, which fails the test.
class NonRegularFileAt {
public:
    NonRegularFileAt(std::filesystem::path path, NonRegularFile kind,
                     const std::string& content = {})
        : path_(std::move(path)), kind_(kind) {
        if (kind == NonRegularFile::LinkToDeviceNull) {
            std::filesystem::create_symlink("/dev/null", path_);
            return;
        }
        if (::mkfifo(path_.c_str(), 0600) != 0) {
            throw std::runtime_error("cannot make the FIFO " + path_.string() + ": " +
                                     std::strerror(errno));
        }
        if (kind == NonRegularFile::FifoWithOtherEnd) {
            // Read and write end at once, never waiting; what the code under
            // test writes stays in the pipe for unread(), and `content` waits
            // there for a reader (it must fit the pipe's 64 KiB).
            held_ = ::open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
            if (held_ < 0 || (!content.empty() && ::write(held_, content.data(), content.size()) !=
                                                      static_cast<ssize_t>(content.size()))) {
                throw std::runtime_error("cannot hold " + path_.string());
            }
        }
    }
    ~NonRegularFileAt() {
        for (int fd : {held_, reader_}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    NonRegularFileAt(const NonRegularFileAt&) = delete;
    NonRegularFileAt& operator=(const NonRegularFileAt&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // What lies in the pipe unread: the test's content that nobody took, and
    // what was written into it. Empty for the link.
    std::string unread() {
        std::string bytes;
        if (held_ < 0) {
            return bytes;
        }
        char buffer[4096];
        for (ssize_t n; (n = ::read(held_, buffer, sizeof buffer)) > 0;) {
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
        return bytes;
    }

    // Sets free a call that waits in an open of the FIFO or in a read from
    // it: a writer and then no writer (a reader then reads the end of the
    // data), and a reader kept until this object goes (a writer's bytes go
    // into the pipe, not into SIGPIPE).
    void release() {
        if (kind_ == NonRegularFile::LinkToDeviceNull) {
            return;
        }
        if (reader_ < 0) {
            reader_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        }
        const int writer = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0) {
            ::close(writer);
        }
        if (held_ >= 0) {
            ::close(held_);
            held_ = -1;
        }
    }

private:
    std::filesystem::path path_;
    NonRegularFile kind_;
    int held_ = -1;
    int reader_ = -1;
};

// Runs call() on a thread of its own. True when it returns by itself within
// `limit`; otherwise the special file is released so the call can end, the
// thread is joined, and the result is false.
template <typename Call>
bool returnsByItself(Call call, NonRegularFileAt& special,
                     std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::atomic<bool> done{false};
    std::thread thread([&] {
        call();
        done = true;
    });
    const bool byItself = waitFor([&] { return done.load(); }, limit);
    if (!byItself) {
        special.release();
    }
    thread.join();
    return byItself;
}

} // namespace kelvora::test
