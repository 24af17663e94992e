#pragma once

#include "link/SerialDevice.h"

#include <chrono>
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
    ReadResult readByte() override;
    bool isOpen() const override { return fd_ >= 0; }
    void close() override;

private:
    int fd_ = -1;
    // The device's settings before we changed them, put back at close: a
    // device opened by mistake is left as it was found.
    termios savedSettings_{};
    bool haveSavedSettings_ = false;
    std::chrono::milliseconds readTimeout_;
};

} // namespace kelvora
