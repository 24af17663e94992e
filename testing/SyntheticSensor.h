#pragma once

#include "core/SensorFrame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace kelvora::sim {

// Seeded random numbers with our own transforms: the std distributions are not
// reproducible across standard library versions, and tests compare bytes.
class Random {
public:
    explicit Random(std::uint64_t seed) : engine_(seed) {}

    std::uint64_t bits() { return engine_(); }
    // Uniform in [0, 1).
    double uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    // Standard normal (Box-Muller).
    double normal();
    // True with probability p; draws nothing when p <= 0.
    bool chance(double p);

private:
    std::mt19937_64 engine_;
    bool hasSpare_ = false;
    double spare_ = 0.0;
};

// Derives an independent seed for one random stream from a user seed.
std::uint64_t deriveSeed(std::uint64_t seed, std::uint64_t stream);

struct QuakeEvent {
    double startSeconds;
    double durationSeconds;
    double peakGal; // largest horizontal-axis acceleration
};

// A gravity-removed three-axis sensor sampled every 10 ms: quiet noise plus
// band-limited shaking for each event, and slowly drifting weather values.
class SyntheticSensor {
public:
    static constexpr double kFramesPerSecond = 100.0;

    explicit SyntheticSensor(std::uint64_t seed, std::vector<QuakeEvent> events = {});

    // Values of the next frame; the first frame is sampled at 0 s.
    FrameValues next();
    // Simulated time elapsed: frames produced so far times 10 ms.
    double seconds() const { return static_cast<double>(frame_) / kFramesPerSecond; }

private:
    struct Drift {
        double base = 0.0;
        std::array<double, 2> amplitude{};
        std::array<double, 2> radPerSecond{};
        std::array<double, 2> phase{};
        double at(double t) const;
    };
    struct PendingEvent {
        QuakeEvent event;
        std::int64_t firstFrame;
        std::int64_t endFrame; // exclusive
        std::uint64_t seed;
    };
    struct ActiveEvent {
        std::int64_t firstFrame;
        std::vector<std::array<double, 3>> motion;
    };

    static Drift makeDrift(Random& random, double base, double slowAmplitude, double fastAmplitude);
    void activateEvents();

    std::int64_t frame_ = 0;
    Random noise_;
    std::array<double, 3> offsetGal_{};
    std::array<double, 3> noiseGal_{};
    Drift temperature_;
    Drift humidity_;
    Drift pressure_;
    double seaLevelOffset_ = 0.0;

    std::vector<PendingEvent> pending_; // by first frame
    std::size_t nextPending_ = 0;
    std::vector<ActiveEvent> active_;

    double composite_ = 0.0;
    std::array<double, 3> velocity_{};
};

struct LineFaults {
    double corruptRate = 0; // per byte: one bit flipped
    double dropRate = 0;    // per byte: lost
    double nanRate = 0;     // per frame: one float made non-finite, checksum resealed
    bool startMidFrame = false;
};

// Encodes frames onto a byte stream, damaging it as a noisy serial line would.
// Each kind of fault draws from its own random stream, so enabling one leaves
// the pattern of the others unchanged.
class StreamWriter {
public:
    explicit StreamWriter(std::uint64_t seed, LineFaults faults = {});

    void append(const FrameValues& values, std::vector<std::uint8_t>& out);

private:
    LineFaults faults_;
    Random nanRandom_;
    Random dropRandom_;
    Random corruptRandom_;
    std::size_t leadingBytesToDrop_ = 0;
};

// The byte stream of `seconds` of sensor output.
std::vector<std::uint8_t> makeStream(std::uint64_t seed, double seconds,
                                     std::vector<QuakeEvent> events, LineFaults faults = {});

} // namespace kelvora::sim
