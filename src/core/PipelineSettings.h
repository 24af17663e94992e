#pragma once

#include "core/Relaxed.h"

#include <cstdint>

namespace kelvora {

// The settings the receive thread reads in every frame; the user interface
// may change them between frames.
struct PipelineSettings {
    Relaxed<std::int32_t> useSensorSiGal{0};
    Relaxed<std::int32_t> useSensorVelocity{0};
    Relaxed<std::int32_t> jmaWindowMode{0};  // 0: 10-second window, else 60-second
    Relaxed<std::int32_t> intensityScale{0}; // 0 JMA, 1 Mercalli
};

// The recorder's settings; the receive thread reads them in every frame and
// the user interface may change them between frames.
struct RecorderSettings {
    Relaxed<double> recordStartIntensity{-0.9};
    Relaxed<double> recordStopIntensity{-1.3};
    Relaxed<std::int32_t> recordMinSeconds{30};
    Relaxed<double> recordStartVelocity{-0.001}; // zero or below: no velocity trigger
};

} // namespace kelvora
