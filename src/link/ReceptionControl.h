#pragma once

#include "core/MeasurementPipeline.h"
#include "core/Relaxed.h"
#include "link/SerialDevice.h"
#include "link/StartFailure.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace kelvora {

// What reception needs from the window: the start and stop buttons, and a
// modal message box for start failures the user can act on.
class ReceptionView {
public:
    virtual ~ReceptionView() = default;
    // Start disabled, stop enabled and focused.
    virtual void showReceiving() = 0;
    // Start enabled and focused, stop disabled.
    virtual void showIdle() = 0;
    // Tells the user why the start failed; returns once the message is closed.
    virtual void showStartFailure(StartFailure reason) = 0;
};

// Timings of a reception start; tests shorten them, the product keeps these.
struct ReceptionTimings {
    std::chrono::milliseconds settleStep{50};
    int settleSteps = 20; // one second after the line settings
};

// Starts and stops reception runs: opens and configures the port on the
// caller's (user-interface) thread and runs the receive thread on it.
class ReceptionControl {
public:
    enum RunState : std::int32_t { Idle = 0, Running = 1, Starting = 2 };

    // portPath turns the port index (COM number - 1) into a device path.
    ReceptionControl(MeasurementPipeline& pipeline, SerialDevice& port, ReceptionView& view,
                     std::function<std::string(int portIndex)> portPath,
                     ReceptionTimings timings = {});
    ~ReceptionControl();
    ReceptionControl(const ReceptionControl&) = delete;
    ReceptionControl& operator=(const ReceptionControl&) = delete;

    // Start button, F3, automatic start. Does nothing while a run is going.
    void StartReceive(int portIndex);
    // Stop button, F4: only while running.
    void RequestStop();
    // Run on every user-interface tick: once the receive thread has ended,
    // closes the port and returns the buttons to idle.
    void completeStop();
    // Window destruction: ends a running thread (stop request, then join)
    // before the port and the recording are closed.
    void shutdown();

    std::int32_t runState() const { return runState_; }
    std::int32_t stopRequested() const { return stopRequested_; }
    std::int32_t receiveActive() const { return receiveActive_; }

private:
    void receiveLoop();
    void failStart(StartFailure reason, bool closePort);
    void joinThread();
    // Closes an ended run: join, port, recording, buttons.
    void windUp();

    MeasurementPipeline& pipeline_;
    SerialDevice& port_;
    ReceptionView& view_;
    std::function<std::string(int)> portPath_;
    ReceptionTimings timings_;

    Relaxed<std::int32_t> runState_{Idle};
    Relaxed<std::int32_t> stopRequested_{0};
    Relaxed<std::int32_t> receiveActive_{0};
    std::thread thread_;
};

} // namespace kelvora
