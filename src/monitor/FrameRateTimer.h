#pragma once

#include "core/MeasurementState.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>

namespace kelvora {

// The time the frame-rate timer runs on: the steady clock, or a fake in tests.
class TimerClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~TimerClock() = default;
    virtual TimePoint now() = 0;
    // Returns once `deadline` has come, or as soon as a stop is requested on
    // `stop` (at once when one already is).
    virtual void sleepUntil(TimePoint deadline, std::stop_token stop) = 0;
};

// std::chrono::steady_clock; a sleep is a condition-variable wait that the
// stop request wakes, so a stop never waits out a period.
class SteadyTimerClock final : public TimerClock {
public:
    TimePoint now() override { return std::chrono::steady_clock::now(); }
    void sleepUntil(TimePoint deadline, std::stop_token stop) override;

private:
    std::mutex mutex_;
    std::condition_variable_any wakeUp_;
};

// The frame-rate count on a thread of its own: sleeps until the end of each
// second on absolute deadlines of its clock and hands the whole milliseconds
// that passed to advanceFrameRateClock, which turns goodFrameCount into
// framesPerSecond once a second. One wake a second gives the same figure as a
// millisecond tick, which nothing else reads. The part of a millisecond left
// over counts in the next period, so no time is lost however long it runs.
class FrameRateTimer {
public:
    static constexpr std::chrono::milliseconds kSecond{1000};
    // From this many milliseconds on, advanceFrameRateClock ends the period
    // and starts a fresh one whatever it held; a longer stall is handed over
    // as this, so no count can overflow.
    static constexpr std::chrono::milliseconds kStall{2000};

    FrameRateTimer() : clock_(steadyClock_) {}
    // `clock` must outlive the timer.
    explicit FrameRateTimer(TimerClock& clock) : clock_(clock) {}
    ~FrameRateTimer() { stop(); }
    FrameRateTimer(const FrameRateTimer&) = delete;
    FrameRateTimer& operator=(const FrameRateTimer&) = delete;

    // Starts the thread on `state`, which must outlive the run. Does nothing
    // while a thread runs. A thread that cannot be created leaves the rate
    // as it is, unreported.
    void start(MeasurementState& state);
    // Ends the thread and waits for it; does nothing when none runs.
    void stop();
    bool running() const { return thread_.joinable(); }

private:
    static void run(std::stop_token stop, TimerClock& clock, MeasurementState& state);

    SteadyTimerClock steadyClock_;
    TimerClock& clock_;
    std::jthread thread_;
};

} // namespace kelvora
