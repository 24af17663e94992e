// Read-out texts are formatted without printf; they must be printf's texts,
// character for character, for every format the system uses.
#include "core/DisplayTexts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace kelvora::test {
namespace {

struct Format {
    int width;
    int precision;
    std::size_t cut;
};

std::string printfCut(const Format& f, double value) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "%*.*f", f.width, f.precision, value);
    return std::string(buffer).substr(0, f.cut);
}

std::vector<double> sampleValues() {
    std::vector<double> values{0.0,
                               -0.0,
                               0.0005,
                               0.0015,
                               0.0025,
                               -0.0005,
                               0.05,
                               0.15,
                               0.25,
                               -0.55,
                               -0.5,
                               1.5,
                               -3.0,
                               12.3,
                               99.95,
                               -99.99,
                               999.999,
                               1013.25,
                               9999.995,
                               12345.678,
                               -12345.678,
                               1e15,
                               -1e22,
                               1e300,
                               std::numeric_limits<double>::denorm_min(),
                               std::numeric_limits<double>::max(),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN()};
    std::mt19937_64 random(20261210);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-8, 8);
    for (int i = 0; i < 20000; ++i) {
        values.push_back(mantissa(random) * std::pow(10.0, exponent(random)));
    }
    // Decimal ties of every format: halves at the last printed digit.
    for (int i = -2000; i <= 2000; ++i) {
        values.push_back(i * 0.0005);
        values.push_back(i * 0.05);
        values.push_back(i * 0.005);
    }
    return values;
}

TEST(FieldTextFormatting, EqualsPrintfForEveryFormatInUse) {
    const Format formats[] = {{9, 3, 9}, {4, 1, 4}, {5, 1, 5}, {7, 2, 7}, {17, 12, 17}};
    const auto values = sampleValues();
    for (const Format& f : formats) {
        for (const double v : values) {
            FieldText text;
            text.formatFixed(v, f.width, f.precision, f.cut);
            ASSERT_EQ(text.view(), printfCut(f, v))
                << "%" << f.width << "." << f.precision << "f cut to " << f.cut << " of "
                << std::hexfloat << v;
        }
    }
}

TEST(FieldTextFormatting, KeepsTheSuffixAfterACutNumber) {
    FieldText text;
    text.formatFixed(-0.5, 9, 3, 9);
    text.append(" gal");
    EXPECT_EQ(text.view(), "   -0.500 gal");
    text.formatFixed(123456789.25, 9, 3, 9);
    text.append(" gal");
    EXPECT_EQ(text.view(), "123456789 gal");
}

} // namespace
} // namespace kelvora::test
