#include "core/FrameAssembler.h"

#include "core/MeasurementState.h"

namespace kelvora {

AssembleResult FrameAssembler::pushRead(ReadResult read) {
    if (!read.received) {
        byteCount_ = 0;
        return AssembleResult::Incomplete;
    }
    frameBuffer_[static_cast<std::size_t>(byteCount_)] = read.byte;
    ++byteCount_;
    if (byteCount_ < static_cast<int>(frame::kSize)) {
        return AssembleResult::Incomplete;
    }
    // The buffer keeps the frame while the caller runs the pipeline; the next
    // byte starts a new frame at position 0.
    byteCount_ = 0;
    if (frameChecksum(frameBuffer_.data()) == readU16(&frameBuffer_[frame::kChecksum])) {
        return AssembleResult::GoodFrame;
    }
    return AssembleResult::BadFrame;
}

void FrameAssembler::skipNext(ReadResult) { byteCount_ = 0; }

void FrameAssembler::reset() {
    frameBuffer_.fill(0);
    byteCount_ = 0;
}

namespace {
inline void applyField(const FrameBytes& bytes, std::size_t offset, double& target) {
    const std::uint32_t bits = readU32(&bytes[offset]);
    if (isNonFiniteFloatBits(bits)) {
        return;
    }
    target = static_cast<double>(readFloat(&bytes[offset]));
}
} // namespace

void applyFrame(const FrameBytes& bytes, MeasurementState& state) {
    applyField(bytes, frame::kSensorSiGal, state.sensorSiGal);
    applyField(bytes, frame::kSensorVelocity, state.sensorVelocity);
    applyField(bytes, frame::kAccelX, state.accelX);
    applyField(bytes, frame::kAccelY, state.accelY);
    applyField(bytes, frame::kAccelZ, state.accelZ);
    applyField(bytes, frame::kTemperature, state.temperature);
    applyField(bytes, frame::kHumidity, state.humidity);
    applyField(bytes, frame::kPressure, state.pressure);
    applyField(bytes, frame::kSeaLevelPressure, state.seaLevelPressure);
}

} // namespace kelvora
