// kelvora-shm as a child process against a block this test publishes into:
// the three sections read back exactly, the watch that prints each update once
// and clears its updated byte, the busy acceleration section left alone, and
// the refusals (no block, a short block, bad options), and a block cut short
// while it is watched.
#include "SharedBlockReader.h"
#include "ShmLines.h"
#include "output/PublicationBlock.h"
#include "support/ChildProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace kelvora::test {
namespace {

using namespace std::chrono_literals;

const std::string kTool = KELVORA_SHM_PATH;

constexpr std::size_t kJmaUpdated = 0x01;
constexpr std::size_t kAccelBusy = 0x05;
constexpr std::size_t kAccelUpdated = 0x06;
constexpr std::size_t kEnvUpdated = 0xC1;

// Sample i of the group: values whose %.17g text is long, tiny or huge.
double sampleX(int i) {
    return 0.1 * (i + 1);
}
double sampleY(int i) {
    return -1.0 / 3.0 * (i + 1);
}
double sampleZ(int i) {
    return 6.02e23 * (i + 1) + 1e-300;
}

class ShmTool : public ::testing::Test {
protected:
    void TearDown() override { ::shm_unlink(name.c_str()); }

    // Five frames' samples through the block, ending with one copy.
    void publishSamples() {
        for (int i = 0; i < 5; ++i) {
            state.frameIndex = i;
            state.accelX = sampleX(i);
            state.accelY = sampleY(i);
            state.accelZ = sampleZ(i);
            block.publishAcceleration(state);
        }
    }
    void publishEnvironment() {
        state.temperature = 21.7;
        state.humidity = 0.1 + 0.2;
        state.pressure = 1013.25;
        state.seaLevelPressure = 1017.8;
        block.publishEnvironment(state);
    }
    void publishIntensity(double peak) {
        state.peakJmaIntensity = peak;
        block.publishIntensity(state);
    }

    void expectSamples(const std::string& line) {
        const std::vector<double> x = arrayField(line, "x");
        const std::vector<double> y = arrayField(line, "y");
        const std::vector<double> z = arrayField(line, "z");
        ASSERT_EQ(x.size(), 6u) << line;
        ASSERT_EQ(y.size(), 6u) << line;
        ASSERT_EQ(z.size(), 6u) << line;
        for (int i = 0; i < 5; ++i) {
            const auto k = static_cast<std::size_t>(i);
            EXPECT_EQ(x[k], sampleX(i)) << line;
            EXPECT_EQ(y[k], sampleY(i)) << line;
            EXPECT_EQ(z[k], sampleZ(i)) << line;
        }
        EXPECT_EQ(x[5], 0.0);
        EXPECT_EQ(y[5], 0.0);
        EXPECT_EQ(z[5], 0.0);
    }
    void expectEnvironment(const std::string& line) {
        EXPECT_EQ(numberField(line, "temperature"), 21.7) << line;
        EXPECT_EQ(numberField(line, "humidity"), 0.1 + 0.2) << line;
        EXPECT_EQ(numberField(line, "pressure"), 1013.25) << line;
        EXPECT_EQ(numberField(line, "seaLevelPressure"), 1017.8) << line;
    }

    std::string name = uniqueBlockName("tool");
    PublicationBlock block{name};
    MeasurementState state;
};

TEST_F(ShmTool, HelpPrintsTheUsage) {
    const ToolRun run = runTool({kTool, "--help"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out.rfind("Usage: kelvora-shm", 0), 0u) << run.out;
    EXPECT_TRUE(run.err.empty()) << run.err;
}

TEST_F(ShmTool, BadOptionsGiveOneLineOnStandardErrorAndStatusTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus"}, {"--name"}, {"--name", ""}, {"stray"}, {"--once", "-j"}, {"--once", "--"},
    };
    for (const auto& args : cases) {
        std::vector<std::string> argv{kTool};
        argv.insert(argv.end(), args.begin(), args.end());
        const ToolRun run = runTool(argv);
        SCOPED_TRACE(args.back());
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_TRUE(run.out.empty()) << run.out;
        EXPECT_EQ(run.err.rfind("kelvora-shm: ", 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

TEST_F(ShmTool, AMissingBlockIsAnErrorAndIsNotCreated) {
    for (const bool once : {true, false}) {
        SCOPED_TRACE(once ? "once" : "watch");
        std::vector<std::string> argv{kTool, "--name", name};
        if (once) {
            argv.push_back("--once");
        }
        const ToolRun run = runTool(argv);
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_TRUE(run.out.empty()) << run.out;
        EXPECT_EQ(run.err.rfind("kelvora-shm: no Kelvora block " + name, 0), 0u) << run.err;
        EXPECT_FALSE(blockExists(name));
    }
}

// Mapping past the end of a short block would end in SIGBUS at the first read.
TEST_F(ShmTool, ABlockShorterThanTheLayoutIsRefused) {
    { SharedBlockReader shortBlock(name, 16); }
    const ToolRun run = runTool({kTool, "--name", name, "--once"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_NE(run.err.find("16 bytes"), std::string::npos) << run.err;
}

// --once shows the sections as they are, with doubles that read back exactly,
// and leaves the updated bytes for other readers.
TEST_F(ShmTool, OncePrintsTheThreeSectionsAsJsonLinesThatReadBackExactly) {
    ASSERT_TRUE(block.create());
    publishSamples();
    publishIntensity(4.5);
    publishEnvironment();

    const ToolRun run = runTool({kTool, "--name", name, "--once", "--json"});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = run.out.find('\n', at)) != std::string::npos;
         at = end + 1) {
        lines.push_back(run.out.substr(at, end - at));
    }
    ASSERT_EQ(lines.size(), 3u) << run.out;

    EXPECT_EQ(sectionOf(lines[0]), "acceleration");
    EXPECT_EQ(numberField(lines[0], "busy"), 0.0);
    EXPECT_EQ(numberField(lines[0], "updated"), 255.0);
    expectSamples(lines[0]);

    EXPECT_EQ(lines[1], "{\"section\":\"intensity\",\"busy\":0,\"updated\":255,\"code\":75,"
                        "\"intensity\":4.5}");

    EXPECT_EQ(sectionOf(lines[2]), "environment");
    EXPECT_EQ(numberField(lines[2], "busy"), 0.0);
    EXPECT_EQ(numberField(lines[2], "updated"), 255.0);
    expectEnvironment(lines[2]);

    SharedBlockReader reader(name);
    EXPECT_EQ(reader.byte(kAccelUpdated), 0xFF);
    EXPECT_EQ(reader.byte(kJmaUpdated), 0xFF);
    EXPECT_EQ(reader.byte(kEnvUpdated), 0xFF);
}

// Text lines, and the block found by the name as the monitor's documentation
// writes it, without the leading slash.
TEST_F(ShmTool, OncePrintsTextLinesAndFindsANameWithoutItsSlash) {
    ASSERT_TRUE(block.create());
    publishSamples();
    publishIntensity(-3.0);
    publishEnvironment();

    const ToolRun run = runTool({kTool, "--once", "--name", name.substr(1)});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto first = run.out.find('\n');
    const auto second = run.out.find('\n', first + 1);
    ASSERT_NE(second, std::string::npos) << run.out;
    const std::string acceleration = run.out.substr(0, first);
    const std::string intensity = run.out.substr(first + 1, second - first - 1);
    const std::string environment = run.out.substr(second + 1);

    EXPECT_EQ(acceleration.rfind("acceleration busy=0 updated=255 x=0.10000000000000001,", 0), 0u)
        << acceleration;
    expectSamples(acceleration);
    EXPECT_EQ(intensity, "intensity busy=0 updated=255 code=0 intensity=-3.0");
    EXPECT_EQ(environment.rfind("environment busy=0 updated=255 temperature=", 0), 0u)
        << environment;
    expectEnvironment(environment);
}

// Watching: each update is printed once, and its updated byte is 0 again by
// the time the line is out.
TEST_F(ShmTool, WatchPrintsEachUpdateOnceAndClearsItsUpdatedByte) {
    ASSERT_TRUE(block.create());
    SharedBlockReader reader(name);
    ChildProcess watcher({kTool, "--name", name, "--json"});
    EXPECT_EQ(watcher.readLine(100ms), std::nullopt) << "nothing updated yet";

    publishEnvironment();
    auto line = watcher.readLine(10s);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(sectionOf(*line), "environment") << *line;
    expectEnvironment(*line);
    EXPECT_EQ(reader.byte(kEnvUpdated), 0);

    publishIntensity(2.3);
    line = watcher.readLine(10s);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(*line, "{\"section\":\"intensity\",\"busy\":0,\"updated\":255,\"code\":53,"
                     "\"intensity\":2.3}");
    EXPECT_EQ(reader.byte(kJmaUpdated), 0);

    publishSamples();
    line = watcher.readLine(10s);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(sectionOf(*line), "acceleration") << *line;
    expectSamples(*line);
    EXPECT_EQ(reader.byte(kAccelUpdated), 0);

    EXPECT_EQ(watcher.readLine(200ms), std::nullopt) << "each update once";
    watcher.signal(SIGTERM);
    const ToolRun run = watcher.finish();
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_TRUE(run.err.empty()) << run.err;
}

// While a copy runs (busy 1) the updated byte may already be 0xFF from the one
// before; the watcher waits for the copy to end.
TEST_F(ShmTool, WatchLeavesTheAccelerationSectionAloneWhileItIsBusy) {
    ASSERT_TRUE(block.create());
    SharedBlockReader reader(name);
    ChildProcess watcher({kTool, "--name", name});

    reader.write(kAccelBusy, 1);
    reader.write(kAccelUpdated, 0xFF);
    EXPECT_EQ(watcher.readLine(300ms), std::nullopt);
    EXPECT_EQ(reader.byte(kAccelUpdated), 0xFF) << "not cleared while busy";

    publishSamples(); // ends with busy 0, updated 0xFF
    const auto line = watcher.readLine(10s);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(sectionOf(*line), "acceleration") << *line;
    expectSamples(*line);
    EXPECT_EQ(reader.byte(kAccelUpdated), 0);

    watcher.signal(SIGINT);
    EXPECT_EQ(watcher.finish().exitStatus, 0);
}

// Another program cuts the block short (ftruncate, `truncate -s 0`) while it
// is watched: the watch's next access would raise SIGBUS. It ends with status
// 1 and one line instead, and prints nothing of the lost block.
TEST_F(ShmTool, WatchEndsWithOneLineWhenTheBlockIsCutShort) {
    ASSERT_TRUE(block.create());
    ChildProcess watcher({kTool, "--name", name, "--json"});
    publishEnvironment();
    ASSERT_TRUE(watcher.readLine(10s).has_value()) << "the watch has started";

    const int fd = ::shm_open(name.c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 0), 0);
    ::close(fd);

    const ToolRun run = watcher.finish(10s);
    EXPECT_EQ(run.exitStatus, 1) << "-1: ended by a signal";
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "kelvora-shm: the block " + name + " was cut short by another program\n");
}

} // namespace
} // namespace kelvora::test
