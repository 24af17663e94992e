#include "monitor/FrameRateTimer.h"

#include "core/MeasurementPipeline.h"

#include <system_error>

#include <pthread.h>

namespace kelvora {

void SteadyTimerClock::sleepUntil(TimePoint deadline, std::stop_token stop) {
    std::unique_lock lock(mutex_);
    // Nothing but the stop ends the wait early.
    wakeUp_.wait_until(lock, stop, deadline, [] { return false; });
}

void FrameRateTimer::start(MeasurementState& state) {
    if (thread_.joinable()) {
        return;
    }
    try {
        thread_ = std::jthread([this, &state](std::stop_token stop) {
            (void)::pthread_setname_np(::pthread_self(), "kelvora-rate");
            run(std::move(stop), clock_, state);
        });
    } catch (const std::system_error&) {
        // No thread: the rate keeps its last value.
    }
}

void FrameRateTimer::stop() {
    if (!thread_.joinable()) {
        return;
    }
    thread_.request_stop();
    thread_.join();
}

void FrameRateTimer::run(std::stop_token stop, TimerClock& clock, MeasurementState& state) {
    using std::chrono::milliseconds;
    // The time handed to the frame-rate clock so far.
    TimerClock::TimePoint counted = clock.now();
    while (true) {
        // The end of the current second: what it still lacks after the
        // milliseconds handed over (an early wake just sleeps again).
        clock.sleepUntil(counted + (kSecond - milliseconds(state.mmTickCount)), stop);
        if (stop.stop_requested()) {
            return;
        }
        const TimerClock::TimePoint now = clock.now();
        const milliseconds elapsed = std::chrono::floor<milliseconds>(now - counted);
        if (elapsed < kStall) {
            advanceFrameRateClock(state, static_cast<int>(elapsed.count()));
            counted += elapsed;
        } else {
            // A stalled thread (a stopped process, a paused machine): the
            // seconds missed are not caught up in a burst.
            advanceFrameRateClock(state, static_cast<int>(kStall.count()));
            counted = now;
        }
    }
}

} // namespace kelvora
