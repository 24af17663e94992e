#pragma once

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

} // namespace kelvora
