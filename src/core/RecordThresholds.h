#pragma once

#include "core/PipelineSettings.h"

#include <cstdint>

namespace kelvora {

// The recording thresholds a scale starts from. On the Mercalli scale a
// quiet sensor reads about -1.3 to -0.5, above the JMA start of -0.9, and
// would record without end; 0.5 and 0.0 leave it a full step of quiet and
// still catch a tremor of JMA 0.5 (about Mercalli 1.5).
struct RecordThresholds {
    double start;
    double stop;
    bool operator==(const RecordThresholds&) const = default;
};
inline constexpr RecordThresholds kJmaRecordThresholds{defaults::kRecordStartIntensity,
                                                       defaults::kRecordStopIntensity};
inline constexpr RecordThresholds kMercalliRecordThresholds{0.5, 0.0};

// By IntensityScale: 0 JMA, any other value Mercalli.
constexpr RecordThresholds recordThresholdDefaults(std::int32_t intensityScale) {
    return intensityScale == 0 ? kJmaRecordThresholds : kMercalliRecordThresholds;
}

} // namespace kelvora
