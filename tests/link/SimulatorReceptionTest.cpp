// Reception from the simulated sensor, found through its COM number as the
// monitor finds it: frames at the sensor's pace, stop and restart, and the
// simulator dying under a running reception (the unplugged cable).
#include "../core/PipelineRig.h"
#include "link/PortMap.h"
#include "link/ReceptionControl.h"
#include "link/SerialPort.h"
#include "support/SimulatorProcess.h"
#include "support/TemporaryFolder.h"
#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace kelvora::test {
namespace {

using namespace std::chrono_literals;
constexpr auto kReadTimeout = 200ms;
constexpr int kComNumber = 177;

class SilentView : public ReceptionView {
public:
    void showReceiving() override {}
    void showIdle() override {}
    void showStartFailure(StartFailure reason) override {
        messages += "start failure " + std::to_string(static_cast<int>(reason)) + "\n";
    }
    std::string messages;
};

double processCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

class ReceptionFromSimulator : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_DATA_HOME", home_.c_str(), 1);
        ::setenv("HOME", home_.c_str(), 1);

        const std::string com = std::to_string(kComNumber);
        simulator_.emplace(KELVORA_SIM_PATH, std::vector<std::string>{"--com", com});
        // The announcement line comes once the link exists.
        const std::optional<std::string> line = simulator_->announcement(20s);
        ASSERT_TRUE(line.has_value());
        ASSERT_EQ(line->rfind("Simulated sensor on COM" + com + " (", 0), 0u) << *line;
    }

    void TearDown() override {
        control.shutdown();
        killSimulator();
    }

    void killSimulator() {
        if (simulator_) {
            simulator_->stop();
        }
    }

    int goodFrames() const { return rig.state.goodFrameCount; }

    void stopAndComplete() {
        control.RequestStop();
        ASSERT_TRUE(waitFor([&] { return control.runState() == ReceptionControl::Idle; },
                            kReadTimeout * 3 + 300ms));
        control.completeStop();
    }

    TemporaryFolder temporary_{"kelvora-simrx"};
    const std::string home_ = temporary_.string();
    std::optional<SimulatorProcess> simulator_;
    PipelineRig rig;
    SerialPort port{kReadTimeout};
    SilentView view;
    // Made after SetUp has pointed XDG_DATA_HOME at the test's own folder.
    PortMap ports() const { return PortMap("/dev", PortMap::defaultLinkDirectory()); }
    ReceptionControl control{rig.pipeline, port, view,
                             [this](int index) { return ports().devicePath(index + 1); },
                             ReceptionTimings{10ms, 2}};
};

TEST_F(ReceptionFromSimulator, FramesArriveAtTheSensorsPaceAndARestartBeginsAtFrameIndexZero) {
    const std::vector<int> present = ports().presentPorts();
    ASSERT_NE(std::find(present.begin(), present.end(), kComNumber), present.end());
    control.StartReceive(kComNumber - 1);
    ASSERT_EQ(control.runState(), ReceptionControl::Running) << view.messages;
    std::this_thread::sleep_for(2s);
    const int frames = goodFrames();
    EXPECT_GT(frames, 150) << "about 100 frames a second";
    EXPECT_LT(frames, 260);
    stopAndComplete();
    EXPECT_FALSE(port.isOpen());

    control.StartReceive(kComNumber - 1);
    ASSERT_EQ(control.runState(), ReceptionControl::Running) << view.messages;
    ASSERT_TRUE(waitFor([&] { return goodFrames() > frames + 10; }, 3s));
    stopAndComplete();
    // frameIndex counts this run's frames only.
    EXPECT_LE(rig.state.frameIndex, goodFrames() - frames);
    EXPECT_TRUE(view.messages.empty()) << view.messages;
}

TEST_F(ReceptionFromSimulator, ASimulatorThatDiesNeitherSpinsTheThreadNorBlocksTheStop) {
    control.StartReceive(kComNumber - 1);
    ASSERT_EQ(control.runState(), ReceptionControl::Running) << view.messages;
    ASSERT_TRUE(waitFor([&] { return goodFrames() > 20; }, 3s));

    killSimulator();
    std::this_thread::sleep_for(100ms);
    const double before = processCpuSeconds();
    std::this_thread::sleep_for(2s);
    EXPECT_LT(processCpuSeconds() - before, 0.1) << "under 5 % of one core over two seconds";

    stopAndComplete();
    EXPECT_EQ(control.runState(), ReceptionControl::Idle);
    EXPECT_FALSE(port.isOpen());
}

} // namespace
} // namespace kelvora::test
