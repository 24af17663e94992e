#pragma once

#include "core/MeasurementPipeline.h"

#include <string>
#include <vector>

namespace kelvora::test {

// A pipeline with everything it needs; sounds are recorded by name ("A3",
// "N3") and play successfully unless told otherwise.
class RecordingSounds : public SoundStarter {
public:
    explicit RecordingSounds(IntensityAlerts& alerts) : alerts_(alerts) {}
    void startAlertSound(int k) override {
        alerts_.beginAlertPlay(k);
        started.push_back(std::string(1, 'A').append(std::to_string(k)));
        alerts_.finishAlertPlay(k, !failing);
    }
    void startNoticeSound(int k) override {
        alerts_.beginNoticePlay(k);
        started.push_back(std::string(1, 'N').append(std::to_string(k)));
        alerts_.finishNoticePlay(k, !failing);
    }
    std::vector<std::string> started;
    bool failing = false;

private:
    IntensityAlerts& alerts_;
};

struct PipelineRig {
    MeasurementState state;
    PipelineSettings settings;
    IntensityAlerts alerts;
    DisplayTextBoard board;
    RecordingSounds sounds{alerts};
    MeasurementPipeline pipeline{state, settings, alerts, board, sounds};

    // Feeds whole read results; returns the number of good frames.
    template <typename OnFrame> int feed(const std::vector<ReadResult>& reads, OnFrame&& onFrame) {
        std::size_t next = 0;
        auto read = [&] { return next < reads.size() ? reads[next++] : ReadResult::none(); };
        int good = 0;
        while (next < reads.size()) {
            sounds.started.clear();
            if (receiveStep(pipeline, read) == AssembleResult::GoodFrame) {
                ++good;
                onFrame();
            }
        }
        return good;
    }
    int feed(const std::vector<ReadResult>& reads) {
        return feed(reads, [] {});
    }
    // The frameIndex the last good frame ran with.
    int lastFrameIndex() const {
        return state.frameIndex == 0 ? kHistoryLength - 1 : state.frameIndex - 1;
    }
};

inline std::vector<ReadResult> readsOf(const std::vector<std::uint8_t>& bytes) {
    std::vector<ReadResult> reads;
    reads.reserve(bytes.size());
    for (std::uint8_t b : bytes) {
        reads.push_back(ReadResult::of(b));
    }
    return reads;
}

} // namespace kelvora::test
