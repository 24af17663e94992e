#pragma once

#include "link/PortLinkLock.h"

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kelvora::sim {

// Owns a file descriptor.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// A pseudo-terminal whose slave stands in for the sensor's serial port. We hold
// the slave open in raw mode ourselves: a pseudo-terminal forgets its settings
// when the last opener of the slave closes it, and a reader that opens it later
// must find a raw line, not one that echoes or translates line ends.
class PseudoTerminal {
public:
    // False with a message in `error`.
    bool open(std::string& error);

    int master() const { return master_.get(); }
    const std::string& devicePath() const { return device_; }
    // Drops what the other end sent: the sensor ignores it, and the sender must
    // not block on a full line.
    void discardInput();

private:
    FileDescriptor master_;
    FileDescriptor slave_;
    std::string device_;
};

// A COM<n> link in the per-user link folder naming our device, so the monitor
// offers it as a COM port, with its lock file held for as long as we run (see
// PortLinkLock.h): killed, we leave a link everyone can tell is stale. The link
// is removed on destruction, but only while it still names our device: someone
// may have taken the number over meanwhile; the lock file goes in any case.
class PortLink {
public:
    static constexpr int kFirstAutomatic = 100;
    static constexpr int kHighest = 9999;

    enum class Status { Registered, Taken, Failed };

    PortLink() = default;
    ~PortLink() { remove(); }
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    // comNumber 0 takes the lowest free number from kFirstAutomatic up. A number
    // is taken while a live process holds its lock file, or when its link names
    // an existing file and is not stale; a dangling or stale link is left over
    // from a simulator that did not end cleanly and is replaced.
    Status create(const std::string& linkDirectory, int comNumber, const std::string& device,
                  std::string& error);

    int comNumber() const { return comNumber_; }
    void remove();

private:
    std::string linkPath_;
    std::string device_;
    int comNumber_ = 0;
    PortLinkLock lock_;
};

// Opens an existing serial device, a terminal, for writing and sets it to
// 115200 baud 8N1 raw without flow control. Anything else (a regular file,
// /dev/null) is refused unopened or unwritten. Invalid with a message in
// `error`.
FileDescriptor openSerialDevice(const std::string& path, std::string& error);

// Writes a live stream. On a dropping line, a write that does not fit loses the
// rest of its frame, as a serial line loses what nobody reads; a blocking line
// waits for room.
class LineWriter {
public:
    enum class Mode { Dropping, Blocking };
    enum class Result { Written, Stopped, Failed };

    LineWriter(int fd, Mode mode) : fd_(fd), mode_(mode) {}

    // Stopped when `stop` was set while a blocking write waited. On Failed,
    // errno tells why.
    Result write(const std::uint8_t* data, std::size_t size,
                 const volatile std::sig_atomic_t& stop);
    // Writes cut short because the line was full.
    std::uint64_t cutWrites() const { return cutWrites_; }

private:
    int fd_;
    Mode mode_;
    std::uint64_t cutWrites_ = 0;
};

// Frame deadlines on the monotonic clock: start + n·10 ms. Absolute deadlines
// keep the rate exact whatever each frame's writing costs; after a stall of
// more than a second (a suspended machine or process) the clock is re-based
// instead of sending the missed frames in a burst.
class FrameClock {
public:
    FrameClock();

    // Sleeps until frame n is due; false when a signal interrupted the sleep.
    bool waitFor(std::int64_t n);

private:
    std::int64_t start_; // nanoseconds on CLOCK_MONOTONIC
};

} // namespace kelvora::sim
