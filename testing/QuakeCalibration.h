#pragma once

#include "SyntheticSensor.h"

#include <cstdint>
#include <vector>

namespace kelvora::sim {

// An event asked for by its JMA intensity rather than its acceleration.
struct IntensityEvent {
    double intensity;
    double startSeconds;
    double durationSeconds;
};

// Turns intensity events into acceleration events whose JMA intensity, as the
// core computes it (10-second window), comes out at the asked value. Each event
// is calibrated alone, with the sensor's own noise, by scaling its amplitude; one
// far into the stream behind about a minute of that noise only.
std::vector<QuakeEvent> calibrateEvents(std::uint64_t seed,
                                        const std::vector<IntensityEvent>& events);

// The highest JMA intensity the core computes for the given stream of events,
// before the cut to one decimal (2·log10(a) + 0.94).
double measureJmaIntensity(std::uint64_t seed, const std::vector<QuakeEvent>& events,
                           double seconds);

} // namespace kelvora::sim
