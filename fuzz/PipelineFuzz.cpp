// libFuzzer target of the frame pipeline: arbitrary bytes become a reception
// session (settings, line bytes, time-outs, stops and starts, setting changes,
// window ticks) driven through the decoder, the measurement pipeline, the
// class and alert logic, the display texts and the accelerogram recorder, as
// the receive thread and the window drive them. README.md describes the
// command format.
#include "core/MeasurementPipeline.h"
#include "output/AccelerogramRecorder.h"
#include "output/RecorderClock.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <new>
#include <sanitizer/common_interface_defs.h>
#include <string>
#include <unistd.h>

namespace {

using namespace kelvora;

// Bounds on the work of one input, so the run keeps its pace: 61 s of a
// sensor (the 60-second window's ring of blocks wraps once), the bytes of
// that many frames and as many again, and two recordings (each writes its
// 1000 rows of history, and one that restarts within a second tries every
// taken name before its own).
constexpr int kMaxGoodFrames = 6100;
constexpr long kMaxReads = 2L * kMaxGoodFrames * static_cast<long>(frame::kSize);
constexpr int kMaxRecordings = 2;
constexpr std::size_t kHeaderSize = 5;
constexpr std::size_t kMaxFeed = 8192;

// The folder the recorder writes into: one per process, emptied after every
// input so names never collide across inputs and a crash file replays alike.
class RecordFolder {
public:
    void make() {
        // tmpfs where there is one: every closed recording is fsync'ed.
        std::string base = "/dev/shm";
        if (::access(base.c_str(), W_OK | X_OK) != 0) {
            const char* tmp = std::getenv("TMPDIR");
            base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
        }
        std::string pattern = base + "/kelvora-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::fprintf(stderr, "kelvora fuzz: cannot make %s: %s\n", pattern.c_str(),
                         std::strerror(errno));
            std::abort();
        }
        std::snprintf(path_, sizeof path_, "%s", pattern.c_str());
    }
    const char* path() const { return path_; }
    void empty() {
        if (path_[0] == '\0') {
            return;
        }
        DIR* dir = ::opendir(path_);
        if (dir == nullptr) {
            return;
        }
        while (const dirent* entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
                (void)::unlinkat(::dirfd(dir), entry->d_name, 0);
            }
        }
        ::closedir(dir);
    }
    void remove() {
        empty();
        if (path_[0] != '\0') {
            (void)::rmdir(path_);
            path_[0] = '\0';
        }
    }

private:
    char path_[4096] = {};
};

RecordFolder recordFolder;

void removeRecordFolder() {
    recordFolder.remove();
}

[[noreturn]] void fail(const char* what, double value) {
    std::fprintf(stderr, "kelvora fuzz: %s (%.17g)\n", what, value);
    removeRecordFolder();
    std::abort();
}

void checkIntensity(const char* what, double value) {
    if (std::isnan(value)) {
        fail(what, value);
    }
}

void checkClass(std::int32_t c) {
    if (c < 0 || c > kClassCount - 1) {
        fail("intensity class outside 0..9", c);
    }
}

void checkText(const FieldText& text) {
    const std::size_t size = text.view().size();
    if (size > FieldText::kCapacity || std::strlen(text.c_str()) != size) {
        fail("malformed display text, length", static_cast<double>(size));
    }
}

// Sounds start and report back at once; `failing` makes every play fail, so
// the retry flags come into play.
class CheckedSounds : public SoundStarter {
public:
    explicit CheckedSounds(IntensityAlerts& alerts) : alerts_(alerts) {}
    void startAlertSound(int k) override {
        checkSound(k);
        alerts_.beginAlertPlay(k);
        alerts_.finishAlertPlay(k, !failing);
    }
    void startNoticeSound(int k) override {
        checkSound(k);
        alerts_.beginNoticePlay(k);
        alerts_.finishNoticePlay(k, !failing);
    }
    bool failing = false;

private:
    static void checkSound(int k) {
        if (k < 1 || k > kClassCount - 1) {
            fail("sound of a class outside 1..9", k);
        }
    }
    IntensityAlerts& alerts_;
};

// The simulated local clock of kelvora-replay --clock: the good frame about to
// run is at the start time plus 10 ms for every good frame before it, plus
// the steps the input set the clock by.
class FrameClock : public RecorderClock {
public:
    explicit FrameClock(const LocalTime& start) : start_(start) {}
    void setGoodFrames(long frames) { frames_ = frames; }
    void step(std::int64_t milliseconds) { offset_ += milliseconds; }
    // The recorder reads the clock once for every recording it starts.
    int readings() const { return readings_; }
    LocalTime now() override {
        ++readings_;
        return addMilliseconds(start_, static_cast<std::int64_t>(frames_) * 10 + offset_);
    }

private:
    LocalTime start_;
    long frames_ = 0;
    std::int64_t offset_ = 0;
    int readings_ = 0;
};

// Ordinary, a leap day's midnight, and the ends of the four-digit years (the
// first row lies in year 0; the rows run into year 10000).
constexpr LocalTime kClockStarts[] = {
    {2026, 1, 1, 0, 0, 5, 437},
    {2024, 2, 29, 23, 59, 58, 995},
    {1, 1, 1, 0, 0, 3, 0},
    {9999, 12, 31, 23, 59, 55, 0},
};

enum Op : std::uint8_t {
    kFeed = 0,    // (arg << 8 | next byte) + 1 line bytes follow
    kFrame = 1,   // 40 bytes follow; sealed with their checksum, fed arg + 1 times
    kGap = 2,     // arg + 1 read time-outs
    kStart = 3,   // reception stop (when running) and start
    kSetting = 4, // setting arg, an int16 value follows
    kTick = 5,    // the window's tick; the frame-rate clock moves arg * 100 ms
    kRepeat = 6,  // the last feed or frame again, arg + 1 times
    kStop = 7,    // reception stop; the line's bytes are lost until the next start
};

enum Setting : int {
    kJmaWindow = 0,
    kScale = 1,
    kSensorSiGal = 2,
    kSensorVelocity = 3,
    kRecordStart = 4,
    kRecordStop = 5,
    kRecordMinSeconds = 6,
    kRecordVelocity = 7,
    kStepVelocityTrigger = 8,
    kSoundsFail = 9,
    kClockStep = 10,
};

// One input's reception session, made fresh for every input.
class Session {
public:
    Session(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {
        std::uint8_t header[kHeaderSize] = {};
        std::memcpy(header, data, std::min(size, kHeaderSize));
        position_ = std::min(size, kHeaderSize);

        const std::uint8_t flags = header[0];
        settings_.jmaWindowMode = (flags & 0x01) != 0 ? 1 : 0;
        settings_.intensityScale = (flags & 0x02) != 0 ? 1 : 0;
        settings_.useSensorSiGal = (flags & 0x04) != 0 ? 1 : 0;
        settings_.useSensorVelocity = (flags & 0x08) != 0 ? 1 : 0;
        sounds_.failing = (flags & 0x10) != 0;
        const bool recorderAttached = (flags & 0x20) == 0;
        clock_ = std::make_unique<FrameClock>(kClockStarts[flags >> 6]);

        // As the settings store keeps them: tenths, seconds, thousandths.
        recorderSettings_.recordStartIntensity = (-9 + static_cast<std::int8_t>(header[1])) / 10.0;
        recorderSettings_.recordStopIntensity = (-13 + static_cast<std::int8_t>(header[2])) / 10.0;
        recorderSettings_.recordMinSeconds = 30 + static_cast<std::int8_t>(header[3]);
        recorderSettings_.recordStartVelocity = (-1 + static_cast<std::int8_t>(header[4])) / 1000.0;

        if (recorderAttached) {
            recorder_ = std::make_unique<AccelerogramRecorder>(recordFolder.path(),
                                                               recorderSettings_, *clock_);
            pipeline_.setRecorder(recorder_.get());
        }
        pipeline_.startReception();
        running_ = true;
    }

    ~Session() {
        // The end of the input ends the reception run.
        pipeline_.closeRecording();
    }

    void run() {
        while (position_ < size_ && withinBudget()) {
            const std::uint8_t command = data_[position_++];
            const int arg = command >> 3;
            switch (static_cast<Op>(command & 7)) {
            case kFeed: {
                const std::size_t length =
                    std::min((static_cast<std::size_t>(arg) << 8) | next(), kMaxFeed - 1) + 1;
                const std::size_t available = std::min(length, size_ - position_);
                lastChunk_ = data_ + position_;
                lastLength_ = available;
                position_ += available;
                feed(lastChunk_, lastLength_);
                break;
            }
            case kFrame: {
                for (std::size_t i = 0; i < frame::kChecksummedBytes; ++i) {
                    frame_[i] = next();
                }
                sealFrame(frame_);
                lastChunk_ = frame_.data();
                lastLength_ = frame_.size();
                for (int i = 0; i <= arg; ++i) {
                    feed(lastChunk_, lastLength_);
                }
                break;
            }
            case kGap:
                for (int i = 0; i <= arg; ++i) {
                    timeOut();
                }
                break;
            case kStart:
                stopReception();
                startReception();
                break;
            case kSetting: {
                const std::uint8_t low = next();
                const auto value = static_cast<std::int16_t>(low | (next() << 8));
                changeSetting(arg, value);
                break;
            }
            case kTick:
                windowTick(arg * 100);
                break;
            case kRepeat:
                for (int i = 0; i <= arg; ++i) {
                    feed(lastChunk_, lastLength_);
                }
                break;
            case kStop:
                stopReception();
                break;
            }
        }
    }

    // Whether the recorder may have left files.
    bool recorded() const { return recorder_ != nullptr && goodFrames_ > 0; }

private:
    std::uint8_t next() { return position_ < size_ ? data_[position_++] : 0; }
    bool withinBudget() const { return goodFrames_ < kMaxGoodFrames && reads_ < kMaxReads; }

    // The line delivers the bytes back to back; the read after a bad frame
    // that finds the chunk used up is a time-out, as at the end of a replay.
    void feed(const std::uint8_t* bytes, std::size_t length) {
        if (!running_ || !withinBudget()) {
            return; // a stopped reception has closed the port: nobody reads the line
        }
        const std::size_t end = std::min(length, static_cast<std::size_t>(kMaxReads - reads_));
        std::size_t at = 0;
        auto read = [&] { return at < end ? ReadResult::of(bytes[at++]) : ReadResult::none(); };
        while (at < end) {
            if (receiveStep(pipeline_, read) == AssembleResult::GoodFrame && !afterGoodFrame()) {
                break;
            }
        }
        reads_ += static_cast<long>(at);
    }

    // A read whose time-out expired before a byte came.
    void timeOut() {
        if (!running_ || !withinBudget()) {
            return;
        }
        receiveStep(pipeline_, [] { return ReadResult::none(); });
        ++reads_;
    }

    // Checks the frame's results; false once the frame budget is spent.
    bool afterGoodFrame() {
        ++goodFrames_;
        clock_->setGoodFrames(goodFrames_);
        checkFrame();
        if (recorder_ != nullptr && clock_->readings() >= kMaxRecordings &&
            !recorder_->isRecording()) {
            pipeline_.setRecorder(nullptr);
        }
        return goodFrames_ < kMaxGoodFrames;
    }

    void checkFrame() const {
        checkIntensity("NaN JMA intensity", state_.jmaIntensity);
        checkIntensity("NaN Mercalli intensity", state_.mmi);
        checkIntensity("NaN intensity", state_.intensity);
        checkIntensity("NaN peak JMA intensity", state_.peakJmaIntensity);
        checkIntensity("NaN peak Mercalli intensity", state_.peakMmi);
        const int last = state_.frameIndex == 0 ? kHistoryLength - 1 : state_.frameIndex - 1;
        checkIntensity("NaN intensity in the history",
                       state_.history[static_cast<std::size_t>(last)].intensity);
        checkClass(alerts_.intensityClass);
        if (state_.frameIndex < 0 || state_.frameIndex >= kHistoryLength) {
            fail("frameIndex outside the history", state_.frameIndex);
        }
        if (state_.displayPhase < 0 || state_.displayPhase >= kDisplayPeriod) {
            fail("display phase outside the period", state_.displayPhase);
        }
    }

    // As the reception control does: the run's end closes a recording.
    void stopReception() {
        if (running_) {
            pipeline_.closeRecording();
            running_ = false;
        }
    }
    void startReception() {
        pipeline_.startReception();
        running_ = true;
    }

    void changeSetting(int which, std::int16_t value) {
        switch (static_cast<Setting>(which)) {
        case kJmaWindow:
        case kScale: {
            // The settings dialog offers these only while reception is stopped.
            const bool wasRunning = running_;
            stopReception();
            (which == kJmaWindow ? settings_.jmaWindowMode : settings_.intensityScale) = value;
            if (wasRunning) {
                startReception();
            }
            break;
        }
        case kSensorSiGal:
            settings_.useSensorSiGal = value;
            break;
        case kSensorVelocity:
            settings_.useSensorVelocity = value;
            break;
        case kRecordStart:
            recorderSettings_.recordStartIntensity = value / 10.0;
            break;
        case kRecordStop:
            recorderSettings_.recordStopIntensity = value / 10.0;
            break;
        case kRecordMinSeconds:
            // The ends stand for the ends of the stored 32-bit range.
            recorderSettings_.recordMinSeconds = value == std::numeric_limits<std::int16_t>::min()
                                                     ? std::numeric_limits<int>::min()
                                                 : value == std::numeric_limits<std::int16_t>::max()
                                                     ? std::numeric_limits<int>::max()
                                                     : value;
            break;
        case kRecordVelocity:
            recorderSettings_.recordStartVelocity = value / 1000.0;
            break;
        case kStepVelocityTrigger: {
            // Ctrl+Alt+V: off, 0.013, 0.020, 0.100 cm/s, off.
            const double x = recorderSettings_.recordStartVelocity;
            recorderSettings_.recordStartVelocity = x < 0       ? 0.013
                                                    : x < 0.014 ? 0.020
                                                    : x < 0.021 ? 0.100
                                                                : -0.001;
            break;
        }
        case kSoundsFail:
            sounds_.failing = (value & 1) != 0;
            break;
        case kClockStep:
            clock_->step(std::int64_t{value} * 1000);
            break;
        }
    }

    // What the window's 10-ms tick takes from the receive thread: the texts,
    // a pending redraw of the class image; and the frame-rate timer's step.
    void windowTick(int elapsedMilliseconds) {
        const DisplayTexts texts = board_.snapshot();
        for (const FieldText* text :
             {&texts.accelXText, &texts.accelYText, &texts.accelZText, &texts.jmaAccelText,
              &texts.pgaText, &texts.temperatureText, &texts.humidityText, &texts.pressureText,
              &texts.seaLevelPressureText, &texts.pgvText, &texts.intensityText,
              &texts.temperatureLogText, &texts.humidityLogText, &texts.pressureLogText,
              &texts.seaLevelPressureLogText}) {
            checkText(*text);
        }
        const ObservationTexts log = board_.observationTexts();
        for (const FieldText* text :
             {&log.temperature, &log.humidity, &log.pressure, &log.seaLevelPressure}) {
            checkText(*text);
        }
        if (alerts_.pendingImageRedraws > 0) {
            alerts_.pendingImageRedraws = alerts_.pendingImageRedraws - 1;
            checkClass(alerts_.intensityClass);
        }
        advanceFrameRateClock(state_, elapsedMilliseconds);
        if (state_.framesPerSecond < 0) {
            fail("negative frame rate", state_.framesPerSecond);
        }
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;

    MeasurementState state_;
    PipelineSettings settings_;
    RecorderSettings recorderSettings_;
    IntensityAlerts alerts_;
    DisplayTextBoard board_;
    CheckedSounds sounds_{alerts_};
    MeasurementPipeline pipeline_{state_, settings_, alerts_, board_, sounds_};
    std::unique_ptr<FrameClock> clock_;
    std::unique_ptr<AccelerogramRecorder> recorder_;

    bool running_ = false;
    long goodFrames_ = 0;
    long reads_ = 0;
    FrameBytes frame_{};
    const std::uint8_t* lastChunk_ = nullptr;
    std::size_t lastLength_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    recordFolder.make();
    std::atexit(removeRecordFolder);
    __sanitizer_set_death_callback(removeRecordFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Large (the history ring, the JMA windows): one place, reused, so an
    // input costs no fresh pages.
    alignas(Session) static unsigned char storage[sizeof(Session)];
    Session* session = new (storage) Session(data, size);
    session->run();
    const bool recorded = session->recorded();
    session->~Session();
    if (recorded) {
        recordFolder.empty();
    }
    return 0;
}
