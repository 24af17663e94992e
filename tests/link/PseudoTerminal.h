#pragma once

#include <fcntl.h>
#include <stdexcept>
#include <stdlib.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace kelvora::test {

// A pseudo-terminal standing in for the sensor's serial line: the test writes
// the sensor's bytes to the master, reception opens the slave path.
class PseudoTerminal {
public:
    PseudoTerminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        slavePath_ = ::ptsname(master_);
        // Raw from the start, so nothing is echoed or cooked before the port
        // is configured; the fd keeps the settings alive.
        holder_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tio{};
        ::tcgetattr(holder_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(holder_, TCSANOW, &tio);
    }
    ~PseudoTerminal() {
        closeMaster();
        if (holder_ >= 0) {
            ::close(holder_);
        }
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    // The test's own descriptor of the slave, to look at or change its settings.
    int holder() const { return holder_; }

    void write(const void* data, std::size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        while (size > 0) {
            const ssize_t n = ::write(master_, p, size);
            if (n <= 0) {
                throw std::runtime_error("pseudo-terminal write failed");
            }
            p += n;
            size -= static_cast<std::size_t>(n);
        }
    }
    // The unplug case: the far end disappears.
    void closeMaster() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }
    // Drops the holder so the slave's only user is the port under test.
    void releaseHolder() {
        if (holder_ >= 0) {
            ::close(holder_);
            holder_ = -1;
        }
    }

private:
    int master_ = -1;
    int holder_ = -1;
    std::string slavePath_;
};

} // namespace kelvora::test
