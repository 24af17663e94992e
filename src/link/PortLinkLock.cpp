#include "link/PortLinkLock.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kelvora {

namespace {

// A reader holds the lock for a few system calls; a second of retries outlasts
// any of them by far, and a live owner holds it for good.
constexpr int kLockAttempts = 100;
constexpr auto kLockRetryPause = std::chrono::milliseconds(10);

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// The target an open lock file records, without its line end; empty when none.
std::string readRecord(int fd) {
    std::array<char, PATH_MAX + 1> buffer{};
    const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), 0);
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) {
        return {};
    }
    std::string text(buffer.data(), static_cast<std::size_t>(n));
    if (text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

// The link is the registration the lock file speaks for. Whether its owner is
// alive is the caller's question.
bool namesRecordedTarget(const std::string& linkPath, const std::string& recorded) {
    return !recorded.empty() && linkTarget(linkPath) == recorded;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

std::string linkTarget(const std::string& path) {
    std::array<char, PATH_MAX> buffer{};
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) {
        return {};
    }
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

std::string portLinkLockPath(const std::string& linkPath) {
    return linkPath + ".lock";
}

bool isStaleLink(const std::string& linkPath) {
    // Non-blocking and not through a symbolic link: whatever sits at that name,
    // the test must not hang on it or follow it.
    const int fd = ::open(portLinkLockPath(linkPath).c_str(),
                          O_RDONLY | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool stale = false;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_SH | LOCK_NB) == 0) {
        stale = namesRecordedTarget(linkPath, readRecord(fd));
        ::flock(fd, LOCK_UN);
    }
    ::close(fd);
    return stale;
}

PortLinkLock::Status PortLinkLock::acquire(const std::string& linkPath, std::string& error) {
    drop();
    const std::string path = portLinkLockPath(linkPath);
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        const int fd = ::open(
            path.c_str(), O_RDWR | O_CREAT | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            error = systemError("cannot open the lock file '" + path + "'");
            return Status::Failed;
        }
        struct stat opened {};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            ::close(fd);
            error = "cannot use the lock file '" + path + "': not a regular file";
            return Status::Failed;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int lockError = errno;
            ::close(fd);
            if (lockError != EWOULDBLOCK && lockError != EINTR) {
                errno = lockError;
                error = systemError("cannot lock '" + path + "'");
                return Status::Failed;
            }
            std::this_thread::sleep_for(kLockRetryPause);
            continue;
        }
        // The previous owner removes the file on its way out, possibly while we
        // waited: a lock on a file nobody can find any more protects nothing.
        struct stat named {};
        if (::stat(path.c_str(), &named) != 0 || !sameFile(opened, named)) {
            ::close(fd);
            continue;
        }
        fd_ = fd;
        linkPath_ = linkPath;
        lockPath_ = path;
        previousTarget_ = readRecord(fd);
        return Status::Acquired;
    }
    return Status::Held;
}

bool PortLinkLock::previousOwnersLink() const {
    return held() && namesRecordedTarget(linkPath_, previousTarget_);
}

bool PortLinkLock::record(const std::string& target, std::string& error) {
    const std::string text = target + "\n";
    if (!held()) {
        error = "no lock file is held";
        return false;
    }
    if (::ftruncate(fd_, 0) != 0 ||
        ::pwrite(fd_, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
        error = systemError("cannot write the lock file '" + lockPath_ + "'");
        return false;
    }
    return true;
}

void PortLinkLock::remove() {
    if (!held()) {
        return;
    }
    // Only our own file: removed by hand and made anew, it is someone else's.
    struct stat ours {};
    struct stat named {};
    if (::fstat(fd_, &ours) == 0 && ::stat(lockPath_.c_str(), &named) == 0 &&
        sameFile(ours, named)) {
        ::unlink(lockPath_.c_str());
    }
    drop();
}

void PortLinkLock::drop() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    linkPath_.clear();
    lockPath_.clear();
    previousTarget_.clear();
}

} // namespace kelvora
