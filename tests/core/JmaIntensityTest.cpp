// JMA seismic intensity: the intensity formula with its rounding
// and cut, the three-axis filter by its behaviour, and the 10-second and
// 60-second windows driven through the pipeline with the sensor's own siGal.
#include "FrameFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

namespace kelvora::test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// --- computeJmaIntensity ------------------------------------------------------

struct AccelCase {
    const char* name;
    double jmaAccel;
    double expected;
};

void PrintTo(const AccelCase& c, std::ostream* os) {
    *os << c.name;
}

class JmaIntensityOfAccel : public ::testing::TestWithParam<AccelCase> {};

TEST_P(JmaIntensityOfAccel, Table) {
    const AccelCase& c = GetParam();
    const double j = computeJmaIntensity(c.jmaAccel);
    EXPECT_EQ(j, c.expected) << "jmaAccel " << c.jmaAccel;
    EXPECT_EQ(std::signbit(j), std::signbit(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, JmaIntensityOfAccel,
    ::testing::Values(AccelCase{"OneGal", 1.0, 0.9}, AccelCase{"TenGal", 10.0, 2.9},
                      AccelCase{"HundredGal", 100.0, 4.9}, AccelCase{"ThousandGal", 1000.0, 6.9},
                      AccelCase{"TwoHundredthsGal", 0.02, -2.5}, // -2.458 cut down
                      // zero, negative or NaN has no logarithm: the floor, the quietest value shown
                      AccelCase{"Zero", 0.0, -3.0}, AccelCase{"NegativeZero", -0.0, -3.0},
                      AccelCase{"Negative", -1.0, -3.0}, AccelCase{"TinyNegative", -1e-300, -3.0},
                      AccelCase{"MinusInfinity", -kInf, -3.0}, AccelCase{"NaN", kNaN, -3.0},
                      // tiny positive values fall below -3.0 and are raised to it
                      AccelCase{"Milligal", 0.001, -3.0}, AccelCase{"TinyPositive", 1e-300, -3.0},
                      AccelCase{"SmallestSubnormal", std::numeric_limits<double>::denorm_min(),
                                -3.0}),
    [](const auto& tp) { return std::string(tp.param.name); });

// The acceleration whose 2·log10(a) + 0.94 is x.
double accelFor(double x) {
    return std::pow(10.0, (x - 0.94) / 2.0);
}

struct FormulaCase {
    const char* name;
    double formula; // 2·log10(a) + 0.94
    double expected;
};

void PrintTo(const FormulaCase& c, std::ostream* os) {
    *os << c.name;
}

class JmaIntensityRounding : public ::testing::TestWithParam<FormulaCase> {};

// Rounded half away from zero at the third decimal, then floored to one decimal.
TEST_P(JmaIntensityRounding, RoundAtTheThirdDecimalThenCut) {
    const FormulaCase& c = GetParam();
    const double j = computeJmaIntensity(accelFor(c.formula));
    EXPECT_EQ(j, c.expected) << "2·log10(a)+0.94 = " << c.formula;
    EXPECT_EQ(std::signbit(j), std::signbit(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, JmaIntensityRounding,
    ::testing::Values(
        FormulaCase{"RoundsUpTo3_50", 3.4951, 3.5}, FormulaCase{"RoundsDownTo3_49", 3.4949, 3.4},
        FormulaCase{"RoundsUpTo1_00", 0.9951, 1.0}, FormulaCase{"RoundsDownTo0_99", 0.9949, 0.9},
        FormulaCase{"Minus0_546", -0.546, -0.6}, FormulaCase{"Minus0_554", -0.554, -0.6},
        FormulaCase{"Minus0_54FloorsDown", -0.54, -0.6},
        FormulaCase{"Minus0_5049RoundsTo0_50", -0.5049, -0.5},
        FormulaCase{"Minus0_5051RoundsTo0_51", -0.5051, -0.6},
        // rounding leaves -0.0 (R = ceil(J - 0.5) = -0): +0.0, so no "-0.0" is shown
        FormulaCase{"Minus0_004IsPlusZero", -0.004, 0.0},
        FormulaCase{"Minus0_0049IsPlusZero", -0.0049, 0.0},
        FormulaCase{"Plus0_004IsZero", 0.004, 0.0}, FormulaCase{"Minus0_0051", -0.0051, -0.1},
        FormulaCase{"Minus2_95", -2.95, -3.0}, FormulaCase{"Minus2_9", -2.9, -2.9},
        FormulaCase{"Minus3_05RaisedToFloor", -3.05, -3.0},
        FormulaCase{"Minus5RaisedToFloor", -5.0, -3.0}),
    [](const auto& tp) { return std::string(tp.param.name); });

TEST(JmaIntensity, NegativeZeroNeverReachesTheText) {
    const double j = computeJmaIntensity(accelFor(-0.004));
    IntensityAlerts alerts;
    FieldText text;
    alerts.decideClass(0, j, -9.9, text); // "%4.1f" of the peak
    EXPECT_EQ(text, " 0.0");
}

// --- Filter chain ---------------------------------------------------------------

struct ConstantCase {
    const char* name;
    double x, y, z;
};

void PrintTo(const ConstantCase& c, std::ostream* os) {
    *os << c.name;
}

class JmaFilterConstantInput : public ::testing::TestWithParam<ConstantCase> {};

// Unity gain at 0 Hz: the low-pass settles on the input, the mean of its last
// 100 outputs equals it, and the offset-free value smooths down to zero.
TEST_P(JmaFilterConstantInput, OffsetFreeOutputDecaysToZero) {
    const ConstantCase& c = GetParam();
    const double scale = std::sqrt(c.x * c.x + c.y * c.y + c.z * c.z);
    AxisFilterChain chain;
    double first = 0.0;
    double largest = 0.0;
    double last = 0.0;
    for (int i = 0; i < 2000; ++i) {
        const double out = chain.filterAxes(c.x, c.y, c.z, i % 100);
        ASSERT_TRUE(std::isfinite(out)) << "frame " << i;
        ASSERT_GE(out, 0.0);
        if (i == 0) {
            first = out;
        }
        largest = std::max(largest, out);
        last = out;
        if (i >= 500) {
            ASSERT_LT(out, 1e-9 * scale) << "frame " << i;
        }
    }
    EXPECT_GT(first, 0.0);            // the step is seen at once
    EXPECT_GT(largest, 0.05 * scale); // and passes for a while
    EXPECT_LT(last, 1e-9 * scale);
}

INSTANTIATE_TEST_SUITE_P(Steps, JmaFilterConstantInput,
                         ::testing::Values(ConstantCase{"XOnly", 100.0, 0.0, 0.0},
                                           ConstantCase{"YNegative", 0.0, -50.0, 0.0},
                                           ConstantCase{"ZGravity", 0.0, 0.0, 980.665},
                                           ConstantCase{"AllAxes", 3.0, -4.0, 12.0}),
                         [](const auto& tp) { return std::string(tp.param.name); });

// The steady-state level of a sine on one axis, over the last second of 30.
double sineLevel(double hz, int axis) {
    AxisFilterChain chain;
    double level = 0.0;
    for (int i = 0; i < 3000; ++i) {
        const double s = 10.0 * std::sin(2.0 * std::numbers::pi * hz * i / 100.0);
        const double out = chain.filterAxes(axis == 0 ? s : 0.0, axis == 1 ? s : 0.0,
                                            axis == 2 ? s : 0.0, i % 100);
        if (i >= 2900) {
            level = std::max(level, out);
        }
    }
    return level;
}

// A low-pass with its corner near 5.2 Hz: ground motion of about 1 Hz passes,
// 20 Hz is strongly damped, 45 Hz all but removed.
TEST(JmaFilter, PassesSlowShakingAndDampsFastShaking) {
    EXPECT_GT(sineLevel(1.0, 0), 8.0);
    EXPECT_LT(sineLevel(1.0, 0), 10.0);
    EXPECT_LT(sineLevel(20.0, 0), 0.5);
    EXPECT_LT(sineLevel(45.0, 0), 0.01);
}

// Both zeros lie at the Nyquist frequency: ±A alternating frame by frame is
// removed (to a millionth of A; the coefficients are rounded to nine decimals).
TEST(JmaFilter, NyquistAlternationIsRemoved) {
    AxisFilterChain chain;
    double out = 0.0;
    for (int i = 0; i < 1500; ++i) {
        const double s = (i % 2 == 0) ? 100.0 : -100.0;
        out = chain.filterAxes(s, s, s, i % 100);
        ASSERT_TRUE(std::isfinite(out));
        if (i >= 1000) {
            ASSERT_LT(out, 1e-4) << "frame " << i;
        }
    }
}

TEST(JmaFilter, TheThreeAxesCountAlike) {
    const double x = sineLevel(2.0, 0);
    EXPECT_EQ(sineLevel(2.0, 1), x);
    EXPECT_EQ(sineLevel(2.0, 2), x);
}

// The chain runs in every frame whatever useSensorSiGal says, so a switch back
// to the computed value finds it settled.
TEST(JmaFilter, RunsEveryFrameEvenWhileTheSensorValueIsUsed) {
    PipelineRig rig;
    rig.pipeline.startReception();
    AxisFilterChain alone;
    for (int i = 0; i < 600; ++i) {
        rig.settings.useSensorSiGal = (i / 150) % 2; // 150 frames each way
        const float s = static_cast<float>(20.0 * std::sin(i * 0.1));
        FrameValues v = axesFrame(s, 0.5f * s, -s);
        v.sensorSiGal = 77.0f;
        runFrame(rig, v);
        const double expected = alone.filterAxes(s, 0.5f * s, -s, i % 100);
        ASSERT_EQ(rig.state.siGalComputed, expected) << "frame " << i;
        ASSERT_EQ(rig.state.siGal, rig.settings.useSensorSiGal != 0 ? 77.0 : expected)
            << "frame " << i;
    }
}

// --- Windows, driven through the pipeline with the sensor's own siGal ------------

// Runs the siGal values as frames of one reception run (already started) and
// returns jmaAccel after each.
std::vector<double> runSiGals(PipelineRig& rig, const std::vector<float>& siGals) {
    std::vector<double> out;
    out.reserve(siGals.size());
    for (float s : siGals) {
        runFrame(rig, siGalFrame(s));
        out.push_back(rig.state.jmaAccel);
    }
    return out;
}

std::vector<float> repeated(std::size_t n, float value) {
    return std::vector<float>(n, value);
}

std::vector<float> operator+(std::vector<float> a, const std::vector<float>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct SensorSiGalRig : PipelineRig {
    explicit SensorSiGalRig(int windowMode) {
        settings.useSensorSiGal = 1;
        settings.jmaWindowMode = windowMode;
        pipeline.startReception();
    }
};

TEST(JmaWindow10s, ThirtyPositiveSamplesAreNeeded) {
    SensorSiGalRig rig(0);
    const std::vector<double> accel = runSiGals(rig, repeated(30, 5.0f));
    for (std::size_t i = 0; i < 29; ++i) {
        EXPECT_EQ(accel[i], 0.0) << "frame " << i;
    }
    EXPECT_EQ(accel[29], 5.0);
    EXPECT_EQ(rig.state.jmaIntensity, 2.3); // 2·log10(5) + 0.94 = 2.338
}

TEST(JmaWindow10s, JmaIntensityStaysAtTheFloorWhileTheWindowIsQuiet) {
    SensorSiGalRig rig(0);
    for (int i = 0; i < 29; ++i) {
        runFrame(rig, siGalFrame(100.0f));
        EXPECT_EQ(rig.state.jmaAccel, 0.0);
        EXPECT_EQ(rig.state.jmaIntensity, -3.0);
    }
    runFrame(rig, siGalFrame(100.0f));
    EXPECT_EQ(rig.state.jmaIntensity, 4.9);
}

TEST(JmaWindow10s, NegativeSamplesRankBelowTheEmptySlots) {
    SensorSiGalRig rig(0);
    const std::vector<double> accel = runSiGals(rig, repeated(40, -2.0f));
    EXPECT_EQ(accel.back(), 0.0);
    EXPECT_EQ(rig.state.jmaIntensity, -3.0);
}

// The 30th largest of the window, counting the zeros of the empty slots.
TEST(JmaWindow10s, TakesTheThirtiethLargest) {
    // 1..45 in a scrambled order (17 is prime to 45, so every value comes once).
    std::vector<float> values;
    for (int i = 0; i < 45; ++i) {
        values.push_back(static_cast<float>((i * 17) % 45 + 1));
    }
    SensorSiGalRig rig(0);
    const std::vector<double> accel = runSiGals(rig, values);
    for (std::size_t n = 1; n <= values.size(); ++n) {
        std::vector<double> sofar(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(n));
        sofar.resize(1000, 0.0);
        std::sort(sofar.begin(), sofar.end(), std::greater<double>());
        EXPECT_EQ(accel[n - 1], sofar[29]) << "after " << n << " frames";
    }
    EXPECT_EQ(accel.back(), 16.0); // 45, 44, ..., 16 is the 30th
}

// Slot frameIndex is overwritten 1000 frames later: a sample is forgotten then.
TEST(JmaWindow10s, ForgetsASampleAfterOneThousandFrames) {
    struct Case {
        std::size_t large;         // frames of 50 gal right after reception start
        std::size_t lastFrameAt50; // 1-based frame count up to which jmaAccel is 50
    };
    for (const Case c : {Case{30, 1000}, Case{31, 1001}, Case{35, 1005}}) {
        SCOPED_TRACE(c.large);
        SensorSiGalRig rig(0);
        const std::vector<double> accel =
            runSiGals(rig, repeated(c.large, 50.0f) + repeated(1100 - c.large, 0.0f));
        EXPECT_EQ(accel[29], 50.0);
        EXPECT_EQ(accel[c.lastFrameAt50 - 1], 50.0);
        EXPECT_EQ(accel[c.lastFrameAt50], 0.0);
        EXPECT_EQ(std::count(accel.begin(), accel.end(), 50.0),
                  static_cast<std::ptrdiff_t>(c.lastFrameAt50 - 29));
    }
}

TEST(JmaWindow10s, ReceptionStartClearsTheWindow) {
    SensorSiGalRig rig(0);
    runSiGals(rig, repeated(40, 50.0f));
    EXPECT_EQ(rig.state.jmaAccel, 50.0);
    rig.pipeline.startReception();
    EXPECT_EQ(rig.state.jmaAccel, 0.0);
    const std::vector<double> accel = runSiGals(rig, repeated(30, 1.0f));
    EXPECT_EQ(accel[0], 0.0);
    EXPECT_EQ(accel[28], 0.0);
    EXPECT_EQ(accel[29], 1.0);
}

// 60-second window: jmaAccel changes only in frames whose frameIndex ends in 00.
void expectChangesOnlyAtHundreds(const std::vector<double>& accel, double before = 0.0) {
    double previous = before;
    for (std::size_t n = 0; n < accel.size(); ++n) {
        if (accel[n] != previous) {
            EXPECT_EQ(n % 100, 0u) << "jmaAccel changed at frame " << n;
        }
        previous = accel[n];
    }
}

struct BlockCase {
    const char* name;
    std::size_t firstLarge;  // frame of the first of 30 samples of 100 gal
    std::size_t firstRaised; // first frame whose jmaAccel is 100
};

void PrintTo(const BlockCase& c, std::ostream* os) {
    *os << c.name;
}

class JmaWindow60sBlocks : public ::testing::TestWithParam<BlockCase> {};

// A sample counts from the first frame ending in 00 after its block has ended;
// 30 of them must lie within one block's end for that frame to see them all.
TEST_P(JmaWindow60sBlocks, SampleCountsFromTheFirstHundredAfterItsBlock) {
    const BlockCase& c = GetParam();
    SensorSiGalRig rig(1);
    const std::vector<float> siGals = repeated(c.firstLarge, 0.0f) + repeated(30, 100.0f) +
                                      repeated(c.firstRaised + 50 - c.firstLarge - 30, 0.0f);
    const std::vector<double> accel = runSiGals(rig, siGals);
    for (std::size_t n = 0; n < accel.size(); ++n) {
        EXPECT_EQ(accel[n], n < c.firstRaised ? 0.0 : 100.0) << "frame " << n;
    }
    expectChangesOnlyAtHundreds(accel);
}

INSTANTIATE_TEST_SUITE_P(
    Placements, JmaWindow60sBlocks,
    ::testing::Values(BlockCase{"FirstBlock", 0, 100}, BlockCase{"EndOfFirstBlock", 70, 100},
                      // 29 in block 0, one in block 1: only the end of block 1 shows 30
                      BlockCase{"StraddlingBlocks", 71, 200},
                      BlockCase{"InsideSecondBlock", 150, 200},
                      BlockCase{"LastFrameOfSecondBlock", 170, 200},
                      BlockCase{"StartingAtTheEndOfABlock", 199, 300},
                      BlockCase{"AfterTheFrameIndexWrap", 990, 1100}),
    [](const auto& tp) { return std::string(tp.param.name); });

TEST(JmaWindow60s, FirstFrameAfterProgramStartTakesZero) {
    SensorSiGalRig rig(1);
    const std::vector<double> accel = runSiGals(rig, repeated(100, 500.0f));
    for (double a : accel) {
        EXPECT_EQ(a, 0.0);
    }
    runSiGals(rig, repeated(1, 0.0f));
    EXPECT_EQ(rig.state.jmaAccel, 500.0);
}

// 30 large samples spread one per block over 30 blocks reach jmaAccel only when
// the 30th block has ended, and leave it when the first block is overwritten 60
// blocks after it was written.
TEST(JmaWindow60s, ThirtyLargeSamplesWithinTheLastSixtyBlocks) {
    std::vector<float> siGals(6300, 0.0f);
    for (std::size_t block = 0; block < 30; ++block) {
        siGals[block * 100 + 50] = 100.0f;
    }
    SensorSiGalRig rig(1);
    const std::vector<double> accel = runSiGals(rig, siGals);
    for (std::size_t n = 0; n < accel.size(); ++n) {
        const bool raised = n >= 3000 && n < 6100;
        ASSERT_EQ(accel[n], raised ? 100.0 : 0.0) << "frame " << n;
    }
    expectChangesOnlyAtHundreds(accel);
}

// Between the frames ending in 00 jmaAccel holds, and so does the intensity.
TEST(JmaWindow60s, HeldForOneHundredFrames) {
    SensorSiGalRig rig(1);
    std::vector<float> siGals;
    for (int i = 0; i < 700; ++i) {
        siGals.push_back(static_cast<float>((i * 37) % 101)); // a value in every frame
    }
    const std::vector<double> accel = runSiGals(rig, siGals);
    expectChangesOnlyAtHundreds(accel);
    EXPECT_GT(accel.back(), 0.0);
}

// A reception start clears the blocks, their index and the value held from the
// previous run's last complete block: a quiet new run reads 0 from its first
// frame on (the held 8 gal used to show, and record, for its first second).
TEST(JmaWindow60s, ARestartClearsTheBlocksAndTheHeldValue) {
    SensorSiGalRig rig(1);
    // Run 1: block 0 of 7 gal, block 1 of 8 gal, half a block of 9 gal.
    const std::vector<double> run1 =
        runSiGals(rig, repeated(100, 7.0f) + repeated(100, 8.0f) + repeated(50, 9.0f));
    EXPECT_EQ(run1[99], 0.0);
    EXPECT_EQ(run1[100], 7.0);
    EXPECT_EQ(run1[200], 8.0);
    EXPECT_EQ(run1.back(), 8.0);

    rig.pipeline.startReception();
    EXPECT_EQ(rig.state.jmaAccel, 0.0);
    EXPECT_EQ(rig.state.frameIndex, 0);

    // Run 2: quiet.
    const std::vector<double> run2 = runSiGals(rig, repeated(250, 0.0f));
    for (std::size_t n = 0; n < run2.size(); ++n) {
        EXPECT_EQ(run2[n], 0.0) << "frame " << n;
    }
}

// Through the pipeline a result that rounding leaves as -0.0 is shown as 0.0.
TEST(JmaIntensity, RoundedNegativeZeroShowsAsZeroInThePipeline) {
    SensorSiGalRig rig(0);
    const auto a = static_cast<float>(accelFor(-0.0025));
    for (int i = 0; i < 51; ++i) { // display ticks at frames 0, 25 and 50
        runFrame(rig, siGalFrame(a));
    }
    EXPECT_EQ(rig.state.jmaIntensity, 0.0);
    EXPECT_FALSE(std::signbit(rig.state.jmaIntensity));
    EXPECT_EQ(rig.board.snapshot().intensityText, " 0.0");
    EXPECT_EQ(rig.alerts.intensityClass, 0);
}

} // namespace
} // namespace kelvora::test
