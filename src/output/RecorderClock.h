#pragma once

#include "output/LocalTime.h"

namespace kelvora {

// Where the recorder reads the time of a trigger.
class RecorderClock {
public:
    virtual ~RecorderClock() = default;
    // The current local date and time.
    virtual LocalTime now() = 0;
};

// The system's local time.
class LocalClock final : public RecorderClock {
public:
    // Loads the time zone here, so the first reading on the receive thread
    // does not read it from disk.
    LocalClock();
    LocalTime now() override;
};

} // namespace kelvora
