#pragma once

// Small hand-made fixtures shared by the focused core tests: frames built from
// chosen values, byte streams of several frames, and one good frame run
// straight through a rig's pipeline.
#include "PipelineRig.h"

#include <cstdint>
#include <vector>

namespace kelvora::test {

inline std::vector<std::uint8_t> bytesOf(const FrameBytes& frame) {
    return {frame.begin(), frame.end()};
}

inline std::vector<std::uint8_t> bytesOf(const std::vector<FrameValues>& frames) {
    std::vector<std::uint8_t> out;
    for (const FrameValues& v : frames) {
        const FrameBytes f = encodeFrame(v);
        out.insert(out.end(), f.begin(), f.end());
    }
    return out;
}

// One good frame through the per-frame pipeline, as the receive loop runs it.
inline void runFrame(PipelineRig& rig, const FrameValues& values) {
    rig.pipeline.processFrame(encodeFrame(values));
}

// A frame that carries only the sensor's own composite acceleration; with
// useSensorSiGal 1 this sets siGal exactly (as a float).
inline FrameValues siGalFrame(float sensorSiGal) {
    FrameValues v;
    v.sensorSiGal = sensorSiGal;
    return v;
}

inline FrameValues axesFrame(float x, float y, float z) {
    FrameValues v;
    v.accelX = x;
    v.accelY = y;
    v.accelZ = z;
    return v;
}

} // namespace kelvora::test
