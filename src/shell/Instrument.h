#pragma once

#include "core/MeasurementPipeline.h"
#include "link/PortMap.h"
#include "link/ReceptionControl.h"
#include "link/SerialPort.h"
#include "monitor/AlertSoundThreads.h"
#include "output/AccelerogramRecorder.h"
#include "output/PublicationBlock.h"
#include "output/RecorderClock.h"

#include <chrono>
#include <memory>
#include <string>

namespace kelvora {

struct InstrumentOptions {
    std::string publicationName = KELVORA_SHM_NAME;
    std::chrono::milliseconds readTimeout{500};
    ReceptionTimings timings{};
};

// The sensor's whole data path, wired once: the serial port and the receive
// thread, the per-frame pipeline with its recorder, publication block and
// alert sounds. The window drives it (start, stop, the timer's completion of
// a stop) and reads the state and the display texts; it owns nothing else.
// Destruction ends a running receive thread before anything it uses goes.
class Instrument {
public:
    // workingFolder: the folder the program runs in; recordings go to its
    // Accelerogram folder, which the window creates.
    Instrument(const PipelineSettings& pipelineSettings, const RecorderSettings& recorderSettings,
               std::shared_ptr<SoundPlayer> player, ReceptionView& view,
               const std::string& workingFolder, InstrumentOptions options = {});
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    // Window initialisation: the shared block (skipped when it cannot be made).
    bool createPublicationBlock() { return publication_.create(); }
    // Window destruction: ends reception, closes the recording and the port,
    // removes the block.
    void shutdown();

    ReceptionControl& reception() { return reception_; }
    MeasurementState& state() { return state_; }
    IntensityAlerts& alerts() { return alerts_; }
    const DisplayTextBoard& displayTexts() const { return board_; }
    DisplayTextBoard& displayTexts() { return board_; }
    AccelerogramRecorder& recorder() { return recorder_; }
    PublicationBlock& publication() { return publication_; }
    const PortMap& ports() const { return ports_; }

private:
    MeasurementState state_;
    IntensityAlerts alerts_;
    DisplayTextBoard board_;
    AlertSoundThreads sounds_;
    LocalClock clock_;
    AccelerogramRecorder recorder_;
    PublicationBlock publication_;
    MeasurementPipeline pipeline_;
    PortMap ports_;
    SerialPort port_;
    // Last: destroyed first, so the receive thread has ended before the rest.
    ReceptionControl reception_;
};

} // namespace kelvora
