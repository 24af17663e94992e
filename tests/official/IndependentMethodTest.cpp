// The library against a second implementation of JMA's method written apart
// from it, straight from the method's description, in double precision with a
// plain radix-2 transform of its own: bursts of 100 gal at 0.5 to 10 Hz, where
// the filters at every frequency and the 0.3-s rule matter, must agree within
// 0.02 before rounding (the library's transform is single precision).
#include "official/OfficialIntensity.h"

#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <numbers>
#include <ostream>
#include <vector>

namespace kelvora::test {
namespace {

using Complex = std::complex<double>;

// In place; `inverse` without the 1/N.
void transform(std::vector<Complex>& a, bool inverse) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(a[i], a[j]);
        }
    }
    for (std::size_t length = 2; length <= n; length <<= 1) {
        const double angle =
            2.0 * std::numbers::pi / static_cast<double>(length) * (inverse ? 1 : -1);
        const Complex step(std::cos(angle), std::sin(angle));
        for (std::size_t start = 0; start < n; start += length) {
            Complex w(1.0, 0.0);
            for (std::size_t k = 0; k < length / 2; ++k) {
                const Complex u = a[start + k];
                const Complex v = a[start + k + length / 2] * w;
                a[start + k] = u + v;
                a[start + k + length / 2] = u - v;
                w *= step;
            }
        }
    }
}

double filterAt(double f) {
    if (f <= 0.0) {
        return 0.0;
    }
    const double x = f / 10.0;
    const double highCut = 1.0 / std::sqrt(1.0 + 0.694 * std::pow(x, 2) + 0.241 * std::pow(x, 4) +
                                           0.0557 * std::pow(x, 6) + 0.009664 * std::pow(x, 8) +
                                           0.00134 * std::pow(x, 10) + 0.000155 * std::pow(x, 12));
    const double lowCut = std::sqrt(1.0 - std::exp(-std::pow(f / 0.5, 3)));
    return std::sqrt(1.0 / f) * highCut * lowCut;
}

double independentIntensity(const ThreeAxisRecord& record) {
    const std::size_t n = record.x.size();
    std::size_t padded = 1;
    while (padded < 2 * n) {
        padded *= 2;
    }
    std::vector<double> sumOfSquares(n, 0.0);
    for (const std::vector<double>* axis : {&record.x, &record.y, &record.z}) {
        double mean = 0.0;
        for (double v : *axis) {
            mean += v;
        }
        mean /= static_cast<double>(n);
        std::vector<Complex> a(padded, Complex(0.0, 0.0));
        for (std::size_t i = 0; i < n; ++i) {
            a[i] = (*axis)[i] - mean;
        }
        transform(a, false);
        for (std::size_t k = 0; k < padded; ++k) {
            // Bins above half the length are the negative frequencies.
            const std::size_t mirrored = k <= padded / 2 ? k : padded - k;
            a[k] *= filterAt(static_cast<double>(mirrored) * 100.0 / static_cast<double>(padded));
        }
        transform(a, true);
        for (std::size_t i = 0; i < n; ++i) {
            const double v = a[i].real() / static_cast<double>(padded);
            sumOfSquares[i] += v * v;
        }
    }
    std::vector<double> sum(n);
    std::transform(sumOfSquares.begin(), sumOfSquares.end(), sum.begin(),
                   [](double s) { return std::sqrt(s); });
    std::sort(sum.begin(), sum.end(), std::greater<>());
    return 2.0 * std::log10(sum[29]) + 0.94; // held for 30 samples: 0.3 s
}

// 30 s of a quiet sensor (a small deterministic wobble) with a burst of
// 100 gal at `frequencyHz` from 10 s, `seconds` long under a raised-cosine
// envelope, on the three axes with different phases and shares.
ThreeAxisRecord burst(double frequencyHz, double seconds) {
    ThreeAxisRecord record;
    for (int i = 0; i < 3000; ++i) {
        const double t = i / 100.0;
        double envelope = 0.0;
        if (t >= 10.0 && t <= 10.0 + seconds) {
            envelope = 0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * (t - 10.0) / seconds));
        }
        const double phase = 2.0 * std::numbers::pi * frequencyHz * t;
        const double wobble = 0.02 * std::sin(0.37 * i) + 0.01 * std::cos(1.91 * i);
        record.x.push_back(100.0 * envelope * std::cos(phase) + wobble + 0.4);
        record.y.push_back(60.0 * envelope * std::sin(phase + 0.7) - wobble);
        record.z.push_back(30.0 * envelope * std::cos(phase + 1.9) + 0.5 * wobble + 980.0);
    }
    return record;
}

struct BurstCase {
    const char* name;
    double frequencyHz;
    double seconds;
};
void PrintTo(const BurstCase& c, std::ostream* os) {
    *os << c.name;
}

class IndependentMethod : public ::testing::TestWithParam<BurstCase> {};

TEST_P(IndependentMethod, AgreesWithinTwoHundredthsBeforeRounding) {
    const ThreeAxisRecord record = burst(GetParam().frequencyHz, GetParam().seconds);
    const OfficialIntensity result = computeOfficialIntensity(record);
    ASSERT_TRUE(result.intensity.has_value());
    EXPECT_NEAR(*result.intensity, independentIntensity(record), 0.02);
}

INSTANTIATE_TEST_SUITE_P(
    Bursts, IndependentMethod,
    ::testing::Values(BurstCase{"HalfAHertz", 0.5, 8.0}, BurstCase{"OneHertz", 1.0, 6.0},
                      BurstCase{"TwoHertz", 2.0, 4.0}, BurstCase{"FourHertz", 4.0, 3.0},
                      BurstCase{"SevenHertz", 7.0, 2.0}, BurstCase{"TenHertz", 10.0, 1.0},
                      BurstCase{"ShortTenHertz", 10.0, 0.4}),
    CaseName{});

} // namespace
} // namespace kelvora::test
