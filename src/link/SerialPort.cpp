#include "link/SerialPort.h"

#include "link/SerialLine.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace kelvora {

SerialPort::SerialPort(std::chrono::milliseconds readTimeout) : readTimeout_(readTimeout) {}

SerialPort::~SerialPort() {
    close();
}

bool SerialPort::open(const std::string& path) {
    close();
    if (path.empty()) {
        return false;
    }
    // Non-blocking so a modem line without carrier cannot hang the open.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    // Not shared: TIOCEXCL keeps other openers out (root ignores it), the lock
    // keeps out every program that asks for it, Kelvora included.
    if (!::isatty(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    lost_ = false;
    haveSavedSettings_ = ::tcgetattr(fd, &savedSettings_) == 0;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close();
        return false;
    }
    return true;
}

// The kernel sizes the queues itself; there is nothing to ask for.
bool SerialPort::setQueueSizes() {
    return isOpen();
}

bool SerialPort::purge() {
    dropReceived();
    return isOpen() && ::tcflush(fd_, TCIOFLUSH) == 0;
}

bool SerialPort::applyLineSettings() {
    if (!isOpen() || !configureSensorLine(fd_)) {
        return false;
    }
    // DTR and RTS held on; a pseudo-terminal has no modem lines (ENOTTY/EINVAL).
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(fd_, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
        return false;
    }
    return true;
}

bool SerialPort::applyTimeouts() {
    termios tio{};
    if (!isOpen() || ::tcgetattr(fd_, &tio) != 0) {
        return false;
    }
    // VMIN 0 with VTIME in tenths of a second: a read returns the first byte,
    // or nothing once the time-out has passed without one.
    const auto tenths = std::clamp<long long>((readTimeout_.count() + 99) / 100, 1, 255);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = static_cast<cc_t>(tenths);
    return ::tcsetattr(fd_, TCSANOW, &tio) == 0;
}

ReadResult SerialPort::readByte() {
    if (nextByte_ < receivedCount_) {
        return ReadResult::of(received_[nextByte_++]);
    }
    const auto started = std::chrono::steady_clock::now();
    if (isOpen()) {
        // Returns as soon as one byte is there, with whatever else has come,
        // or with none after the time-out: the timing of a one-byte read.
        ssize_t n;
        do {
            n = ::read(fd_, received_.data(), received_.size());
            deviceReads_.fetchAdd(1);
        } while (n < 0 && errno == EINTR);
        if (n > 0) {
            // A read that waited ended when the bytes arrived; one that found
            // them waiting says nothing about when they came.
            fillEnded_ = std::chrono::steady_clock::now();
            fillWaited_ = fillEnded_ - started >= std::chrono::milliseconds{1};
            receivedCount_ = static_cast<std::size_t>(n);
            nextByte_ = 1;
            return ReadResult::of(received_[0]);
        }
        if (!lost_ && deviceGone(n, errno)) {
            lost_ = true;
        }
    }
    // No byte. A vanished device answers at once, forever: wait out the rest of
    // the time-out so it behaves like a silent line instead of a busy loop.
    const auto deadline = started + readTimeout_;
    if (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_until(deadline);
    }
    return ReadResult::none();
}

bool SerialPort::deviceGone(ssize_t result, int error) const {
    if (result < 0) {
        // A pseudo-terminal whose far end closed, a USB adapter pulled out.
        return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
    }
    // An empty read is a silent line, or a hung-up terminal, which reads as
    // end-of-file forever and reports the hang-up to poll.
    pollfd event{fd_, POLLIN, 0};
    return ::poll(&event, 1, 0) > 0 && (event.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void SerialPort::close() {
    dropReceived();
    if (fd_ < 0) {
        return;
    }
    if (haveSavedSettings_) {
        (void)::tcsetattr(fd_, TCSANOW, &savedSettings_);
        haveSavedSettings_ = false;
    }
    // The exclusive flag belongs to the device, not to our descriptor: left
    // set, it refuses every later open (ours too) while the other end of a
    // pseudo-terminal stays open.
    (void)::ioctl(fd_, TIOCNXCL);
    ::close(fd_); // also drops the lock
    fd_ = -1;
}

} // namespace kelvora
