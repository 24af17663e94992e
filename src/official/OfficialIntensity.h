#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace kelvora {

// A recorded event: the three axes in gal, evenly sampled.
struct ThreeAxisRecord {
    std::vector<double> x; // east-west
    std::vector<double> y; // north-south
    std::vector<double> z; // up-down
    double samplesPerSecond = 100.0;
};

// What JMA's method makes of a whole record.
struct OfficialIntensity {
    std::size_t samples = 0;
    double pgaGal = 0.0; // largest vector sum of the acceleration as recorded
    double pgvCms = 0.0; // largest vector sum of the velocity (see computeOfficialIntensity)
    // Empty for a record shorter than 0.3 s, which has no intensity.
    std::optional<double> a0Gal;
    // 2 log10 a0 + 0.94, unrounded; for a record without motion (a0 of 0) the
    // floor of the real-time intensity, -3.0.
    std::optional<double> intensity;
    // Rounded at the third decimal.
    std::optional<double> intensityRaw;
    // As JMA reports it: rounded at the third decimal, then the second cut.
    std::optional<double> intensityReported;
    // 0 to 9 on JMA's scale ("0" to "7", with 5-, 5+, 6-, 6+), from the
    // reported value; 0 without an intensity.
    int jmaClass = 0;
};

// The three filters of JMA's method together: the period effect sqrt(1/f),
// the high cut and the low cut at 0.5 Hz. 0 at 0 Hz.
double jmaFilterGain(double frequencyHz);

// The low cut of the velocity: the same form as JMA's acceleration low cut,
// at 0.1 Hz, so a drift of the sensor's zero does not grow into velocity.
double velocityLowCut(double frequencyHz);

// JMA's rounding: at the third decimal, then the second decimal cut
// (4.4849 -> 4.485 -> 4.4; 4.4996 -> 4.500 -> 4.5).
double roundedAtThirdDecimal(double intensity);
double reportedIntensity(double intensity);

// JMA's computation on the whole record: each axis with its mean removed,
// zero-padded to a power of two at least twice its length, filtered in the
// frequency domain and transformed back; the vector sum of the three; a0 the
// largest value it reaches or exceeds for 0.3 s in total; I = 2 log10 a0 +
// 0.94. PGV integrates each axis in the frequency domain with the velocity
// low cut. The axes must have the same length.
OfficialIntensity computeOfficialIntensity(const ThreeAxisRecord& record);

} // namespace kelvora
