// Mercalli intensity and velocity: the Wald et al. conversions and
// their blend, the -9.9 floor that also keeps NaN out, the 300-frame hold with
// its jump at the frameIndex wrap, and the leaky velocity integrators.
#include "FrameFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace kelvora::test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kTolerance = 1e-9;

// --- Conversions and blend --------------------------------------------------------

TEST(MercalliEstimate, LowerAccelerationLine) {
    const MercalliEstimate ten = estimateMercalli(10.0, 1.0);
    EXPECT_NEAR(ten.fromPga, 3.2, kTolerance);
    EXPECT_NEAR(ten.fromPgv, 3.4, kTolerance);
    EXPECT_NEAR(ten.blended, 3.2, kTolerance); // below V only the acceleration counts
    const MercalliEstimate one = estimateMercalli(1.0, 1.0);
    EXPECT_NEAR(one.fromPga, 1.0, kTolerance);
    EXPECT_NEAR(one.blended, 1.0, kTolerance);
}

TEST(MercalliEstimate, BlendOfHundredGalAndTenCentimetresPerSecond) {
    const MercalliEstimate e = estimateMercalli(100.0, 10.0);
    EXPECT_NEAR(e.fromPga, 5.66, kTolerance);
    EXPECT_NEAR(e.fromPgv, 5.82, kTolerance);
    EXPECT_NEAR(e.blended, 5.7128, kTolerance);
    const double w = (e.blended - e.fromPga) / (e.fromPgv - e.fromPga);
    EXPECT_NEAR(w, 0.33, kTolerance);
}

// The two lines of each relation meet at their threshold (about 5.008 / 5.009).
TEST(MercalliEstimate, LinesMeetAtTheirThresholds) {
    const double pga = 66.36175;
    const MercalliEstimate below = estimateMercalli(std::nextafter(pga, 0.0), 1.0);
    const MercalliEstimate at = estimateMercalli(pga, 1.0);
    EXPECT_NEAR(below.fromPga, 5.008, 1e-3);
    EXPECT_NEAR(at.fromPga, below.fromPga, 1e-5);

    const double pgv = 5.8401414;
    const MercalliEstimate vBelow = estimateMercalli(1.0, std::nextafter(pgv, 0.0));
    const MercalliEstimate vAt = estimateMercalli(1.0, pgv);
    EXPECT_NEAR(vBelow.fromPgv, 5.009, 1e-3);
    EXPECT_NEAR(vAt.fromPgv, vBelow.fromPgv, 1e-5);
}

// The acceleration whose upper-line estimate is m (m at or above about 5.008).
double pgaForUpperLine(double m) {
    return std::pow(10.0, (m + 1.66) / 3.66);
}

struct WeightCase {
    const char* name;
    double mmiFromPga;
    double weight;
};

void PrintTo(const WeightCase& c, std::ostream* os) {
    *os << c.name;
}

class MercalliWeight : public ::testing::TestWithParam<WeightCase> {};

// w = (mmiFromPga - 5)·0.5 clamped to 0..1: linear between V and VII.
TEST_P(MercalliWeight, LinearBetweenFiveAndSeven) {
    const WeightCase& c = GetParam();
    const double pgv = 20.0; // mmiFromPgv 3.47·log10(20) + 2.35, about 6.86
    const MercalliEstimate e = estimateMercalli(pgaForUpperLine(c.mmiFromPga), pgv);
    ASSERT_NEAR(e.fromPga, c.mmiFromPga, kTolerance);
    EXPECT_NEAR(e.blended, (1.0 - c.weight) * e.fromPga + c.weight * e.fromPgv, kTolerance);
}

INSTANTIATE_TEST_SUITE_P(Weights, MercalliWeight,
                         ::testing::Values(WeightCase{"FivePointOne", 5.1, 0.05},
                                           WeightCase{"Six", 6.0, 0.5},
                                           WeightCase{"SixPointNine", 6.9, 0.95},
                                           WeightCase{"Seven", 7.0, 1.0},
                                           WeightCase{"Nine", 9.0, 1.0}),
                         [](const auto& tp) { return std::string(tp.param.name); });

struct FloorCase {
    const char* name;
    double pga;
    double pgv;
    double blended; // as it enters the history
};

void PrintTo(const FloorCase& c, std::ostream* os) {
    *os << c.name;
}

class MercalliFloor : public ::testing::TestWithParam<FloorCase> {};

// Weight 0: mmiFromPga alone; weight 1: mmiFromPgv alone; anything below -9.9
// or NaN enters the history as -9.9, whatever pgv is: a NaN would poison the
// 300-frame hold for three seconds.
TEST_P(MercalliFloor, NeverNaNNeverBelowTheFloor) {
    const FloorCase& c = GetParam();
    const MercalliEstimate e = estimateMercalli(c.pga, c.pgv);
    EXPECT_FALSE(std::isnan(e.blended));
    EXPECT_GE(e.blended, -9.9);
    EXPECT_NEAR(e.blended, c.blended, kTolerance);
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, MercalliFloor,
    ::testing::Values(
        // weight 0 (mmiFromPga below 5): pgv does not matter at all
        FloorCase{"WeightZeroPgvZero", 10.0, 0.0, 3.2},
        FloorCase{"WeightZeroPgvNegative", 10.0, -4.0, 3.2},
        FloorCase{"WeightZeroPgvNaN", 10.0, kNaN, 3.2},
        FloorCase{"WeightZeroPgvInfinite", 10.0, kInf, 3.2},
        // weight 1 (mmiFromPga 7 or more): pga does not matter beyond the weight
        FloorCase{"WeightOne", 1000.0, 10.0, 5.82},
        FloorCase{"WeightOnePgvZero", 1000.0, 0.0, -9.9},
        FloorCase{"WeightOnePgvNegative", 1000.0, -1.0, -9.9},
        FloorCase{"WeightOnePgvTiny", 1000.0, 1e-9, -9.9}, // 2.1·(-9) + 3.4 = -15.5
        // in between: -inf or NaN from pgv becomes the floor
        FloorCase{"BlendPgvZero", 100.0, 0.0, -9.9},
        FloorCase{"BlendPgvNegative", 100.0, -1.0, -9.9},
        // no acceleration: log10(0) = -inf
        FloorCase{"PgaZero", 0.0, 10.0, -9.9}, FloorCase{"PgaZeroPgvZero", 0.0, 0.0, -9.9},
        FloorCase{"PgaZeroPgvNegative", 0.0, -1.0, -9.9},
        // tiny accelerations: -12.2 is floored, -7.8 is not
        FloorCase{"PgaMicrogal", 1e-6, 1.0, -9.9}, FloorCase{"PgaTenThousandth", 1e-4, 1.0, -7.8}),
    [](const auto& tp) { return std::string(tp.param.name); });

// --- The 300-slot hold -----------------------------------------------------------------

struct CutCase {
    double blended;
    double mmi;
};

// mmi is the largest of the 300 slots floored to one decimal, also when negative.
TEST(MercalliHold, LargestSlotCutToOneDecimal) {
    for (const CutCase c :
         {CutCase{4.56, 4.5}, CutCase{5.7128, 5.7}, CutCase{5.0, 5.0}, CutCase{5.99999, 5.9},
          CutCase{-1.23, -1.3}, CutCase{-9.9, -9.9}, CutCase{-0.01, -0.1}}) {
        SCOPED_TRACE(c.blended);
        MercalliHold hold;
        double mmi = 0.0;
        for (int slot = 0; slot < 300; ++slot) {
            mmi = hold.update(slot, c.blended);
        }
        EXPECT_EQ(mmi, c.mmi);
    }
}

TEST(MercalliHold, HeldUntilItsSlotIsWrittenAgain) {
    MercalliHold hold;
    EXPECT_EQ(hold.update(0, 5.0), 5.0);
    for (int slot = 1; slot < 300; ++slot) {
        ASSERT_EQ(hold.update(slot, 1.0), 5.0) << "slot " << slot;
    }
    EXPECT_EQ(hold.update(0, 1.0), 1.0);
}

// A fresh process: 300 zeros. Negative values show as 0.0 until the frame that
// writes the last of the zeros (the 300th, frameIndex 299).
TEST(MercalliPipeline, FirstFramesAfterProgramStartNeverBelowZero) {
    PipelineRig rig;
    rig.pipeline.startReception();
    for (int n = 1; n <= 299; ++n) {
        runFrame(rig, axesFrame(0.1f, 0.0f, 0.0f)); // mmiFromPga about -1.2
        ASSERT_LT(rig.state.mmiFromPga, 0.0);
        ASSERT_EQ(rig.state.mmi, 0.0) << "frame " << n;
    }
    runFrame(rig, axesFrame(0.1f, 0.0f, 0.0f));
    EXPECT_LT(rig.state.mmi, -1.0);
    EXPECT_GT(rig.state.mmi, -1.4);
}

TEST(MercalliPipeline, HundredGalAndTenCentimetresPerSecondGiveFivePointSeven) {
    PipelineRig rig;
    rig.settings.useSensorVelocity = 1;
    rig.pipeline.startReception();
    FrameValues v = axesFrame(100.0f, 0.0f, 0.0f);
    v.sensorVelocity = 10.0f;
    runFrame(rig, v);
    EXPECT_EQ(rig.state.pgaVector, 100.0);
    EXPECT_EQ(rig.state.pgv, 10.0);
    EXPECT_NEAR(rig.state.mmiFromPga, 5.66, kTolerance);
    EXPECT_NEAR(rig.state.mmiFromPgv, 5.82, kTolerance);
    EXPECT_EQ(rig.state.mmi, 5.7);
}

struct SensorVelocityCase {
    const char* name;
    float accelX;
    float sensorVelocity;
    double mmi; // once the whole history holds this frame's value
};

void PrintTo(const SensorVelocityCase& c, std::ostream* os) {
    *os << c.name;
}

class MercalliSensorVelocity : public ::testing::TestWithParam<SensorVelocityCase> {};

// With useSensorVelocity the sensor can send 0 or a negative velocity: log10
// gives -inf or NaN, yet mmi stays a number, never below -9.9.
TEST_P(MercalliSensorVelocity, MmiIsNeverNaN) {
    const SensorVelocityCase& c = GetParam();
    PipelineRig rig;
    rig.settings.useSensorVelocity = 1;
    rig.pipeline.startReception();
    FrameValues v = axesFrame(c.accelX, 0.0f, 0.0f);
    v.sensorVelocity = c.sensorVelocity;
    for (int n = 0; n < 400; ++n) {
        runFrame(rig, v);
        ASSERT_FALSE(std::isnan(rig.state.mmi)) << "frame " << n;
        ASSERT_GE(rig.state.mmi, -9.9) << "frame " << n;
        ASSERT_FALSE(std::isnan(rig.state.peakMmi.load())) << "frame " << n;
        ASSERT_FALSE(std::isnan(rig.state.intensity)) << "frame " << n;
    }
    EXPECT_EQ(rig.state.mmi, c.mmi);
}

INSTANTIATE_TEST_SUITE_P(
    Velocities, MercalliSensorVelocity,
    ::testing::Values(SensorVelocityCase{"ZeroVelocityQuiet", 10.0f, 0.0f, 3.2},
                      SensorVelocityCase{"NegativeVelocityQuiet", 10.0f, -3.0f, 3.2},
                      SensorVelocityCase{"ZeroVelocityBlend", 100.0f, 0.0f, -9.9},
                      SensorVelocityCase{"NegativeVelocityBlend", 100.0f, -3.0f, -9.9},
                      SensorVelocityCase{"ZeroVelocityStrong", 1000.0f, 0.0f, -9.9},
                      SensorVelocityCase{"NegativeVelocityStrong", 1000.0f, -3.0f, -9.9},
                      SensorVelocityCase{"NoAccelerationNoVelocity", 0.0f, 0.0f, -9.9}),
    [](const auto& tp) { return std::string(tp.param.name); });

// The computed velocity is exactly 0.0 while all integrators hold 0.0 (axes at
// rest since the start): no NaN either.
TEST(MercalliPipeline, ComputedVelocityZeroGivesNoNaN) {
    PipelineRig rig;
    rig.pipeline.startReception();
    for (int n = 0; n < 350; ++n) {
        runFrame(rig, axesFrame(0.0f, 0.0f, 0.0f));
        ASSERT_EQ(rig.state.pgvComputed, 0.0);
        ASSERT_FALSE(std::isnan(rig.state.mmi)) << "frame " << n;
    }
    EXPECT_EQ(rig.state.mmi, -9.9);
}

struct HoldCase {
    const char* name;
    int spikeFrameIndex; // frameIndex of the one frame with the larger value
    int framesHeld;      // frames whose mmi shows it, its own frame included
};

void PrintTo(const HoldCase& c, std::ostream* os) {
    *os << c.name;
}

class MercalliHoldAtWrap : public ::testing::TestWithParam<HoldCase> {};

// Slot frameIndex mod 300: a three-second hold, except around the wrap of
// frameIndex from 999 to 0, where slots 0..99 are written again after only 100
// frames while slots 100..299 (values 101..300 frames old at the wrap) are kept
// for the next 100 frames as well.
TEST_P(MercalliHoldAtWrap, FramesTheValueIsHeld) {
    const HoldCase& c = GetParam();
    PipelineRig rig;
    rig.settings.useSensorVelocity = 1;
    rig.pipeline.startReception();
    FrameValues quiet = axesFrame(1.0f, 0.0f, 0.0f); // blended 1.0
    quiet.sensorVelocity = 1.0f;
    FrameValues spike = quiet;
    spike.accelX = 10.0f; // blended 3.2
    for (int n = 0; n < c.spikeFrameIndex; ++n) {
        runFrame(rig, quiet);
    }
    ASSERT_EQ(rig.state.frameIndex, c.spikeFrameIndex);
    runFrame(rig, spike);
    int held = 1;
    EXPECT_EQ(rig.state.mmi, 3.2);
    bool released = false;
    for (int n = 0; n < 600; ++n) {
        runFrame(rig, quiet);
        if (!released && rig.state.mmi == 3.2) {
            ++held;
        } else {
            released = true;
            ASSERT_EQ(rig.state.mmi, 1.0) << "frameIndex " << rig.lastFrameIndex();
        }
    }
    EXPECT_EQ(held, c.framesHeld);
}

INSTANTIATE_TEST_SUITE_P(
    Spikes, MercalliHoldAtWrap,
    ::testing::Values(HoldCase{"Ordinary300", 300, 300}, HoldCase{"Ordinary600", 600, 300},
                      HoldCase{"Ordinary699", 699, 300},
                      // 300 frames old at the wrap: kept through frameIndex 99
                      HoldCase{"OldAtWrap700", 700, 400}, HoldCase{"OldAtWrap850", 850, 400},
                      // 101 frames old at the wrap: slot 299, kept through frameIndex 298
                      HoldCase{"OldAtWrap899", 899, 400},
                      // 100 frames old or less at the wrap: its slot comes round again at once
                      HoldCase{"YoungAtWrap900", 900, 100}, HoldCase{"YoungAtWrap950", 950, 100},
                      HoldCase{"YoungAtWrap999", 999, 100}),
    [](const auto& tp) { return std::string(tp.param.name); });

// --- Velocity -----------------------------------------------------------------------

// At rest the leak factor is 0.73: after the last non-zero sample has been
// integrated, the velocity shrinks to 0.73 of itself in every frame.
TEST(MercalliVelocity, DecaysByPointSevenThreePerFrameAtRest) {
    struct Case {
        float x, y, z;
    };
    for (const Case c : {Case{10.0f, 0.0f, 0.0f}, Case{0.0f, -25.0f, 0.0f}, Case{0.0f, 0.0f, 80.0f},
                         Case{3.0f, -4.0f, 12.0f}}) {
        SCOPED_TRACE(::testing::Message() << c.x << ", " << c.y << ", " << c.z);
        PipelineRig rig;
        rig.pipeline.startReception();
        for (int n = 0; n < 5; ++n) {
            runFrame(rig, axesFrame(c.x, c.y, c.z));
        }
        runFrame(rig, axesFrame(0.0f, 0.0f, 0.0f)); // still integrates the previous sample
        double previous = rig.state.pgvComputed;
        ASSERT_GT(previous, 0.0);
        for (int n = 0; n < 30; ++n) {
            runFrame(rig, axesFrame(0.0f, 0.0f, 0.0f));
            EXPECT_NEAR(rig.state.pgvComputed / previous, 0.73, 1e-12) << "frame " << n;
            previous = rig.state.pgvComputed;
        }
    }
}

// The first sample from rest: trapezoid over 0.01 s from the previous sample,
// corrected by 2 / (f + 1).
TEST(MercalliVelocity, FirstStepFromRest) {
    VelocityIntegrators v;
    const double a = 10.0;
    const double f = 0.15 * std::log10(a + 1.0) + 0.73;
    EXPECT_NEAR(v.update(a, 0.0, 0.0), 2.0 * (a * 0.005) / (f + 1.0), 1e-15);
}

std::vector<double> velocitiesOnAxis(int axis, std::size_t frames) {
    VelocityIntegrators v;
    std::vector<double> out;
    for (std::size_t n = 0; n < frames; ++n) {
        const double s = 60.0 * std::sin(0.07 * static_cast<double>(n)) *
                         std::exp(-0.003 * static_cast<double>(n));
        const double x = axis == 0 ? s : 0.0;
        const double y = axis == 1 ? s : 0.0;
        const double z = axis == 2 ? s : 0.0;
        out.push_back(v.update(x, y, z));
        v.keepPrevious(x, y, z);
    }
    return out;
}

TEST(MercalliVelocity, ZContributesExactlyLikeXAndY) {
    const std::vector<double> x = velocitiesOnAxis(0, 800);
    EXPECT_EQ(velocitiesOnAxis(1, 800), x);
    EXPECT_EQ(velocitiesOnAxis(2, 800), x);
}

TEST(MercalliVelocity, ZContributesLikeXThroughThePipeline) {
    PipelineRig onX;
    PipelineRig onZ;
    onX.pipeline.startReception();
    onZ.pipeline.startReception();
    for (int n = 0; n < 300; ++n) {
        const auto s = static_cast<float>(30.0 * std::sin(0.2 * n));
        runFrame(onX, axesFrame(s, 0.0f, 0.0f));
        runFrame(onZ, axesFrame(0.0f, 0.0f, s));
        ASSERT_EQ(onZ.state.pgvComputed, onX.state.pgvComputed) << "frame " << n;
        ASSERT_EQ(onZ.state.mmi, onX.state.mmi) << "frame " << n;
    }
    EXPECT_GT(onX.state.pgvComputed, 0.0);
}

// Two equal axes: the composite is the square root of the sum of squares.
TEST(MercalliVelocity, CompositeOfTwoEqualAxes) {
    VelocityIntegrators one;
    VelocityIntegrators two;
    for (int n = 0; n < 50; ++n) {
        const double s = 5.0 + n;
        const double single = one.update(s, 0.0, 0.0);
        const double both = two.update(0.0, s, s);
        one.keepPrevious(s, 0.0, 0.0);
        two.keepPrevious(0.0, s, s);
        EXPECT_NEAR(both, std::sqrt(2.0) * single, 1e-12 * single);
    }
}

// The integrators run in every frame even while pgv comes from the sensor.
TEST(MercalliVelocity, IntegratorsRunWhileTheSensorVelocityIsUsed) {
    PipelineRig rig;
    rig.pipeline.startReception();
    VelocityIntegrators alone;
    for (int n = 0; n < 400; ++n) {
        rig.settings.useSensorVelocity = (n / 100) % 2;
        const auto s = static_cast<float>(40.0 * std::sin(0.15 * n));
        FrameValues v = axesFrame(s, -s, 0.5f * s);
        v.sensorVelocity = 2.5f;
        runFrame(rig, v);
        const double expected = alone.update(s, -s, 0.5f * s);
        alone.keepPrevious(s, -s, 0.5f * s);
        ASSERT_EQ(rig.state.pgvComputed, expected) << "frame " << n;
        ASSERT_EQ(rig.state.pgv, rig.settings.useSensorVelocity != 0 ? 2.5 : expected);
    }
}

// Reception start clears the integrated velocities but not the previous
// samples: the first frame of the new run integrates from the old run's last
// axis values. Nor does it clear the Mercalli history.
TEST(MercalliVelocity, ReceptionStartClearsVelocityKeepsPreviousSampleAndHistory) {
    PipelineRig rig;
    rig.settings.useSensorVelocity = 1;
    rig.pipeline.startReception();
    FrameValues v = axesFrame(3.0f, -4.0f, 12.0f); // pga 13: mmi 3.4
    v.sensorVelocity = 1.0f;
    for (int n = 0; n < 60; ++n) {
        runFrame(rig, v);
    }
    EXPECT_EQ(rig.state.mmi, 3.4);
    rig.pipeline.startReception();
    EXPECT_EQ(rig.state.pgv, 0.0);
    EXPECT_EQ(rig.state.pgvComputed, 0.0);
    EXPECT_EQ(rig.state.sensorVelocity, 0.0);

    FrameValues rest = axesFrame(0.0f, 0.0f, 0.0f);
    rest.sensorVelocity = 1.0f;
    runFrame(rig, rest);
    // Only the trapezoid half of the old samples: (3, -4, 12)·0.005, corrected by 2 / 1.73.
    EXPECT_NEAR(rig.state.pgvComputed, 2.0 * 13.0 * 0.005 / 1.73, 1e-12);
    EXPECT_EQ(rig.state.mmi, 3.4); // still held from before the restart
}

} // namespace
} // namespace kelvora::test
