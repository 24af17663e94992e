#pragma once

// What the recorder's tests share: the bytes every recording starts with, a
// clock the test sets, numbered test frames fed in the pipeline's order and
// readers of a recording's rows.
#include "core/MeasurementState.h"
#include "output/AccelerogramRecorder.h"
#include "output/LocalTime.h"

#include "support/Files.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kelvora::test {

// The byte order mark, the column titles and the empty line.
inline constexpr std::string_view kRecordingHeader =
    "\xEF\xBB\xBF"
    "日付,時間,ms, 震度, 合成GAL(フィルタ有), X軸(E-W), Y軸(N-S), "
    "Z軸(U-D), 合成速度\r\n\r\n";

// A clock the test sets; it counts its readings (one per recording start or
// attempted start).
class CountingClock : public RecorderClock {
public:
    explicit CountingClock(LocalTime start) : time(start) {}
    LocalTime now() override {
        ++readings;
        return time;
    }
    LocalTime time;
    int readings = 0;
};

// The values of the test frame numbered n: every column tells the frame apart,
// and the siGal column carries n itself.
inline HistoryRecord frameValues(double intensity, int n) {
    const double v = n;
    return {intensity, v, v + 0.25, -v - 0.5, v + 0.75, v / 8.0};
}

// One good frame of test frame n's values in the pipeline's order: recorder
// step, history write, countdown, then the clock 10 ms on.
inline void feedFrame(AccelerogramRecorder& recorder, MeasurementState& state, CountingClock& clock,
                      double intensity, int n, double peakPgv = 0.0) {
    const HistoryRecord r = frameValues(intensity, n);
    state.intensity = r.intensity;
    state.siGal = r.siGal;
    state.accelX = r.accelX;
    state.accelY = r.accelY;
    state.accelZ = r.accelZ;
    state.pgv = r.pgv;
    state.peakPgv = peakPgv;
    recorder.recordFrame(state);
    state.history[static_cast<std::size_t>(state.frameIndex)] = r;
    state.frameIndex = (state.frameIndex + 1) % kHistoryLength;
    recorder.countDown();
    clock.time = addMilliseconds(clock.time, 10);
}

// The frame number a row was written for (its siGal column); -1 for a row
// that has not nine fields.
inline int frameOfRow(const std::string& row) {
    const std::vector<std::string> fields = split(row, ',');
    return fields.size() == 9 ? std::atoi(fields[4].c_str()) : -1;
}

// The rows of a recording, without their CR LF; a failure when the file does
// not start with the byte order mark, the header and the empty line, or does
// not end with a whole line.
inline std::vector<std::string> rowsOf(const std::filesystem::path& path) {
    const std::string bytes = readAll(path);
    std::vector<std::string> rows;
    if (bytes.compare(0, kRecordingHeader.size(), kRecordingHeader) != 0) {
        ADD_FAILURE() << path << " is empty or does not start with the header (" << bytes.size()
                      << " bytes)";
        return rows;
    }
    std::string::size_type at = kRecordingHeader.size();
    while (at < bytes.size()) {
        const auto end = bytes.find("\r\n", at);
        if (end == std::string::npos) {
            ADD_FAILURE() << path << " ends in a broken line: " << bytes.substr(at);
            break;
        }
        rows.push_back(bytes.substr(at, end - at));
        at = end + 2;
    }
    return rows;
}

// The names of the files in a folder, sorted.
inline std::vector<std::string> fileNamesIn(const std::filesystem::path& folder) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        found.push_back(entry.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace kelvora::test
