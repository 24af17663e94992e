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

TEST(FrameRateTimer, WakesOnceASecondAndTurnsThatSecondsFramesIntoTheRate) {
    // Late by less than a millisecond: each wake ends exactly one second.
    TimerRun run({{0ns, 100}, {300us, 98}, {999us, 0}, {500us, 7}});
    run.state.goodFrameCount = 3; // counted before the timer started
    run.runToEnd();

    const std::vector<Look> looks = run.clock.looks();
    ASSERT_EQ(looks.size(), 5u);
    const std::int32_t rates[] = {0, 103, 98, 0, 7};
    for (std::size_t i = 0; i < looks.size(); ++i) {
        SCOPED_TRACE("sleep " + std::to_string(i));
        EXPECT_EQ(looks[i].deadline, ScriptedClock::kStart + static_cast<int>(i + 1) * 1s);
        EXPECT_EQ(looks[i].framesPerSecond, rates[i]);
        EXPECT_EQ(looks[i].mmTickCount, 0);
    }
    EXPECT_EQ(run.state.goodFrameCount, 0);
}

// A day of wakes, each late by up to 999 ms: the deadlines stay on the
// one-second grid, every wake ends one second, and the milliseconds handed
// over add up to the time that passed.
TEST(FrameRateTimer, ADayOfLateWakesLosesNoTimeAndKeepsItsDeadlines) {
    const nanoseconds lateness[] = {300us, 3700us, 950us, 0us, 9990us, 999ms, 500us, 420ms, 1us};
    std::vector<Wake> script;
    for (int wake = 0; wake < 86'400; ++wake) {
        script.push_back({lateness[wake % 9], 1});
    }
    TimerRun run(script);
    run.runToEnd();

    const std::vector<Look> looks = run.clock.looks();
    ASSERT_EQ(looks.size(), 86'401u);
    for (std::size_t i = 0; i < looks.size(); ++i) {
        ASSERT_EQ(looks[i].deadline, ScriptedClock::kStart + static_cast<int>(i + 1) * 1s)
            << "sleep " << i;
        ASSERT_GE(looks[i].mmTickCount, 0);
        ASSERT_LT(looks[i].mmTickCount, 1000);
        if (i > 0) {
            ASSERT_EQ(looks[i].framesPerSecond, 1) << "sleep " << i << ": not one second";
        }
    }
    const auto passed = std::chrono::floor<milliseconds>(looks.back().now - ScriptedClock::kStart);
    EXPECT_EQ(86'400LL * 1000 + looks.back().mmTickCount, passed.count());
}

// Two seconds at 100 frames, a wake half a second late (the next period is
// half over), a stall with 7 more frames, then two seconds more.
class FrameRateTimerStall : public ::testing::TestWithParam<milliseconds> {};

TEST_P(FrameRateTimerStall, EndsThePeriodOnceAndResumesASecondAfterTheLateWake) {
    const milliseconds stall = GetParam();
    TimerRun run(wakes(2, {0ns, 100}) + wakes(1, {500ms, 50}) + wakes(1, {stall, 7}) +
                 wakes(2, {0ns, 100}));
    run.runToEnd();

    const std::vector<Look> looks = run.clock.looks();
    ASSERT_EQ(looks.size(), 7u);
    ASSERT_EQ(looks[3].framesPerSecond, 50);
    ASSERT_EQ(looks[3].mmTickCount, 500);
    EXPECT_EQ(looks[3].deadline, ScriptedClock::kStart + 4s) << "back on the grid";

    // The half period and the stall (two seconds or more together) end as
    // one: the frames counted in them become the rate once and a fresh
    // period starts.
    const Look& afterStall = looks[4];
    EXPECT_EQ(afterStall.framesPerSecond, 7);
    EXPECT_EQ(afterStall.mmTickCount, 0);
    // The next wake is a second on from the late one, not a burst of the missed ones.
    EXPECT_EQ(afterStall.deadline, afterStall.now + 1s);

    EXPECT_EQ(looks[5].framesPerSecond, 100);
    EXPECT_EQ(looks[6].framesPerSecond, 100);
    EXPECT_EQ(looks[6].deadline, afterStall.now + 3s);
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
    TimerRun run(wakes(1));
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
    EXPECT_EQ(run.clock.looks().size(), 2u);
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
