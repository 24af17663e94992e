// kelvora-sim: the sensor a newcomer does not have. Synthesises the sensor's
// byte stream with quiet noise, earthquakes of a chosen JMA intensity and
// line faults, and writes it to a file or standard output.
#include "QuakeCalibration.h"
#include "SyntheticSensor.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace kelvora;

const char* const kUsage =
    "Usage: kelvora-sim --output FILE|- [options]\n"
    "Writes the raw byte stream of a simulated seismic sensor (42-byte frames,\n"
    "100 a second) as fast as possible, for kelvora-replay.\n"
    "\n"
    "  --output FILE|-              where the stream goes (- for standard output)\n"
    "  --seconds N                  length of the stream in seconds (default 60)\n"
    "  --seed N                     random seed; the same seed gives the same bytes (default 1)\n"
    "  --quake INTENSITY@SECONDS[:DURATION]\n"
    "                               an earthquake of the given JMA intensity starting at\n"
    "                               SECONDS and lasting DURATION seconds (default 20);\n"
    "                               repeatable\n"
    "  --corrupt RATE               probability per byte of one flipped bit\n"
    "  --drop RATE                  probability per byte that it is lost\n"
    "  --nan RATE                   probability per frame of one non-finite field\n"
    "  --start-mid-frame            begin the stream inside a frame\n"
    "  --help                       this text\n";

struct Options {
    std::string output;
    double seconds = 60.0;
    std::uint64_t seed = 1;
    std::vector<sim::IntensityEvent> quakes;
    sim::LineFaults faults;
};

bool parseDouble(const std::string& text, double& out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    out = std::strtod(text.c_str(), &end);
    return errno == 0 && end != nullptr && *end == '\0' && std::isfinite(out);
}

bool parseRate(const std::string& text, double& out) {
    return parseDouble(text, out) && out >= 0.0 && out <= 1.0;
}

bool parseQuake(const std::string& text, sim::IntensityEvent& out) {
    const auto at = text.find('@');
    if (at == std::string::npos) {
        return false;
    }
    const auto colon = text.find(':', at);
    out.durationSeconds = 20.0;
    if (!parseDouble(text.substr(0, at), out.intensity) ||
        !parseDouble(
            text.substr(at + 1, colon == std::string::npos ? std::string::npos : colon - at - 1),
            out.startSeconds)) {
        return false;
    }
    if (colon != std::string::npos && !parseDouble(text.substr(colon + 1), out.durationSeconds)) {
        return false;
    }
    return out.intensity >= -2.0 && out.intensity <= 8.0 && out.startSeconds >= 0.0 &&
           out.durationSeconds > 0.0;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "kelvora-sim: %s (try --help)\n", message.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    bool haveOutput = false;
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
            return 0;
        }
        if (arg == "--start-mid-frame") {
            options.faults.startMidFrame = true;
            continue;
        }
        const auto v = value();
        if (arg != "--output" && arg != "--seconds" && arg != "--seed" && arg != "--quake" &&
            arg != "--corrupt" && arg != "--drop" && arg != "--nan") {
            return fail("unknown option '" + arg + "'");
        }
        if (!v) {
            return fail("option " + arg + " needs a value");
        }
        double number = 0.0;
        if (arg == "--output") {
            options.output = *v;
            haveOutput = true;
        } else if (arg == "--seconds") {
            if (!parseDouble(*v, number) || number < 0.0 || number > 1e7) {
                return fail("--seconds needs a number of seconds, not '" + *v + "'");
            }
            options.seconds = number;
        } else if (arg == "--seed") {
            char* end = nullptr;
            errno = 0;
            const unsigned long long seed = std::strtoull(v->c_str(), &end, 10);
            if (v->empty() || errno != 0 || *end != '\0' || (*v)[0] == '-') {
                return fail("--seed needs a whole number, not '" + *v + "'");
            }
            options.seed = seed;
        } else if (arg == "--quake") {
            sim::IntensityEvent quake{};
            if (!parseQuake(*v, quake)) {
                return fail(
                    "--quake needs INTENSITY@SECONDS[:DURATION] (intensity -2 to 8), not '" + *v +
                    "'");
            }
            options.quakes.push_back(quake);
        } else {
            if (!parseRate(*v, number)) {
                return fail(arg + " needs a rate from 0 to 1, not '" + *v + "'");
            }
            (arg == "--corrupt" ? options.faults.corruptRate
             : arg == "--drop"  ? options.faults.dropRate
                                : options.faults.nanRate) = number;
        }
    }
    if (!haveOutput) {
        return fail("--output FILE|- is required");
    }

    FILE* out = stdout;
    if (options.output != "-") {
        out = std::fopen(options.output.c_str(), "wb");
        if (out == nullptr) {
            return fail("cannot create '" + options.output + "': " + std::strerror(errno));
        }
    }

    sim::SyntheticSensor sensor(options.seed, sim::calibrateEvents(options.seed, options.quakes));
    sim::StreamWriter writer(options.seed, options.faults);
    const auto frames = std::llround(options.seconds * sim::SyntheticSensor::kFramesPerSecond);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(100 * frame::kSize);
    bool ok = true;
    for (long long n = 0; n < frames && ok; ++n) {
        writer.append(sensor.next(), bytes);
        if (bytes.size() >= 64 * 1024 || n + 1 == frames) {
            ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
            bytes.clear();
        }
    }
    ok = std::fflush(out) == 0 && ok;
    if (out != stdout) {
        ok = std::fclose(out) == 0 && ok;
    }
    if (!ok) {
        std::fprintf(stderr, "kelvora-sim: cannot write '%s': %s\n", options.output.c_str(),
                     std::strerror(errno));
        return 1;
    }
    return 0;
}
