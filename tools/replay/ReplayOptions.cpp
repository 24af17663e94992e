#include "ReplayOptions.h"

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
    "  --help              this text\n";

std::optional<ReplayOptions> parseReplayOptions(const std::vector<std::string>& args,
                                                std::string& error) {
    ReplayOptions options;
    bool haveInput = false;
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
    return options;
}

} // namespace kelvora::replay
