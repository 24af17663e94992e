// The frame-rate timer, on fake time: the rate after a second, whole
// milliseconds with the rest carried, absolute deadlines, stalls, one thread
// however often it is started, a stop that waits for the thread; and once on
// the steady clock.
#include "monitor/FrameRateTimer.h"

#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace kelvora::test {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using TimePoint = TimerClock::TimePoint;

constexpr auto kGuard = 10s;

// One wake-up of the fake clock.
struct Wake {
    nanoseconds late{0}; // past the deadline (past the present when the deadline has gone)
    int frames = 0;      // good frames the receive thread counts during the sleep
};

// What the timer thread had left when it went to sleep.
struct Look {
    TimePoint now;
    TimePoint deadline;
    std::int32_t mmTickCount;
    std::int32_t framesPerSecond;
};

// Fake time for the timer thread. Each sleep ends at its deadline plus the
// next wake's lateness, with the wake's frames counted; once the script is
// used up, a sleep lasts until the stop. What it records is written on the
// timer thread under its lock and read by the test once the thread has parked
// or ended.
class ScriptedClock final : public TimerClock {
public:
    static constexpr TimePoint kStart = TimePoint{} + 1h;

    ScriptedClock(MeasurementState& fed, std::vector<Wake> script)
        : fed_(fed), script_(std::move(script)) {}

    TimePoint now() override {
        std::lock_guard lock(mutex_);
        return now_;
    }

    void sleepUntil(TimePoint deadline, std::stop_token stop) override {
        std::unique_lock lock(mutex_);
        looks_.push_back({now_, deadline, fed_.mmTickCount, fed_.framesPerSecond});
        threads_.insert(std::this_thread::get_id());
        if (next_ < script_.size()) {
            const Wake& wake = script_[next_++];
            now_ = std::max(now_, deadline) + wake.late;
            fed_.goodFrameCount.fetchAdd(wake.frames);
            return;
        }
        ++parked_;
        changed_.wait(lock, stop, [] { return false; });
        if (holdAfterStop_) {
            held_ = true;
            changed_.wait(lock, [this] { return released_; });
        }
    }

    // Parked at the end of the script, waiting for the stop.
    bool parked() const {
        std::lock_guard lock(mutex_);
        return parked_ > 0;
    }
    std::vector<Look> looks() const {
        std::lock_guard lock(mutex_);
        return looks_;
    }
    std::size_t threadCount() const {
        std::lock_guard lock(mutex_);
        return threads_.size();
    }

    // Keeps the thread, once stopped, inside the sleep until release().
    void holdAfterStop() {
        std::lock_guard lock(mutex_);
        holdAfterStop_ = true;
    }
    bool held() const {
        std::lock_guard lock(mutex_);
        return held_;
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable_any changed_;
    MeasurementState& fed_;
    std::vector<Wake> script_;
    std::size_t next_ = 0;
    TimePoint now_ = kStart;
    std::vector<Look> looks_;
    std::set<std::thread::id> threads_;
    int parked_ = 0;
    bool holdAfterStop_ = false;
    bool held_ = false;
    bool released_ = false;
};

std::vector<Wake> wakes(int count, Wake each = {}) {
    return std::vector<Wake>(static_cast<std::size_t>(count), each);
}

std::vector<Wake> operator+(std::vector<Wake> first, const std::vector<Wake>& then) {
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

// Runs the timer through a script and stops it once the script is used up.
struct TimerRun {
    explicit TimerRun(std::vector<Wake> script) : clock(state, std::move(script)) {}

    void runToEnd() {
        timer.start(state);
        ASSERT_TRUE(waitFor([&] { return clock.parked(); }, kGuard));
        timer.stop();
    }

    MeasurementState state;
    ScriptedClock clock;
    FrameRateTimer timer{clock};
};

TEST(FrameRateTimer, TheFramesCountedInASecondBecomeTheRateEverySecond) {
    // Late by less than a millisecond: the second ends exactly at the 100th wake.
    std::vector<Wake> script;
    const nanoseconds lateness[] = {0ns, 300us, 999us, 500us};
    for (int wake = 0; wake < 200; ++wake) {
        script.push_back({lateness[wake % 4], wake < 100 ? 0 : 1});
    }
    TimerRun run(script);
    run.state.goodFrameCount = 97; // counted before the timer started
    run.runToEnd();

    const std::vector<Look> looks = run.clock.looks();
    ASSERT_EQ(looks.size(), 201u);
    for (std::size_t wake = 1; wake < 100; ++wake) {
        ASSERT_EQ(looks[wake].framesPerSecond, 0) << "wake " << wake;
        ASSERT_EQ(looks[wake].mmTickCount, 10 * static_cast<int>(wake)) << "wake " << wake;
    }
    EXPECT_EQ(looks[100].framesPerSecond, 97);
    EXPECT_EQ(looks[100].mmTickCount, 0);
    EXPECT_EQ(looks[199].framesPerSecond, 97);
    EXPECT_EQ(looks[200].framesPerSecond, 100) << "one frame in each wake of the second second";
    EXPECT_EQ(run.state.goodFrameCount, 0);
}

// An hour of wakes, each late by up to 9.99 ms: the deadlines stay on the
// 10-ms grid, and the milliseconds handed over add up to the time that passed.
TEST(FrameRateTimer, AnHourOfLateWakesLosesNoTimeAndKeepsItsDeadlines) {
    const nanoseconds lateness[] = {300us, 3700us, 950us, 0us, 9990us, 500us, 1us};
    std::vector<Wake> script;
    for (int wake = 0; wake < 360'000; ++wake) {
        script.push_back({lateness[wake % 7], 0});
    }
    TimerRun run(script);
    run.runToEnd();

    const std::vector<Look> looks = run.clock.looks();
    ASSERT_EQ(looks.size(), 360'001u);
    long long handedOver = 0;
    for (std::size_t i = 0; i < looks.size(); ++i) {
        ASSERT_EQ(looks[i].deadline, ScriptedClock::kStart + static_cast<int>(i + 1) * 10ms)
            << "sleep " << i;
        ASSERT_GE(looks[i].mmTickCount, 0);
        ASSERT_LT(looks[i].mmTickCount, 1000);
        if (i > 0) { // less than a second per wake: the step is the amount handed over
            handedOver += (looks[i].mmTickCount - looks[i - 1].mmTickCount + 1000) % 1000;
        }
    }
    const auto passed = std::chrono::floor<milliseconds>(looks.back().now - ScriptedClock::kStart);
    EXPECT_EQ(handedOver, passed.count());
}

// A second and a half of wakes (the rate is 100, 50 frames are counted and the
// period is half over), a stall with 7 more frames, then a second of wakes.
class FrameRateTimerStall : public ::testing::TestWithParam<milliseconds> {};

TEST_P(FrameRateTimerStall, EndsThePeriodOnceAndResumesOnTheTenMillisecondStep) {
    const milliseconds stall = GetParam();
    TimerRun run(wakes(150, {0ns, 1}) + wakes(1, {stall, 7}) + wakes(100, {0ns, 1}));
    run.runToEnd();

    const std::vector<Look> looks = run.clock.looks();
    ASSERT_EQ(looks.size(), 252u);
    ASSERT_EQ(looks[150].framesPerSecond, 100);
    ASSERT_EQ(looks[150].mmTickCount, 500);

    // The period and the stall (two seconds or more together) end as one: the
    // frames counted in them become the rate once and a fresh period starts.
    const Look& afterStall = looks[151];
    EXPECT_EQ(afterStall.framesPerSecond, 50 + 7);
    EXPECT_EQ(afterStall.mmTickCount, 0);
    // The next wake is one step on from the late one, not a burst of the missed ones.
    EXPECT_EQ(afterStall.deadline, afterStall.now + 10ms);

    EXPECT_EQ(looks[250].framesPerSecond, 57) << "the second after the stall is not over";
    EXPECT_EQ(looks[251].framesPerSecond, 100);
    EXPECT_EQ(looks[251].mmTickCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Lengths, FrameRateTimerStall,
                         ::testing::Values(milliseconds(1500), milliseconds(3000),
                                           milliseconds(3'600'000),
                                           // more milliseconds than an int holds
                                           milliseconds(30LL * 24 * 3'600'000)),
                         [](const ::testing::TestParamInfo<milliseconds>& stall) {
                             return std::to_string(stall.param.count()) + "ms";
                         });

TEST(FrameRateTimer, StartingAgainWhileItRunsKeepsTheOneThreadOnItsState) {
    TimerRun run(wakes(100));
    run.state.goodFrameCount = 97;
    MeasurementState other;
    other.goodFrameCount = 5;
    run.timer.start(run.state);
    run.timer.start(run.state);
    run.timer.start(other);
    EXPECT_TRUE(run.timer.running());
    ASSERT_TRUE(waitFor([&] { return run.clock.parked(); }, kGuard));
    run.timer.stop();

    EXPECT_EQ(run.clock.threadCount(), 1u);
    EXPECT_EQ(run.clock.looks().size(), 101u);
    EXPECT_EQ(run.state.framesPerSecond, 97);
    EXPECT_EQ(other.goodFrameCount, 5);
    EXPECT_EQ(other.framesPerSecond, 0);
    EXPECT_EQ(other.mmTickCount, 0);
}

TEST(FrameRateTimer, StopWakesTheSleepWaitsForTheThreadAndMayBeRepeated) {
    TimerRun run({});
    run.timer.stop(); // never started: nothing to do
    EXPECT_FALSE(run.timer.running());

    run.clock.holdAfterStop();
    run.timer.start(run.state);
    ASSERT_TRUE(waitFor([&] { return run.clock.parked(); }, kGuard));
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        run.timer.stop();
        stopped = true;
    });
    // The fake's sleep ends only through the stop request.
    const bool woken = waitFor([&] { return run.clock.held(); }, kGuard);
    EXPECT_TRUE(woken) << "the stop did not end the sleep";
    EXPECT_FALSE(stopped) << "stop returned while the timer thread was still in its sleep";
    run.clock.release();
    stopper.join();
    EXPECT_TRUE(stopped);
    EXPECT_FALSE(run.timer.running());
    run.timer.stop();
    EXPECT_FALSE(run.timer.running());
}

// --- The steady clock -------------------------------------------------------------------------

TEST(SteadyTimerClock, ASleepLastsUntilItsDeadline) {
    SteadyTimerClock clock;
    const TimePoint deadline = clock.now() + 20ms;
    clock.sleepUntil(deadline, std::stop_token{});
    EXPECT_GE(clock.now(), deadline);
}

TEST(SteadyTimerClock, AStopEndsASleepBeforeOrDuringIt) {
    for (const bool stopFirst : {true, false}) {
        SCOPED_TRACE(stopFirst ? "stop before the sleep" : "stop during the sleep");
        // Shared with the sleeper, which is left behind if it never wakes.
        struct Sleep {
            SteadyTimerClock clock;
            std::stop_source stop;
            std::atomic<bool> started{false};
            std::atomic<bool> ended{false};
        };
        auto sleep = std::make_shared<Sleep>();
        if (stopFirst) {
            sleep->stop.request_stop();
        }
        std::thread sleeper([sleep] {
            sleep->started = true;
            sleep->clock.sleepUntil(sleep->clock.now() + 1h, sleep->stop.get_token());
            sleep->ended = true;
        });
        ASSERT_TRUE(waitFor([&] { return sleep->started.load(); }, kGuard));
        sleep->stop.request_stop();
        const bool ended = waitFor([&] { return sleep->ended.load(); }, kGuard);
        EXPECT_TRUE(ended);
        if (ended) {
            sleeper.join();
        } else {
            sleeper.detach();
        }
    }
}

TEST(FrameRateTimerOnTheSteadyClock, TurnsTheCountIntoTheRateAndStops) {
    MeasurementState state;
    FrameRateTimer timer;
    timer.start(state);
    // Counted again after each roll-over, so a roll-over missed by this poll
    // is followed by another that reports the count.
    const bool reported = waitFor(
        [&] {
            if (state.goodFrameCount == 0) {
                state.goodFrameCount = 42;
            }
            return state.framesPerSecond == 42;
        },
        kGuard, 1ms);
    EXPECT_TRUE(reported);
    timer.stop();
    EXPECT_FALSE(timer.running());
    EXPECT_GE(state.mmTickCount, 0);
    EXPECT_LT(state.mmTickCount, 1000);
}

} // namespace
} // namespace kelvora::test
