#pragma once

#include "core/Relaxed.h"
#include "link/SerialDevice.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <termios.h>

namespace kelvora {

// The sensor's serial line on POSIX termios.
class SerialPort final : public SerialDevice {
public:
    explicit SerialPort(std::chrono::milliseconds readTimeout = std::chrono::milliseconds(500));
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    bool open(const std::string& path) override;
    bool setQueueSizes() override;
    bool purge() override;
    bool applyLineSettings() override;
    bool applyTimeouts() override;
    // Takes what the line has (up to a buffer's worth) in one read and hands
    // it out a byte at a time: one system call per burst, not per byte.
    ReadResult readByte() override;
    bool lineLost() const override { return lost_; }
    ReadPacing pacing() const override {
        return {nextByte_ >= receivedCount_ && receivedCount_ < received_.size(), fillWaited_,
                fillEnded_};
    }
    bool isOpen() const override { return fd_ >= 0; }
    // Reads from the device so far; for the benchmark and tests.
    std::uint64_t deviceReads() const { return deviceReads_; }
    void close() override;

private:
    // After a read without a byte: whether the device has gone.
    bool deviceGone(ssize_t result, int error) const;
    void dropReceived() { nextByte_ = receivedCount_ = 0; }

    int fd_ = -1;
    // The device's settings before we changed them, put back at close: a
    // device opened by mistake is left as it was found.
    termios savedSettings_{};
    bool haveSavedSettings_ = false;
    std::chrono::milliseconds readTimeout_;
    // Bytes read from the device and not yet handed out; they count as the
    // input queue's, so a purge or close drops them too.
    std::array<std::uint8_t, 256> received_{};
    std::size_t nextByte_ = 0;
    std::size_t receivedCount_ = 0;
    // The last read that delivered bytes: when it ended, and whether it waited.
    std::chrono::steady_clock::time_point fillEnded_{};
    bool fillWaited_ = false;
    // Written by the receive thread, read by others.
    Relaxed<std::uint64_t> deviceReads_{0};
    Relaxed<bool> lost_{false};
};

} // namespace kelvora
