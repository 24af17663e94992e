#pragma once

#include "output/LocalTime.h"

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

    // The accelerogram recorder: on with a folder to write into.
    std::optional<std::string> recordDir;
    // The time of the first good frame, each further one 10 ms later; the
    // real local clock when not given.
    std::optional<LocalTime> clock;
    // Each scale's own defaults when not given.
    std::optional<double> recordStart;
    std::optional<double> recordStop;
    int recordMinSeconds = 30;
    double recordVelocity = -0.001;
};

// The years a simulated clock may start in: the recorder writes four-digit
// years, and the real clock is never before 1970.
inline constexpr int kFirstClockYear = 1970;
inline constexpr int kLastClockYear = 9999;

// "YYYY-MM-DD HH:MM:SS.mmm" (the milliseconds may be left out) as a valid
// calendar time in the years above, or nothing.
std::optional<LocalTime> parseClockTime(const std::string& text);

// Parses the command line (without the program name). On a bad command line
// returns nothing and sets error to a one-line message.
std::optional<ReplayOptions> parseReplayOptions(const std::vector<std::string>& args,
                                                std::string& error);

extern const char* const kReplayUsage;

} // namespace kelvora::replay
