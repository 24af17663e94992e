#include "SimulatedLine.h"

#include "link/PortLinkLock.h"
#include "link/PortMap.h"
#include "link/SerialLine.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kelvora::sim {

namespace {

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
constexpr std::int64_t kFramePeriod = kNanosecondsPerSecond / 100;
constexpr std::int64_t kLongestStall = kNanosecondsPerSecond;

std::int64_t toNanoseconds(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * kNanosecondsPerSecond + t.tv_nsec;
}

timespec toTimespec(std::int64_t nanoseconds) {
    timespec t{};
    t.tv_sec = static_cast<time_t>(nanoseconds / kNanosecondsPerSecond);
    t.tv_nsec = static_cast<long>(nanoseconds % kNanosecondsPerSecond);
    return t;
}

// What a file that is no character device is, for a message.
std::string fileKind(mode_t mode) {
    if (S_ISREG(mode)) {
        return "a regular file";
    }
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISFIFO(mode)) {
        return "a pipe";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    return "no device";
}

std::int64_t monotonicNow() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return toNanoseconds(now);
}

} // namespace

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        reset(other.release());
    }
    return *this;
}

int FileDescriptor::release() {
    return std::exchange(fd_, -1);
}

void FileDescriptor::reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

bool PseudoTerminal::open(std::string& error) {
    master_.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master_.valid()) {
        error = systemError("cannot create a pseudo-terminal");
        return false;
    }
    std::array<char, 128> name{};
    if (::grantpt(master_.get()) != 0 || ::unlockpt(master_.get()) != 0 ||
        ::ptsname_r(master_.get(), name.data(), name.size()) != 0) {
        error = systemError("cannot set up the pseudo-terminal");
        return false;
    }
    device_ = name.data();
    slave_.reset(::open(device_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave_.valid()) {
        error = systemError("cannot open '" + device_ + "'");
        return false;
    }
    if (!configureSensorLine(slave_.get())) {
        error = systemError("cannot set '" + device_ + "' raw");
        return false;
    }
    // The stream must never wait for a reader.
    const int flags = ::fcntl(master_.get(), F_GETFL);
    if (flags < 0 || ::fcntl(master_.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        error = systemError("cannot make the pseudo-terminal non-blocking");
        return false;
    }
    return true;
}

void PseudoTerminal::discardInput() {
    std::array<char, 256> buffer{};
    while (::read(master_.get(), buffer.data(), buffer.size()) > 0) {
    }
}

PortLink::Status PortLink::create(const std::string& linkDirectory, int comNumber,
                                  const std::string& device, std::string& error) {
    remove();
    std::error_code ec;
    std::filesystem::create_directories(linkDirectory, ec);
    if (ec) {
        error = "cannot create the link folder '" + linkDirectory + "': " + ec.message();
        return Status::Failed;
    }
    const PortMap ports("/dev", linkDirectory);
    auto taken = [&](int n, const std::string& why) {
        error = "COM" + std::to_string(n) + " is taken: " + why;
        return Status::Taken;
    };
    auto describe = [](const std::string& path) {
        const std::string target = linkTarget(path);
        return "'" + path + "'" +
               (target.empty() ? std::string(" exists") : " names '" + target + "'");
    };
    auto claim = [&](int n) {
        const std::string path = ports.linkPath(n);
        struct stat st {};
        // A live registration or a link of the user's own, without touching its lock.
        if (::stat(path.c_str(), &st) == 0 && !isStaleLink(path)) {
            return taken(n, describe(path));
        }
        // Locked before the link exists, so no reader sees a fresh link whose
        // lock is free.
        switch (lock_.acquire(path, error)) {
        case PortLinkLock::Status::Acquired:
            break;
        case PortLinkLock::Status::Held:
            return taken(n, "'" + portLinkLockPath(path) + "' is held by a running simulator");
        case PortLinkLock::Status::Failed:
            return Status::Failed;
        }
        // Looked at again under the lock: the link may have changed meanwhile.
        if (::lstat(path.c_str(), &st) == 0) {
            if (::stat(path.c_str(), &st) == 0 && !lock_.previousOwnersLink()) {
                lock_.remove();
                return taken(n, describe(path));
            }
            if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
                error = systemError("cannot replace the left-over link '" + path + "'");
                lock_.remove();
                return Status::Failed;
            }
        }
        if (!lock_.record(device, error)) {
            lock_.remove();
            return Status::Failed;
        }
        if (::symlink(device.c_str(), path.c_str()) == 0) {
            linkPath_ = path;
            device_ = device;
            comNumber_ = n;
            return Status::Registered;
        }
        const int linkError = errno;
        lock_.remove();
        // Made by hand in the meantime.
        if (linkError == EEXIST) {
            return taken(n, describe(path));
        }
        errno = linkError;
        error = systemError("cannot create the link '" + path + "'");
        return Status::Failed;
    };

    if (comNumber != 0) {
        return claim(comNumber);
    }
    for (int n = kFirstAutomatic; n <= kHighest; ++n) {
        if (const Status status = claim(n); status != Status::Taken) {
            return status;
        }
    }
    error = "no free COM number from " + std::to_string(kFirstAutomatic) + " to " +
            std::to_string(kHighest) + " in '" + linkDirectory + "'";
    return Status::Failed;
}

void PortLink::remove() {
    if (linkPath_.empty()) {
        return;
    }
    if (linkTarget(linkPath_) == device_) {
        ::unlink(linkPath_.c_str());
    }
    // After the link: a reader never sees our link without its lock file.
    lock_.remove();
    linkPath_.clear();
    comNumber_ = 0;
}

FileDescriptor openSerialDevice(const std::string& path, std::string& error) {
    // A regular file or /dev/null would take the stream without a word: only a
    // terminal is a serial line. Looked at before the open, which is never
    // asked to create or truncate, so that anything else is refused untouched.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = systemError("cannot open '" + path + "'");
        return {};
    }
    if (!S_ISCHR(st.st_mode)) {
        error = "cannot send to '" + path + "': it is " + fileKind(st.st_mode) +
                ", not a serial device";
        return {};
    }
    // Opened non-blocking so a modem line without carrier cannot hang the open;
    // the writes block, as the line's pace is the device's business.
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        error = systemError("cannot open '" + path + "'");
        return {};
    }
    // Asked of what was opened, which the path may no longer name.
    if (!::isatty(fd.get())) {
        error = "cannot send to '" + path + "': it is not a terminal, so not a serial device";
        return {};
    }
    if (!configureSensorLine(fd.get())) {
        error = systemError("cannot set '" + path + "' to 115200 8N1 raw");
        return {};
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        error = systemError("cannot set up '" + path + "'");
        return {};
    }
    return fd;
}

LineWriter::Result LineWriter::write(const std::uint8_t* data, std::size_t size,
                                     const volatile std::sig_atomic_t& stop) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            if (stop) {
                return Result::Stopped;
            }
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && mode_ == Mode::Dropping) {
            ++cutWrites_;
            return Result::Written;
        }
        if (n == 0) {
            errno = EIO;
        }
        return Result::Failed;
    }
    return Result::Written;
}

FrameClock::FrameClock() : start_(monotonicNow()) {}

bool FrameClock::waitFor(std::int64_t n) {
    const std::int64_t due = start_ + n * kFramePeriod;
    const std::int64_t now = monotonicNow();
    if (now - due > kLongestStall) {
        start_ = now - n * kFramePeriod;
        return true;
    }
    if (now >= due) {
        return true;
    }
    const timespec deadline = toTimespec(due);
    return ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) != EINTR;
}

} // namespace kelvora::sim
