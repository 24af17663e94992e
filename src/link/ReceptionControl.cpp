#include "link/ReceptionControl.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kelvora {

namespace {
// Shown in every interface language, as the sensor's users know them.
constexpr std::string_view kCannotOpen = "指定COMポートが開けません";
constexpr std::string_view kCannotSetBuffers = "送受信バッファが初期化できません";
constexpr std::string_view kCannotPurge = "入出力バッファをクリアできません";
constexpr std::string_view kLineSettingsFailed = "UART 設定に失敗しました";
constexpr std::string_view kTimeoutsFailed = "待ち時間設定に失敗しました";
} // namespace

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
    // A run whose thread has ended but whose port the timer has not closed yet:
    // finish it first, or the new open would find the port still held.
    if (stopRequested_ == 1 && runState_ == Idle) {
        completeStop();
        view_.showReceiving();
        receiveActive_ = 1;
    }
    if (runState_ != Idle) {
        return;
    }
    runState_ = Starting;
    stopRequested_ = 0;

    if (!port_.open(portPath_(portIndex))) {
        failStart(kCannotOpen, false);
        return;
    }
    if (!port_.setQueueSizes()) {
        failStart(kCannotSetBuffers, true);
        return;
    }
    if (!port_.purge()) {
        failStart(kCannotPurge, true);
        return;
    }
    if (!port_.applyLineSettings()) {
        failStart(kLineSettingsFailed, true);
        return;
    }
    for (int i = 0; i < timings_.settleSteps; ++i) {
        std::this_thread::sleep_for(timings_.settleStep);
    }
    if (!port_.applyTimeouts()) {
        failStart(kTimeoutsFailed, true);
        return;
    }

    pipeline_.startReception();
    runState_ = Running;
    thread_ = std::thread([this] { receiveLoop(); });
}

void ReceptionControl::failStart(std::string_view message, bool closePort) {
    view_.showMessage(message);
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
