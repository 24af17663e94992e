#pragma once

#include "core/Relaxed.h"

#include <cstdint>

namespace kelvora {

// The defaults of the settings the receive thread reads, as they are in
// memory; the settings store's table takes them from here.
namespace defaults {
inline constexpr std::int32_t kUseSensorSiGal = 0;
inline constexpr std::int32_t kUseSensorVelocity = 0;
inline constexpr std::int32_t kJmaWindowMode = 0;
inline constexpr std::int32_t kIntensityScale = 0;
inline constexpr double kRecordStartIntensity = -0.9;
inline constexpr double kRecordStopIntensity = -1.3;
inline constexpr std::int32_t kRecordMinSeconds = 30;
inline constexpr double kRecordStartVelocity = -0.001;
} // namespace defaults

// The settings the receive thread reads in every frame; the user interface
// may change them between frames.
struct PipelineSettings {
    Relaxed<std::int32_t> useSensorSiGal{defaults::kUseSensorSiGal};
    Relaxed<std::int32_t> useSensorVelocity{defaults::kUseSensorVelocity};
    Relaxed<std::int32_t> jmaWindowMode{
        defaults::kJmaWindowMode}; // 0: 10-second window, else 60-second
    Relaxed<std::int32_t> intensityScale{defaults::kIntensityScale}; // 0 JMA, 1 Mercalli
};

// The recorder's settings; the receive thread reads them in every frame and
// the user interface may change them between frames.
struct RecorderSettings {
    Relaxed<double> recordStartIntensity{defaults::kRecordStartIntensity};
    Relaxed<double> recordStopIntensity{defaults::kRecordStopIntensity};
    Relaxed<std::int32_t> recordMinSeconds{defaults::kRecordMinSeconds};
    // Zero or below: no velocity trigger.
    Relaxed<double> recordStartVelocity{defaults::kRecordStartVelocity};
};

} // namespace kelvora
