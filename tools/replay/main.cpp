// kelvora-replay: runs a recorded or generated sensor byte stream through the
// same decoder and pipeline as the receive thread.
#include "ReplayOptions.h"

#include "core/MeasurementPipeline.h"
#include "core/RecordThresholds.h"
#include "output/AccelerogramRecorder.h"
#include "output/RecorderClock.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace kelvora;

// Reads the input in large blocks and hands it out one read result at a time;
// the end of the input ends the reception run.
class BlockReader {
public:
    explicit BlockReader(int fd) : fd_(fd), buffer_(1 << 20) {}

    ReadResult next() {
        if (position_ == length_ && !refill()) {
            return ReadResult::none();
        }
        return ReadResult::of(buffer_[position_++]);
    }
    // Reads the first block ahead, so that an input that cannot be read fails
    // before anything is printed. False on a read error.
    bool readAhead() { return refill() || !failed(); }
    bool atEnd() const { return ended_; }
    bool failed() const { return error_ != 0; }
    int error() const { return error_; }
    unsigned long long bytesRead() const { return total_; }

private:
    bool refill() {
        if (ended_) {
            return false;
        }
        ssize_t n;
        do {
            n = ::read(fd_, buffer_.data(), buffer_.size());
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
            if (n < 0) {
                error_ = errno;
            }
            ended_ = true;
            return false;
        }
        position_ = 0;
        length_ = static_cast<std::size_t>(n);
        total_ += static_cast<unsigned long long>(n);
        return true;
    }

    int fd_;
    std::vector<std::uint8_t> buffer_;
    std::size_t position_ = 0;
    std::size_t length_ = 0;
    unsigned long long total_ = 0;
    bool ended_ = false;
    int error_ = 0;
};

// Sounds count as played: the retry flags are cleared as a play starts and
// never set. The names of one frame's sounds are kept for its CSV line.
class ListedSounds : public SoundStarter {
public:
    explicit ListedSounds(IntensityAlerts& alerts) : alerts_(alerts) {}
    void startAlertSound(int k) override {
        alerts_.beginAlertPlay(k);
        add('A', k);
        alerts_.finishAlertPlay(k, true);
    }
    void startNoticeSound(int k) override {
        alerts_.beginNoticePlay(k);
        add('N', k);
        alerts_.finishNoticePlay(k, true);
    }
    void clear() { length_ = 0; }
    std::string_view text() const { return {text_, length_}; }

private:
    void add(char kind, int k) {
        if (length_ + 4 > sizeof text_) {
            return;
        }
        if (length_ > 0) {
            text_[length_++] = ' ';
        }
        text_[length_++] = kind;
        text_[length_++] = static_cast<char>('0' + k);
    }

    IntensityAlerts& alerts_;
    char text_[64] = {};
    std::size_t length_ = 0;
};

std::int64_t millisecondsSince1970(const LocalTime& t) {
    return daysFromCivil(t.year, t.month, t.day) * 86'400'000 + t.hour * 3'600'000 +
           t.minute * 60'000 + t.second * 1000 + t.millisecond;
}

// A simulated local clock: the good frame about to run is at the start time
// plus 10 ms for every good frame before it.
class FrameClock : public RecorderClock {
public:
    explicit FrameClock(const LocalTime& start)
        : start_(start), lastFrame_(static_cast<unsigned long long>(
                             (millisecondsSince1970(kEnd) - millisecondsSince1970(start)) / 10)) {}
    void setGoodFrames(unsigned long long frames) { frames_ = frames; }
    LocalTime now() override {
        return addMilliseconds(start_, static_cast<std::int64_t>(frames_) * 10);
    }
    // Whether the frame about to run is past the recorder's four-digit years.
    // No row is stamped later than its frame's time, so up to here every row
    // and file name has them.
    bool hasRunOut() const { return frames_ > lastFrame_; }

private:
    static constexpr LocalTime kEnd{replay::kLastClockYear, 12, 31, 23, 59, 59, 999};

    LocalTime start_;
    unsigned long long lastFrame_;
    unsigned long long frames_ = 0;
};

// Standard output fails when its buffer is written out, so every call is
// checked; the reason of the first failure is kept for the message.
class StandardOutput {
public:
    // The result of a stdio call on standard output, negative (EOF) on failure.
    bool check(int result) {
        if (result < 0 && error_ == 0) {
            error_ = errno != 0 ? errno : EIO;
        }
        return error_ == 0;
    }
    bool failed() const { return error_ != 0; }
    // Flushes what is left; exit status 1 with a message when anything failed.
    int finish() {
        check(std::fflush(stdout));
        if (error_ == 0 && std::ferror(stdout)) {
            error_ = EIO;
        }
        if (error_ != 0) {
            std::fprintf(stderr, "kelvora-replay: cannot write to standard output: %s\n",
                         std::strerror(error_));
            return 1;
        }
        return 0;
    }

private:
    int error_ = 0;
};

int refuseInput(const std::string& name, const char* what, int error) {
    std::fprintf(stderr, "kelvora-replay: cannot %s %s: %s\n", what, name.c_str(),
                 std::strerror(error));
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto options = replay::parseReplayOptions(args, error);
    if (!options) {
        std::fprintf(stderr, "kelvora-replay: %s (try --help)\n", error.c_str());
        return 2;
    }
    StandardOutput output;
    if (options->help) {
        output.check(std::fputs(replay::kReplayUsage, stdout));
        return output.finish();
    }

    const bool fromStandardInput = options->input == "-";
    const std::string inputName =
        fromStandardInput ? std::string("standard input") : "'" + options->input + "'";
    int fd = STDIN_FILENO;
    if (!fromStandardInput) {
        fd = ::open(options->input.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            return refuseInput(inputName, "open", errno);
        }
    }
    // A directory opens fine and fails only at the first read: refuse it
    // before any output is written.
    struct stat inputStat {};
    if (::fstat(fd, &inputStat) == 0 && S_ISDIR(inputStat.st_mode)) {
        if (!fromStandardInput) {
            ::close(fd);
        }
        return refuseInput(inputName, "read", EISDIR);
    }

    if (options->recordDir) {
        struct stat st {};
        const int failure = ::stat(options->recordDir->c_str(), &st) != 0 ? errno
                            : !S_ISDIR(st.st_mode)                        ? ENOTDIR
                                                                          : 0;
        if (failure != 0) {
            std::fprintf(stderr, "kelvora-replay: cannot record into '%s': %s\n",
                         options->recordDir->c_str(), std::strerror(failure));
            if (!fromStandardInput) {
                ::close(fd);
            }
            return 2;
        }
    }

    BlockReader reader(fd);
    if (!reader.readAhead()) {
        if (!fromStandardInput) {
            ::close(fd);
        }
        return refuseInput(inputName, "read", reader.error());
    }

    MeasurementState state;
    PipelineSettings settings;
    settings.jmaWindowMode = options->jmaWindowMode;
    settings.intensityScale = options->intensityScale;
    settings.useSensorSiGal = options->useSensorSiGal ? 1 : 0;
    settings.useSensorVelocity = options->useSensorVelocity ? 1 : 0;
    IntensityAlerts alerts;
    DisplayTextBoard board;
    ListedSounds sounds(alerts);
    MeasurementPipeline pipeline(state, settings, alerts, board, sounds);
    pipeline.startReception();

    RecorderSettings recorderSettings;
    std::unique_ptr<FrameClock> frameClock;
    std::unique_ptr<LocalClock> localClock;
    std::unique_ptr<AccelerogramRecorder> recorder;
    if (options->recordDir) {
        const RecordThresholds thresholds = recordThresholdDefaults(options->intensityScale);
        recorderSettings.recordStartIntensity = options->recordStart.value_or(thresholds.start);
        recorderSettings.recordStopIntensity = options->recordStop.value_or(thresholds.stop);
        recorderSettings.recordMinSeconds = options->recordMinSeconds;
        recorderSettings.recordStartVelocity = options->recordVelocity;
        RecorderClock* clock = nullptr;
        if (options->clock) {
            frameClock = std::make_unique<FrameClock>(*options->clock);
            clock = frameClock.get();
        } else {
            localClock = std::make_unique<LocalClock>();
            clock = localClock.get();
        }
        recorder =
            std::make_unique<AccelerogramRecorder>(*options->recordDir, recorderSettings, *clock);
        pipeline.setRecorder(recorder.get());
    }

    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    if (!options->summary) {
        output.check(std::fputs(
            "frame,frameIndex,siGalComputed,siGal,jmaAccel,jmaIntensity,pgaVector,pgv,mmi,"
            "intensity,class,sounds\n",
            stdout));
    }

    auto read = [&reader] { return reader.next(); };
    bool clockRanOut = false;
    unsigned long long frames = 0;
    unsigned long long badFrames = 0;
    double maxJma = kJmaFloor;
    double maxMmi = kMmiFloor;
    const auto started = std::chrono::steady_clock::now();
    // Nobody gets the lines once standard output fails: stop there.
    while (!reader.atEnd() && !output.failed()) {
        sounds.clear();
        if (frameClock && !clockRanOut) {
            frameClock->setGoodFrames(frames);
            // The replay goes on; only its recordings end, as they cannot be named.
            if (frameClock->hasRunOut()) {
                clockRanOut = true;
                pipeline.closeRecording();
                pipeline.setRecorder(nullptr);
                std::fprintf(stderr,
                             "kelvora-replay: the clock passed the end of the year %d at frame "
                             "%llu; nothing from there on is recorded\n",
                             replay::kLastClockYear, frames + 1);
            }
        }
        const AssembleResult result = receiveStep(pipeline, read);
        if (result == AssembleResult::BadFrame) {
            ++badFrames;
            continue;
        }
        if (result != AssembleResult::GoodFrame) {
            continue;
        }
        ++frames;
        if (state.jmaIntensity > maxJma) {
            maxJma = state.jmaIntensity;
        }
        if (state.mmi > maxMmi) {
            maxMmi = state.mmi;
        }
        if (!options->summary) {
            const int frameIndex =
                state.frameIndex == 0 ? kHistoryLength - 1 : state.frameIndex - 1;
            output.check(
                std::printf("%llu,%d,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%d,%.*s\n",
                            frames, frameIndex, state.siGalComputed, state.siGal, state.jmaAccel,
                            state.jmaIntensity, state.pgaVector, state.pgv, state.mmi,
                            state.history[static_cast<std::size_t>(frameIndex)].intensity,
                            static_cast<int>(alerts.intensityClass),
                            static_cast<int>(sounds.text().size()), sounds.text().data()));
        }
    }
    // The end of the input ends the reception run, and with it a recording.
    pipeline.closeRecording();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!fromStandardInput) {
        ::close(fd);
    }
    if (const int status = output.finish(); status != 0) {
        return status;
    }
    if (reader.failed()) {
        return refuseInput(inputName, "read", reader.error());
    }
    if (options->summary) {
        const double fps = seconds > 0.0 ? static_cast<double>(frames) / seconds : 0.0;
        // Standard error is where the summary goes, so a failure has nowhere
        // to be told but the exit status.
        if (std::fprintf(stderr,
                         "frames=%llu bad=%llu bytes=%llu seconds=%.3f fps=%.0f max_jma=%.1f "
                         "max_mmi=%.1f\n",
                         frames, badFrames, reader.bytesRead(), seconds, fps, maxJma, maxMmi) < 0) {
            return 1;
        }
    }
    // Not all that was asked was recorded.
    return clockRanOut ? 1 : 0;
}
