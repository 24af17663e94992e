#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kelvora::replay {

struct ReplayOptions {
    std::string input; // a file, or "-" for standard input
    int jmaWindowMode = 0;
    int intensityScale = 0;
    bool useSensorSiGal = false;
    bool useSensorVelocity = false;
    bool summary = false;
    bool help = false;
};

// Parses the command line (without the program name). On a bad command line
// returns nothing and sets error to a one-line message.
std::optional<ReplayOptions> parseReplayOptions(const std::vector<std::string>& args,
                                                std::string& error);

extern const char* const kReplayUsage;

} // namespace kelvora::replay
