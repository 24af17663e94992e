// Reception runs on a real pseudo-terminal: start, frames, stop, restart, a
// busy port, a silent line, an unplugged device, and every start failure.
#include "link/ReceptionControl.h"
#include "../core/PipelineRig.h"
#include "PseudoTerminal.h"
#include "core/PipelineHooks.h"
#include "core/SensorFrame.h"
#include "link/SerialPort.h"
#include "support/Reception.h"
#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace kelvora::test {
namespace {

using namespace std::chrono_literals;

constexpr auto kReadTimeout = 100ms;

// Sees every frame's index as the recorder would, and the close at run end.
class FrameIndexProbe : public RecorderHook {
public:
    void recordFrame(const MeasurementState& state) override {
        std::lock_guard lock(mutex_);
        indices_.push_back(state.frameIndex);
    }
    void countDown() override {}
    void closeRecording() override { closes_.fetchAdd(1); }

    std::vector<int> indices() const {
        std::lock_guard lock(mutex_);
        return indices_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        indices_.clear();
    }
    int closes() const { return closes_; }

private:
    mutable std::mutex mutex_;
    std::vector<int> indices_;
    Relaxed<int> closes_{0};
};

class ReceptionOnPseudoTerminal : public ::testing::Test {
protected:
    ReceptionOnPseudoTerminal() { rig.pipeline.setRecorder(&probe); }

    int goodFrames() const { return rig.state.goodFrameCount; }
    bool idle() const { return control.runState() == ReceptionControl::Idle; }

    PseudoTerminal line;
    PipelineRig rig;
    FrameIndexProbe probe;
    SerialPort port{kReadTimeout};
    CountingDevice device{port};
    RecordingView view;
    ReceptionControl control{rig.pipeline, device, view, [this](int) { return line.slavePath(); },
                             ReceptionTimings{0ms, 0}};
};

TEST_F(ReceptionOnPseudoTerminal, FramesArriveAreCountedAndAStopEndsTheRun) {
    control.StartReceive(0);
    ASSERT_EQ(control.runState(), ReceptionControl::Running);
    EXPECT_EQ(control.receiveActive(), 1);
    EXPECT_EQ(view.last(), "receiving");

    const auto bytes = framesOf(150);
    line.write(bytes.data(), bytes.size());
    ASSERT_TRUE(waitFor([&] { return goodFrames() == 150; }, kReceptionGuard)) << goodFrames();

    // On a line that has gone quiet the thread sees the request once its
    // current read times out (a read without a time-out would never return),
    // not some reads later.
    const std::uint64_t silentAtRequest = device.silentReads();
    control.RequestStop();
    EXPECT_EQ(control.stopRequested(), 1);
    ASSERT_TRUE(waitFor([&] { return idle(); }, kReceptionGuard)) << "the thread never ended";
    EXPECT_LE(device.silentReads(), silentAtRequest + 1) << "the request waited for more reads";
    EXPECT_EQ(probe.closes(), 1) << "the thread closes its recording when it ends";

    control.completeStop();
    EXPECT_EQ(rig.state.accelX, static_cast<double>(1.0f + 149.0f * 0.001f))
        << "the last frame's values";
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(control.receiveActive(), 0);
    EXPECT_EQ(control.stopRequested(), 0);
    EXPECT_EQ(view.last(), "idle");
}

TEST_F(ReceptionOnPseudoTerminal, NextStartOpensThePortAgainFromFrameIndexZero) {
    control.StartReceive(0);
    auto bytes = framesOf(37);
    line.write(bytes.data(), bytes.size());
    ASSERT_TRUE(waitFor([&] { return goodFrames() == 37; }, kReceptionGuard));
    ASSERT_TRUE(stopAndComplete(control));
    const int displayPhase = rig.state.displayPhase;
    probe.clear();

    control.StartReceive(0);
    ASSERT_EQ(control.runState(), ReceptionControl::Running);
    ASSERT_TRUE(port.isOpen());
    bytes = framesOf(5);
    line.write(bytes.data(), bytes.size());
    ASSERT_TRUE(waitFor([&] { return goodFrames() == 42; }, kReceptionGuard));
    EXPECT_EQ(probe.indices(), (std::vector<int>{0, 1, 2, 3, 4}));
    ASSERT_TRUE(stopAndComplete(control));
    EXPECT_EQ(rig.state.displayPhase, (displayPhase + 5) % 25) << "not reset by a new run";
}

TEST_F(ReceptionOnPseudoTerminal, StartWhileRunningLeavesTheRunAlone) {
    control.StartReceive(0);
    auto bytes = framesOf(10);
    line.write(bytes.data(), bytes.size());
    ASSERT_TRUE(waitFor([&] { return goodFrames() == 10; }, kReceptionGuard));
    control.StartReceive(0); // F3 again
    bytes = framesOf(10);
    line.write(bytes.data(), bytes.size());
    ASSERT_TRUE(waitFor([&] { return goodFrames() == 20; }, kReceptionGuard));
    EXPECT_EQ(probe.indices().back(), 19) << "frameIndex was not reset";
    ASSERT_TRUE(stopAndComplete(control));
}

TEST_F(ReceptionOnPseudoTerminal, StopWhenNotRunningDoesNothing) {
    control.RequestStop();
    EXPECT_EQ(control.stopRequested(), 0);
    control.completeStop();
    EXPECT_TRUE(view.events().empty());
}

TEST_F(ReceptionOnPseudoTerminal, ABusyPortFailsWithItsMessageAndTheControlsReturnToIdle) {
    SerialPort other{kReadTimeout};
    ASSERT_TRUE(other.open(line.slavePath()));

    control.StartReceive(0);
    EXPECT_EQ(view.events(), (std::vector<std::string>{
                                 "receiving", failureEvent(StartFailure::CannotOpen), "idle"}));
    EXPECT_EQ(control.runState(), ReceptionControl::Idle);
    EXPECT_EQ(control.receiveActive(), 0);
    EXPECT_EQ(control.stopRequested(), 0);

    other.close();
    control.StartReceive(0);
    EXPECT_EQ(control.runState(), ReceptionControl::Running) << "free again: opens";
    ASSERT_TRUE(stopAndComplete(control));
}

TEST_F(ReceptionOnPseudoTerminal, ASilenceInMidFrameDropsThePartialFrame) {
    control.StartReceive(0);
    const auto stray = framesOf(1);
    line.write(stray.data(), 21);
    // The line stays quiet until the thread has taken the stray bytes and a
    // read has timed out after them.
    ASSERT_TRUE(waitFor([&] { return device.bytes() == 21; }, kReceptionGuard));
    const std::uint64_t quietBefore = device.silentReads();
    ASSERT_TRUE(waitFor([&] { return device.silentReads() > quietBefore; }, kReceptionGuard));
    const auto bytes = framesOf(30);
    line.write(bytes.data(), bytes.size());
    ASSERT_TRUE(waitFor([&] { return goodFrames() == 30; }, kReceptionGuard)) << goodFrames();
    EXPECT_EQ(probe.indices().size(), 30u) << "no frame lost to a misaligned boundary";
    ASSERT_TRUE(stopAndComplete(control));
}

double processCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

TEST_F(ReceptionOnPseudoTerminal, AnUnpluggedDeviceNeitherSpinsNorBlocksTheStop) {
    control.StartReceive(0);
    const auto bytes = framesOf(20);
    line.write(bytes.data(), bytes.size());
    ASSERT_TRUE(waitFor([&] { return goodFrames() == 20; }, kReceptionGuard));

    line.closeMaster(); // reads now fail at once, forever
    // The device stays gone for two seconds, and until the thread has met it
    // a few times however busy the machine is. Waiting out its read time-outs
    // it uses next to no processor time, and reads once a time-out at most.
    const double before = processCpuSeconds();
    const std::uint64_t silentBefore = device.silentReads();
    const auto gone = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(2s);
    ASSERT_TRUE(waitFor([&] { return device.silentReads() >= silentBefore + 5; }, kReceptionGuard));
    const double used = processCpuSeconds() - before;
    const auto timeouts =
        static_cast<std::uint64_t>((std::chrono::steady_clock::now() - gone) / kReadTimeout);
    EXPECT_LT(used, 0.1) << "the receive thread must wait out its read time-out, not spin";
    EXPECT_LE(device.silentReads() - silentBefore, timeouts + 5);

    ASSERT_TRUE(stopAndComplete(control));
    EXPECT_EQ(control.runState(), ReceptionControl::Idle);
    EXPECT_EQ(view.last(), "idle");
}

TEST_F(ReceptionOnPseudoTerminal, ShutdownEndsARunningThreadAndClosesThePort) {
    control.StartReceive(0);
    ASSERT_EQ(control.runState(), ReceptionControl::Running);
    control.shutdown();
    EXPECT_EQ(control.runState(), ReceptionControl::Idle);
    EXPECT_EQ(control.stopRequested(), 0);
    EXPECT_FALSE(port.isOpen());
    EXPECT_GE(probe.closes(), 1);
}

TEST_F(ReceptionOnPseudoTerminal, StartRightAfterTheThreadEndedFinishesTheOldRunFirst) {
    control.StartReceive(0);
    control.RequestStop();
    ASSERT_TRUE(waitFor([&] { return idle(); }, kReceptionGuard));
    // The timer has not completed the stop yet: the port is still held.
    ASSERT_TRUE(port.isOpen());
    control.StartReceive(0);
    EXPECT_EQ(control.runState(), ReceptionControl::Running);
    EXPECT_EQ(control.stopRequested(), 0);
    ASSERT_TRUE(stopAndComplete(control));
}

// A device whose pending read returns only when released: the run ends as soon
// as a start begins.
class ReleasedReadDevice : public SerialDevice {
public:
    bool open(const std::string&) override { return open_ = true; }
    bool setQueueSizes() override { return true; }
    bool purge() override { return true; }
    bool applyLineSettings() override { return true; }
    bool applyTimeouts() override { return true; }
    ReadResult readByte() override {
        waiting_ = true;
        while (!released_.exchange(false)) {
            std::this_thread::yield();
        }
        waiting_ = false;
        return ReadResult::none();
    }
    bool isOpen() const override { return open_; }
    void close() override { open_ = false; }

    void release() { released_ = true; }
    bool waiting() const { return waiting_; }

private:
    std::atomic<bool> open_{false};
    std::atomic<bool> waiting_{false};
    std::atomic<bool> released_{false};
};

// Releases the device's pending read as a start begins, then lingers a chosen
// while before the start goes on, so the run's end falls at every point of the
// start's decision.
class ReleasingView : public ReceptionView {
public:
    explicit ReleasingView(ReleasedReadDevice& device) : device_(device) {}
    void showReceiving() override {
        device_.release();
        for (int i = lingerSpins; i > 0; --i) {
            sink_.fetch_add(1, std::memory_order_relaxed);
        }
    }
    void showIdle() override {}
    void showStartFailure(StartFailure) override {}
    int lingerSpins = 0;

private:
    ReleasedReadDevice& device_;
    std::atomic<int> sink_{0};
};

// The waits here are short and many: poll without sleeping.
template <typename Condition> bool spinUntil(Condition condition) {
    return kelvora::test::waitFor(condition, 5s, 0ms);
}

TEST(ReceptionStartRace, AStartAsTheRunEndsNeverAbortsAndLeavesOneRun) {
    PipelineRig rig;
    ReleasedReadDevice device;
    ReleasingView view(device);
    ReceptionControl control(
        rig.pipeline, device, view, [](int) { return "/dev/null"; }, ReceptionTimings{0ms, 0});
    auto windUp = [&] {
        if (control.runState() == ReceptionControl::Running) {
            control.RequestStop();
            device.release();
        }
        ASSERT_TRUE(spinUntil([&] { return control.runState() == ReceptionControl::Idle; }));
        control.completeStop();
    };
    // The receive thread leaves its loop anywhere from before the start's
    // first look at the run state to well after it.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        view.lingerSpins = (attempt * 7919) % 1000;
        control.StartReceive(0);
        ASSERT_EQ(control.runState(), ReceptionControl::Running);
        ASSERT_TRUE(spinUntil([&] { return device.waiting(); }));
        control.RequestStop();
        control.StartReceive(0); // releases the pending read: the run ends now
        const auto state = control.runState();
        ASSERT_TRUE(state == ReceptionControl::Running || state == ReceptionControl::Idle);
        ASSERT_EQ(control.receiveActive(), 1);
        windUp();
        ASSERT_EQ(control.receiveActive(), 0) << "attempt " << attempt;
        ASSERT_FALSE(device.isOpen());
    }
}

// Each start step that can fail, through a device that fails on demand.
class FailingDevice : public SerialDevice {
public:
    explicit FailingDevice(int failingStep) : failingStep_(failingStep) {}
    bool open(const std::string&) override { return step(1) && (open_ = true); }
    bool setQueueSizes() override { return step(2); }
    bool purge() override { return step(3); }
    bool applyLineSettings() override { return step(4); }
    bool applyTimeouts() override { return step(5); }
    ReadResult readByte() override {
        std::this_thread::sleep_for(5ms);
        return ReadResult::none();
    }
    bool isOpen() const override { return open_; }
    void close() override {
        open_ = false;
        ++closes;
    }
    int closes = 0;

private:
    bool step(int n) const { return n != failingStep_; }
    int failingStep_;
    bool open_ = false;
};

struct FailingStep {
    int step;
    StartFailure reason;
};

void PrintTo(const FailingStep& failure, std::ostream* os) {
    *os << "step " << failure.step;
}

class ReceptionStartFailure : public ::testing::TestWithParam<FailingStep> {};

TEST_P(ReceptionStartFailure, ShowsItsMessageClosesThePortAndReturnsToIdle) {
    PipelineRig rig;
    FailingDevice device(GetParam().step);
    RecordingView view;
    std::string openedPath;
    ReceptionControl control(
        rig.pipeline, device, view,
        [&](int index) { return openedPath = "/dev/ttyS" + std::to_string(index); },
        ReceptionTimings{0ms, 0});
    control.StartReceive(2);
    EXPECT_EQ(openedPath, "/dev/ttyS2");
    EXPECT_EQ(view.events(),
              (std::vector<std::string>{"receiving", failureEvent(GetParam().reason), "idle"}));
    EXPECT_FALSE(device.isOpen());
    EXPECT_EQ(device.closes, GetParam().step == 1 ? 0 : 1);
    EXPECT_EQ(control.runState(), ReceptionControl::Idle);
    EXPECT_EQ(control.receiveActive(), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryStep, ReceptionStartFailure,
                         ::testing::Values(FailingStep{1, StartFailure::CannotOpen},
                                           FailingStep{2, StartFailure::CannotSetBuffers},
                                           FailingStep{3, StartFailure::CannotPurge},
                                           FailingStep{4, StartFailure::LineSettingsFailed},
                                           FailingStep{5, StartFailure::TimeoutsFailed}));

} // namespace
} // namespace kelvora::test
