// The optimised pipeline against a literal model of the computation (whole
// windows sorted every frame, sums taken slot by slot), frame by frame.
#include "PipelineRig.h"
#include "ReferenceModel.h"
#include "SyntheticSensor.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace kelvora::test {
namespace {

using reference::ReferenceFrame;
using reference::ReferenceModel;

struct StreamRun {
    double seconds;
    std::vector<sim::QuakeEvent> events;
    int jmaWindowMode = 0;
    int intensityScale = 0;
    int useSensorSiGal = 0;
    int useSensorVelocity = 0;
    sim::LineFaults faults{};
    int timeoutEvery = 0; // a read time-out after every n-th byte
};

struct CrossCheckCase {
    const char* name;
    std::uint64_t seed;
    std::vector<StreamRun> runs; // consecutive reception runs of one process
};

void PrintTo(const CrossCheckCase& c, std::ostream* os) {
    *os << c.name;
}

bool same(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

std::string firstDifference(const PipelineRig& rig, const ReferenceFrame& ref) {
    std::ostringstream out;
    out.precision(17);
    const MeasurementState& s = rig.state;
    auto check = [&](const char* name, double ours, double theirs) {
        if (out.tellp() == 0 && !same(ours, theirs)) {
            out << name << ": pipeline " << ours << ", model " << theirs;
        }
    };
    auto checkText = [&](const char* name, const FieldText& ours, const std::string& theirs) {
        if (out.tellp() == 0 && ours.view() != theirs) {
            out << name << ": pipeline '" << ours.view() << "', model '" << theirs << "'";
        }
    };
    check("frameIndex", rig.lastFrameIndex(), ref.frameIndex);
    check("accelX", s.accelX, ref.accelX);
    check("accelY", s.accelY, ref.accelY);
    check("accelZ", s.accelZ, ref.accelZ);
    check("sensorSiGal", s.sensorSiGal, ref.sensorSiGal);
    check("sensorVelocity", s.sensorVelocity, ref.sensorVelocity);
    check("temperature", s.temperature, ref.temperature);
    check("seaLevelPressure", s.seaLevelPressure, ref.seaLevelPressure);
    check("siGalComputed", s.siGalComputed, ref.siGalComputed);
    check("siGal", s.siGal, ref.siGal);
    check("jmaAccel", s.jmaAccel, ref.jmaAccel);
    check("pgaVector", s.pgaVector, ref.pgaVector);
    check("pgvComputed", s.pgvComputed, ref.pgvComputed);
    check("pgv", s.pgv, ref.pgv);
    check("mmiFromPga", s.mmiFromPga, ref.mmiFromPga);
    check("mmiFromPgv", s.mmiFromPgv, ref.mmiFromPgv);
    check("mmi", s.mmi, ref.mmi);
    check("jmaIntensity", s.jmaIntensity, ref.jmaIntensity);
    check("history intensity", s.history[static_cast<std::size_t>(rig.lastFrameIndex())].intensity,
          ref.intensity);
    check("peakAccelX", s.peakAccelX, ref.peakAccelX);
    check("peakAccelZ", s.peakAccelZ, ref.peakAccelZ);
    check("peakPgaVector", s.peakPgaVector, ref.peakPgaVector);
    check("peakJmaAccel", s.peakJmaAccel, ref.peakJmaAccel);
    check("peakPgv", s.peakPgv, ref.peakPgv);
    check("peakJmaIntensity", s.peakJmaIntensity, ref.peakJmaIntensity);
    check("peakMmi", s.peakMmi, ref.peakMmi);
    check("class", rig.alerts.intensityClass, ref.intensityClass);
    check("pendingImageRedraws", rig.alerts.pendingImageRedraws, ref.pendingImageRedraws);
    if (out.tellp() == 0 && rig.sounds.started != ref.sounds) {
        out << "sounds differ (" << rig.sounds.started.size() << " vs " << ref.sounds.size() << ")";
    }
    const DisplayTexts texts = rig.board.snapshot();
    checkText("accelXText", texts.accelXText, ref.texts.accelX);
    checkText("accelYText", texts.accelYText, ref.texts.accelY);
    checkText("jmaAccelText", texts.jmaAccelText, ref.texts.jmaAccel);
    checkText("pgaText", texts.pgaText, ref.texts.pga);
    checkText("temperatureText", texts.temperatureText, ref.texts.temperature);
    checkText("humidityText", texts.humidityText, ref.texts.humidity);
    checkText("pressureText", texts.pressureText, ref.texts.pressure);
    checkText("seaLevelPressureLogText", texts.seaLevelPressureLogText,
              ref.texts.seaLevelPressureLog);
    checkText("pgvText", texts.pgvText, ref.texts.pgv);
    checkText("intensityText", texts.intensityText, ref.texts.intensity);
    return out.str();
}

class PipelineCrossCheck : public ::testing::TestWithParam<CrossCheckCase> {};

TEST_P(PipelineCrossCheck, MatchesTheLiteralModelFrameByFrame) {
    const CrossCheckCase& c = GetParam();
    PipelineRig rig;
    ReferenceModel model;
    std::uint64_t seed = c.seed;
    int totalFrames = 0;
    int maxClass = 0;
    for (std::size_t r = 0; r < c.runs.size(); ++r) {
        const StreamRun& run = c.runs[r];
        rig.settings.jmaWindowMode = run.jmaWindowMode;
        rig.settings.intensityScale = run.intensityScale;
        rig.settings.useSensorSiGal = run.useSensorSiGal;
        rig.settings.useSensorVelocity = run.useSensorVelocity;
        model.settings.jmaWindowMode = run.jmaWindowMode;
        model.settings.intensityScale = run.intensityScale;
        model.settings.useSensorSiGal = run.useSensorSiGal;
        model.settings.useSensorVelocity = run.useSensorVelocity;
        rig.pipeline.startReception();
        model.startReception();

        const auto bytes = sim::makeStream(seed++, run.seconds, run.events, run.faults);
        std::vector<ReadResult> reads;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            reads.push_back(ReadResult::of(bytes[i]));
            if (run.timeoutEvery > 0 && (i + 1) % static_cast<std::size_t>(run.timeoutEvery) == 0) {
                reads.push_back(ReadResult::none());
            }
        }
        std::vector<ReferenceFrame> expected;
        for (const ReadResult& read : reads) {
            model.feed(read.received ? std::optional<std::uint8_t>(read.byte) : std::nullopt,
                       expected);
        }
        std::size_t frame = 0;
        std::string difference;
        rig.feed(reads, [&] {
            if (!difference.empty() || frame >= expected.size()) {
                ++frame;
                return;
            }
            difference = firstDifference(rig, expected[frame]);
            if (!difference.empty()) {
                difference = "run " + std::to_string(r) + ", good frame " +
                             std::to_string(frame + 1) + ": " + difference;
            }
            maxClass = std::max(maxClass, static_cast<int>(rig.alerts.intensityClass));
            ++frame;
        });
        ASSERT_EQ(frame, expected.size()) << "run " << r;
        ASSERT_EQ(difference, "");
        totalFrames += static_cast<int>(frame);
    }
    EXPECT_GT(totalFrames, 0);
    RecordProperty("frames", totalFrames);
    RecordProperty("maxClass", maxClass);
}

const sim::QuakeEvent kModerate{20.0, 25.0, 40.0};
const sim::QuakeEvent kStrong{15.0, 30.0, 400.0};
const sim::LineFaults kNoisyLine{0.0005, 0.0005, 0.01, true};

INSTANTIATE_TEST_SUITE_P(
    Streams, PipelineCrossCheck,
    ::testing::Values(
        CrossCheckCase{"QuietTenSecond", 1, {StreamRun{30.0, {}}}},
        CrossCheckCase{"ModerateEventTenSecond", 2, {StreamRun{70.0, {kModerate}}}},
        CrossCheckCase{"StrongEventMercalli", 3, {StreamRun{70.0, {kStrong}, 0, 1}}},
        CrossCheckCase{"SixtySecondWindowAcrossRestarts",
                       4,
                       {StreamRun{75.0, {kModerate}, 1}, StreamRun{12.34, {kStrong}, 1},
                        StreamRun{80.0, {kStrong}, 1, 1}}},
        CrossCheckCase{"SensorOwnValues", 5, {StreamRun{60.0, {kStrong}, 0, 0, 1, 1}}},
        CrossCheckCase{
            "SensorOwnValuesSixtySecondMercalli", 6, {StreamRun{70.0, {kStrong}, 1, 1, 1, 1}}},
        CrossCheckCase{"NoisyLineWithTimeouts",
                       7,
                       {StreamRun{60.0, {kModerate}, 0, 0, 0, 0, kNoisyLine, 997}}},
        CrossCheckCase{"RestartsSwitchScaleAndWindow",
                       8,
                       {StreamRun{25.0, {{5.0, 15.0, 150.0}}, 0, 0}, StreamRun{3.3, {}, 1, 1},
                        StreamRun{40.0, {kStrong}, 0, 1, 0, 1, kNoisyLine, 0}}}),
    CaseName());

} // namespace
} // namespace kelvora::test
