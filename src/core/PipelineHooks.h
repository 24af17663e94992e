#pragma once

#include "core/PipelineSettings.h"

#include <cstdint>

namespace kelvora {

struct MeasurementState;

// The shared-memory publication, driven from the frame pipeline.
class PublicationHook {
public:
    virtual ~PublicationHook() = default;
    // Every good frame: the axis samples; every fifth frame the section is copied.
    virtual void publishAcceleration(const MeasurementState& state) = 0;
    // Display tick, before the intensity peaks are reset.
    virtual void publishIntensity(const MeasurementState& state) = 0;
    // Frames whose frameIndex mod 100 is 2.
    virtual void publishEnvironment(const MeasurementState& state) = 0;
};

// The accelerogram recorder, driven from the frame pipeline.
class RecorderHook {
public:
    virtual ~RecorderHook() = default;
    // Every good frame after the display tick and before the history write.
    virtual void recordFrame(const MeasurementState& state) = 0;
    // At the very end of every good frame.
    virtual void countDown() = 0;
    // The end of a reception run or of the program: close an open recording.
    virtual void closeRecording() = 0;
};

} // namespace kelvora
