// Reception from the simulated sensor, found through its COM number as the
// monitor finds it: frames at the sensor's pace, stop and restart, and the
// simulator dying under a running reception (the unplugged cable).
#include "../core/PipelineRig.h"
#include "link/ReceptionControl.h"
#include "link/SerialPort.h"
#include "support/Reception.h"
#include "support/TemporaryFolder.h"
#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace kelvora::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr auto kReadTimeout = 200ms;
constexpr int kComNumber = 177;

double processCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

class ReceptionFromSimulator : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(simulator_.start()); }
    void TearDown() override { control.shutdown(); }

    int goodFrames() const { return rig.state.goodFrameCount; }

    TemporaryFolder temporary_{"kelvora-simrx"};
    // Made before the control, so its port lookup sees the test's own links.
    SimulatorOnCom simulator_{KELVORA_SIM_PATH, kComNumber, temporary_.path()};
    PipelineRig rig;
    SerialPort port{kReadTimeout};
    CountingDevice device{port};
    RecordingView view;
    ReceptionControl control{rig.pipeline, device, view, comPortPath, ReceptionTimings{10ms, 2}};
};

TEST_F(ReceptionFromSimulator, FramesArriveAtTheSensorsPaceAndARestartBeginsAtFrameIndexZero) {
    const std::vector<int> present = PortMap().presentPorts();
    ASSERT_NE(std::find(present.begin(), present.end(), kComNumber), present.end());
    const auto started = Clock::now();
    control.StartReceive(kComNumber - 1);
    ASSERT_EQ(control.runState(), ReceptionControl::Running) << view.failureText();
    // Two seconds of the sensor's frames arrive. What waited on the line was
    // dropped at the start, so since then 100 a second have come, and the
    // second at most that a simulator fallen behind catches up on; a busy
    // machine gets fewer, never more.
    ASSERT_TRUE(waitFor([&] { return goodFrames() >= 200; }, kReceptionGuard)) << goodFrames();
    ASSERT_TRUE(stopAndComplete(control));
    const int frames = goodFrames();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    EXPECT_LE(frames, seconds * 100.0 + 120.0) << "paced at 100 frames a second";
    EXPECT_FALSE(port.isOpen());

    control.StartReceive(kComNumber - 1);
    ASSERT_EQ(control.runState(), ReceptionControl::Running) << view.failureText();
    ASSERT_TRUE(waitFor([&] { return goodFrames() > frames + 10; }, kReceptionGuard));
    ASSERT_TRUE(stopAndComplete(control));
    // frameIndex counts this run's frames only.
    EXPECT_LE(rig.state.frameIndex, goodFrames() - frames);
    EXPECT_TRUE(view.failures().empty()) << view.failureText();
}

TEST_F(ReceptionFromSimulator, ASimulatorThatDiesNeitherSpinsTheThreadNorBlocksTheStop) {
    control.StartReceive(kComNumber - 1);
    ASSERT_EQ(control.runState(), ReceptionControl::Running) << view.failureText();
    ASSERT_TRUE(waitFor([&] { return goodFrames() > 20; }, kReceptionGuard));

    ASSERT_EQ(simulator_.stop(), 0);
    // The device stays gone for two seconds, and until the thread has met it
    // a few times however busy the machine is: under 5 % of one core, and one
    // read a time-out at most.
    const double before = processCpuSeconds();
    const std::uint64_t silentBefore = device.silentReads();
    const auto gone = Clock::now();
    std::this_thread::sleep_for(2s);
    ASSERT_TRUE(waitFor([&] { return device.silentReads() >= silentBefore + 5; }, kReceptionGuard));
    const double used = processCpuSeconds() - before;
    const auto timeouts = static_cast<std::uint64_t>((Clock::now() - gone) / kReadTimeout);
    EXPECT_LT(used, 0.1) << "the receive thread must wait out its read time-out, not spin";
    EXPECT_LE(device.silentReads() - silentBefore, timeouts + 5);

    ASSERT_TRUE(stopAndComplete(control));
    EXPECT_EQ(control.runState(), ReceptionControl::Idle);
    EXPECT_FALSE(port.isOpen());
}

} // namespace
} // namespace kelvora::test
