// kelvora-sim: the sensor a newcomer does not have. Synthesises the sensor's
// byte stream (quiet noise, earthquakes of a chosen JMA intensity or a recorded
// accelerogram, line faults) and sends it at the sensor's pace on a
// pseudo-terminal registered as a COM port or on a serial device, or writes it
// as fast as possible to a file or standard output.
#include "QuakeCalibration.h"
#include "SimulatedLine.h"
#include "SyntheticSensor.h"
#include "output/AccelerogramCsv.h"

#include "link/PortMap.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

using namespace kelvora;

const char* const kUsage =
    "Usage: kelvora-sim [options]\n"
    "Simulates the seismic sensor: 42-byte frames, 100 a second.\n"
    "\n"
    "By default it creates a pseudo-terminal, registers it as a COM port for the\n"
    "monitor and prints one line, e.g.\n"
    "  Simulated sensor on COM100 (/dev/pts/3)\n"
    "then sends frames at the sensor's pace until SIGINT or SIGTERM (Ctrl-C), which\n"
    "remove the registration again. Frames nobody reads are lost, as on a real line.\n"
    "The registration is a link COM<n> -> device in the folder\n"
    "  $XDG_DATA_HOME/Vantrell/Kelvora/ports  (~/.local/share/Vantrell/Kelvora/ports)\n"
    "\n"
    "Where the stream goes:\n"
    "  --com N                      register as COM<N> (1 to 9999; refused while another\n"
    "                               simulator holds it or a link made by hand names an\n"
    "                               existing device); default the lowest free number\n"
    "                               from 100 up\n"
    "  --device PATH                send at the sensor's pace to an existing serial device,\n"
    "                               a terminal (set to 115200 8N1 raw); no registration\n"
    "  --output FILE|-              write the stream as fast as possible to FILE or\n"
    "                               standard output (-)\n"
    "\n"
    "What it sends:\n"
    "  --seconds N                  end after N seconds of stream, at most 10000000 (default\n"
    "                               with --output: 60; otherwise until a signal, or the end\n"
    "                               of --from-csv)\n"
    "  --seed N                     random seed; the same seed gives the same bytes (default 1)\n"
    "  --quake INTENSITY@SECONDS[:DURATION]\n"
    "                               an earthquake of the given JMA intensity (-2 to 8)\n"
    "                               starting at SECONDS (at most 10000000, and before the\n"
    "                               stream ends) and lasting DURATION seconds (1 to 600,\n"
    "                               default 20); repeatable\n"
    "  --from-csv FILE              replay an accelerogram CSV of the monitor's recorder: one\n"
    "                               frame per row (siGal, X, Y, Z and pgv from the row, the\n"
    "                               weather values synthetic); the stream ends after the last\n"
    "                               row unless --seconds asks for more (quiet noise follows);\n"
    "                               a line may hold at most 4096 bytes\n"
    "\n"
    "Line faults:\n"
    "  --corrupt RATE               probability per byte of one flipped bit\n"
    "  --drop RATE                  probability per byte that it is lost\n"
    "  --nan RATE                   probability per frame of one non-finite field\n"
    "  --start-mid-frame            begin the stream inside a frame\n"
    "  --pause SECONDS@SECONDS      silence on the line for the first value's seconds from\n"
    "                               the second value's time; the line stops after half a\n"
    "                               frame; repeatable; not with --output\n"
    "\n"
    "  --help                       this text\n"
    "\n"
    "Bad options exit with status 2, a failing line with 1.\n"
    "\n"
    "Examples:\n"
    "  kelvora-sim                                  a quiet sensor on the next free COM port\n"
    "  kelvora-sim --com 150 --quake 5.0@30:40      an intensity 5.0 quake after 30 s\n"
    "  kelvora-sim --from-csv event.csv --com 150   replay a recording\n"
    "  kelvora-sim --pause 2@10 --corrupt 0.0005    a line that stalls and garbles\n"
    "  kelvora-sim --device /dev/ttyUSB0            drive a real serial port\n"
    "  kelvora-sim --quake 4.5@5 --seconds 40 --output quake.bin\n";

struct Pause {
    double seconds;
    double startSeconds;
};

struct Options {
    std::optional<std::string> output;
    std::optional<std::string> device;
    std::optional<int> comNumber;
    std::optional<double> seconds;
    std::uint64_t seed = 1;
    std::vector<sim::IntensityEvent> quakes;
    std::vector<std::string> quakeTexts; // as given, for messages
    std::vector<Pause> pauses;
    std::optional<std::string> csvPath;
    sim::LineFaults faults;
};

// The longest stream, and so the latest start of a quake or a pause: about 16
// weeks.
constexpr double kMaxSeconds = 1e7;
// A quake's motion is computed ahead for its whole length, 24 bytes a frame:
// ten minutes, longer than any recorded earthquake shakes, is 1.4 MB. Below a
// second there is too little motion for the 0.3-s rule of the JMA intensity.
constexpr double kMinQuakeSeconds = 1.0;
constexpr double kMaxQuakeSeconds = 600.0;

// The whole text as a number, or false. from_chars takes no leading blanks, no
// plus sign and no hexadecimal, and reports overflow; for unsigned types it
// refuses a minus sign, which strtoull would wrap round to 2^64 - n.
template <typename T> bool parseNumber(const std::string& text, T& out) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, out);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return false;
    }
    if constexpr (std::is_floating_point_v<T>) {
        return std::isfinite(out);
    }
    return true;
}

bool parseSeconds(const std::string& text, double& out) {
    return parseNumber(text, out) && out >= 0.0 && out <= kMaxSeconds;
}

bool parseRate(const std::string& text, double& out) {
    return parseNumber(text, out) && out >= 0.0 && out <= 1.0;
}

bool parseQuake(const std::string& text, sim::IntensityEvent& out) {
    const auto at = text.find('@');
    if (at == std::string::npos) {
        return false;
    }
    const auto colon = text.find(':', at);
    out.durationSeconds = 20.0;
    if (!parseNumber(text.substr(0, at), out.intensity) ||
        !parseSeconds(
            text.substr(at + 1, colon == std::string::npos ? std::string::npos : colon - at - 1),
            out.startSeconds)) {
        return false;
    }
    if (colon != std::string::npos && !parseNumber(text.substr(colon + 1), out.durationSeconds)) {
        return false;
    }
    return out.intensity >= -2.0 && out.intensity <= 8.0 &&
           out.durationSeconds >= kMinQuakeSeconds && out.durationSeconds <= kMaxQuakeSeconds;
}

bool parsePause(const std::string& text, Pause& out) {
    const auto at = text.find('@');
    return at != std::string::npos && parseSeconds(text.substr(0, at), out.seconds) &&
           parseSeconds(text.substr(at + 1), out.startSeconds) && out.seconds > 0.0;
}

bool parseComNumber(const std::string& text, int& out) {
    return parseNumber(text, out) && out >= 1 && out <= sim::PortLink::kHighest;
}

// A number of seconds as the user would write it.
std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", seconds);
    return text;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "kelvora-sim: %s (try --help)\n", message.c_str());
    return 2;
}

int failWith(int status, const std::string& message) {
    std::fprintf(stderr, "kelvora-sim: %s\n", message.c_str());
    return status;
}

// Output that did not reach standard output is a failure, not silence.
int finishStandardOutput() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        return failWith(1, std::string("cannot write to standard output: ") + std::strerror(errno));
    }
    return 0;
}

// Fills `options`; an exit status when the program ends here.
std::optional<int> parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) {
                return std::nullopt;
            }
            return std::string(argv[++i]);
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return finishStandardOutput();
        }
        if (arg == "--start-mid-frame") {
            options.faults.startMidFrame = true;
            continue;
        }
        const auto v = value();
        if (arg != "--output" && arg != "--device" && arg != "--com" && arg != "--seconds" &&
            arg != "--seed" && arg != "--quake" && arg != "--pause" && arg != "--from-csv" &&
            arg != "--corrupt" && arg != "--drop" && arg != "--nan") {
            return fail("unknown option '" + arg + "'");
        }
        if (!v) {
            return fail("option " + arg + " needs a value");
        }
        double number = 0.0;
        if (arg == "--output") {
            options.output = *v;
        } else if (arg == "--device") {
            options.device = *v;
        } else if (arg == "--from-csv") {
            options.csvPath = *v;
        } else if (arg == "--com") {
            int com = 0;
            if (!parseComNumber(*v, com)) {
                return fail("--com needs a number from 1 to " +
                            std::to_string(sim::PortLink::kHighest) + ", not '" + *v + "'");
            }
            options.comNumber = com;
        } else if (arg == "--seconds") {
            if (!parseSeconds(*v, number)) {
                return fail("--seconds needs a number of seconds from 0 to " +
                            secondsText(kMaxSeconds) + ", not '" + *v + "'");
            }
            options.seconds = number;
        } else if (arg == "--seed") {
            if (!parseNumber(*v, options.seed)) {
                return fail("--seed needs a whole number from 0 to " +
                            std::to_string(std::numeric_limits<std::uint64_t>::max()) + ", not '" +
                            *v + "'");
            }
        } else if (arg == "--quake") {
            sim::IntensityEvent quake{};
            if (!parseQuake(*v, quake)) {
                return fail("--quake needs INTENSITY@SECONDS[:DURATION], the intensity from -2 to "
                            "8, the start from 0 to " +
                            secondsText(kMaxSeconds) + " s, the duration from " +
                            secondsText(kMinQuakeSeconds) + " to " + secondsText(kMaxQuakeSeconds) +
                            " s; not '" + *v + "'");
            }
            options.quakes.push_back(quake);
            options.quakeTexts.push_back(*v);
        } else if (arg == "--pause") {
            Pause pause{};
            if (!parsePause(*v, pause)) {
                return fail("--pause needs SECONDS@SECONDS (how long, from when), each up to " +
                            secondsText(kMaxSeconds) + ", not '" + *v + "'");
            }
            options.pauses.push_back(pause);
        } else {
            if (!parseRate(*v, number)) {
                return fail(arg + " needs a rate from 0 to 1, not '" + *v + "'");
            }
            (arg == "--corrupt" ? options.faults.corruptRate
             : arg == "--drop"  ? options.faults.dropRate
                                : options.faults.nanRate) = number;
        }
    }
    if (options.output && options.device) {
        return fail("--output and --device exclude each other");
    }
    if (options.comNumber && (options.output || options.device)) {
        return fail("--com registers the simulator's own pseudo-terminal; it does not go with " +
                    std::string(options.output ? "--output" : "--device"));
    }
    if (options.output && !options.pauses.empty()) {
        return fail("--pause needs a live line; it does not go with --output");
    }
    return std::nullopt;
}

constexpr double kFramesPerSecond = sim::SyntheticSensor::kFramesPerSecond;

// The frames of the stream in order. A recording replaces the sensor's motion
// and its own figures row by row; the synthetic sensor runs along for the
// weather values and takes over after the last row.
class FrameSource {
public:
    FrameSource(const Options& options, std::vector<AccelerogramRow> rows)
        : sensor_(options.seed, sim::calibrateEvents(options.seed, options.quakes)),
          writer_(options.seed, options.faults), rows_(std::move(rows)) {}

    // Appends the next frame, line faults included.
    void appendNext(std::vector<std::uint8_t>& out) {
        FrameValues values = sensor_.next();
        if (nextRow_ < rows_.size()) {
            // Every recorded number fits the frame's floats.
            const AccelerogramRow& row = rows_[nextRow_++];
            values.sensorSiGal = static_cast<float>(row.siGal);
            values.sensorVelocity = static_cast<float>(row.velocity);
            values.accelX = static_cast<float>(row.accelX);
            values.accelY = static_cast<float>(row.accelY);
            values.accelZ = static_cast<float>(row.accelZ);
        }
        writer_.append(values, out);
    }

private:
    sim::SyntheticSensor sensor_;
    sim::StreamWriter writer_;
    std::vector<AccelerogramRow> rows_;
    std::size_t nextRow_ = 0;
};

// Frames n with first <= n < end. The line falls silent inside the first one.
struct PausedFrames {
    std::int64_t first;
    std::int64_t end;
};

std::int64_t frameAtOrAfter(double seconds) {
    // The epsilon keeps 5.0 s on frame 500 despite rounding in the product.
    return static_cast<std::int64_t>(std::ceil(seconds * kFramesPerSecond - 1e-6));
}

std::vector<PausedFrames> pausedFrames(const std::vector<Pause>& pauses) {
    std::vector<PausedFrames> result;
    for (const Pause& p : pauses) {
        const std::int64_t first = frameAtOrAfter(p.startSeconds);
        result.push_back({first, std::max(first + 1, frameAtOrAfter(p.startSeconds + p.seconds))});
    }
    return result;
}

// How much of frame n's bytes reach the line: a pause cuts the frame it begins
// in after half its bytes, as a sensor stalling mid-frame would.
std::size_t bytesToSend(const std::vector<PausedFrames>& pauses, std::int64_t n,
                        std::size_t frameBytes) {
    std::size_t count = frameBytes;
    for (const PausedFrames& p : pauses) {
        if (n > p.first && n < p.end) {
            return 0;
        }
        if (n == p.first) {
            count = std::min(count, frame::kSize / 2);
        }
    }
    return count;
}

volatile std::sig_atomic_t gStop = 0;

void requestStop(int) {
    gStop = 1;
}

// Without SA_RESTART, so that a signal also ends a blocked write or sleep.
bool installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        if (::sigaction(signal, &action, nullptr) != 0) {
            return false;
        }
    }
    // A vanished reader is a write error, not death.
    return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
}

// Where --output writes: standard output, or the file, created before the
// quakes are calibrated so that a bad path fails at once.
struct OutputFile {
    FILE* file = nullptr;
    std::string name; // for messages
};

std::optional<OutputFile> openOutput(const std::string& path) {
    if (path == "-") {
        return OutputFile{stdout, "standard output"};
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return std::nullopt;
    }
    return OutputFile{file, "'" + path + "'"};
}

int writeToFile(FrameSource& source, const OutputFile& out, long long frames) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(100 * frame::kSize);
    bool ok = true;
    int error = 0;
    for (long long n = 0; n < frames && ok; ++n) {
        source.appendNext(bytes);
        if (bytes.size() >= 64 * 1024 || n + 1 == frames) {
            ok = std::fwrite(bytes.data(), 1, bytes.size(), out.file) == bytes.size();
            error = ok ? 0 : errno;
            bytes.clear();
        }
    }
    if (std::fflush(out.file) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (out.file != stdout && std::fclose(out.file) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        return failWith(1, "cannot write to " + out.name + ": " + std::strerror(error));
    }
    return 0;
}

// Sends frames on their 10 ms deadlines until `frames` are sent (none: until a
// signal). `discardInput` runs once a frame.
template <typename DiscardInput>
int streamLive(FrameSource& source, sim::LineWriter& line, const std::string& lineName,
               std::optional<long long> frames, const std::vector<PausedFrames>& pauses,
               DiscardInput discardInput) {
    sim::FrameClock clock;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(frame::kSize);
    int status = 0;
    for (std::int64_t n = 0; !gStop && (!frames || n < *frames); ++n) {
        while (!clock.waitFor(n) && !gStop) {
        }
        if (gStop) {
            break;
        }
        bytes.clear();
        source.appendNext(bytes);
        const std::size_t count = bytesToSend(pauses, n, bytes.size());
        if (count > 0 &&
            line.write(bytes.data(), count, gStop) == sim::LineWriter::Result::Failed) {
            status = failWith(1, "cannot write to '" + lineName + "': " + std::strerror(errno));
            break;
        }
        discardInput();
    }
    if (line.cutWrites() > 0) {
        std::fprintf(stderr, "kelvora-sim: %llu frames cut short while nobody read the line\n",
                     static_cast<unsigned long long>(line.cutWrites()));
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (const auto status = parseOptions(argc, argv, options)) {
        return *status;
    }

    Accelerogram recording;
    if (options.csvPath) {
        std::string error;
        if (!readAccelerogramCsv(*options.csvPath, recording, error)) {
            return failWith(2, error);
        }
    }
    std::vector<AccelerogramRow>& rows = recording.rows;

    std::optional<long long> frames;
    if (options.seconds) {
        frames = std::llround(*options.seconds * kFramesPerSecond);
    } else if (options.csvPath) {
        frames = static_cast<long long>(rows.size());
    } else if (options.output) {
        frames = std::llround(60.0 * kFramesPerSecond);
    }

    // Only quakes that will be sent are calibrated; one that cannot be is a
    // mistake on the command line rather than something to drop in silence.
    for (std::size_t i = 0; i < options.quakes.size(); ++i) {
        if (frames && frameAtOrAfter(options.quakes[i].startSeconds) >= *frames) {
            return fail("--quake " + options.quakeTexts[i] +
                        " does not start before the stream ends at " +
                        secondsText(static_cast<double>(*frames) / kFramesPerSecond) +
                        " s; --seconds makes it longer");
        }
    }

    if (options.output) {
        const std::optional<OutputFile> out = openOutput(*options.output);
        if (!out) {
            return failWith(1, "cannot create '" + *options.output + "': " + std::strerror(errno));
        }
        FrameSource source(options, std::move(rows));
        return writeToFile(source, *out, *frames);
    }
    // Opened before the quakes are calibrated, so that a wrong path fails at once.
    sim::FileDescriptor device;
    if (options.device) {
        std::string error;
        device = sim::openSerialDevice(*options.device, error);
        if (!device.valid()) {
            return failWith(2, error);
        }
    }
    FrameSource source(options, std::move(rows));

    if (!installStopHandlers()) {
        return failWith(1, std::string("cannot install signal handlers: ") + std::strerror(errno));
    }
    const std::vector<PausedFrames> pauses = pausedFrames(options.pauses);
    std::string error;

    if (options.device) {
        std::printf("Simulated sensor on %s\n", options.device->c_str());
        std::fflush(stdout);
        sim::LineWriter line(device.get(), sim::LineWriter::Mode::Blocking);
        return streamLive(source, line, *options.device, frames, pauses, [] {});
    }

    sim::PseudoTerminal terminal;
    if (!terminal.open(error)) {
        return failWith(1, error);
    }
    sim::PortLink link;
    switch (link.create(PortMap::defaultLinkDirectory(), options.comNumber.value_or(0),
                        terminal.devicePath(), error)) {
    case sim::PortLink::Status::Registered:
        break;
    case sim::PortLink::Status::Taken:
        return failWith(2, error);
    case sim::PortLink::Status::Failed:
        return failWith(1, error);
    }
    std::printf("Simulated sensor on COM%d (%s)\n", link.comNumber(),
                terminal.devicePath().c_str());
    std::fflush(stdout);
    sim::LineWriter line(terminal.master(), sim::LineWriter::Mode::Dropping);
    return streamLive(source, line, terminal.devicePath(), frames, pauses,
                      [&terminal] { terminal.discardInput(); });
}
