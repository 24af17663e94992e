#include "output/AccelerogramRecorder.h"

#include "core/DisplayTexts.h"
#include "core/NativePath.h"
#include "output/OutputFolders.h"
#include "output/RegularFile.h"
#include "output/StandardError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>
#include <unistd.h>

namespace kelvora {

namespace {

constexpr char kHeader[] = "\xEF\xBB\xBF"
                           "日付,時間,ms, 震度, 合成GAL(フィルタ有), X軸(E-W), Y軸(N-S), "
                           "Z軸(U-D), 合成速度\r\n\r\n";

// Room for the longest name: six full-range integers, the separators and "-9999.csv".
constexpr std::size_t kNameCapacity = 128;
constexpr int kLastSuffix = 9999;
constexpr std::size_t kRowCapacity = 256;

// printf's "%0<width>d".
char* putDecimal(char* out, int value, int width) {
    unsigned magnitude =
        value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) {
        *out++ = '-';
        --width;
    }
    for (int i = count; i < width; ++i) {
        *out++ = '0';
    }
    while (count > 0) {
        *out++ = digits[--count];
    }
    return out;
}

// ", " then printf's "%<width>.<precision>f" cut to width characters.
char* putNumber(char* out, double value, int width, int precision) {
    FieldText text;
    text.formatFixed(value, width, precision, static_cast<std::size_t>(width));
    *out++ = ',';
    *out++ = ' ';
    std::memcpy(out, text.c_str(), text.view().size());
    return out + text.view().size();
}

// "%04d%02d%02d-%02d%02d%02d", without ".csv".
char* putStem(char* out, const LocalTime& time) {
    out = putDecimal(out, time.year, 4);
    out = putDecimal(out, time.month, 2);
    out = putDecimal(out, time.day, 2);
    *out++ = '-';
    out = putDecimal(out, time.hour, 2);
    out = putDecimal(out, time.minute, 2);
    return putDecimal(out, time.second, 2);
}

} // namespace

AccelerogramRecorder::AccelerogramRecorder(std::string_view folder,
                                           const RecorderSettings& settings, RecorderClock& clock,
                                           RecordFile::PositionedWrite write)
    : settings_(settings), clock_(clock), file_(write != nullptr ? write : &::pwrite) {
    const std::string separator = nativePath("\\");
    folderNameLength_ = folder.size();
    folderLength_ = folder.size() + separator.size();
    path_ = std::make_unique<char[]>(folderLength_ + kNameCapacity);
    std::memcpy(path_.get(), folder.data(), folder.size());
    std::memcpy(path_.get() + folder.size(), separator.data(), separator.size());
    path_[folderLength_] = '\0';
}

AccelerogramRecorder::~AccelerogramRecorder() {
    closeRecording();
}

void AccelerogramRecorder::recordFrame(const MeasurementState& state) {
    bool started = false;
    if (!file_.isOpen()) {
        const double startVelocity = settings_.recordStartVelocity;
        const bool trigger = state.intensity > settings_.recordStartIntensity - 0.01 ||
                             (state.peakPgv > startVelocity && startVelocity > 0.0);
        started = trigger && startRecording(state);
    }
    if (!file_.isOpen()) {
        return;
    }
    writeRow({state.intensity, state.siGal, state.accelX, state.accelY, state.accelZ, state.pgv});
    if (started || ++rowsSinceFlush_ >= kRowsPerFlush) {
        (void)file_.flush();
        rowsSinceFlush_ = 0;
    }
    if (file_.failed()) {
        if (started) {
            // Without its header and the ten seconds before the trigger the
            // file is no recording: remove it, and the trigger is tried again
            // on the next frame as after a failed open.
            const int error = file_.error();
            file_.abandon();
            (void)::unlink(path_.get());
            recording_ = false;
            sayNoRecording(error);
            return;
        }
        // Rows written after a refused one would leave a hole in the middle
        // of the shaking: the recording ends where the disk stopped it.
        endRecording();
        return;
    }
    if (started) {
        sayRecordingAgain();
    }
    if (countdown_ == 0 && state.intensity < settings_.recordStopIntensity + 0.01) {
        endRecording();
    }
}

void AccelerogramRecorder::countDown() {
    if (countdown_ > 0) {
        --countdown_;
    }
}

void AccelerogramRecorder::closeRecording() {
    endRecording();
}

void AccelerogramRecorder::endRecording() {
    if (!file_.isOpen()) {
        return;
    }
    file_.close();
    recording_ = false;
    if (file_.failed()) {
        sayRecordingCut(file_.error());
    }
}

// Said once, until a recording starts again: a quake triggers on every frame.
void AccelerogramRecorder::sayNoRecording(int error) {
    if (troubleSaid_) {
        return;
    }
    troubleSaid_ = true;
    char text[128];
    sayOnStandardError("cannot record into %.*s: %s; the next trigger tries again",
                       static_cast<int>(folderNameLength_), path_.get(),
                       fileErrorText(error, text, sizeof text));
}

void AccelerogramRecorder::sayRecordingCut(int error) {
    if (troubleSaid_) {
        return;
    }
    troubleSaid_ = true;
    char text[128];
    sayOnStandardError("recording %s ends early: %s; it holds the rows written before", path_.get(),
                       fileErrorText(error, text, sizeof text));
}

void AccelerogramRecorder::sayRecordingAgain() {
    if (!troubleSaid_) {
        return;
    }
    troubleSaid_ = false;
    sayOnStandardError("recording into %.*s again", static_cast<int>(folderNameLength_),
                       path_.get());
}

bool AccelerogramRecorder::startRecording(const MeasurementState& state) {
    LocalTime firstRow = clock_.now();
    firstRow.millisecond = firstRow.millisecond / 10 * 10;
    firstRow = addMilliseconds(firstRow, -10'000);
    if (!createFile(firstRow)) {
        sayNoRecording(errno);
        return false;
    }
    recording_ = true;
    rowTime_ = firstRow;
    rowsSinceFlush_ = 0;
    file_.append(kHeader, sizeof kHeader - 1);
    for (int i = 0; i < kHistoryLength; ++i) {
        writeRow(state.history[static_cast<std::size_t>((state.frameIndex + i) % kHistoryLength)]);
    }
    // The history and the trigger frame are 1001 rows of the minimum length.
    const std::int64_t frames = std::int64_t{settings_.recordMinSeconds} * 100 - 1001;
    countdown_ = static_cast<std::int32_t>(
        std::clamp<std::int64_t>(frames, 0, std::numeric_limits<std::int32_t>::max()));
    return true;
}

bool AccelerogramRecorder::createFile(const LocalTime& firstRow) {
    char* const stemEnd = putStem(path_.get() + folderLength_, firstRow);
    std::memcpy(stemEnd, ".csv", 5);
    bool created = file_.create(path_.get());
    if (!created && errno == ENOENT) {
        // The folder was removed while the program runs.
        if (!makeFolderAgain()) {
            return false;
        }
        created = file_.create(path_.get());
    }
    // A recording restarted within the same second of first-row time, or a
    // clock set back, must not replace an earlier file.
    for (int suffix = 2; !created && errno == EEXIST && suffix <= kLastSuffix; ++suffix) {
        char* end = stemEnd;
        *end++ = '-';
        end = putDecimal(end, suffix, 1);
        std::memcpy(end, ".csv", 5);
        created = file_.create(path_.get());
    }
    return created;
}

// The folder alone, not the working folder above it: a working folder that
// has gone is not the program's to make. False with errno set.
bool AccelerogramRecorder::makeFolderAgain() {
    const char separator = path_[folderNameLength_];
    path_[folderNameLength_] = '\0';
    const bool made = makeFolder(path_.get());
    const int error = errno;
    path_[folderNameLength_] = separator;
    errno = error;
    return made;
}

void AccelerogramRecorder::writeRow(const HistoryRecord& values) {
    char row[kRowCapacity];
    char* p = putDecimal(row, rowTime_.year, 4);
    *p++ = '-';
    p = putDecimal(p, rowTime_.month, 2);
    *p++ = '-';
    p = putDecimal(p, rowTime_.day, 2);
    *p++ = ',';
    p = putDecimal(p, rowTime_.hour, 2);
    *p++ = ':';
    p = putDecimal(p, rowTime_.minute, 2);
    *p++ = ':';
    p = putDecimal(p, rowTime_.second, 2);
    *p++ = ',';
    p = putDecimal(p, rowTime_.millisecond, 3);
    p = putNumber(p, values.intensity, 4, 1);
    p = putNumber(p, values.siGal, 17, 12);
    p = putNumber(p, values.accelX, 17, 12);
    p = putNumber(p, values.accelY, 17, 12);
    p = putNumber(p, values.accelZ, 17, 12);
    p = putNumber(p, values.pgv, 17, 12);
    *p++ = '\r';
    *p++ = '\n';
    file_.append(row, static_cast<std::size_t>(p - row));
    rowTime_ = addMilliseconds(rowTime_, 10);
}

} // namespace kelvora
