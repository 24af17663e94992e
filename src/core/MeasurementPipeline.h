#pragma once

#include "core/DisplayTexts.h"
#include "core/FrameAssembler.h"
#include "core/IntensityAlerts.h"
#include "core/JmaIntensity.h"
#include "core/MeasurementState.h"
#include "core/Mercalli.h"
#include "core/PipelineHooks.h"

namespace kelvora {

// Everything one good frame does, in the fixed order the other stages rely on:
// frame values, JMA filter and window, velocity and Mercalli, JMA intensity,
// peaks, publication, the display tick with classes, sounds and texts, the
// recorder, the history ring and the frame clocks.
class MeasurementPipeline {
public:
    MeasurementPipeline(MeasurementState& state, const PipelineSettings& settings,
                        IntensityAlerts& alerts, DisplayTextBoard& board, SoundStarter& sounds);

    void setPublication(PublicationHook* publication) { publication_ = publication; }
    void setRecorder(RecorderHook* recorder) { recorder_ = recorder; }

    // Clears what a new reception run starts without; the rest carries over.
    void startReception();
    // Closes an open recording (end of a reception run, window destruction).
    void closeRecording() {
        if (recorder_ != nullptr) {
            recorder_->closeRecording();
        }
    }
    // One good frame; frameBuffer is the frame as received.
    void processFrame(const FrameBytes& frameBuffer);

    // The decoder of this pipeline's reception runs.
    FrameAssembler& assembler() { return assembler_; }
    MeasurementState& state() { return state_; }
    IntensityAlerts& alerts() { return alerts_; }
    // The display texts as the receive thread last formatted them.
    const DisplayTexts& workingTexts() const { return texts_; }

private:
    void displayTick(const FrameBytes& frameBuffer, int scale);

    MeasurementState& state_;
    const PipelineSettings& settings_;
    IntensityAlerts& alerts_;
    DisplayTextBoard& board_;
    SoundStarter& sounds_;
    PublicationHook* publication_ = nullptr;
    RecorderHook* recorder_ = nullptr;

    FrameAssembler assembler_;
    AxisFilterChain filter_;
    JmaWindow window_;
    VelocityIntegrators velocity_;
    MercalliHold mercalli_;
    DisplayTexts texts_;
    // computeJmaIntensity of the last jmaAccel: the window often holds its value.
    double lastJmaAccel_ = 0.0;
    double lastJmaIntensity_ = kJmaFloor;
};

// One read of the receive loop: push the read result, run the pipeline on a
// good frame, make and discard the extra read after a bad one.
template <typename ReadFn>
AssembleResult receiveStep(MeasurementPipeline& pipeline, ReadFn&& read) {
    FrameAssembler& assembler = pipeline.assembler();
    const AssembleResult result = assembler.pushRead(read());
    if (result == AssembleResult::GoodFrame) {
        pipeline.processFrame(assembler.frame());
    } else if (result == AssembleResult::BadFrame) {
        assembler.skipNext(read());
    }
    return result;
}

// The one-second roll-over of the frame count, driven by a timer thread with
// the milliseconds that passed since its last call. The part of a period past
// 1000 ms is kept so the periods average exactly one second.
void advanceFrameRateClock(MeasurementState& state, int elapsedMilliseconds);

} // namespace kelvora
