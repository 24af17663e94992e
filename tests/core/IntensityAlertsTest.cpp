// Intensity classes and alert sounds: the class tables of both
// scales, and the alert and notice sequences driven through IntensityAlerts
// one display tick at a time with a recording sound starter.
#include "PipelineRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kelvora::test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// --- Class tables ---------------------------------------------------------------------

struct ClassCase {
    double value;
    int cls;
};

void expectClasses(int scale, const std::vector<ClassCase>& table) {
    for (const ClassCase& c : table) {
        EXPECT_EQ(IntensityAlerts::classOf(scale, c.value, 4), c.cls)
            << "scale " << scale << ", value " << c.value;
    }
}

TEST(IntensityClass, JmaScaleTable) {
    expectClasses(0, {{-3.0, 0}, {0.0, 0},  {0.49, 0}, {0.5, 1},  {1.49, 1}, {1.5, 2},
                      {2.49, 2}, {2.5, 3},  {3.49, 3}, {3.5, 4},  {4.49, 4}, {4.5, 5},
                      {4.9, 5},  {4.99, 5}, {5.0, 6},  {5.49, 6}, {5.5, 7},  {5.99, 7},
                      {6.0, 8},  {6.49, 8}, {6.5, 9},  {7.0, 9},  {12.3, 9}});
}

TEST(IntensityClass, MercalliScaleTable) {
    for (int scale : {1, 2, -1}) { // any scale other than 0 is Mercalli
        expectClasses(scale, {{-100.0, 0},
                              {-9.9, 0},
                              {1.49, 0},
                              {1.5, 1},
                              {2.49, 1},
                              {2.5, 2},
                              {3.5, 3},
                              {4.5, 4},
                              {5.5, 5},
                              {6.49, 5},
                              {6.5, 6},
                              {7.49, 6},
                              {7.5, 7},
                              {8.5, 8},
                              {9.49, 8},
                              {9.5, 9},
                              {12.0, 9}});
    }
}

TEST(IntensityClass, NaNKeepsThePreviousClass) {
    for (int previous = 0; previous <= 9; ++previous) {
        EXPECT_EQ(IntensityAlerts::classOf(0, kNaN, previous), previous);
        EXPECT_EQ(IntensityAlerts::classOf(1, kNaN, previous), previous);
    }
    IntensityAlerts alerts;
    FieldText text;
    alerts.decideClass(0, 5.2, -9.9, text);
    EXPECT_EQ(alerts.intensityClass, 6);
    alerts.decideClass(0, kNaN, -9.9, text);
    EXPECT_EQ(alerts.intensityClass, 6);
}

// decideClass reads peakJmaIntensity on scale 0 and peakMmi on any other scale.
TEST(IntensityClass, DecideClassReadsThePeakOfItsScale) {
    IntensityAlerts alerts;
    FieldText text;
    alerts.decideClass(0, 4.9, 9.5, text);
    EXPECT_EQ(alerts.intensityClass, 5);
    EXPECT_EQ(text, " 4.9");
    alerts.decideClass(1, 4.9, 9.5, text);
    EXPECT_EQ(alerts.intensityClass, 9);
    EXPECT_EQ(text, " 9.5");
    alerts.decideClass(2, 4.9, 6.5, text);
    EXPECT_EQ(alerts.intensityClass, 6);
}

// --- Alert and notice sequences --------------------------------------------------------------

using Sounds = std::vector<std::string>;

// Drives IntensityAlerts one display tick per step: class, alerts, class-change
// count. `failing` (when given) says per tick whether sound plays fail.
struct AlertDriver {
    IntensityAlerts alerts;
    RecordingSounds sounds{alerts};

    Sounds tick(int cls, bool failing = false) {
        sounds.failing = failing;
        sounds.started.clear();
        alerts.intensityClass = cls;
        alerts.updateAlerts(sounds);
        alerts.countClassChange();
        return sounds.started;
    }
};

// `count` ticks of `cls`, for writing long sequences compactly.
struct Run {
    int cls;
    int count;
};

std::vector<int> ticksOf(const std::vector<Run>& runs) {
    std::vector<int> out;
    for (const Run& r : runs) {
        out.insert(out.end(), static_cast<std::size_t>(r.count), r.cls);
    }
    return out;
}

struct SequenceCase {
    const char* name;
    std::vector<Run> classes;        // class per tick
    std::map<int, Sounds> soundsAt;  // 1-based tick -> sounds started; other ticks silent
    std::vector<int> failingTicks{}; // 1-based ticks at which every play fails
};

void PrintTo(const SequenceCase& c, std::ostream* os) {
    *os << c.name;
}

class AlertSequence : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(AlertSequence, SoundsPerTick) {
    const SequenceCase& c = GetParam();
    const std::vector<int> classes = ticksOf(c.classes);
    AlertDriver d;
    for (std::size_t i = 0; i < classes.size(); ++i) {
        const int tick = static_cast<int>(i) + 1;
        const bool failing =
            std::find(c.failingTicks.begin(), c.failingTicks.end(), tick) != c.failingTicks.end();
        const Sounds got = d.tick(classes[i], failing);
        const auto expected = c.soundsAt.find(tick);
        EXPECT_EQ(got, expected == c.soundsAt.end() ? Sounds{} : expected->second)
            << "tick " << tick << " (class " << classes[i] << ")";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, AlertSequence,
    ::testing::Values(
        SequenceCase{"OneTickPlaysNothing", {{3, 1}}, {}},
        SequenceCase{"TwoTicksPlayTheAlertOnce", {{3, 2}}, {{2, {"A3"}}}},
        SequenceCase{"TenTicksAlsoTheNoticeOnce", {{3, 10}}, {{2, {"A3"}}, {10, {"N3"}}}},
        SequenceCase{"LongerPlaysNothingMore", {{3, 1100}}, {{2, {"A3"}}, {10, {"N3"}}}},
        SequenceCase{"ZeroToThreeAndStaying", {{0, 1}, {3, 12}}, {{3, {"A3"}}, {11, {"N3"}}}},
        // The alert of 3 suppresses class 2; leaving 3 downward cleared its counter.
        SequenceCase{"ThreeThenTwoSilentThenThreeAgain",
                     {{3, 2}, {2, 12}, {3, 2}},
                     {{2, {"A3"}}, {16, {"A3"}}}},
        // Class 2's counter is still 2 when class 5 begins, and 3 and 4 are 0.
        SequenceCase{"TwoForTwoTicksThenFive",
                     {{2, 2}, {5, 10}},
                     {{2, {"A2"}}, {3, {"A2"}}, {4, {"A2", "A5"}}, {12, {"N5"}}}},
        // A counter that is not 0 one or two classes higher holds the lower alert back.
        SequenceCase{"TwoForTwoTicksThenFour", {{2, 2}, {4, 2}}, {{2, {"A2"}}, {4, {"A4"}}}},
        SequenceCase{"TwoForTwoTicksThenThree", {{2, 2}, {3, 2}}, {{2, {"A2"}}, {4, {"A3"}}}},
        SequenceCase{"NineAlone", {{9, 12}}, {{2, {"A9"}}, {10, {"N9"}}}},
        SequenceCase{"OneAlone", {{1, 12}}, {{2, {"A1"}}, {10, {"N1"}}}},
        // Class 8 tests only class 9's counter, which falling from 9 cleared.
        SequenceCase{"NineThenEight", {{9, 1}, {8, 2}}, {{3, {"A8"}}}},
        SequenceCase{"ZeroClearsEverything", {{1, 2}, {0, 1}, {1, 2}}, {{2, {"A1"}}, {5, {"A1"}}}},
        SequenceCase{"ZeroBreaksTheStay", {{1, 1}, {0, 1}, {1, 2}}, {{4, {"A1"}}}},
        // Counters below the current class are left as they are.
        SequenceCase{"LowerCounterKeptWhileHigher", {{1, 1}, {2, 1}, {1, 1}}, {{3, {"A1"}}}},
        SequenceCase{
            "NoticeAfterABriefRise", {{3, 9}, {4, 1}, {3, 1}}, {{2, {"A3"}}, {11, {"N3"}}}},
        // An alert of 4 suppresses the pending notice of 3.
        SequenceCase{"HigherAlertSuppressesLowerNotice",
                     {{3, 9}, {4, 2}, {3, 10}},
                     {{2, {"A3"}}, {11, {"A4"}}}},
        // A failing player: the alert is started again at every tick until a play succeeds.
        SequenceCase{"AlertRetriedUntilItPlays",
                     {{3, 12}},
                     {{2, {"A3"}}, {3, {"A3"}}, {4, {"A3"}}, {5, {"A3"}}, {10, {"N3"}}},
                     {2, 3, 4}},
        SequenceCase{"NoticeRetriedUntilItPlays",
                     {{3, 14}},
                     {{2, {"A3"}}, {10, {"N3"}}, {11, {"N3"}}, {12, {"N3"}}},
                     {10, 11}},
        SequenceCase{"AlwaysFailing",
                     {{3, 12}},
                     {{2, {"A3"}},
                      {3, {"A3"}},
                      {4, {"A3"}},
                      {5, {"A3"}},
                      {6, {"A3"}},
                      {7, {"A3"}},
                      {8, {"A3"}},
                      {9, {"A3"}},
                      {10, {"A3", "N3"}},
                      {11, {"A3", "N3"}},
                      {12, {"A3", "N3"}}},
                     {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
        // A retry is not tied to the class: it repeats in class 2 as well.
        SequenceCase{"RetryContinuesInAnotherClass",
                     {{3, 2}, {2, 3}},
                     {{2, {"A3"}}, {3, {"A3"}}, {4, {"A3"}}},
                     {2, 3}},
        // Class 0 clears the retry flags.
        SequenceCase{"ZeroClearsRetries", {{3, 2}, {0, 1}, {3, 1}}, {{2, {"A3"}}}, {2}}),
    [](const auto& tp) { return std::string(tp.param.name); });

class AlertEveryClass : public ::testing::TestWithParam<int> {};

// Every class: one tick nothing, the alert at the second, the notice at the
// tenth, nothing more, and the counter stops at 1000.
TEST_P(AlertEveryClass, AlertNoticeAndCounterLimit) {
    const int k = GetParam();
    AlertDriver d;
    for (int tick = 1; tick <= 1200; ++tick) {
        const Sounds got = d.tick(k);
        const Sounds expected = tick == 2    ? Sounds{"A" + std::to_string(k)}
                                : tick == 10 ? Sounds{"N" + std::to_string(k)}
                                             : Sounds{};
        ASSERT_EQ(got, expected) << "tick " << tick;
        ASSERT_EQ(d.alerts.classDwell[static_cast<std::size_t>(k)], std::min(tick, 1000));
    }
    // An alert suppresses every lower class.
    for (int lower = 1; lower < k; ++lower) {
        EXPECT_EQ(d.alerts.classDwell[static_cast<std::size_t>(lower)],
                  IntensityAlerts::kSuppressed);
    }
}

INSTANTIATE_TEST_SUITE_P(Classes, AlertEveryClass, ::testing::Range(1, 10));

TEST(AlertCounters, SuppressionValueAndItsRewriteByARetry) {
    AlertDriver d;
    d.tick(3);
    d.tick(3, true); // A3 fails
    EXPECT_EQ(d.alerts.alertRetry[3], 1);
    EXPECT_EQ(d.alerts.classDwell[1], IntensityAlerts::kSuppressed);
    EXPECT_EQ(d.alerts.classDwell[2], IntensityAlerts::kSuppressed);
    EXPECT_EQ(d.tick(2, true), Sounds{"A3"}); // the retry writes the suppression again
    EXPECT_EQ(d.alerts.classDwell[2], IntensityAlerts::kSuppressed); // not kSuppressed + 1
    EXPECT_EQ(d.alerts.classDwell[3], 0);
    EXPECT_EQ(d.tick(2), Sounds{"A3"}); // plays now
    EXPECT_EQ(d.alerts.alertRetry[3], 0);
    EXPECT_EQ(d.alerts.classDwell[2], IntensityAlerts::kSuppressed);
    EXPECT_EQ(d.tick(2), Sounds{});
    EXPECT_EQ(d.alerts.classDwell[2], IntensityAlerts::kSuppressed + 1);
}

TEST(AlertCounters, ClassZeroClearsCountersAndFlags) {
    AlertDriver d;
    d.tick(4);
    d.tick(4, true);
    for (int t = 0; t < 8; ++t) {
        d.tick(4, true);
    }
    EXPECT_EQ(d.alerts.alertRetry[4], 1);
    EXPECT_EQ(d.alerts.noticeRetry[4], 1);
    EXPECT_EQ(d.tick(0), Sounds{});
    for (std::size_t k = 1; k <= 9; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(d.alerts.classDwell[k], 0);
        EXPECT_EQ(d.alerts.alertRetry[k], 0);
        EXPECT_EQ(d.alerts.noticeRetry[k], 0);
    }
}

// --- Class-change count ------------------------------------------------------------------------

TEST(ClassChangeCount, EachChangeAsksForOneRedraw) {
    struct Step {
        int cls;
        int pending;  // pendingImageRedraws after the tick
        int previous; // previousClass after the tick
    };
    AlertDriver d;
    EXPECT_EQ(d.alerts.previousClass, -3);
    EXPECT_EQ(d.alerts.pendingImageRedraws, 0);
    // previousClass starts at -3, so the first tick counts as a change even in class 0.
    const std::vector<Step> steps = {{0, 1, 0}, {0, 1, 0}, {3, 2, 3}, {3, 2, 3},
                                     {2, 3, 2}, {0, 4, 0}, {0, 4, 0}, {9, 5, 9}};
    for (std::size_t i = 0; i < steps.size(); ++i) {
        d.tick(steps[i].cls);
        EXPECT_EQ(d.alerts.pendingImageRedraws, steps[i].pending) << "tick " << i + 1;
        EXPECT_EQ(d.alerts.previousClass, steps[i].previous) << "tick " << i + 1;
    }
}

// A reception start clears the redraw count but keeps previousClass: the same
// class at the next tick is no change.
TEST(ClassChangeCount, ReceptionStartClearsTheCountOnly) {
    AlertDriver d;
    d.tick(3);
    d.tick(5);
    EXPECT_EQ(d.alerts.pendingImageRedraws, 2);
    d.alerts.startReception();
    EXPECT_EQ(d.alerts.pendingImageRedraws, 0);
    EXPECT_EQ(d.alerts.previousClass, 5);
    d.tick(5);
    EXPECT_EQ(d.alerts.pendingImageRedraws, 0);
    d.tick(6);
    EXPECT_EQ(d.alerts.pendingImageRedraws, 1);
}

// A NaN peak keeps the class, so it is no change either.
TEST(ClassChangeCount, NaNIsNoChange) {
    IntensityAlerts alerts;
    RecordingSounds sounds{alerts};
    FieldText text;
    alerts.decideClass(0, 3.0, -9.9, text);
    alerts.updateAlerts(sounds);
    alerts.countClassChange();
    EXPECT_EQ(alerts.pendingImageRedraws, 1);
    alerts.decideClass(0, kNaN, -9.9, text);
    alerts.updateAlerts(sounds);
    alerts.countClassChange();
    EXPECT_EQ(alerts.intensityClass, 3);
    EXPECT_EQ(alerts.pendingImageRedraws, 1);
}

// The same sequences run inside the pipeline at its display ticks.
TEST(AlertsInPipeline, AlertAtTheSecondDisplayTickInAClass) {
    PipelineRig rig;
    rig.settings.useSensorSiGal = 1;
    rig.pipeline.startReception();
    std::vector<std::pair<int, Sounds>> heard; // (1-based frame, sounds)
    FrameValues v;
    v.sensorSiGal = 10.0f; // jmaIntensity 2.9: class 3 once 30 frames are in the window
    for (int n = 1; n <= 300; ++n) {
        rig.sounds.started.clear();
        rig.pipeline.processFrame(encodeFrame(v));
        if (!rig.sounds.started.empty()) {
            heard.emplace_back(n, rig.sounds.started);
        }
    }
    // Display ticks at frames 1, 26, 51, ...; class 3 from the tick of frame 51.
    const std::vector<std::pair<int, Sounds>> expected = {{76, {"A3"}}, {276, {"N3"}}};
    EXPECT_EQ(heard, expected);
}

} // namespace
} // namespace kelvora::test
