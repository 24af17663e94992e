#pragma once

#include "core/MeasurementState.h"
#include "core/PipelineHooks.h"
#include "core/PipelineSettings.h"
#include "core/Relaxed.h"
#include "output/RecordFile.h"
#include "output/RecorderClock.h"

#include <cstdint>
#include <memory>
#include <string_view>

namespace kelvora {

// Writes an accelerogram CSV file for every event: the 1000 frames before the
// trigger from the history ring, then one row per good frame until the
// minimum length has passed and the intensity is at or below the stop value.
// Row times are generated (10 ms per row) from the clock reading at the
// trigger. A file never replaces another: a taken name gets "-2", "-3", ...
// before ".csv". Failures never reach the caller: a file that cannot be
// created, or whose header and history cannot all be written, is removed and
// tried again on the next frame; a later failed write loses its piece.
class AccelerogramRecorder final : public RecorderHook {
public:
    // Rows reach the kernel at least this often, so a killed program loses
    // at most the last second of its recording.
    static constexpr int kRowsPerFlush = 100;

    // folder: where the files go, in the platform's form; it is not created
    // here. write: pwrite(2) when null; tests pass a stand-in that fails.
    AccelerogramRecorder(std::string_view folder, const RecorderSettings& settings,
                         RecorderClock& clock, RecordFile::PositionedWrite write = nullptr);
    ~AccelerogramRecorder() override;

    void recordFrame(const MeasurementState& state) override;
    void countDown() override;
    void closeRecording() override;

    // Whether a recording is open; other threads may ask.
    bool isRecording() const { return recording_; }

private:
    bool startRecording(const MeasurementState& state);
    bool createFile(const LocalTime& firstRow);
    void writeRow(const HistoryRecord& values);

    const RecorderSettings& settings_;
    RecorderClock& clock_;
    RecordFile file_;
    std::unique_ptr<char[]> path_; // the folder, the separator, then room for a name
    std::size_t folderLength_ = 0;
    LocalTime rowTime_;
    std::int32_t countdown_ = 0;
    int rowsSinceFlush_ = 0;
    Relaxed<bool> recording_{false};
};

} // namespace kelvora
