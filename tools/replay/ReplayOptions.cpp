#include "ReplayOptions.h"

#include <charconv>
#include <cmath>
#include <string>
#include <type_traits>

namespace kelvora::replay {

const char* const kReplayUsage =
    "Usage: kelvora-replay [options] FILE|-\n"
    "Feeds raw sensor bytes through the frame decoder and the measurement pipeline\n"
    "(one reception run) and prints one CSV line per good frame.\n"
    "\n"
    "  --window 10|60      JMA window length in seconds (default 10)\n"
    "  --scale jma|mmi     intensity scale for classes and sounds (default jma)\n"
    "  --sensor-sigal      use the sensor's own composite acceleration\n"
    "  --sensor-velocity   use the sensor's own velocity\n"
    "  --summary           no CSV; one summary line on standard error\n"
    "  --help              this text\n"
    "\n"
    "Accelerogram recorder (off unless --record-dir is given):\n"
    "  --record-dir DIR    write accelerogram files into DIR (an existing folder)\n"
    "  --clock \"YYYY-MM-DD HH:MM:SS.mmm\"\n"
    "                      local time of the first good frame, each further one\n"
    "                      10 ms later (default: the real local clock); years 1970\n"
    "                      to 9999, and recording stops when the clock leaves 9999\n"
    "  --record-start X    intensity that starts a recording (default -0.9 on the\n"
    "                      JMA scale, 0.5 on the Mercalli scale)\n"
    "  --record-stop Y     intensity at or below which it may stop (default -1.3 on\n"
    "                      the JMA scale, 0.0 on the Mercalli scale)\n"
    "  --record-min-seconds N\n"
    "                      minimum length of a file in seconds, history included\n"
    "                      (default 30)\n"
    "  --record-velocity V velocity in cm/s that starts a recording; 0 or below\n"
    "                      is off (default -0.001)\n";

namespace {

// The whole text as a number of type T, or nothing.
template <typename T> std::optional<T> parseNumber(const std::string& text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    if constexpr (std::is_floating_point_v<T>) {
        if (!std::isfinite(value)) {
            return std::nullopt;
        }
    }
    return value;
}

// `count` digits at text[at], as a number.
std::optional<int> digitsAt(const std::string& text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

} // namespace

std::optional<LocalTime> parseClockTime(const std::string& text) {
    // YYYY-MM-DD HH:MM:SS[.mmm]
    if (text.size() != 19 && text.size() != 23) {
        return std::nullopt;
    }
    const char separators[] = {'-', '-', ' ', ':', ':', '.'};
    const std::size_t separatorAt[] = {4, 7, 10, 13, 16, 19};
    for (std::size_t i = 0; i < 6; ++i) {
        if (separatorAt[i] < text.size() && text[separatorAt[i]] != separators[i]) {
            return std::nullopt;
        }
    }
    const auto year = digitsAt(text, 0, 4);
    const auto month = digitsAt(text, 5, 2);
    const auto day = digitsAt(text, 8, 2);
    const auto hour = digitsAt(text, 11, 2);
    const auto minute = digitsAt(text, 14, 2);
    const auto second = digitsAt(text, 17, 2);
    const auto millisecond = text.size() == 23 ? digitsAt(text, 20, 3) : std::optional<int>(0);
    if (!year || !month || !day || !hour || !minute || !second || !millisecond) {
        return std::nullopt;
    }
    if (*year < kFirstClockYear || *year > kLastClockYear || *month < 1 || *month > 12 ||
        *day < 1 || *day > daysInMonth(*year, *month) || *hour > 23 || *minute > 59 ||
        *second > 59) {
        return std::nullopt;
    }
    return LocalTime{*year, *month, *day, *hour, *minute, *second, *millisecond};
}

std::optional<ReplayOptions> parseReplayOptions(const std::vector<std::string>& args,
                                                std::string& error) {
    ReplayOptions options;
    bool haveInput = false;
    const char* recorderOption = nullptr; // the first recorder setting given
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](const char* name) -> const std::string* {
            if (i + 1 >= args.size()) {
                error = std::string("option ") + name + " needs a value";
                return nullptr;
            }
            return &args[++i];
        };
        if (arg == "--window") {
            const std::string* v = value("--window");
            if (v == nullptr) {
                return std::nullopt;
            }
            if (*v == "10") {
                options.jmaWindowMode = 0;
            } else if (*v == "60") {
                options.jmaWindowMode = 1;
            } else {
                error = "--window must be 10 or 60, not '" + *v + "'";
                return std::nullopt;
            }
        } else if (arg == "--scale") {
            const std::string* v = value("--scale");
            if (v == nullptr) {
                return std::nullopt;
            }
            if (*v == "jma") {
                options.intensityScale = 0;
            } else if (*v == "mmi") {
                options.intensityScale = 1;
            } else {
                error = "--scale must be jma or mmi, not '" + *v + "'";
                return std::nullopt;
            }
        } else if (arg == "--record-dir") {
            const std::string* v = value("--record-dir");
            if (v == nullptr) {
                return std::nullopt;
            }
            if (v->empty()) {
                error = "--record-dir needs a folder";
                return std::nullopt;
            }
            options.recordDir = *v;
        } else if (arg == "--clock") {
            const std::string* v = value("--clock");
            if (v == nullptr) {
                return std::nullopt;
            }
            options.clock = parseClockTime(*v);
            if (!options.clock) {
                error = "--clock needs a local time \"YYYY-MM-DD HH:MM:SS.mmm\" in the years " +
                        std::to_string(kFirstClockYear) + " to " + std::to_string(kLastClockYear) +
                        ", not '" + *v + "'";
                return std::nullopt;
            }
            recorderOption = recorderOption != nullptr ? recorderOption : "--clock";
        } else if (arg == "--record-start" || arg == "--record-stop" ||
                   arg == "--record-velocity") {
            const std::string* v = value(arg.c_str());
            if (v == nullptr) {
                return std::nullopt;
            }
            const auto number = parseNumber<double>(*v);
            if (!number) {
                error = arg + " needs a number, not '" + *v + "'";
                return std::nullopt;
            }
            if (arg == "--record-start") {
                options.recordStart = *number;
            } else if (arg == "--record-stop") {
                options.recordStop = *number;
            } else {
                options.recordVelocity = *number;
            }
            recorderOption = recorderOption != nullptr ? recorderOption : arg.c_str();
        } else if (arg == "--record-min-seconds") {
            const std::string* v = value("--record-min-seconds");
            if (v == nullptr) {
                return std::nullopt;
            }
            const auto number = parseNumber<int>(*v);
            if (!number || *number < 0) {
                error = "--record-min-seconds needs a whole number of seconds, not '" + *v + "'";
                return std::nullopt;
            }
            options.recordMinSeconds = *number;
            recorderOption = recorderOption != nullptr ? recorderOption : "--record-min-seconds";
        } else if (arg == "--sensor-sigal") {
            options.useSensorSiGal = true;
        } else if (arg == "--sensor-velocity") {
            options.useSensorVelocity = true;
        } else if (arg == "--summary") {
            options.summary = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option '" + arg + "'";
            return std::nullopt;
        } else {
            if (haveInput) {
                error = "only one input may be given, not also '" + arg + "'";
                return std::nullopt;
            }
            options.input = arg;
            haveInput = true;
        }
    }
    if (!haveInput && !options.help) {
        error = "no input given (a file, or - for standard input)";
        return std::nullopt;
    }
    if (recorderOption != nullptr && !options.recordDir && !options.help) {
        error = std::string(recorderOption) + " needs --record-dir";
        return std::nullopt;
    }
    return options;
}

} // namespace kelvora::replay
