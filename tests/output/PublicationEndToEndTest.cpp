// The whole path of the live values: kelvora-sim streams on a pseudo-terminal
// registered as a COM port, reception decodes it and the pipeline publishes
// into a block of the test's own name, and kelvora-shm reads the block back as
// another program would, once and while watching.
#include "../core/PipelineRig.h"
#include "SharedBlockReader.h"
#include "ShmLines.h"
#include "link/PortMap.h"
#include "link/ReceptionControl.h"
#include "link/SerialPort.h"
#include "output/PublicationBlock.h"
#include "support/ChildProcess.h"
#include "support/Reception.h"
#include "support/TemporaryFolder.h"
#include "support/Text.h"
#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kelvora::test {
namespace {

using namespace std::chrono_literals;

const std::string kTool = KELVORA_SHM_PATH;
constexpr auto kReadTimeout = 200ms;
constexpr int kComNumber = 178;

class PublicationFromSimulator : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(simulator_.start());
        ASSERT_TRUE(block.create());
        rig.pipeline.setPublication(&block);
    }

    void TearDown() override {
        control.shutdown();
        block.destroy();
    }

    int goodFrames() const { return rig.state.goodFrameCount; }

    TemporaryFolder temporary_{"kelvora-shm-e2e"};
    SimulatorOnCom simulator_{KELVORA_SIM_PATH, kComNumber, temporary_.path()};
    PipelineRig rig;
    PublicationBlock block{uniqueBlockName("e2e")};
    SerialPort port{kReadTimeout};
    RecordingView view;
    ReceptionControl control{rig.pipeline, port, view, comPortPath, ReceptionTimings{10ms, 2}};
};

TEST_F(PublicationFromSimulator, TheReaderToolSeesTheSimulatedSensorsLiveValues) {
    control.StartReceive(kComNumber - 1);
    ASSERT_EQ(control.runState(), ReceptionControl::Running) << view.failureText();
    // Past frameIndex 102, the first environment publication.
    ASSERT_TRUE(waitFor([&] { return goodFrames() > 130; }, kReceptionGuard));

    // Once, while the monitor writes.
    {
        const ToolRun run = runTool({kTool, "--name", block.name(), "--once", "--json"});
        ASSERT_EQ(run.exitStatus, 0) << run.err;
        const std::vector<std::string> lines = linesOf(run.out);
        ASSERT_EQ(lines.size(), 3u) << run.out;

        ASSERT_EQ(sectionOf(lines[0]), "acceleration") << lines[0];
        EXPECT_EQ(numberField(lines[0], "busy"), 0.0) << lines[0];
        EXPECT_EQ(numberField(lines[0], "updated"), 255.0) << lines[0];
        for (const char* axis : {"x", "y", "z"}) {
            const std::vector<double> samples = arrayField(lines[0], axis);
            ASSERT_EQ(samples.size(), 6u) << lines[0];
            for (std::size_t i = 0; i < 5; ++i) {
                EXPECT_TRUE(std::isfinite(samples[i])) << lines[0];
                EXPECT_LT(std::fabs(samples[i]), 1.0) << "a quiet sensor: " << lines[0];
            }
            EXPECT_EQ(samples[5], 0.0) << lines[0];
        }

        ASSERT_EQ(sectionOf(lines[1]), "intensity") << lines[1];
        EXPECT_EQ(numberField(lines[1], "updated"), 255.0) << lines[1];
        const auto code = numberField(lines[1], "code");
        ASSERT_TRUE(code.has_value()) << lines[1];
        EXPECT_LE(*code, 30.0) << "a quiet sensor stays below intensity 0: " << lines[1];
        EXPECT_EQ(numberField(lines[1], "intensity"), (*code - 30.0) / 10.0) << lines[1];

        ASSERT_EQ(sectionOf(lines[2]), "environment") << lines[2];
        EXPECT_EQ(numberField(lines[2], "updated"), 255.0) << lines[2];
        const double temperature = numberField(lines[2], "temperature").value_or(-1.0);
        const double humidity = numberField(lines[2], "humidity").value_or(-1.0);
        const double pressure = numberField(lines[2], "pressure").value_or(-1.0);
        const double seaLevel = numberField(lines[2], "seaLevelPressure").value_or(-1.0);
        EXPECT_GE(temperature, 15.0) << lines[2];
        EXPECT_LE(temperature, 30.0) << lines[2];
        EXPECT_GE(humidity, 30.0) << lines[2];
        EXPECT_LE(humidity, 80.0) << lines[2];
        EXPECT_GE(pressure, 1000.0) << lines[2];
        EXPECT_LE(pressure, 1020.0) << lines[2];
        EXPECT_GT(seaLevel, pressure) << lines[2];
        EXPECT_LT(seaLevel, pressure + 10.0) << lines[2];
    }

    // Watching: every section arrives, each update once (a reader that did
    // not clear the updated bytes would print every few milliseconds). The
    // updates so far are taken first, so only new ones count.
    {
        SharedBlockReader earlier(block.name());
        for (std::size_t updated : {0x01, 0x06, 0xC1}) {
            earlier.write(updated, 0);
        }
        const int framesBefore = goodFrames();
        ChildProcess watcher({kTool, "--name", block.name()});
        std::map<std::string, int> seen;
        const auto deadline = std::chrono::steady_clock::now() + kReceptionGuard;
        while ((seen["acceleration"] < 10 || seen["intensity"] < 2 || seen["environment"] < 1) &&
               std::chrono::steady_clock::now() < deadline) {
            const auto line = watcher.readLine(1s);
            if (line) {
                ++seen[sectionOf(*line)];
            }
        }
        watcher.signal(SIGTERM);
        const ToolRun run = watcher.finish();
        for (const std::string& line : linesOf(run.out)) {
            ++seen[sectionOf(line)];
        }
        const int frames = goodFrames() - framesBefore;
        EXPECT_EQ(run.exitStatus, 0) << run.err;
        EXPECT_GE(seen["acceleration"], 10);
        EXPECT_GE(seen["intensity"], 2);
        EXPECT_GE(seen["environment"], 1);
        EXPECT_LE(seen["acceleration"], frames / 5 + 2) << frames << " frames";
        EXPECT_LE(seen["intensity"], frames / 25 + 2) << frames << " frames";
        EXPECT_LE(seen["environment"], frames / 100 + 2) << frames << " frames";
        EXPECT_EQ(seen.size(), 3u) << "only the three sections";
    }

    // At rest, the last copy holds the last five frames of a group, which the
    // history ring still has.
    ASSERT_TRUE(stopAndComplete(control));
    EXPECT_TRUE(view.failures().empty()) << view.failureText();
    int last = rig.lastFrameIndex();
    while (last % 5 != 4) {
        last = (last + kHistoryLength - 1) % kHistoryLength;
    }
    SharedBlockReader reader(block.name());
    ASSERT_TRUE(reader.isOpen());
    for (std::size_t i = 0; i < 5; ++i) {
        const HistoryRecord& record = rig.state.history[static_cast<std::size_t>(last - 4) + i];
        EXPECT_EQ(reader.sample(0x10, i), record.accelX) << "element " << i;
        EXPECT_EQ(reader.sample(0x40, i), record.accelY) << "element " << i;
        EXPECT_EQ(reader.sample(0x70, i), record.accelZ) << "element " << i;
    }
}

} // namespace
} // namespace kelvora::test
