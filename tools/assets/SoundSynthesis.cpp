#include "SoundSynthesis.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <span>

namespace kelvora::assets {

namespace {

constexpr double kLeadSeconds = 0.003;  // silence before the fade-in
constexpr double kTrailSeconds = 0.003; // silence after the fade-out
constexpr double kFadeInSeconds = 0.005;
constexpr double kFadeOutSeconds = 0.030;
constexpr double kRampSeconds = 0.005;   // attack and release of every tone
constexpr double kHighestPartial = 0.45; // of the sample rate: keep partials band-limited

constexpr double kAlertBaseHz = 740.0; // F#5; each class two semitones higher
constexpr double kAlertBurstSeconds = 0.085;
constexpr double kAlertGapSeconds = 0.045;
constexpr double kAlertGroupPauseSeconds = 0.180;

constexpr double kNoticeTailSeconds = 0.50;

struct Partial {
    double ratio;     // of the tone's pitch
    double amplitude; // relative
    double decay;     // exponential time constant in seconds; 0 holds the level
};

// Odd harmonics: a bright, buzzer-like square tone.
constexpr Partial kAlertPartials[] = {{1.0, 1.0, 0.0}, {3.0, 0.30, 0.0}, {5.0, 0.12, 0.0}};
// Harmonic partials dying away quickly: a mellow mallet chime.
constexpr Partial kJmaPartials[] = {
    {1.0, 1.0, 0.100}, {2.0, 0.35, 0.060}, {3.0, 0.15, 0.040}, {4.0, 0.06, 0.030}};
// Inharmonic partials of a small bell.
constexpr Partial kMercalliPartials[] = {
    {1.0, 1.0, 0.100}, {2.76, 0.50, 0.060}, {5.40, 0.25, 0.040}, {8.93, 0.10, 0.025}};

std::size_t samplesOf(double seconds, int rate) {
    return static_cast<std::size_t>(std::lround(seconds * rate));
}

// 0 at i = 0, 1 at i = n: a raised-cosine ramp.
double ramp(std::size_t i, std::size_t n) {
    if (n == 0 || i >= n) {
        return 1.0;
    }
    return 0.5 *
           (1.0 - std::cos(std::numbers::pi * static_cast<double>(i) / static_cast<double>(n)));
}

// Adds one tone of `length` samples from `start`: its partials with their own
// decay, under a raised-cosine attack and release.
void addTone(std::vector<double>& out, std::size_t start, std::size_t length, double pitch,
             std::span<const Partial> partials, int rate) {
    const std::size_t end = std::min(out.size(), start + length);
    if (start >= end) {
        return;
    }
    const std::size_t n = end - start;
    const std::size_t edge = std::min(samplesOf(kRampSeconds, rate), n / 2);
    for (const Partial& p : partials) {
        const double frequency = pitch * p.ratio;
        if (frequency >= kHighestPartial * rate) {
            continue;
        }
        const double step = 2.0 * std::numbers::pi * frequency / rate;
        for (std::size_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(i) / rate;
            const double level = p.decay > 0.0 ? std::exp(-t / p.decay) : 1.0;
            const double envelope = ramp(i, edge) * ramp(n - 1 - i, edge);
            out[start + i] +=
                p.amplitude * level * envelope * std::sin(step * static_cast<double>(i));
        }
    }
}

// Silence at both ends, a fade-in after the leading silence and a fade-out
// before the trailing one.
void shapeEnds(std::vector<double>& out, int rate) {
    const std::size_t lead = samplesOf(kLeadSeconds, rate);
    const std::size_t trail = samplesOf(kTrailSeconds, rate);
    if (out.size() <= lead + trail) {
        std::fill(out.begin(), out.end(), 0.0);
        return;
    }
    const std::size_t body = out.size() - lead - trail;
    const std::size_t fadeIn = std::min(samplesOf(kFadeInSeconds, rate), body / 2);
    const std::size_t fadeOut = std::min(samplesOf(kFadeOutSeconds, rate), body / 2);
    std::fill(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(lead), 0.0);
    std::fill(out.end() - static_cast<std::ptrdiff_t>(trail), out.end(), 0.0);
    for (std::size_t i = 0; i < body; ++i) {
        out[lead + i] *= ramp(i, fadeIn) * ramp(body - 1 - i, fadeOut);
    }
}

bool validClass(int k) {
    return k >= 1 && k <= 9;
}

} // namespace

double alertPitch(int k) {
    return kAlertBaseHz * std::exp2(2.0 * (k - 1) / 12.0);
}

int alertBurstCount(int k) {
    return 2 * (3 + (k - 1) / 2); // two groups of 3, 3, 4, 4, 5, 5, 6, 6, 7
}

std::vector<double> alertSignal(int k, int rate) {
    if (!validClass(k)) {
        return {};
    }
    const int perGroup = alertBurstCount(k) / 2;
    const double period = kAlertBurstSeconds + kAlertGapSeconds;
    const double group = perGroup * period;
    const double seconds =
        kLeadSeconds + 2.0 * group + kAlertGroupPauseSeconds - kAlertGapSeconds + kTrailSeconds;
    std::vector<double> out(samplesOf(seconds, rate), 0.0);
    const double low = alertPitch(k);
    const double high = low * std::exp2(4.0 / 12.0); // a major third above
    for (int g = 0; g < 2; ++g) {
        for (int b = 0; b < perGroup; ++b) {
            const double at = kLeadSeconds + g * (group + kAlertGroupPauseSeconds) + b * period;
            addTone(out, samplesOf(at, rate), samplesOf(kAlertBurstSeconds, rate),
                    b % 2 == 0 ? low : high, kAlertPartials, rate);
        }
    }
    shapeEnds(out, rate);
    return out;
}

std::vector<double> noticeSignal(NoticeTimbre timbre, int k, int rate) {
    if (!validClass(k)) {
        return {};
    }
    const double seconds =
        kLeadSeconds + (k - 1) * kNoticeBeatSeconds + kNoticeTailSeconds + kTrailSeconds;
    std::vector<double> out(samplesOf(seconds, rate), 0.0);
    const std::span<const Partial> partials = timbre == NoticeTimbre::Jma
                                                  ? std::span<const Partial>(kJmaPartials)
                                                  : std::span<const Partial>(kMercalliPartials);
    for (int beat = 0; beat < k; ++beat) {
        const std::size_t at = samplesOf(kLeadSeconds + beat * kNoticeBeatSeconds, rate);
        addTone(out, at, out.size() - at, kNoticePitch, partials, rate);
    }
    shapeEnds(out, rate);
    return out;
}

std::vector<std::int16_t> toPcm16(const std::vector<double>& signal, double peakDbfs) {
    double peak = 0.0;
    for (double x : signal) {
        peak = std::max(peak, std::abs(x));
    }
    const double scale = peak > 0.0 ? std::pow(10.0, peakDbfs / 20.0) * 32767.0 / peak : 0.0;
    std::vector<std::int16_t> samples;
    samples.reserve(signal.size());
    for (double x : signal) {
        const double v = std::clamp(std::round(x * scale), -32768.0, 32767.0);
        samples.push_back(static_cast<std::int16_t>(v));
    }
    return samples;
}

} // namespace kelvora::assets
