#pragma once

#include "core/FrameAssembler.h"

#include <chrono>
#include <string>

namespace kelvora {

// How the bytes handed out lately came off the line: the receive loop paces
// its reads by it.
struct ReadPacing {
    // Every byte of the last read has been handed out and that read took all
    // the line had: the loop is not behind.
    bool drained = false;
    // The last read that delivered bytes waited for them: they arrived when
    // it ended.
    bool waited = false;
    std::chrono::steady_clock::time_point ended{};
};

// A serial line as reception uses it: each start step reports success on its
// own, so a failure gets its own message; reads deliver one byte or none.
class SerialDevice {
public:
    virtual ~SerialDevice() = default;

    // Opens the device exclusively; false when it is missing, busy or refused.
    virtual bool open(const std::string& path) = 0;
    virtual bool setQueueSizes() = 0;
    // Drops whatever waits in the input and output queues.
    virtual bool purge() = 0;
    // 115200 baud, 8 data bits, no parity, 1 stop bit, raw, no flow control,
    // DTR and RTS on.
    virtual bool applyLineSettings() = 0;
    // A one-byte read returns empty after the read time-out without data.
    virtual bool applyTimeouts() = 0;
    // One byte, or none after the read time-out. Never returns sooner without a
    // byte, whatever happened to the device.
    virtual ReadResult readByte() = 0;
    // The device went away under an open port (unplugged, hung up, a read
    // error): reads stay empty until it is closed and opened again. A silent
    // line is not lost.
    virtual bool lineLost() const { return false; }
    // Never drained unless the device can tell: the loop then reads on.
    virtual ReadPacing pacing() const { return {}; }
    virtual bool isOpen() const = 0;
    virtual void close() = 0;
};

} // namespace kelvora
