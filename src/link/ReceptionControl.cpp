#include "link/ReceptionControl.h"

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

    if (!port_.open(portPath_(portIndex))) {
        failStart(StartFailure::CannotOpen, false);
        return;
    }
    if (!port_.setQueueSizes()) {
        failStart(StartFailure::CannotSetBuffers, true);
        return;
    }
    if (!port_.purge()) {
        failStart(StartFailure::CannotPurge, true);
        return;
    }
    if (!port_.applyLineSettings()) {
        failStart(StartFailure::LineSettingsFailed, true);
        return;
    }
    for (int i = 0; i < timings_.settleSteps; ++i) {
        std::this_thread::sleep_for(timings_.settleStep);
    }
    if (!port_.applyTimeouts()) {
        failStart(StartFailure::TimeoutsFailed, true);
        return;
    }

    pipeline_.startReception();
    runState_ = Running;
    thread_ = std::thread([this] { receiveLoop(); });
}

void ReceptionControl::failStart(StartFailure reason, bool closePort) {
    view_.showStartFailure(reason);
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
    // Ahead of ordinary programs where the system allows it; without the
    // privilege the thread runs at normal priority.
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), -10);
    auto read = [this] { return port_.readByte(); };
    if (stopRequested_ != 1) {
        while (true) {
            receiveStep(pipeline_, read);
            if (stopRequested_ == 1) {
                break;
            }
        }
    }
    pipeline_.closeRecording();
    runState_ = Idle;
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
