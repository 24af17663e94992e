#pragma once

// kelvora-sim as a child process on its live line: the line it prints once its
// COM link exists, and a stop that lets it remove the link.
#include "support/ChildProcess.h"

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelvora::test {

// "Simulated sensor on COM<n> (<device>)": the COM number and the device.
std::optional<std::pair<int, std::string>> parseAnnouncement(const std::string& line);

class SimulatorProcess : public ChildProcess {
public:
    // Standard output on a pipe for the announcement, standard error the
    // test's own; SIGTERM when it goes.
    static ChildOptions defaultOptions();

    SimulatorProcess(const std::string& simPath, const std::vector<std::string>& args,
                     ChildOptions options = defaultOptions());

    // The first line it prints; none when none comes within `limit`.
    std::optional<std::string> announcement(std::chrono::milliseconds limit) {
        return readLine(limit);
    }
};

} // namespace kelvora::test
