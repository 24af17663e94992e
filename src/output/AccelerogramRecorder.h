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
// before ".csv". A folder that has gone is made again at the next trigger.
// Failures never reach the caller: a file that cannot be created, or whose
// header and history cannot all be written, is removed and tried again on the
// next triggered frame; a later failed write ends the recording at its last
// whole row, and the next triggered frame may start a new one. The first
// failure is said once on standard error, and that it works again when it
// does.
class AccelerogramRecorder final : public RecorderHook {
public:
    // Rows reach the kernel at least this often, so a killed program loses
    // at most the last second of its recording.
    static constexpr int kRowsPerFlush = 100;

    // folder: where the files go, in the platform's form; made again when a
    // trigger finds it missing. write: pwrite(2) when null; tests pass a
    // stand-in that fails.
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
    bool makeFolderAgain();
    void writeRow(const HistoryRecord& values);
    // Closes the file; a write that failed on the way is said.
    void endRecording();
    void sayNoRecording(int error);
    void sayRecordingCut(int error);
    void sayRecordingAgain();

    const RecorderSettings& settings_;
    RecorderClock& clock_;
    RecordFile file_;
    std::unique_ptr<char[]> path_;     // the folder, the separator, then room for a name
    std::size_t folderLength_ = 0;     // with the separator
    std::size_t folderNameLength_ = 0; // without it
    LocalTime rowTime_;
    std::int32_t countdown_ = 0;
    int rowsSinceFlush_ = 0;
    bool troubleSaid_ = false; // a failure was said and nothing has worked since
    Relaxed<bool> recording_{false};
};

} // namespace kelvora
