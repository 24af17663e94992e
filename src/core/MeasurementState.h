#pragma once

#include "core/Relaxed.h"

#include <array>
#include <cstdint>

namespace kelvora {

inline constexpr int kHistoryLength = 1000;
inline constexpr int kDisplayPeriod = 25;
// The frames whose samples make one copy in the shared block.
inline constexpr int kFramesPerSampleCopy = 5;

inline constexpr double kJmaFloor = -3.0;
inline constexpr double kMmiFloor = -9.9;
inline constexpr double kPeakMmiReset = -100.0;

// One good frame as the accelerogram recorder reads it back as pre-trigger history.
struct HistoryRecord {
    double intensity = 0.0;
    double siGal = 0.0;
    double accelX = 0.0;
    double accelY = 0.0;
    double accelZ = 0.0;
    double pgv = 0.0;
};

// The live values of the sensor and the computation. The receive thread is the
// writer of every value; the few that other threads read are Relaxed.
struct MeasurementState {
    // Frame inputs.
    double sensorSiGal = 0.0;
    double sensorVelocity = 0.0;
    double accelX = 0.0;
    double accelY = 0.0;
    double accelZ = 0.0;
    double temperature = 0.0;
    double humidity = 0.0;
    double pressure = 0.0;
    double seaLevelPressure = 0.0;

    // Computed once per good frame.
    double siGalComputed = 0.0;
    double siGal = 0.0;
    double jmaAccel = 0.0;
    double pgaVector = 0.0;
    double pgvComputed = 0.0;
    double pgv = 0.0;
    double mmiFromPga = 0.0;
    double mmiFromPgv = 0.0;
    double mmi = kMmiFloor;
    double jmaIntensity = kJmaFloor;
    double intensity = kJmaFloor;

    // Display-period peaks.
    double peakAccelX = 0.0;
    double peakAccelY = 0.0;
    double peakAccelZ = 0.0;
    double peakPgaVector = 0.0;
    double peakJmaAccel = 0.0;
    double peakPgv = 0.0;
    Relaxed<double> peakJmaIntensity{kJmaFloor};
    Relaxed<double> peakMmi{kMmiFloor};

    std::array<HistoryRecord, kHistoryLength> history{};

    // Frame clocks.
    std::int32_t frameIndex = 0;
    std::int32_t displayPhase = 0;

    // Frame rate: raised by the receive thread, taken by the timer thread.
    Relaxed<std::int32_t> goodFrameCount{0};
    Relaxed<std::int32_t> framesPerSecond{0};
    std::int32_t mmTickCount = 0; // timer thread only
};

} // namespace kelvora
