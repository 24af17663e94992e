#include "core/FrameAssembler.h"

#include "core/MeasurementState.h"

namespace kelvora {

void FrameAssembler::skipNext(ReadResult) {
    byteCount_ = 0;
}

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

inline void applyMotionField(const FrameBytes& bytes, std::size_t offset, double& target) {
    if (!isPlausibleMotionBits(readU32(&bytes[offset]))) {
        return;
    }
    target = static_cast<double>(readFloat(&bytes[offset]));
}
} // namespace

void applyFrame(const FrameBytes& bytes, MeasurementState& state) {
    applyMotionField(bytes, frame::kSensorSiGal, state.sensorSiGal);
    applyMotionField(bytes, frame::kSensorVelocity, state.sensorVelocity);
    applyMotionField(bytes, frame::kAccelX, state.accelX);
    applyMotionField(bytes, frame::kAccelY, state.accelY);
    applyMotionField(bytes, frame::kAccelZ, state.accelZ);
    applyField(bytes, frame::kTemperature, state.temperature);
    applyField(bytes, frame::kHumidity, state.humidity);
    applyField(bytes, frame::kPressure, state.pressure);
    applyField(bytes, frame::kSeaLevelPressure, state.seaLevelPressure);
}

} // namespace kelvora
