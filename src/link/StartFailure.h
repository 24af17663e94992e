#pragma once

#include <cstdint>
#include <string>

namespace kelvora {

// Why a reception start failed, one reason per start step. The link layer
// only reports the reason; the window words it in the user's language.
enum class StartFailure {
    CannotOpen,         // the port cannot be opened (missing, busy, no permission)
    CannotSetBuffers,   // the send and receive queues cannot be set up
    CannotPurge,        // the pending input and output cannot be cleared
    LineSettingsFailed, // speed, framing and control lines
    TimeoutsFailed,     // the read time-out
};

// Why the port did not open, as far as the system says.
enum class PortOpenCause {
    Unmapped,         // the COM number names no device
    NoDevice,         // no such node, or nothing behind it (adapter unplugged)
    PermissionDenied, // the user may not open it (not in dialout)
    Held,             // another program has it open exclusively or locked
    NotSerial,        // the node is no terminal
    Other,            // anything else; `error` has the errno, 0 when none was seen
};

// The detail of a CannotOpen: which port, which device and why.
struct PortOpenFailure {
    std::int64_t comNumber = 0; // wider than int: any stored index plus one
    std::string device;         // empty for Unmapped
    PortOpenCause cause = PortOpenCause::Other;
    int error = 0;
};

// Tells why `device` (COM`comNumber`) cannot be opened, by trying the steps
// of an exclusive open again: open, terminal, lock. Run right after the
// failed open; it holds nothing when it returns.
PortOpenFailure diagnosePortOpen(std::int64_t comNumber, const std::string& device);

} // namespace kelvora
