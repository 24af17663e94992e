#pragma once

#include "core/SensorFrame.h"

#include <cstdint>

namespace kelvora {

struct MeasurementState;

// The result of one single-byte read of the port: one byte, or none when the
// read time-out expired first.
struct ReadResult {
    bool received = false;
    std::uint8_t byte = 0;

    static constexpr ReadResult of(std::uint8_t b) { return {true, b}; }
    static constexpr ReadResult none() { return {}; }
};

enum class AssembleResult { Incomplete, GoodFrame, BadFrame };

// Cuts the byte stream into 42-byte frames. The stream has no start marker:
// the boundary is found through the checksum, the one-read skip after every bad
// frame and the drop of a partial frame when the line goes quiet.
class FrameAssembler {
public:
    // On GoodFrame, frame() holds the frame until the next pushRead. Inline: it
    // runs for every byte of the line.
    AssembleResult pushRead(ReadResult read) {
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
        return frameChecksum(frameBuffer_.data()) == readU16(&frameBuffer_[frame::kChecksum])
                   ? AssembleResult::GoodFrame
                   : AssembleResult::BadFrame;
    }
    // After a bad frame the caller makes one more read and hands it here; it is
    // discarded whatever it is.
    void skipNext(ReadResult read);
    // Reception start: no partial frame, buffer zeroed.
    void reset();

    const FrameBytes& frame() const { return frameBuffer_; }
    int byteCount() const { return byteCount_; }

private:
    FrameBytes frameBuffer_{};
    int byteCount_ = 0;
};

// Copies a good frame's nine floats into the state; a non-finite float, and a
// motion value beyond kMotionLimit in magnitude, leaves its value as it was.
void applyFrame(const FrameBytes& frameBuffer, MeasurementState& state);

} // namespace kelvora
