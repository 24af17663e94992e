#include "SyntheticSensor.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace kelvora::sim {

namespace {

constexpr double kDt = 1.0 / SyntheticSensor::kFramesPerSecond;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// One random stream per concern, so that e.g. adding an event does not change
// the quiet noise. makeStream gives the sensor and the writer the same seed, so
// the numbers must not overlap.
enum Stream : std::uint64_t {
    kNoiseStream = 1,
    kCalibrationStream,
    kWeatherStream,
    kNanStream,
    kDropStream,
    kCorruptStream,
    kStartStream,
    kEventStreamBase = 1ull << 32,
};

// Sensor-side smoothing: peak follower of the composite and velocity leak.
const double kCompositeAttack = 1.0 - std::exp(-kDt / 0.03);
const double kCompositeRelease = 1.0 - std::exp(-kDt / 0.5);
const double kVelocityLeak = std::exp(-kDt / 2.0);

// RBJ biquad, transposed direct form II.
class Biquad {
public:
    static Biquad lowPass(double cutoffHz) { return make(cutoffHz, false); }
    static Biquad highPass(double cutoffHz) { return make(cutoffHz, true); }

    double operator()(double x) {
        const double y = b0_ * x + z1_;
        z1_ = b1_ * x - a1_ * y + z2_;
        z2_ = b2_ * x - a2_ * y;
        return y;
    }

private:
    static Biquad make(double cutoffHz, bool high) {
        const double w0 = kTwoPi * cutoffHz * kDt;
        const double cosW = std::cos(w0);
        const double alpha = std::sin(w0) / std::numbers::sqrt2; // Q = 1/sqrt(2): Butterworth
        const double a0 = 1.0 + alpha;
        Biquad f;
        if (high) {
            f.b0_ = (1.0 + cosW) / 2.0 / a0;
            f.b1_ = -(1.0 + cosW) / a0;
        } else {
            f.b0_ = (1.0 - cosW) / 2.0 / a0;
            f.b1_ = (1.0 - cosW) / a0;
        }
        f.b2_ = f.b0_;
        f.a1_ = -2.0 * cosW / a0;
        f.a2_ = (1.0 - alpha) / a0;
        return f;
    }

    double b0_ = 0, b1_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
    double z1_ = 0, z2_ = 0;
};

// Rise, plateau, decay over u in [0, 1]; smooth at both ends.
double envelope(double u) {
    constexpr double kRiseEnd = 0.15;
    constexpr double kDecayStart = 0.4;
    if (u <= 0.0 || u >= 1.0) {
        return 0.0;
    }
    if (u < kRiseEnd) {
        return 0.5 - 0.5 * std::cos(std::numbers::pi * u / kRiseEnd);
    }
    if (u < kDecayStart) {
        return 1.0;
    }
    return 0.5 + 0.5 * std::cos(std::numbers::pi * (u - kDecayStart) / (1.0 - kDecayStart));
}

std::int64_t frameAtOrAfter(double seconds) {
    // The epsilon keeps 5.0 s on frame 500 despite rounding in the product.
    return static_cast<std::int64_t>(std::ceil(seconds * SyntheticSensor::kFramesPerSecond - 1e-6));
}

// Gravity-free, offset-free motion of one event, scaled so that the larger
// horizontal axis peaks at exactly peakGal.
std::vector<std::array<double, 3>> renderEvent(const QuakeEvent& event, std::int64_t frames,
                                               std::uint64_t seed) {
    Random random(seed);
    // Horizontals carry the lower frequencies; the vertical is weaker and sharper.
    std::array<Biquad, 3> highPass{Biquad::highPass(random.uniform(0.5, 1.0)),
                                   Biquad::highPass(random.uniform(0.5, 1.0)),
                                   Biquad::highPass(random.uniform(0.7, 1.5))};
    std::array<Biquad, 3> lowPass{Biquad::lowPass(random.uniform(4.0, 8.0)),
                                  Biquad::lowPass(random.uniform(4.0, 8.0)),
                                  Biquad::lowPass(random.uniform(7.0, 10.0))};
    auto sample = [&](std::size_t axis) { return lowPass[axis](highPass[axis](random.normal())); };
    // Settle the filters so their start-up transient is not part of the event.
    for (int i = 0; i < 300; ++i) {
        for (std::size_t axis = 0; axis < 3; ++axis) {
            sample(axis);
        }
    }

    const double startFrame = event.startSeconds * SyntheticSensor::kFramesPerSecond;
    const std::int64_t firstFrame = frameAtOrAfter(event.startSeconds);
    std::vector<std::array<double, 3>> motion(static_cast<std::size_t>(frames));
    std::array<double, 3> energy{};
    for (std::size_t k = 0; k < motion.size(); ++k) {
        const double frameNumber = static_cast<double>(firstFrame + static_cast<std::int64_t>(k));
        const double u = (frameNumber - startFrame) /
                         (event.durationSeconds * SyntheticSensor::kFramesPerSecond);
        const double shape = envelope(u);
        for (std::size_t axis = 0; axis < 3; ++axis) {
            motion[k][axis] = sample(axis) * shape;
            energy[axis] += motion[k][axis] * motion[k][axis];
        }
    }

    // The filters pass different bandwidths, so the axis ratios are set on RMS.
    const std::array<double, 3> gain{1.0, random.uniform(0.6, 1.0), random.uniform(0.35, 0.6)};
    std::array<double, 3> axisScale{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        axisScale[axis] = energy[axis] > 0.0 ? gain[axis] / std::sqrt(energy[axis]) : 0.0;
    }
    double horizontalPeak = 0.0;
    double verticalPeak = 0.0;
    for (auto& m : motion) {
        for (std::size_t axis = 0; axis < 3; ++axis) {
            m[axis] *= axisScale[axis];
        }
        horizontalPeak = std::max({horizontalPeak, std::abs(m[0]), std::abs(m[1])});
        verticalPeak = std::max(verticalPeak, std::abs(m[2]));
    }
    if (horizontalPeak <= 0.0) {
        return std::vector<std::array<double, 3>>(motion.size());
    }
    // Gaussian peaks vary; an unlucky draw must not leave Z above the horizontals.
    constexpr double kMaxVerticalRatio = 0.7;
    const double scale = event.peakGal / horizontalPeak;
    const double verticalScale =
        scale * std::min(1.0, kMaxVerticalRatio * horizontalPeak / verticalPeak);
    for (auto& m : motion) {
        m[0] *= scale;
        m[1] *= scale;
        m[2] *= verticalScale;
    }
    return motion;
}

float toFloat(double v) {
    return static_cast<float>(v);
}

} // namespace

double Random::normal() {
    if (hasSpare_) {
        hasSpare_ = false;
        return spare_;
    }
    const double u1 = 1.0 - uniform(); // (0, 1]: keeps the log finite
    const double u2 = uniform();
    const double radius = std::sqrt(-2.0 * std::log(u1));
    spare_ = radius * std::sin(kTwoPi * u2);
    hasSpare_ = true;
    return radius * std::cos(kTwoPi * u2);
}

bool Random::chance(double p) {
    if (!(p > 0.0)) {
        return false;
    }
    return uniform() < p;
}

std::uint64_t deriveSeed(std::uint64_t seed, std::uint64_t stream) {
    // splitmix64 finaliser
    std::uint64_t z = seed + (stream + 1) * 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double SyntheticSensor::Drift::at(double t) const {
    double v = base;
    for (std::size_t i = 0; i < amplitude.size(); ++i) {
        v += amplitude[i] * std::sin(radPerSecond[i] * t + phase[i]);
    }
    return v;
}

SyntheticSensor::Drift SyntheticSensor::makeDrift(Random& random, double base, double slowAmplitude,
                                                  double fastAmplitude) {
    Drift d;
    d.base = base;
    d.amplitude = {slowAmplitude * random.uniform(0.5, 1.0),
                   fastAmplitude * random.uniform(0.5, 1.0)};
    d.radPerSecond = {kTwoPi / random.uniform(1200.0, 3600.0),
                      kTwoPi / random.uniform(120.0, 400.0)};
    d.phase = {random.uniform(0.0, kTwoPi), random.uniform(0.0, kTwoPi)};
    return d;
}

SyntheticSensor::SyntheticSensor(std::uint64_t seed, std::vector<QuakeEvent> events)
    : noise_(deriveSeed(seed, kNoiseStream)) {
    Random calibration(deriveSeed(seed, kCalibrationStream));
    for (std::size_t axis = 0; axis < 3; ++axis) {
        offsetGal_[axis] = calibration.uniform(-0.08, 0.08);
        noiseGal_[axis] = calibration.uniform(0.015, 0.03);
    }

    Random weather(deriveSeed(seed, kWeatherStream));
    temperature_ = makeDrift(weather, weather.uniform(18.0, 26.0), 2.0, 0.4);
    humidity_ = makeDrift(weather, weather.uniform(40.0, 70.0), 5.0, 1.0);
    pressure_ = makeDrift(weather, weather.uniform(1003.0, 1014.0), 2.0, 0.3);
    seaLevelOffset_ = weather.uniform(2.0, 6.0);

    for (std::size_t i = 0; i < events.size(); ++i) {
        const QuakeEvent& e = events[i];
        if (!std::isfinite(e.startSeconds) || !std::isfinite(e.durationSeconds) ||
            !std::isfinite(e.peakGal) || e.durationSeconds <= 0.0 || e.peakGal <= 0.0) {
            continue;
        }
        const std::int64_t first = frameAtOrAfter(e.startSeconds);
        const std::int64_t end = frameAtOrAfter(e.startSeconds + e.durationSeconds);
        if (end > first) {
            pending_.push_back({e, first, end, deriveSeed(seed, kEventStreamBase + i)});
        }
    }
    std::stable_sort(
        pending_.begin(), pending_.end(),
        [](const PendingEvent& a, const PendingEvent& b) { return a.firstFrame < b.firstFrame; });
}

// Events are rendered when they begin and released when they end, so long
// simulations with many events stay small.
void SyntheticSensor::activateEvents() {
    while (nextPending_ < pending_.size() && pending_[nextPending_].firstFrame <= frame_) {
        const PendingEvent& p = pending_[nextPending_++];
        if (p.endFrame > frame_) {
            active_.push_back(
                {p.firstFrame, renderEvent(p.event, p.endFrame - p.firstFrame, p.seed)});
        }
    }
}

FrameValues SyntheticSensor::next() {
    activateEvents();

    std::array<double, 3> motion{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        motion[axis] = noiseGal_[axis] * noise_.normal();
    }
    for (const ActiveEvent& a : active_) {
        const auto& m = a.motion[static_cast<std::size_t>(frame_ - a.firstFrame)];
        for (std::size_t axis = 0; axis < 3; ++axis) {
            motion[axis] += m[axis];
        }
    }
    std::erase_if(active_, [this](const ActiveEvent& a) {
        return frame_ + 1 >= a.firstFrame + static_cast<std::int64_t>(a.motion.size());
    });

    // The sensor's own figures work on offset-free motion: a peak follower of
    // the vector magnitude, and a leaky integral (gal * s = cm/s).
    const double magnitude = std::hypot(motion[0], motion[1], motion[2]);
    composite_ +=
        (magnitude - composite_) * (magnitude > composite_ ? kCompositeAttack : kCompositeRelease);
    for (std::size_t axis = 0; axis < 3; ++axis) {
        velocity_[axis] = velocity_[axis] * kVelocityLeak + motion[axis] * kDt;
    }

    const double t = seconds();
    const double pressure = std::clamp(pressure_.at(t), 1000.0, 1020.0);
    FrameValues v;
    v.sensorSiGal = toFloat(composite_);
    v.sensorVelocity = toFloat(std::hypot(velocity_[0], velocity_[1], velocity_[2]));
    v.accelX = toFloat(motion[0] + offsetGal_[0]);
    v.accelY = toFloat(motion[1] + offsetGal_[1]);
    v.accelZ = toFloat(motion[2] + offsetGal_[2]);
    v.temperature = toFloat(std::clamp(temperature_.at(t), 15.0, 30.0));
    v.humidity = toFloat(std::clamp(humidity_.at(t), 30.0, 80.0));
    v.pressure = toFloat(pressure);
    v.seaLevelPressure = toFloat(pressure + seaLevelOffset_);
    ++frame_;
    return v;
}

StreamWriter::StreamWriter(std::uint64_t seed, LineFaults faults)
    : faults_(faults), nanRandom_(deriveSeed(seed, kNanStream)),
      dropRandom_(deriveSeed(seed, kDropStream)), corruptRandom_(deriveSeed(seed, kCorruptStream)) {
    if (faults_.startMidFrame) {
        Random start(deriveSeed(seed, kStartStream));
        leadingBytesToDrop_ = 1 + static_cast<std::size_t>(start.bits() % (frame::kSize - 1));
    }
}

void StreamWriter::append(const FrameValues& values, std::vector<std::uint8_t>& out) {
    FrameBytes bytes = encodeFrame(values);
    if (nanRandom_.chance(faults_.nanRate)) {
        const std::size_t field = nanRandom_.bits() % frame::kFloatCount;
        const std::uint64_t r = nanRandom_.bits();
        const std::uint32_t sign = (r & 1u) != 0 ? 0x80000000u : 0u;
        // One in three is an infinity; the rest are NaNs with a random payload.
        std::uint32_t mantissa = 0;
        if ((r >> 1) % 3 != 0) {
            mantissa = 1u + static_cast<std::uint32_t>((r >> 8) % 0x7FFFFFu);
        }
        writeU32(&bytes[field * 4], sign | 0x7F800000u | mantissa);
        sealFrame(bytes);
    }

    std::size_t i = 0;
    if (leadingBytesToDrop_ > 0) {
        i = std::exchange(leadingBytesToDrop_, 0);
    }
    for (; i < bytes.size(); ++i) {
        if (dropRandom_.chance(faults_.dropRate)) {
            continue;
        }
        std::uint8_t b = bytes[i];
        if (corruptRandom_.chance(faults_.corruptRate)) {
            b = static_cast<std::uint8_t>(b ^ (1u << (corruptRandom_.bits() >> 61)));
        }
        out.push_back(b);
    }
}

std::vector<std::uint8_t> makeStream(std::uint64_t seed, double seconds,
                                     std::vector<QuakeEvent> events, LineFaults faults) {
    const std::int64_t frames =
        seconds > 0.0 ? std::llround(seconds * SyntheticSensor::kFramesPerSecond) : 0;
    SyntheticSensor sensor(seed, std::move(events));
    StreamWriter writer(seed, faults);
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(frames) * frame::kSize);
    for (std::int64_t n = 0; n < frames; ++n) {
        writer.append(sensor.next(), out);
    }
    return out;
}

} // namespace kelvora::sim
