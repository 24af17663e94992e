// The sensor unplugged in the middle of a run and plugged back in: the line
// gone under a running reception (a pseudo-terminal's far end closed, or the
// simulator killed with SIGKILL, which leaves its COM link behind), then a new
// device. The receive thread must wait out its reads instead of spinning, the
// user's stop must end the run, a start while the device is away must fail
// with its message, and a start once it is back must receive its frames.
#include "../core/PipelineRig.h"
#include "PseudoTerminal.h"
#include "core/SensorFrame.h"
#include "link/PortMap.h"
#include "link/ReceptionControl.h"
#include "link/SerialPort.h"
#include "support/Reception.h"
#include "support/TemporaryFolder.h"
#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>

namespace kelvora::test {
namespace {

using namespace std::chrono_literals;
constexpr auto kReadTimeout = 200ms;
constexpr int kComNumber = 179;

class Unplug : public ::testing::Test {
protected:
    void TearDown() override { control.shutdown(); }

    int goodFrames() const { return rig.state.goodFrameCount; }

    void stopAndComplete() {
        ASSERT_TRUE(kelvora::test::stopAndComplete(control));
        ASSERT_FALSE(port.isOpen());
    }

    // Starts a run and notes the time and the port's device reads so far.
    void startRun(int portIndex) {
        readsAtStart_ = port.deviceReads(); // no thread yet
        framesAtStart_ = goodFrames();
        startedAt_ = std::chrono::steady_clock::now();
        control.StartReceive(portIndex);
    }
    // Stops the run and checks its device reads (counted once the thread is
    // joined): one per frame and one per read time-out, with room to spare.
    // A busy loop on a gone device makes hundreds of thousands a second.
    void stopAndCheckReads() {
        stopAndComplete();
        const auto elapsed = std::chrono::steady_clock::now() - startedAt_;
        const std::uint64_t reads = port.deviceReads() - readsAtStart_;
        const auto frames = static_cast<std::uint64_t>(goodFrames() - framesAtStart_);
        const auto timeouts = static_cast<std::uint64_t>(elapsed / kReadTimeout);
        EXPECT_LE(reads, frames + 2 * timeouts + 20)
            << "the receive thread reads in a busy loop while the device is gone";
    }
    // The device stays gone for a second, and until the thread has met it a
    // few times however busy the machine is.
    void keepUnplugged() {
        const std::uint64_t silentBefore = device.silentReads();
        std::this_thread::sleep_for(1s);
        ASSERT_TRUE(
            waitFor([&] { return device.silentReads() >= silentBefore + 3; }, kReceptionGuard));
    }

    TemporaryFolder temporary_{"kelvora-unplug"};
    // Points XDG_DATA_HOME and HOME at the test's folder before any lookup.
    SimulatorOnCom simulator_{KELVORA_SIM_PATH, kComNumber, temporary_.path()};
    PipelineRig rig;
    SerialPort port{kReadTimeout};
    CountingDevice device{port};
    RecordingView view;
    // The device a port index names; the control asks on every start.
    std::function<std::string(int)> portPath;
    std::uint64_t readsAtStart_ = 0;
    int framesAtStart_ = 0;
    std::chrono::steady_clock::time_point startedAt_;
    ReceptionControl control{rig.pipeline, device, view,
                             [this](int index) { return portPath(index); },
                             ReceptionTimings{10ms, 2}};
};

TEST_F(Unplug, AClosedLineNeitherSpinsNorBlocksTheStopAndANewLineReceivesAfterARestart) {
    auto line = std::make_unique<PseudoTerminal>();
    portPath = [&line](int) { return line->slavePath(); };
    startRun(0);
    ASSERT_EQ(control.runState(), ReceptionControl::Running);
    const auto bytes = framesOf(20);
    line->write(bytes.data(), bytes.size());
    ASSERT_TRUE(waitFor([&] { return goodFrames() == 20; }, kReceptionGuard));

    // Unplugged: reads fail at once (EIO), for as long as the port stays open.
    line->closeMaster();
    line->releaseHolder();
    keepUnplugged();
    stopAndCheckReads();
    EXPECT_EQ(control.runState(), ReceptionControl::Idle);

    // Plugged back in as another device node: a new start receives from it.
    line = std::make_unique<PseudoTerminal>();
    control.StartReceive(0);
    ASSERT_EQ(control.runState(), ReceptionControl::Running);
    line->write(bytes.data(), bytes.size());
    EXPECT_TRUE(waitFor([&] { return goodFrames() == 40; }, kReceptionGuard)) << goodFrames();
    stopAndComplete();
    EXPECT_TRUE(view.failures().empty()) << view.failureText();
}

TEST_F(Unplug, AKilledSimulatorIsStoppedAndASimulatorOnTheSameComNumberIsReceivedAfterARestart) {
    // As the monitor finds the device: through the COM number's link.
    portPath = comPortPath;

    ASSERT_TRUE(simulator_.start());
    startRun(kComNumber - 1);
    ASSERT_EQ(control.runState(), ReceptionControl::Running);
    ASSERT_TRUE(waitFor([&] { return goodFrames() > 50; }, kReceptionGuard));

    // Pulled out: the device goes without a word, its COM link stays behind.
    const int status = simulator_.kill();
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    keepUnplugged();
    stopAndCheckReads();

    // A start while the device is away fails with its message, at once.
    EXPECT_EQ(portPath(kComNumber - 1), "") << "a stale link names nothing";
    control.StartReceive(kComNumber - 1);
    EXPECT_EQ(control.runState(), ReceptionControl::Idle);
    EXPECT_EQ(view.failures(), std::vector<StartFailure>{StartFailure::CannotOpen});

    // Plugged back in: a new simulator takes the same COM number over.
    ASSERT_TRUE(simulator_.start());
    control.StartReceive(kComNumber - 1);
    ASSERT_EQ(control.runState(), ReceptionControl::Running);
    const int afterReplug = goodFrames();
    EXPECT_TRUE(waitFor([&] { return goodFrames() > afterReplug + 50; }, kReceptionGuard));
    stopAndComplete();
    EXPECT_EQ(view.failures().size(), 1u);
}

} // namespace
} // namespace kelvora::test
