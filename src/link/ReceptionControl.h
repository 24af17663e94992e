#pragma once

#include "core/MeasurementPipeline.h"
#include "core/Relaxed.h"
#include "link/SerialDevice.h"
#include "link/StartFailure.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
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
    // The port did not open: which port and why. Views without the detail
    // show the plain CannotOpen message.
    virtual void showOpenFailure(const PortOpenFailure& failure) {
        (void)failure;
        showStartFailure(StartFailure::CannotOpen);
    }
};

// Timings of a reception start; tests shorten them, the product keeps these.
struct ReceptionTimings {
    std::chrono::milliseconds settleStep{50};
    int settleSteps = 20; // one second after the line settings
    // No good frame for this long is a line without data.
    std::chrono::milliseconds noDataAfter{3000};
    // A lost line is closed and opened again at this pace.
    std::chrono::milliseconds retryInterval{2000};
    // After a frame that completes a copy of samples in the shared block, the
    // next copy's five frames are all there 50 ms after it arrived: the thread
    // waits a little longer and reads them at once, one wake-up instead of
    // five. Each copy is still written within a few milliseconds of its last
    // frame, so readers of the block see the copies as evenly spaced as the
    // frames. A thread that is behind reads on without waiting.
    std::chrono::milliseconds batchWait{52};
};

// The health of the line as the receive side sees it; the window decides how
// each looks.
enum class LineState : std::int32_t {
    Stopped = 0,   // no run
    Receiving = 1, // good frames come
    NoData = 2,    // a run, but no good frame for a while
    Retrying = 3,  // the device went away; its port is opened again and again
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
    // Read by the window on every tick.
    LineState lineState() const { return static_cast<LineState>(lineState_.load()); }
    // Good frames of every run so far: a change tells the window that frames came.
    std::uint32_t framesReceived() const { return framesReceived_; }
    // Whether a lost line is opened again; else the run goes on reading it
    // until stopped. Read at each start.
    void setReconnect(bool reconnect) { reconnect_ = reconnect; }

private:
    // The estimated arrival of the latest copy's last frame.
    struct CopyPacing {
        std::chrono::steady_clock::time_point arrival{};
        bool known = false;
    };

    void receiveLoop();
    // Receive thread, after a frame that completes a copy: sleeps until the
    // next copy's frames are all there, unless the loop is behind.
    void waitForTheNextCopy(CopyPacing& pacing) const;
    // Opens and sets up the port as a start does; the failed step, if any,
    // with the port left open for the caller to close.
    std::optional<StartFailure> openPort(int portIndex);
    // Receive thread, the line lost: closes the recording and the port and
    // opens the port again every retry interval until it opens or a stop
    // comes. True when the line is back.
    bool reopenLostLine();
    // Sleeps for `duration` in short steps; false as soon as a stop comes.
    bool waitUnlessStopped(std::chrono::milliseconds duration) const;
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
    Relaxed<std::int32_t> lineState_{static_cast<std::int32_t>(LineState::Stopped)};
    Relaxed<std::uint32_t> framesReceived_{0};
    bool reconnect_ = false;
    bool reconnectThisRun_ = false; // the receive thread's copy
    int portIndex_ = 0;             // of the run, for reopening
    std::thread thread_;
};

} // namespace kelvora
