// Display-period peaks, the display tick and its texts, the frame clocks and
// history ring, what a reception start clears, the display-tick
// formatting and the one-second frame-rate roll-over.
#include "FrameFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace kelvora::test {
namespace {

constexpr float kNaNf = std::numeric_limits<float>::quiet_NaN();
constexpr float kInff = std::numeric_limits<float>::infinity();

// --- Peaks ------------------------------------------------------------------------

struct AxisPeakCase {
    const char* name;
    std::vector<float> values;     // one axis, frame by frame, inside one display period
    std::vector<double> peakAfter; // the axis peak after each frame
};

void PrintTo(const AxisPeakCase& c, std::ostream* os) {
    *os << c.name;
}

class AxisPeak : public ::testing::TestWithParam<AxisPeakCase> {};

// Raised when the magnitude is strictly greater; the peak keeps the sign.
TEST_P(AxisPeak, ByMagnitudeKeepingTheSign) {
    const AxisPeakCase& c = GetParam();
    for (int axis = 0; axis < 3; ++axis) {
        SCOPED_TRACE("axis " + std::to_string(axis));
        PipelineRig rig;
        rig.pipeline.startReception();
        runFrame(rig, FrameValues{}); // the display tick of frame 0 is behind us
        for (std::size_t n = 0; n < c.values.size(); ++n) {
            const float v = c.values[n];
            runFrame(rig,
                     axesFrame(axis == 0 ? v : 0.0f, axis == 1 ? v : 0.0f, axis == 2 ? v : 0.0f));
            const double peak = axis == 0   ? rig.state.peakAccelX
                                : axis == 1 ? rig.state.peakAccelY
                                            : rig.state.peakAccelZ;
            EXPECT_EQ(peak, c.peakAfter[n]) << "frame " << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, AxisPeak,
    ::testing::Values(
        AxisPeakCase{"NegativeReplacesSmallerPositive", {3.1f, -3.2f}, {3.1f, -3.2f}},
        AxisPeakCase{"EqualMagnitudeDoesNotReplace", {-3.2f, 3.2f, -3.0f}, {-3.2f, -3.2f, -3.2f}},
        AxisPeakCase{"PositiveKeptAgainstEqualNegative", {1.0f, -1.0f}, {1.0, 1.0}},
        AxisPeakCase{"SmallerNeverLowers", {0.5f, 0.25f, -0.75f, 0.0f}, {0.5, 0.5, -0.75, -0.75}},
        AxisPeakCase{"ZeroLeavesTheResetValue", {0.0f, -0.0f}, {0.0, 0.0}}),
    [](const auto& tp) { return std::string(tp.param.name); });

struct ValuePeakCase {
    const char* name;
    std::vector<float> values; // sensorVelocity (useSensorVelocity 1), frame by frame
    std::vector<double> peakPgvAfter;
};

void PrintTo(const ValuePeakCase& c, std::ostream* os) {
    *os << c.name;
}

class PgvPeak : public ::testing::TestWithParam<ValuePeakCase> {};

TEST_P(PgvPeak, RaisedOnlyWhenStrictlyGreater) {
    const ValuePeakCase& c = GetParam();
    PipelineRig rig;
    rig.settings.useSensorVelocity = 1;
    rig.pipeline.startReception();
    runFrame(rig, FrameValues{});
    for (std::size_t n = 0; n < c.values.size(); ++n) {
        FrameValues v;
        v.sensorVelocity = c.values[n];
        runFrame(rig, v);
        EXPECT_EQ(rig.state.peakPgv, c.peakPgvAfter[n]) << "frame " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Sequences, PgvPeak,
                         ::testing::Values(ValuePeakCase{"Rising", {1.0f, 2.0f, 3.0f}, {1, 2, 3}},
                                           ValuePeakCase{"Falling", {3.0f, 2.0f, 1.0f}, {3, 3, 3}},
                                           // the reset value 0.0 is not exceeded by a negative pgv
                                           ValuePeakCase{
                                               "NegativeNeverRaises", {-5.0f, -1.0f}, {0, 0}}),
                         [](const auto& tp) { return std::string(tp.param.name); });

TEST(Peaks, VectorPeakAndIntensityPeaksRaisedWithinThePeriod) {
    PipelineRig rig;
    rig.pipeline.startReception();
    runFrame(rig, FrameValues{});
    runFrame(rig, axesFrame(3.0f, -4.0f, 0.0f));
    EXPECT_EQ(rig.state.peakPgaVector, 5.0);
    runFrame(rig, axesFrame(1.0f, 0.0f, 0.0f));
    EXPECT_EQ(rig.state.peakPgaVector, 5.0);
    runFrame(rig, axesFrame(0.0f, 0.0f, 12.0f));
    EXPECT_EQ(rig.state.peakPgaVector, 12.0);
    // peakMmi from its reset -100.0 is raised by any mmi, -9.9 included.
    EXPECT_EQ(rig.state.peakMmi, rig.state.mmi);
    EXPECT_EQ(rig.state.peakJmaIntensity, -3.0);
}

// A strong stretch of 49 frames, then the display tick of frame 50.
struct TickRig : PipelineRig {
    explicit TickRig(int scale) {
        settings.useSensorSiGal = 1;
        settings.useSensorVelocity = 1;
        settings.intensityScale = scale;
        pipeline.startReception();
        for (int n = 0; n < 50; ++n) {
            runFrame(*this, strong());
        }
    }
    static FrameValues strong() {
        FrameValues v = axesFrame(3.0f, -4.0f, 12.0f); // pgaVector 13, mmi 3.4
        v.sensorSiGal = 100.0f;                        // jmaAccel 100, jmaIntensity 4.9
        v.sensorVelocity = 2.0f;
        return v;
    }
};

TEST(DisplayTick, ResetsThePeaksRightAfterTheirTexts) {
    TickRig rig(0);
    ASSERT_EQ(rig.state.displayPhase, 0); // the next frame is a display tick
    EXPECT_EQ(rig.state.peakAccelX, 3.0);
    EXPECT_EQ(rig.state.peakAccelY, -4.0);
    EXPECT_EQ(rig.state.peakAccelZ, 12.0);
    EXPECT_EQ(rig.state.peakPgaVector, 13.0);
    EXPECT_EQ(rig.state.peakJmaAccel, 100.0);
    EXPECT_EQ(rig.state.peakPgv, 2.0);
    EXPECT_EQ(rig.state.peakJmaIntensity, 4.9);
    EXPECT_EQ(rig.state.peakMmi, 3.4);

    runFrame(rig, TickRig::strong()); // frame 50: the display tick
    EXPECT_EQ(rig.state.peakAccelX, 0.0);
    EXPECT_EQ(rig.state.peakAccelY, 0.0);
    EXPECT_EQ(rig.state.peakAccelZ, 0.0);
    EXPECT_EQ(rig.state.peakPgaVector, 0.0);
    EXPECT_EQ(rig.state.peakJmaAccel, 0.0);
    EXPECT_EQ(rig.state.peakPgv, 0.0);
    EXPECT_EQ(rig.state.peakJmaIntensity, -3.0);
    EXPECT_EQ(rig.state.peakMmi, -100.0);

    const DisplayTexts texts = rig.board.snapshot();
    EXPECT_EQ(texts.accelXText, "    3.000 gal");
    EXPECT_EQ(texts.accelYText, "   -4.000 gal");
    EXPECT_EQ(texts.accelZText, "   12.000 gal");
    EXPECT_EQ(texts.jmaAccelText, "  100.000 gal");
    EXPECT_EQ(texts.pgaText, "   13.000");
    EXPECT_EQ(texts.pgvText, "    2.000");
    EXPECT_EQ(texts.intensityText, " 4.9");
    EXPECT_EQ(rig.alerts.intensityClass, 5);

    runFrame(rig, TickRig::strong()); // the next frame raises them again
    EXPECT_EQ(rig.state.peakAccelX, 3.0);
    EXPECT_EQ(rig.state.peakJmaIntensity, 4.9);
    EXPECT_EQ(rig.state.peakMmi, 3.4);
}

TEST(DisplayTick, MercalliScaleTextsAndClassesFromPeakMmi) {
    TickRig rig(1);
    runFrame(rig, TickRig::strong());
    EXPECT_EQ(rig.board.snapshot().intensityText, " 3.4");
    EXPECT_EQ(rig.alerts.intensityClass, 2); // 2.5 <= 3.4 < 3.5
}

// The tick runs in the frames that start with displayPhase 0, and only there:
// the peaks reset and the published texts change in those frames alone.
TEST(DisplayTick, OnlyInFramesStartingWithPhaseZero) {
    PipelineRig rig;
    rig.pipeline.startReception();
    std::string lastPga = std::string(rig.board.snapshot().pgaText.view());
    for (int n = 0; n < 120; ++n) {
        const int phaseBefore = rig.state.displayPhase;
        EXPECT_EQ(phaseBefore, n % 25);
        const auto x = static_cast<float>(n + 1);
        runFrame(rig, axesFrame(x, 0.0f, 0.0f));
        const std::string pga(rig.board.snapshot().pgaText.view());
        if (phaseBefore == 0) {
            EXPECT_EQ(rig.state.peakPgaVector, 0.0) << "frame " << n;
            EXPECT_NE(pga, lastPga) << "frame " << n;
        } else {
            EXPECT_EQ(rig.state.peakPgaVector, x) << "frame " << n;
            EXPECT_EQ(pga, lastPga) << "frame " << n;
        }
        lastPga = pga;
    }
}

TEST(DisplayTick, PhaseOfTwentyFiveOrMoreBecomesZero) {
    PipelineRig rig;
    rig.pipeline.startReception();
    rig.state.displayPhase = 40;
    runFrame(rig, axesFrame(1.0f, 0.0f, 0.0f));
    EXPECT_EQ(rig.state.peakPgaVector, 1.0); // no tick at phase 40
    EXPECT_EQ(rig.state.displayPhase, 0);
    runFrame(rig, axesFrame(1.0f, 0.0f, 0.0f));
    EXPECT_EQ(rig.state.peakPgaVector, 0.0); // tick
    EXPECT_EQ(rig.state.displayPhase, 1);
}

struct RestartPhaseCase {
    int framesBefore;   // good frames since program start, before the restart
    int firstTickFrame; // 1-based frame of the new run that is a display tick
};

// displayPhase is not reset by a reception start: the first tick of the new run
// can come in any of its first 25 frames.
TEST(DisplayTick, PhaseCarriesOverAReceptionStart) {
    for (const RestartPhaseCase c :
         {RestartPhaseCase{0, 1}, RestartPhaseCase{10, 16}, RestartPhaseCase{24, 2},
          RestartPhaseCase{25, 1}, RestartPhaseCase{37, 14}}) {
        SCOPED_TRACE(c.framesBefore);
        PipelineRig rig;
        rig.pipeline.startReception();
        for (int n = 0; n < c.framesBefore; ++n) {
            runFrame(rig, FrameValues{});
        }
        rig.pipeline.startReception();
        EXPECT_EQ(rig.state.frameIndex, 0);
        EXPECT_EQ(rig.state.displayPhase, c.framesBefore % 25);
        int firstTick = 0;
        for (int n = 1; n <= 25 && firstTick == 0; ++n) {
            runFrame(rig, axesFrame(1.0f, 0.0f, 0.0f));
            if (rig.state.peakPgaVector == 0.0) {
                firstTick = n;
            }
        }
        EXPECT_EQ(firstTick, c.firstTickFrame);
    }
}

// --- Display-tick formatting -------------------------------------------------------------

TEST(DisplayTexts, InitialTexts) {
    const DisplayTexts t;
    EXPECT_EQ(t.accelXText, "0.000 gal");
    EXPECT_EQ(t.accelYText, "0.000 gal");
    EXPECT_EQ(t.accelZText, "0.000 gal");
    EXPECT_EQ(t.jmaAccelText, "0.000 gal");
    EXPECT_EQ(t.pgaText, "0.000");
    EXPECT_EQ(t.temperatureText, "---.-");
    EXPECT_EQ(t.humidityText, "---.-");
    EXPECT_EQ(t.pressureText, "----.--");
    EXPECT_EQ(t.seaLevelPressureText, "----.--");
    EXPECT_EQ(t.pgvText, "0.000");
    EXPECT_EQ(t.intensityText, "-3.0");
    EXPECT_EQ(t.temperatureLogText, "---.-");
    EXPECT_EQ(t.humidityLogText, "---.-");
    EXPECT_EQ(t.pressureLogText, "----.--");
    EXPECT_EQ(t.seaLevelPressureLogText, "----.--");
}

struct GalCase {
    double peak;
    const char* galText; // axis and JMA-acceleration texts
    const char* plain;   // vector and velocity texts
};

void PrintTo(const GalCase& c, std::ostream* os) {
    *os << c.peak;
}

class PeakTexts : public ::testing::TestWithParam<GalCase> {};

// "%9.3f" cut to 9 characters, then " gal" for the axes and the JMA acceleration.
TEST_P(PeakTexts, NineCharactersThenGal) {
    const GalCase& c = GetParam();
    MeasurementState state;
    state.peakAccelX = c.peak;
    state.peakAccelY = c.peak;
    state.peakAccelZ = c.peak;
    state.peakJmaAccel = c.peak;
    state.peakPgaVector = c.peak;
    state.peakPgv = c.peak;
    state.peakJmaIntensity = 4.0;
    state.peakMmi = 5.0;
    DisplayTexts texts;
    formatDisplayTick(state, encodeFrame(FrameValues{}), texts);
    EXPECT_EQ(texts.accelXText, c.galText);
    EXPECT_EQ(texts.accelYText, c.galText);
    EXPECT_EQ(texts.accelZText, c.galText);
    EXPECT_EQ(texts.jmaAccelText, c.galText);
    EXPECT_EQ(texts.pgaText, c.plain);
    EXPECT_EQ(texts.pgvText, c.plain);
    // Each acceleration, vector, JMA-acceleration and velocity peak is reset;
    // the intensity peaks are left to the rest of the tick.
    EXPECT_EQ(state.peakAccelX, 0.0);
    EXPECT_EQ(state.peakAccelY, 0.0);
    EXPECT_EQ(state.peakAccelZ, 0.0);
    EXPECT_EQ(state.peakJmaAccel, 0.0);
    EXPECT_EQ(state.peakPgaVector, 0.0);
    EXPECT_EQ(state.peakPgv, 0.0);
    EXPECT_EQ(state.peakJmaIntensity, 4.0);
    EXPECT_EQ(state.peakMmi, 5.0);
}

INSTANTIATE_TEST_SUITE_P(Peaks, PeakTexts,
                         ::testing::Values(GalCase{12345.678, "12345.678 gal", "12345.678"},
                                           GalCase{-0.5, "   -0.500 gal", "   -0.500"},
                                           GalCase{0.0, "    0.000 gal", "    0.000"},
                                           GalCase{3.2, "    3.200 gal", "    3.200"},
                                           // ten characters: the last one is cut
                                           GalCase{123456.789, "123456.78 gal", "123456.78"},
                                           GalCase{-12345.678, "-12345.67 gal", "-12345.67"}));

enum class Env { Temperature, Humidity, Pressure, SeaLevelPressure };

struct EnvCase {
    const char* name;
    Env field;
    float reading;
    const char* display;
    const char* log;
};

void PrintTo(const EnvCase& c, std::ostream* os) {
    *os << c.name;
}

class EnvironmentTexts : public ::testing::TestWithParam<EnvCase> {};

TEST_P(EnvironmentTexts, FormattedCutAndRangeChecked) {
    const EnvCase& c = GetParam();
    FrameValues v{};
    v.temperature = 20.0f;
    v.humidity = 50.0f;
    v.pressure = 1000.0f;
    v.seaLevelPressure = 1010.0f;
    switch (c.field) {
    case Env::Temperature:
        v.temperature = c.reading;
        break;
    case Env::Humidity:
        v.humidity = c.reading;
        break;
    case Env::Pressure:
        v.pressure = c.reading;
        break;
    case Env::SeaLevelPressure:
        v.seaLevelPressure = c.reading;
        break;
    }
    MeasurementState state;
    DisplayTexts texts;
    formatDisplayTick(state, encodeFrame(v), texts);
    const FieldText* display = nullptr;
    const FieldText* log = nullptr;
    switch (c.field) {
    case Env::Temperature:
        display = &texts.temperatureText;
        log = &texts.temperatureLogText;
        break;
    case Env::Humidity:
        display = &texts.humidityText;
        log = &texts.humidityLogText;
        break;
    case Env::Pressure:
        display = &texts.pressureText;
        log = &texts.pressureLogText;
        break;
    case Env::SeaLevelPressure:
        display = &texts.seaLevelPressureText;
        log = &texts.seaLevelPressureLogText;
        break;
    }
    EXPECT_EQ(*display, c.display);
    EXPECT_EQ(*log, c.log);
    // The other readings are formatted as usual.
    if (c.field != Env::Temperature) {
        EXPECT_EQ(texts.temperatureText, " 20.0");
    }
    if (c.field != Env::Pressure) {
        EXPECT_EQ(texts.pressureText, "1000.00");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Readings, EnvironmentTexts,
    ::testing::Values(
        EnvCase{"Temperature", Env::Temperature, 21.5f, " 21.5", " 21.5"},
        EnvCase{"TemperatureZero", Env::Temperature, 0.0f, "  0.0", "  0.0"},
        EnvCase{"TemperatureMinus100", Env::Temperature, -100.0f, "---.-", "-100."},
        // -99.99 formats as -100.0, cut to -100., and is inside the range
        EnvCase{"TemperatureMinus99_99", Env::Temperature, -99.99f, "-100.", "-100."},
        EnvCase{"Temperature999_9", Env::Temperature, 999.9f, "999.9", "999.9"},
        EnvCase{"Temperature1000", Env::Temperature, 1000.0f, "---.-", "1000."},
        EnvCase{"TemperatureNaN", Env::Temperature, kNaNf, "---.-", "---.-"},
        EnvCase{"TemperatureInfinity", Env::Temperature, kInff, "---.-", "---.-"},
        EnvCase{"TemperatureMinusInfinity", Env::Temperature, -kInff, "---.-", "---.-"},
        EnvCase{"Humidity", Env::Humidity, 55.5f, " 55.5", " 55.5"},
        EnvCase{"HumidityMinus100", Env::Humidity, -100.0f, "---.-", "-100."},
        EnvCase{"HumidityNaN", Env::Humidity, kNaNf, "---.-", "---.-"},
        EnvCase{"Pressure", Env::Pressure, 1013.25f, "1013.25", "1013.25"},
        EnvCase{"PressureLow", Env::Pressure, 999.5f, " 999.50", " 999.50"},
        EnvCase{"Pressure10000", Env::Pressure, 10000.0f, "----.--", "10000.0"},
        EnvCase{"PressureMinus1000", Env::Pressure, -1000.0f, "----.--", "-1000.0"},
        EnvCase{"PressureMinus999_5", Env::Pressure, -999.5f, "-999.50", "-999.50"},
        EnvCase{"PressureNaN", Env::Pressure, kNaNf, "----.--", "----.--"},
        EnvCase{"PressureInfinity", Env::Pressure, kInff, "----.--", "----.--"},
        EnvCase{"SeaLevel", Env::SeaLevelPressure, 1015.5f, "1015.50", "1015.50"},
        EnvCase{"SeaLevel10000", Env::SeaLevelPressure, 10000.0f, "----.--", "10000.0"},
        EnvCase{"SeaLevelNaN", Env::SeaLevelPressure, kNaNf, "----.--", "----.--"},
        EnvCase{"SeaLevelMinusInfinity", Env::SeaLevelPressure, -kInff, "----.--", "----.--"}),
    [](const auto& tp) { return std::string(tp.param.name); });

// The environment texts come from the frame itself: a NaN reading keeps the
// state's previous value but its text is the placeholder.
TEST(DisplayTexts, EnvironmentFromTheFrameNotFromTheState) {
    PipelineRig rig;
    rig.pipeline.startReception();
    FrameValues v;
    v.temperature = 21.5f;
    v.pressure = 1013.25f;
    runFrame(rig, v); // tick
    EXPECT_EQ(rig.board.snapshot().temperatureText, " 21.5");
    for (int n = 1; n < 25; ++n) {
        runFrame(rig, v);
    }
    v.temperature = kNaNf;
    v.pressure = kNaNf;
    runFrame(rig, v); // tick
    EXPECT_EQ(rig.state.temperature, 21.5);
    EXPECT_EQ(rig.state.pressure, 1013.25);
    const DisplayTexts texts = rig.board.snapshot();
    EXPECT_EQ(texts.temperatureText, "---.-");
    EXPECT_EQ(texts.temperatureLogText, "---.-");
    EXPECT_EQ(texts.pressureText, "----.--");
    EXPECT_EQ(texts.pressureLogText, "----.--");
}

struct IntensityTextCase {
    double value;
    const char* text;
};

// "%4.1f" cut to 4 characters: never longer.
TEST(DisplayTexts, IntensityTextNeverLongerThanFourCharacters) {
    for (const IntensityTextCase c :
         {IntensityTextCase{-3.0, "-3.0"}, IntensityTextCase{12.3, "12.3"},
          IntensityTextCase{4.9, " 4.9"}, IntensityTextCase{0.0, " 0.0"},
          IntensityTextCase{-9.9, "-9.9"}, IntensityTextCase{-10.5, "-10."},
          IntensityTextCase{123.4, "123."}, IntensityTextCase{-100.0, "-100"}}) {
        SCOPED_TRACE(c.value);
        IntensityAlerts alerts;
        FieldText text;
        alerts.decideClass(0, c.value, 0.0, text);
        EXPECT_EQ(text, c.text);
        alerts.decideClass(1, 0.0, c.value, text);
        EXPECT_EQ(text, c.text);
    }
    IntensityAlerts alerts;
    FieldText text;
    for (double v = -1000.0; v <= 1000.0; v += 0.7) {
        alerts.decideClass(0, v, 0.0, text);
        ASSERT_LE(text.view().size(), 4u) << v;
    }
}

// --- Frame clocks and history ---------------------------------------------------------------

// frameIndex runs 0..999 and wraps; each frame writes the history record at its
// frameIndex, so (frameIndex + k) mod 1000 is the k-th oldest of the last 1000.
TEST(FrameClock, FrameIndexWrapsAndHistoryRecordsFollowIt) {
    PipelineRig rig;
    rig.settings.useSensorSiGal = 1;
    rig.settings.useSensorVelocity = 1;
    rig.pipeline.startReception();
    for (int n = 0; n < 1500; ++n) {
        const int index = rig.state.frameIndex;
        ASSERT_EQ(index, n % 1000);
        FrameValues v = axesFrame(static_cast<float>(n), 0.5f, -0.25f);
        v.sensorSiGal = static_cast<float>(n % 37);
        v.sensorVelocity = static_cast<float>(n % 11);
        runFrame(rig, v);
        const HistoryRecord& r = rig.state.history[static_cast<std::size_t>(index)];
        ASSERT_EQ(r.accelX, n);
        ASSERT_EQ(r.accelY, 0.5);
        ASSERT_EQ(r.accelZ, -0.25);
        ASSERT_EQ(r.siGal, rig.state.siGal);
        ASSERT_EQ(r.pgv, rig.state.pgv);
        ASSERT_EQ(r.intensity, rig.state.intensity);
        if (n == 999) {
            EXPECT_EQ(index, 999);
            EXPECT_EQ(rig.state.frameIndex, 0);
            EXPECT_EQ(rig.state.history[999].accelX, 999.0);
        }
        if (n == 1000) {
            EXPECT_EQ(index, 0);
            EXPECT_EQ(rig.state.history[0].accelX, 1000.0);
            EXPECT_EQ(rig.state.history[1].accelX, 1.0);
        }
    }
    ASSERT_EQ(rig.state.frameIndex, 500);
    for (int k = 0; k < 1000; ++k) {
        const auto at = static_cast<std::size_t>((rig.state.frameIndex + k) % 1000);
        ASSERT_EQ(rig.state.history[at].accelX, 500.0 + k) << "k " << k;
    }
}

TEST(FrameClock, HistoryIntensityFollowsTheScale) {
    PipelineRig rig;
    rig.settings.useSensorVelocity = 1;
    rig.pipeline.startReception();
    FrameValues v = axesFrame(100.0f, 0.0f, 0.0f);
    v.sensorVelocity = 10.0f;
    runFrame(rig, v);
    EXPECT_EQ(rig.state.history[0].intensity, -3.0); // JMA: jmaIntensity (window still empty)
    rig.settings.intensityScale = 1;
    runFrame(rig, v);
    EXPECT_EQ(rig.state.history[1].intensity, 5.7); // Mercalli: mmi
}

// --- Reception start ---------------------------------------------------------------------------

struct StateItem {
    const char* name;
    std::function<double(PipelineRig&)> get;
    bool cleared; // cleared to 0 by a reception start; otherwise kept
};

// What a reception start clears and what it keeps.
TEST(ReceptionStart, ClearsItsListAndKeepsTheRest) {
    const std::vector<StateItem> items = {
        {"siGal", [](PipelineRig& r) -> double { return r.state.siGal; }, true},
        {"siGalComputed", [](PipelineRig& r) -> double { return r.state.siGalComputed; }, true},
        {"sensorSiGal", [](PipelineRig& r) -> double { return r.state.sensorSiGal; }, true},
        {"jmaAccel", [](PipelineRig& r) -> double { return r.state.jmaAccel; }, true},
        {"pgv", [](PipelineRig& r) -> double { return r.state.pgv; }, true},
        {"pgvComputed", [](PipelineRig& r) -> double { return r.state.pgvComputed; }, true},
        {"sensorVelocity", [](PipelineRig& r) -> double { return r.state.sensorVelocity; }, true},
        {"frameIndex", [](PipelineRig& r) -> double { return r.state.frameIndex; }, true},
        {"pendingImageRedraws",
         [](PipelineRig& r) -> double { return r.alerts.pendingImageRedraws; }, true},
        {"byteCount", [](PipelineRig& r) -> double { return r.pipeline.assembler().byteCount(); },
         true},
        {"accelX", [](PipelineRig& r) -> double { return r.state.accelX; }, false},
        {"accelY", [](PipelineRig& r) -> double { return r.state.accelY; }, false},
        {"accelZ", [](PipelineRig& r) -> double { return r.state.accelZ; }, false},
        {"temperature", [](PipelineRig& r) -> double { return r.state.temperature; }, false},
        {"humidity", [](PipelineRig& r) -> double { return r.state.humidity; }, false},
        {"pressure", [](PipelineRig& r) -> double { return r.state.pressure; }, false},
        {"seaLevelPressure", [](PipelineRig& r) -> double { return r.state.seaLevelPressure; },
         false},
        {"pgaVector", [](PipelineRig& r) -> double { return r.state.pgaVector; }, false},
        {"mmi", [](PipelineRig& r) -> double { return r.state.mmi; }, false},
        {"jmaIntensity", [](PipelineRig& r) -> double { return r.state.jmaIntensity; }, false},
        {"intensity", [](PipelineRig& r) -> double { return r.state.intensity; }, false},
        {"peakAccelX", [](PipelineRig& r) -> double { return r.state.peakAccelX; }, false},
        {"peakAccelY", [](PipelineRig& r) -> double { return r.state.peakAccelY; }, false},
        {"peakAccelZ", [](PipelineRig& r) -> double { return r.state.peakAccelZ; }, false},
        {"peakPgaVector", [](PipelineRig& r) -> double { return r.state.peakPgaVector; }, false},
        {"peakJmaAccel", [](PipelineRig& r) -> double { return r.state.peakJmaAccel; }, false},
        {"peakPgv", [](PipelineRig& r) -> double { return r.state.peakPgv; }, false},
        {"peakJmaIntensity", [](PipelineRig& r) -> double { return r.state.peakJmaIntensity; },
         false},
        {"peakMmi", [](PipelineRig& r) -> double { return r.state.peakMmi; }, false},
        {"history[5].accelX", [](PipelineRig& r) -> double { return r.state.history[5].accelX; },
         false},
        {"history[5].siGal", [](PipelineRig& r) -> double { return r.state.history[5].siGal; },
         false},
        {"displayPhase", [](PipelineRig& r) -> double { return r.state.displayPhase; }, false},
        {"goodFrameCount", [](PipelineRig& r) -> double { return r.state.goodFrameCount; }, false},
        {"intensityClass", [](PipelineRig& r) -> double { return r.alerts.intensityClass; }, false},
        {"classDwell[5]", [](PipelineRig& r) -> double { return r.alerts.classDwell[5]; }, false},
    };

    PipelineRig rig;
    rig.settings.useSensorSiGal = 1;
    rig.settings.useSensorVelocity = 1;
    rig.pipeline.startReception();
    FrameValues v = axesFrame(3.0f, -4.0f, 12.0f);
    v.sensorSiGal = 100.0f;
    v.sensorVelocity = 3.0f;
    v.temperature = 21.5f;
    v.humidity = 45.25f;
    v.pressure = 1013.25f;
    v.seaLevelPressure = 1015.5f;
    for (int n = 0; n < 60; ++n) { // display ticks at 0, 25 and 50: class 5 at the last
        runFrame(rig, v);
    }
    rig.feed(readsOf(std::vector<std::uint8_t>(10, 0x11))); // a partial frame

    std::vector<double> before;
    for (const StateItem& item : items) {
        before.push_back(item.get(rig));
        EXPECT_NE(before.back(), 0.0) << item.name << " should be non-zero for this test";
    }
    rig.pipeline.startReception();
    for (std::size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(items[i].name);
        EXPECT_EQ(items[i].get(rig), items[i].cleared ? 0.0 : before[i]);
    }
}

// Each reception run starts the filter chain from rest, as a fresh program
// does: its output matches a chain made for that run alone.
TEST(ReceptionStart, StartsTheFilterChainFromRest) {
    PipelineRig rig;
    rig.pipeline.startReception();
    for (int run = 0; run < 3; ++run) {
        rig.pipeline.startReception();
        AxisFilterChain alone;
        int slot = 0;
        for (int n = 0; n < 130 + 40 * run; ++n) {
            const auto s = static_cast<float>(15.0 * std::sin(0.3 * n + run));
            runFrame(rig, axesFrame(s, 2.0f, -s));
            ASSERT_EQ(rig.state.siGalComputed, alone.filterAxes(s, 2.0f, -s, slot % 100));
            ++slot;
        }
    }
}

// Reception stopped in the middle of strong shaking and started again on a
// quiet line: nothing of the old shaking rings on into the new run, so the
// quiet line shows no intensity at all (the chain's memory used to give about
// 29 gal and intensity 2 to 2.5 here, and a recording).
TEST(ReceptionStart, AQuietLineAfterAStopDuringShakingShowsNoIntensity) {
    for (const int window : {0, 1}) {
        SCOPED_TRACE(window == 0 ? "10-s window" : "60-s window");
        PipelineRig rig;
        rig.settings.jmaWindowMode = window;
        rig.pipeline.startReception();
        for (int n = 0; n < 700; ++n) {
            const auto a = static_cast<float>(250.0 * std::sin(2.0 * 3.14159265 * 2.5 * n / 100.0));
            runFrame(rig, axesFrame(a, -a, 0.5f * a));
        }
        ASSERT_GT(rig.state.jmaIntensity, 4.0) << "the shaking should be strong";

        rig.pipeline.startReception();
        double largestSiGal = 0.0;
        double largestIntensity = -3.0;
        for (int n = 0; n < 1500; ++n) {
            runFrame(rig, axesFrame(0.0f, 0.0f, 0.0f));
            largestSiGal = std::max(largestSiGal, rig.state.siGalComputed);
            largestIntensity = std::max(largestIntensity, rig.state.jmaIntensity);
        }
        EXPECT_EQ(largestSiGal, 0.0);
        EXPECT_EQ(largestIntensity, -3.0);
    }
}

// --- One-second frame-rate roll-over ---------------------------------------------------------

TEST(FrameRateClock, HundredFramesInASecondAreOneHundred) {
    PipelineRig rig;
    rig.pipeline.startReception();
    for (int ms = 1; ms <= 1000; ++ms) {
        if (ms % 10 == 0) {
            runFrame(rig, FrameValues{});
        }
        advanceFrameRateClock(rig.state, 1);
        if (ms < 1000) {
            ASSERT_EQ(rig.state.framesPerSecond, 0) << "ms " << ms;
        }
    }
    EXPECT_EQ(rig.state.framesPerSecond, 100);
    EXPECT_EQ(rig.state.goodFrameCount, 0);
    EXPECT_EQ(rig.state.mmTickCount, 0);
}

TEST(FrameRateClock, NoFramesGiveZeroAndStayZero) {
    MeasurementState state;
    state.goodFrameCount = 97;
    for (int ms = 0; ms < 1000; ++ms) {
        advanceFrameRateClock(state, 1);
    }
    EXPECT_EQ(state.framesPerSecond, 97);
    for (int second = 0; second < 3; ++second) {
        for (int ms = 0; ms < 1000; ++ms) {
            advanceFrameRateClock(state, 1);
        }
        EXPECT_EQ(state.framesPerSecond, 0) << "second " << second;
    }
}

// With longer timer periods the milliseconds past 1000 are kept, so the
// roll-overs average one per second and the rate is not biased low.
TEST(FrameRateClock, RemainderIsKeptSoPeriodsAverageOneSecond) {
    for (const int step : {1, 7, 15, 16, 333, 999, 1000}) {
        SCOPED_TRACE(step);
        MeasurementState state;
        long long elapsed = 0;
        int rollOvers = 0;
        for (int call = 0; call < 30000 / step; ++call) {
            state.goodFrameCount = call + 1; // a marker: taken only by a roll-over
            advanceFrameRateClock(state, step);
            elapsed += step;
            const bool rolled = elapsed / 1000 > rollOvers;
            if (rolled) {
                ++rollOvers;
                ASSERT_EQ(state.framesPerSecond, call + 1) << "call " << call;
                ASSERT_EQ(state.goodFrameCount, 0);
            } else {
                ASSERT_EQ(state.goodFrameCount, call + 1) << "call " << call;
            }
            ASSERT_EQ(state.mmTickCount, elapsed % 1000) << "call " << call;
        }
        EXPECT_EQ(rollOvers, static_cast<int>(elapsed / 1000));
    }
}

} // namespace
} // namespace kelvora::test
