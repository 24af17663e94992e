#include "official/OfficialIntensity.h"

#include "core/IntensityAlerts.h"
#include "core/MeasurementState.h"

#include <kiss_fftr.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <numbers>
#include <numeric>
#include <stdexcept>

namespace kelvora {

namespace {

// a0 is held for this long in total.
constexpr double kHoldSeconds = 0.3;

struct FftDeleter {
    void operator()(kiss_fftr_state* cfg) const { kiss_fftr_free(cfg); }
};
using Fft = std::unique_ptr<kiss_fftr_state, FftDeleter>;

Fft makeFft(std::size_t length, bool inverse) {
    Fft fft(kiss_fftr_alloc(static_cast<int>(length), inverse ? 1 : 0, nullptr, nullptr));
    if (!fft) {
        throw std::bad_alloc();
    }
    return fft;
}

std::size_t paddedLength(std::size_t samples) {
    std::size_t length = 2;
    while (length < 2 * samples) {
        length *= 2;
    }
    return length;
}

double lowCut(double frequencyHz, double cornerHz) {
    const double ratio = frequencyHz / cornerHz;
    return std::sqrt(1.0 - std::exp(-(ratio * ratio * ratio)));
}

// One axis through the frequency domain: mean removed, zero-padded, each
// bin multiplied by `gain` (complex), transformed back; the first `samples`.
class AxisTransform {
public:
    AxisTransform(std::size_t samples, double samplesPerSecond)
        : samples_(samples), length_(paddedLength(samples)),
          binHz_(samplesPerSecond / static_cast<double>(length_)),
          forward_(makeFft(length_, false)), inverse_(makeFft(length_, true)), time_(length_),
          spectrum_(length_ / 2 + 1), filtered_(length_ / 2 + 1) {}

    // Transforms `axis` once; filter() may then be called for several gains.
    void load(const std::vector<double>& axis) {
        const double mean = samples_ == 0 ? 0.0
                                          : std::accumulate(axis.begin(), axis.end(), 0.0) /
                                                static_cast<double>(samples_);
        for (std::size_t i = 0; i < length_; ++i) {
            time_[i] = i < samples_ ? static_cast<kiss_fft_scalar>(axis[i] - mean) : 0.0F;
        }
        kiss_fftr(forward_.get(), time_.data(), spectrum_.data());
    }

    template <typename Gain> void filter(Gain gain, std::vector<double>& out) {
        for (std::size_t k = 0; k < spectrum_.size(); ++k) {
            const std::complex<double> value(spectrum_[k].r, spectrum_[k].i);
            const std::complex<double> result = value * gain(static_cast<double>(k) * binHz_);
            filtered_[k].r = static_cast<kiss_fft_scalar>(result.real());
            filtered_[k].i = static_cast<kiss_fft_scalar>(result.imag());
        }
        kiss_fftri(inverse_.get(), filtered_.data(), time_.data());
        out.resize(samples_);
        const double scale = 1.0 / static_cast<double>(length_); // the inverse is unscaled
        for (std::size_t i = 0; i < samples_; ++i) {
            out[i] = static_cast<double>(time_[i]) * scale;
        }
    }

private:
    std::size_t samples_;
    std::size_t length_;
    double binHz_;
    Fft forward_;
    Fft inverse_;
    std::vector<kiss_fft_scalar> time_;
    std::vector<kiss_fft_cpx> spectrum_;
    std::vector<kiss_fft_cpx> filtered_;
};

double largestVectorSum(const std::vector<double>& x, const std::vector<double>& y,
                        const std::vector<double>& z) {
    double largest = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        largest = std::max(largest, std::sqrt(x[i] * x[i] + y[i] * y[i] + z[i] * z[i]));
    }
    return largest;
}

} // namespace

double jmaFilterGain(double frequencyHz) {
    if (!(frequencyHz > 0.0)) {
        return 0.0;
    }
    const double x = frequencyHz / 10.0;
    const double x2 = x * x;
    // 1 + 0.694x^2 + 0.241x^4 + 0.0557x^6 + 0.009664x^8 + 0.00134x^10 + 0.000155x^12
    const double polynomial =
        1.0 + x2 * (0.694 + x2 * (0.241 + x2 * (0.0557 +
                                                x2 * (0.009664 + x2 * (0.00134 + x2 * 0.000155)))));
    return std::sqrt(1.0 / frequencyHz) / std::sqrt(polynomial) * lowCut(frequencyHz, 0.5);
}

double velocityLowCut(double frequencyHz) {
    return frequencyHz > 0.0 ? lowCut(frequencyHz, 0.1) : 0.0;
}

double roundedAtThirdDecimal(double intensity) {
    return std::round(intensity * 1000.0) / 1000.0;
}

double reportedIntensity(double intensity) {
    // The cut works on the value rounded at the third decimal, in thousandths
    // so that 4.5 (4499.99... in binary) is not cut to 4.4.
    const double thousandths = std::round(intensity * 1000.0);
    return std::floor(thousandths / 100.0) / 10.0;
}

OfficialIntensity computeOfficialIntensity(const ThreeAxisRecord& record) {
    const std::size_t samples = record.x.size();
    if (record.y.size() != samples || record.z.size() != samples) {
        throw std::invalid_argument("the three axes differ in length");
    }
    OfficialIntensity result;
    result.samples = samples;
    if (samples == 0) {
        return result;
    }
    result.pgaGal = largestVectorSum(record.x, record.y, record.z);

    AxisTransform transform(samples, record.samplesPerSecond);
    std::array<std::vector<double>, 3> filtered;
    std::array<std::vector<double>, 3> velocity;
    const std::array<const std::vector<double>*, 3> axes{&record.x, &record.y, &record.z};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        transform.load(*axes[axis]);
        transform.filter([](double f) { return std::complex<double>(jmaFilterGain(f), 0.0); },
                         filtered[axis]);
        // Integration: divided by i 2 pi f.
        transform.filter(
            [](double f) {
                if (!(f > 0.0)) {
                    return std::complex<double>(0.0, 0.0);
                }
                return std::complex<double>(0.0, -velocityLowCut(f) / (2.0 * std::numbers::pi * f));
            },
            velocity[axis]);
    }
    result.pgvCms = largestVectorSum(velocity[0], velocity[1], velocity[2]);

    const auto hold = static_cast<std::size_t>(std::lround(kHoldSeconds * record.samplesPerSecond));
    if (samples < hold || hold == 0) {
        return result;
    }
    std::vector<double> sum(samples);
    for (std::size_t i = 0; i < samples; ++i) {
        const double x = filtered[0][i];
        const double y = filtered[1][i];
        const double z = filtered[2][i];
        sum[i] = std::sqrt(x * x + y * y + z * z);
    }
    // The hold-th largest: that many samples, 0.3 s, reach or exceed it.
    std::nth_element(sum.begin(), sum.begin() + static_cast<std::ptrdiff_t>(hold - 1), sum.end(),
                     std::greater<>());
    const double a0 = sum[hold - 1];
    result.a0Gal = a0;
    const double intensity =
        a0 > 0.0 ? std::max(2.0 * std::log10(a0) + 0.94, kJmaFloor) : kJmaFloor;
    result.intensity = intensity;
    result.intensityRaw = roundedAtThirdDecimal(intensity);
    result.intensityReported = reportedIntensity(intensity);
    result.jmaClass = IntensityAlerts::classOf(0, *result.intensityReported, 0);
    return result;
}

} // namespace kelvora
