#include "link/ReceptionControl.h"

#include <algorithm>
#include <thread>

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kelvora {

ReceptionControl::ReceptionControl(MeasurementPipeline& pipeline, SerialDevice& port,
                                   ReceptionView& view, std::function<std::string(int)> portPath,
                                   ReceptionTimings timings)
    : pipeline_(pipeline), port_(port), view_(view), portPath_(std::move(portPath)),
      timings_(timings) {}

ReceptionControl::~ReceptionControl() {
    shutdown();
}

void ReceptionControl::StartReceive(int portIndex) {
    view_.showReceiving();
    receiveActive_ = 1;
    // Only this thread starts and joins the receive thread, so whether one
    // exists cannot change under us; the run state can, so it is read once.
    if (thread_.joinable()) {
        if (runState_ != Idle) {
            return; // a run is going
        }
        // The run has ended but the timer has not closed its port yet: finish
        // it first, or the new open would find the port still held.
        windUp();
        view_.showReceiving();
        receiveActive_ = 1;
    } else if (runState_ != Idle) {
        return; // a start is under way (a message box of it is open)
    }
    runState_ = Starting;
    stopRequested_ = 0;
    portIndex_ = portIndex;

    if (const std::optional<StartFailure> failure = openPort(portIndex)) {
        failStart(*failure, *failure != StartFailure::CannotOpen);
        return;
    }

    pipeline_.startReception();
    reconnectThisRun_ = reconnect_;
    lineState_ = static_cast<std::int32_t>(LineState::Receiving);
    runState_ = Running;
    thread_ = std::thread([this] { receiveLoop(); });
}

std::optional<StartFailure> ReceptionControl::openPort(int portIndex) {
    if (!port_.open(portPath_(portIndex))) {
        return StartFailure::CannotOpen;
    }
    if (!port_.setQueueSizes()) {
        return StartFailure::CannotSetBuffers;
    }
    if (!port_.purge()) {
        return StartFailure::CannotPurge;
    }
    if (!port_.applyLineSettings()) {
        return StartFailure::LineSettingsFailed;
    }
    for (int i = 0; i < timings_.settleSteps; ++i) {
        std::this_thread::sleep_for(timings_.settleStep);
    }
    if (!port_.applyTimeouts()) {
        return StartFailure::TimeoutsFailed;
    }
    return std::nullopt;
}

void ReceptionControl::failStart(StartFailure reason, bool closePort) {
    if (reason == StartFailure::CannotOpen) {
        // Asked again now, while the cause is likely still there.
        view_.showOpenFailure(
            diagnosePortOpen(std::int64_t{portIndex_} + 1, portPath_(portIndex_)));
    } else {
        view_.showStartFailure(reason);
    }
    if (closePort) {
        port_.close();
    }
    view_.showIdle();
    receiveActive_ = 0;
    runState_ = Idle;
}

void ReceptionControl::RequestStop() {
    if (runState_ == Running) {
        stopRequested_ = 1;
    }
}

void ReceptionControl::receiveLoop() {
    (void)::pthread_setname_np(::pthread_self(), "kelvora-receive"); // for top and perf
    // Ahead of ordinary programs where the system allows it; without the
    // privilege the thread runs at normal priority.
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), -10);
    using Clock = std::chrono::steady_clock;
    // The start counts as the last news: a line that never sends shows no
    // data after the same wait as one that stops sending.
    Clock::time_point lastFrame = Clock::now();
    CopyPacing pacing;
    bool emptyRead = false;
    auto read = [this, &emptyRead] {
        const ReadResult result = port_.readByte();
        emptyRead = emptyRead || !result.received;
        return result;
    };
    auto setLineState = [this](LineState state) {
        if (lineState_ != static_cast<std::int32_t>(state)) {
            lineState_ = static_cast<std::int32_t>(state);
        }
    };
    while (stopRequested_ != 1) {
        const AssembleResult result = receiveStep(pipeline_, read);
        if (result == AssembleResult::GoodFrame) {
            lastFrame = Clock::now();
            framesReceived_ = framesReceived_ + 1;
            setLineState(LineState::Receiving);
            if (pipeline_.state().frameIndex % kFramesPerSampleCopy == 0) {
                waitForTheNextCopy(pacing);
            }
            continue;
        }
        // Only after a read without a byte or a bad frame: the bytes of a
        // frame in the making pass without a look at the clock.
        if (!emptyRead && result != AssembleResult::BadFrame) {
            continue;
        }
        emptyRead = false;
        if (reconnectThisRun_ && port_.lineLost()) {
            if (!reopenLostLine()) {
                break; // stopped while retrying
            }
            pacing.known = false;
            continue; // no data until the first frame of the new line
        }
        if (Clock::now() - lastFrame >= timings_.noDataAfter) {
            setLineState(LineState::NoData);
        }
    }
    pipeline_.closeRecording();
    lineState_ = static_cast<std::int32_t>(LineState::Stopped);
    runState_ = Idle;
}

void ReceptionControl::waitForTheNextCopy(CopyPacing& pacing) const {
    // The frames of one copy take this long at the sensor's pace.
    constexpr std::chrono::milliseconds kCopyPeriod{kFramesPerSampleCopy * 10};
    const ReadPacing read = port_.pacing();
    if (!read.drained) {
        pacing.known = false; // behind: catch up first
        return;
    }
    // When the copy's last frame arrived: as the read that waited for it
    // ended, or one period after the one before when it was already there.
    // Re-anchored at every read that waits, the estimate follows the
    // sensor's own clock.
    pacing.arrival = read.waited || !pacing.known ? read.ended : pacing.arrival + kCopyPeriod;
    pacing.known = true;
    std::this_thread::sleep_until(pacing.arrival + timings_.batchWait);
}

bool ReceptionControl::reopenLostLine() {
    lineState_ = static_cast<std::int32_t>(LineState::Retrying);
    // Rows written so far stay whole; the next recording starts on its own.
    pipeline_.closeRecording();
    port_.close();
    while (waitUnlessStopped(timings_.retryInterval)) {
        const bool opened = !openPort(portIndex_).has_value();
        if (stopRequested_ == 1) {
            return false; // the port of a half-done open is closed by the stop
        }
        if (opened) {
            pipeline_.startReception();
            lineState_ = static_cast<std::int32_t>(LineState::NoData);
            return true;
        }
        port_.close();
    }
    return false;
}

bool ReceptionControl::waitUnlessStopped(std::chrono::milliseconds duration) const {
    // A stop ends the wait within a step: the window's F4 must not hang for
    // a whole retry interval.
    constexpr std::chrono::milliseconds kStep{50};
    const auto deadline = std::chrono::steady_clock::now() + duration;
    while (stopRequested_ != 1) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return true;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(kStep, deadline - now));
    }
    return false;
}

void ReceptionControl::joinThread() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void ReceptionControl::completeStop() {
    if (stopRequested_ != 1 || runState_ != Idle) {
        return;
    }
    windUp();
}

void ReceptionControl::windUp() {
    joinThread(); // the loop has ended; the join makes its last writes visible
    if (port_.isOpen()) {
        port_.purge();
        port_.close();
    }
    pipeline_.closeRecording();
    view_.showIdle();
    receiveActive_ = 0;
    stopRequested_ = 0;
    runState_ = Idle;
}

void ReceptionControl::shutdown() {
    if (thread_.joinable()) {
        stopRequested_ = 1;
        joinThread();
    }
    pipeline_.closeRecording();
    if (port_.isOpen()) {
        port_.purge();
        port_.close();
    }
    stopRequested_ = 0;
    runState_ = Idle;
}

} // namespace kelvora
