// The line's health as the receive side reports it, and the reopening of a
// lost line: a pseudo-terminal that goes quiet, one whose far end closes (the
// hang-up of an unplugged adapter), and kelvora-sim killed and started again
// on the same COM number. Timings are shortened; the tests wait for the
// states, never for a time.
#include "../core/PipelineRig.h"
#include "PseudoTerminal.h"
#include "core/SensorFrame.h"
#include "link/ReceptionControl.h"
#include "link/SerialPort.h"
#include "support/Reception.h"
#include "support/TemporaryFolder.h"
#include "support/TestNames.h"
#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <sys/ioctl.h>
#include <sys/wait.h>

namespace kelvora::test {
namespace {

using namespace std::chrono_literals;
constexpr auto kReadTimeout = 100ms;
constexpr int kComNumber = 183;

// Counts the recordings the receive thread closes.
class ClosingRecorder : public RecorderHook {
public:
    void recordFrame(const MeasurementState&) override {}
    void countDown() override {}
    void closeRecording() override { closes.fetch_add(1, std::memory_order_relaxed); }
    std::atomic<int> closes{0};
};

// Counts the opens too: each retry is one.
class OpenCountingDevice : public CountingDevice {
public:
    using CountingDevice::CountingDevice;
    bool open(const std::string& path) override {
        opens.fetch_add(1, std::memory_order_relaxed);
        return CountingDevice::open(path);
    }
    std::atomic<int> opens{0};
};

class LineHealth : public ::testing::Test {
protected:
    LineHealth() { rig.pipeline.setRecorder(&recorder); }
    void TearDown() override { control.shutdown(); }

    int goodFrames() const { return rig.state.goodFrameCount; }
    bool reaches(LineState state) {
        return waitFor([&] { return control.lineState() == state; }, kReceptionGuard);
    }
    // The line the port path names, replaced while the receive thread asks.
    void plugIn() {
        auto line = std::make_unique<PseudoTerminal>();
        std::lock_guard lock(mutex_);
        line_ = std::move(line);
        path_ = line_->slavePath();
    }
    void unplug() {
        std::lock_guard lock(mutex_);
        line_->closeMaster();
        line_->releaseHolder();
    }
    void send(int frames) {
        const auto bytes = framesOf(frames);
        std::lock_guard lock(mutex_);
        line_->write(bytes.data(), bytes.size());
    }
    std::string path() {
        std::lock_guard lock(mutex_);
        return path_;
    }
    void startReceivingOnALine(bool reconnect) {
        plugIn();
        portPath = [this](int) { return path(); };
        control.setReconnect(reconnect);
        control.StartReceive(0);
        ASSERT_EQ(control.runState(), ReceptionControl::Running);
        send(20);
        ASSERT_TRUE(waitFor([&] { return goodFrames() == 20; }, kReceptionGuard));
        EXPECT_EQ(control.lineState(), LineState::Receiving);
    }

    TemporaryFolder temporary_{"kelvora-line-health"};
    SimulatorOnCom simulator_{KELVORA_SIM_PATH, kComNumber, temporary_.path()};
    PipelineRig rig;
    ClosingRecorder recorder;
    SerialPort port{kReadTimeout};
    OpenCountingDevice device{port};
    RecordingView view;
    std::mutex mutex_;
    std::unique_ptr<PseudoTerminal> line_;
    std::string path_;
    std::function<std::string(int)> portPath;
    ReceptionControl control{rig.pipeline, device, view,
                             [this](int index) { return portPath(index); },
                             ReceptionTimings{10ms, 2, 400ms, 200ms}};
};

TEST_F(LineHealth, ASilentLineShowsNoDataAndReceivesAgainByItself) {
    startReceivingOnALine(true);
    ASSERT_TRUE(reaches(LineState::NoData));
    EXPECT_EQ(control.runState(), ReceptionControl::Running);
    EXPECT_FALSE(port.lineLost()) << "a silent line is not a lost one";
    const std::uint32_t before = control.framesReceived();
    send(20);
    EXPECT_TRUE(reaches(LineState::Receiving));
    EXPECT_TRUE(waitFor([&] { return control.framesReceived() == before + 20; }, kReceptionGuard))
        << control.framesReceived() - before;
    ASSERT_TRUE(stopAndComplete(control));
    EXPECT_EQ(control.lineState(), LineState::Stopped);
}

// How the far end goes: its master closed (reads fail with EIO), or the
// terminal hung up under every opener (reads end at once, poll says so).
enum class HangUp { MasterClosed, TerminalHungUp };
struct HangUpCase {
    const char* name;
    HangUp way;
};
void PrintTo(const HangUpCase& c, std::ostream* os) {
    *os << c.name;
}

class LineHangUp : public LineHealth, public ::testing::WithParamInterface<HangUpCase> {
protected:
    void hangUp() {
        if (GetParam().way == HangUp::MasterClosed) {
            unplug();
            return;
        }
        std::lock_guard lock(mutex_);
        if (::ioctl(line_->holder(), TIOCVHANGUP) != 0) {
            hungUp_ = false; // needs CAP_SYS_ADMIN
            return;
        }
        hungUp_ = true;
        line_->closeMaster();
        line_->releaseHolder();
    }
    bool hungUp_ = true;
};

TEST_P(LineHangUp, IsReopenedEveryRetryUntilTheDeviceIsBackWithTheRecordingClosed) {
    startReceivingOnALine(true);
    const int closesBefore = recorder.closes;
    hangUp();
    if (!hungUp_) {
        GTEST_SKIP() << "hanging up a terminal needs CAP_SYS_ADMIN";
    }
    ASSERT_TRUE(reaches(LineState::Retrying));
    EXPECT_GT(recorder.closes, closesBefore) << "the recording open at the failure is closed";
    EXPECT_EQ(control.runState(), ReceptionControl::Running);

    // Plugged in again: the next retry opens it, and its frames are received.
    plugIn();
    ASSERT_TRUE(reaches(LineState::NoData));
    send(20);
    ASSERT_TRUE(reaches(LineState::Receiving));
    EXPECT_TRUE(waitFor([&] { return goodFrames() == 40; }, kReceptionGuard)) << goodFrames();
    ASSERT_TRUE(stopAndComplete(control));
    EXPECT_FALSE(port.isOpen());
    EXPECT_TRUE(view.failures().empty()) << view.failureText();
}

INSTANTIATE_TEST_SUITE_P(Ways, LineHangUp,
                         ::testing::Values(HangUpCase{"MasterClosed", HangUp::MasterClosed},
                                           HangUpCase{"TerminalHungUp", HangUp::TerminalHungUp}),
                         CaseName());

TEST_F(LineHealth, AStopWhileRetryingEndsTheRunWithoutSpinning) {
    startReceivingOnALine(true);
    unplug();
    ASSERT_TRUE(reaches(LineState::Retrying));
    // The port is closed between tries: no reads at all while retrying.
    const std::uint64_t reads = port.deviceReads();
    const std::uint64_t silent = device.silentReads();
    const int opens = device.opens;
    ASSERT_TRUE(waitFor([&] { return device.opens >= opens + 3; }, kReceptionGuard));
    EXPECT_EQ(control.lineState(), LineState::Retrying);
    ASSERT_TRUE(stopAndComplete(control));
    EXPECT_EQ(control.runState(), ReceptionControl::Idle);
    EXPECT_EQ(control.lineState(), LineState::Stopped);
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(view.last(), "idle");
    EXPECT_LE(port.deviceReads(), reads + 2);
    EXPECT_LE(device.silentReads(), silent + 2);
}

TEST_F(LineHealth, WithoutReconnectALostLineStaysOpenAndShowsNoData) {
    startReceivingOnALine(false);
    unplug();
    ASSERT_TRUE(reaches(LineState::NoData));
    ASSERT_TRUE(waitFor([&] { return port.lineLost(); }, kReceptionGuard));
    const int closes = recorder.closes;
    // The line stays lost and the run goes on as before, until the stop.
    const std::uint64_t silent = device.silentReads();
    ASSERT_TRUE(waitFor([&] { return device.silentReads() >= silent + 3; }, kReceptionGuard));
    EXPECT_EQ(control.lineState(), LineState::NoData);
    EXPECT_EQ(recorder.closes, closes);
    EXPECT_EQ(control.runState(), ReceptionControl::Running);
    ASSERT_TRUE(stopAndComplete(control));
}

TEST_F(LineHealth, AKilledSimulatorIsReceivedAgainOnceRestartedOnTheSameComNumber) {
    portPath = comPortPath;
    ASSERT_TRUE(simulator_.start());
    control.setReconnect(true);
    control.StartReceive(kComNumber - 1);
    ASSERT_EQ(control.runState(), ReceptionControl::Running);
    ASSERT_TRUE(waitFor([&] { return goodFrames() > 50; }, kReceptionGuard));

    const int status = simulator_.kill();
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    ASSERT_TRUE(reaches(LineState::Retrying));

    ASSERT_TRUE(simulator_.start());
    const int afterRestart = goodFrames();
    EXPECT_TRUE(waitFor([&] { return goodFrames() > afterRestart + 50; }, kReceptionGuard));
    EXPECT_TRUE(reaches(LineState::Receiving));
    ASSERT_TRUE(stopAndComplete(control));
    EXPECT_TRUE(view.failures().empty()) << view.failureText();
}

} // namespace
} // namespace kelvora::test
