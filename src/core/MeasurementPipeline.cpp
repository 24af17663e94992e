#include "core/MeasurementPipeline.h"

#include <cmath>

namespace kelvora {

MeasurementPipeline::MeasurementPipeline(MeasurementState& state, const PipelineSettings& settings,
                                         IntensityAlerts& alerts, DisplayTextBoard& board,
                                         SoundStarter& sounds)
    : state_(state), settings_(settings), alerts_(alerts), board_(board), sounds_(sounds) {}

void MeasurementPipeline::startReception() {
    MeasurementState& s = state_;
    s.siGal = 0.0;
    s.siGalComputed = 0.0;
    s.sensorSiGal = 0.0;
    s.jmaAccel = 0.0;
    s.pgv = 0.0;
    s.pgvComputed = 0.0;
    s.sensorVelocity = 0.0;
    s.frameIndex = 0;
    velocity_.startReception();
    filter_.startReception();
    window_.startReception();
    assembler_.reset();
    alerts_.startReception();
}

void MeasurementPipeline::processFrame(const FrameBytes& frameBuffer) {
    MeasurementState& s = state_;

    s.goodFrameCount.fetchAdd(1);
    applyFrame(frameBuffer, s);

    s.siGalComputed = filter_.filterAxes(s.accelX, s.accelY, s.accelZ, s.frameIndex % 100);
    s.siGal = settings_.useSensorSiGal != 0 ? s.sensorSiGal : s.siGalComputed;
    s.pgaVector = std::sqrt(s.accelX * s.accelX + s.accelY * s.accelY + s.accelZ * s.accelZ);

    if (settings_.jmaWindowMode == 0) {
        s.jmaAccel = window_.update10s(s.frameIndex, s.siGal);
    } else {
        s.jmaAccel = window_.update60s(s.frameIndex, s.siGal, s.jmaAccel);
    }

    s.pgvComputed = velocity_.update(s.accelX, s.accelY, s.accelZ);
    s.pgv = settings_.useSensorVelocity != 0 ? s.sensorVelocity : s.pgvComputed;
    if (s.pgv > s.peakPgv) {
        s.peakPgv = s.pgv;
    }

    const MercalliEstimate mercalli = estimateMercalli(s.pgaVector, s.pgv);
    s.mmiFromPga = mercalli.fromPga;
    s.mmiFromPgv = mercalli.fromPgv;
    s.mmi = mercalli_.update(s.frameIndex % 300, mercalli.blended);

    if (!(s.jmaAccel == lastJmaAccel_)) {
        lastJmaAccel_ = s.jmaAccel;
        lastJmaIntensity_ = computeJmaIntensity(s.jmaAccel);
    }
    s.jmaIntensity = lastJmaIntensity_;

    const int scale = settings_.intensityScale;
    s.intensity = scale == 0 ? s.jmaIntensity : s.mmi;

    if (std::fabs(s.accelX) > std::fabs(s.peakAccelX)) {
        s.peakAccelX = s.accelX;
    }
    if (std::fabs(s.accelY) > std::fabs(s.peakAccelY)) {
        s.peakAccelY = s.accelY;
    }
    if (std::fabs(s.accelZ) > std::fabs(s.peakAccelZ)) {
        s.peakAccelZ = s.accelZ;
    }
    if (s.pgaVector > s.peakPgaVector) {
        s.peakPgaVector = s.pgaVector;
    }
    if (s.jmaAccel > s.peakJmaAccel) {
        s.peakJmaAccel = s.jmaAccel;
    }
    if (s.jmaIntensity > s.peakJmaIntensity) {
        s.peakJmaIntensity = s.jmaIntensity;
    }
    if (s.mmi > s.peakMmi) {
        s.peakMmi = s.mmi;
    }

    if (publication_ != nullptr) {
        publication_->publishAcceleration(s);
    }
    if (s.displayPhase == 0) {
        displayTick(frameBuffer, scale);
    }
    if (publication_ != nullptr && s.frameIndex % 100 == 2) {
        publication_->publishEnvironment(s);
    }

    if (recorder_ != nullptr) {
        recorder_->recordFrame(s);
    }

    const double floor = scale == 0 ? kJmaFloor : kMmiFloor;
    if (s.intensity < floor) {
        s.intensity = floor;
    }
    s.history[static_cast<std::size_t>(s.frameIndex)] = {s.intensity, s.siGal,  s.accelX,
                                                         s.accelY,    s.accelZ, s.pgv};
    velocity_.keepPrevious(s.accelX, s.accelY, s.accelZ);

    s.displayPhase = s.displayPhase >= kDisplayPeriod - 1 ? 0 : s.displayPhase + 1;
    s.frameIndex = s.frameIndex >= kHistoryLength - 1 ? 0 : s.frameIndex + 1;
    if (recorder_ != nullptr) {
        recorder_->countDown();
    }
}

void MeasurementPipeline::displayTick(const FrameBytes& frameBuffer, int scale) {
    MeasurementState& s = state_;
    alerts_.decideClass(scale, s.peakJmaIntensity, s.peakMmi, texts_.intensityText);
    alerts_.updateAlerts(sounds_);
    formatDisplayTick(s, frameBuffer, texts_);
    board_.publish(texts_);
    alerts_.countClassChange();
    if (publication_ != nullptr) {
        publication_->publishIntensity(s);
    }
    s.peakMmi = kPeakMmiReset;
    s.peakJmaIntensity = kJmaFloor;
}

void advanceFrameRateClock(MeasurementState& state, int elapsedMilliseconds) {
    state.mmTickCount += elapsedMilliseconds;
    if (state.mmTickCount >= 1000) {
        state.framesPerSecond = state.goodFrameCount.exchange(0);
        state.mmTickCount -= 1000;
        if (state.mmTickCount >= 1000) { // a stalled timer: start a fresh period
            state.mmTickCount = 0;
        }
    }
}

} // namespace kelvora
