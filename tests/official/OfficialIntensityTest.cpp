// JMA's method on whole records with answers worked out by hand. A cosine of
// amplitude A at f Hz over whole cycles comes out of the three filters as
// A G(f) times the same cosine (the filters are real, so nothing shifts and
// the samples at the peaks stay at the peaks), with
//   G(f) = sqrt(1/f) (1 + 0.694x^2 + 0.241x^4 + ...)^-1/2 sqrt(1 - exp(-(f/0.5)^3)), x = f/10:
//   G(1) = 1 x 1.00696^-1/2 x 0.99983 = 0.99637
//   G(2) = 0.70711 x 1.02815^-1/2 x 1.00000 = 0.69736
//   G(4) = 0.5 x 1.11744^-1/2 x 1 = 0.47300
// Every half cycle between the fades has a sample at the peak, far more than
// the 30 of 0.3 s, so a0 = A G(f) and I = 2 log10 a0 + 0.94. The velocity of A cos(2 pi f t)
// is A / (2 pi f) sin(2 pi f t), and at 1 Hz and above the velocity's low cut
// is 1 to many decimals.
#include "official/OfficialIntensity.h"

#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <ostream>
#include <stdexcept>

namespace kelvora::test {
namespace {

ThreeAxisRecord cosineOn(int axis, double frequencyHz, double amplitudeGal, double seconds,
                         double fadeSeconds = 2.0) {
    ThreeAxisRecord record;
    const auto samples = static_cast<std::size_t>(std::lround(seconds * 100.0));
    record.x.assign(samples, 0.0);
    record.y.assign(samples, 0.0);
    record.z.assign(samples, 0.0);
    std::vector<double>& target = axis == 0 ? record.x : axis == 1 ? record.y : record.z;
    for (std::size_t i = 0; i < samples; ++i) {
        const double t = static_cast<double>(i) / 100.0;
        // Faded in and out (raised cosine): the step of a record that begins
        // at a peak would integrate into a velocity of its own.
        const double edge = std::min(t, seconds - t);
        const double fade = edge >= fadeSeconds
                                ? 1.0
                                : 0.5 * (1.0 - std::cos(std::numbers::pi * edge / fadeSeconds));
        target[i] = amplitudeGal * fade * std::cos(2.0 * std::numbers::pi * frequencyHz * t);
    }
    return record;
}

struct SteadyCase {
    const char* name;
    int axis;
    double frequencyHz;
    double amplitudeGal;
    double intensity; // 2 log10(A G(f)) + 0.94
    double reported;
    int jmaClass;
    double pgvCms; // A / (2 pi f)
};
void PrintTo(const SteadyCase& c, std::ostream* os) {
    *os << c.name;
}

class SteadyShaking : public ::testing::TestWithParam<SteadyCase> {};

TEST_P(SteadyShaking, GivesTheIntensityPgaAndPgvWorkedOutByHand) {
    const SteadyCase& c = GetParam();
    const OfficialIntensity result =
        computeOfficialIntensity(cosineOn(c.axis, c.frequencyHz, c.amplitudeGal, 40.0));
    ASSERT_TRUE(result.intensity.has_value());
    EXPECT_NEAR(*result.intensity, c.intensity, 0.005);
    EXPECT_DOUBLE_EQ(*result.intensityReported, c.reported);
    EXPECT_EQ(result.jmaClass, c.jmaClass);
    EXPECT_DOUBLE_EQ(result.pgaGal, c.amplitudeGal) << "every second sample of 100 at 1 Hz";
    EXPECT_NEAR(result.pgvCms, c.pgvCms, c.pgvCms * 0.01);
    EXPECT_EQ(result.samples, 4000u);
}

INSTANTIATE_TEST_SUITE_P(
    Cosines, SteadyShaking,
    ::testing::Values(
        // 2 log10(99.637) + 0.94 = 4.9368: "4.9", class 5-
        SteadyCase{"EastWest1Hz100Gal", 0, 1.0, 100.0, 4.9368, 4.9, 5, 15.9155},
        // Any one axis gives the same vector sum.
        SteadyCase{"UpDown1Hz100Gal", 2, 1.0, 100.0, 4.9368, 4.9, 5, 15.9155},
        // 2 log10(47.300) + 0.94 = 4.2897: "4.2", class 4
        SteadyCase{"NorthSouth4Hz100Gal", 1, 4.0, 100.0, 4.2897, 4.2, 4, 3.9789},
        // 2 log10(6.9736) + 0.94 = 2.6269: "2.6", class 3
        SteadyCase{"EastWest2Hz10Gal", 0, 2.0, 10.0, 2.6269, 2.6, 3, 0.79577}),
    CaseName{});

TEST(OfficialIntensity, TheMeanOfEachAxisIsRemoved) {
    const ThreeAxisRecord level = cosineOn(0, 2.0, 50.0, 20.0);
    ThreeAxisRecord tilted = level;
    for (double& z : tilted.z) {
        z += 980.0; // gravity on the vertical axis
    }
    const OfficialIntensity a = computeOfficialIntensity(level);
    const OfficialIntensity b = computeOfficialIntensity(tilted);
    EXPECT_NEAR(*b.intensity, *a.intensity, 1e-4);
    EXPECT_NEAR(b.pgvCms, a.pgvCms, 1e-3);
    EXPECT_GT(b.pgaGal, 980.0) << "PGA is of the acceleration as recorded";
}

TEST(OfficialIntensity, SilenceHasTheFloorAndNoNaN) {
    ThreeAxisRecord record;
    record.x.assign(1000, 0.0);
    record.y.assign(1000, 0.0);
    record.z.assign(1000, 0.0);
    const OfficialIntensity result = computeOfficialIntensity(record);
    EXPECT_EQ(result.pgaGal, 0.0);
    EXPECT_EQ(result.pgvCms, 0.0);
    ASSERT_TRUE(result.a0Gal.has_value());
    EXPECT_EQ(*result.a0Gal, 0.0);
    EXPECT_EQ(*result.intensity, -3.0);
    EXPECT_EQ(*result.intensityReported, -3.0);
    EXPECT_EQ(result.jmaClass, 0);
}

TEST(OfficialIntensity, ARecordShorterThanThreeTenthsOfASecondHasNoIntensity) {
    ThreeAxisRecord record = cosineOn(0, 5.0, 200.0, 0.29, 0.0);
    ASSERT_EQ(record.x.size(), 29u);
    OfficialIntensity result = computeOfficialIntensity(record);
    EXPECT_FALSE(result.intensity.has_value());
    EXPECT_FALSE(result.intensityReported.has_value());
    EXPECT_EQ(result.jmaClass, 0);
    EXPECT_EQ(result.pgaGal, 200.0) << "the peaks are still there";

    record = cosineOn(0, 5.0, 200.0, 0.30, 0.0);
    result = computeOfficialIntensity(record);
    EXPECT_TRUE(result.intensity.has_value()) << "30 samples are 0.3 s";
    EXPECT_TRUE(std::isfinite(*result.intensity));
}

TEST(OfficialIntensity, AxesOfDifferentLengthsAreRefused) {
    ThreeAxisRecord record = cosineOn(0, 1.0, 10.0, 1.0);
    record.z.pop_back();
    EXPECT_THROW(computeOfficialIntensity(record), std::invalid_argument);
}

struct RoundingCase {
    const char* name;
    double intensity;
    double raw;
    double reported;
};
void PrintTo(const RoundingCase& c, std::ostream* os) {
    *os << c.name;
}

class JmaRounding : public ::testing::TestWithParam<RoundingCase> {};

TEST_P(JmaRounding, RoundsAtTheThirdDecimalThenCutsTheSecond) {
    EXPECT_DOUBLE_EQ(roundedAtThirdDecimal(GetParam().intensity), GetParam().raw);
    EXPECT_DOUBLE_EQ(reportedIntensity(GetParam().intensity), GetParam().reported);
}

INSTANTIATE_TEST_SUITE_P(Values, JmaRounding,
                         ::testing::Values(RoundingCase{"BelowAHalf", 4.4849, 4.485, 4.4},
                                           RoundingCase{"AboveAHalf", 4.4851, 4.485, 4.4},
                                           RoundingCase{"RoundsUpToTheNextTenth", 4.4996, 4.5, 4.5},
                                           RoundingCase{"JustOverATenth", 4.5004, 4.5, 4.5},
                                           RoundingCase{"ClassBoundaryFromBelow", 0.4994, 0.499,
                                                        0.4},
                                           RoundingCase{"Seven", 6.99951, 7.0, 7.0}),
                         CaseName{});

} // namespace
} // namespace kelvora::test
