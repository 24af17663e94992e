#include "support/SimulatorProcess.h"

#include <regex>

namespace kelvora::test {

std::optional<std::pair<int, std::string>> parseAnnouncement(const std::string& line) {
    static const std::regex pattern(R"(Simulated sensor on COM([0-9]+) \((/dev/[^()]+)\))");
    std::smatch m;
    if (!std::regex_match(line, m, pattern)) {
        return std::nullopt;
    }
    return std::make_pair(std::stoi(m[1].str()), m[2].str());
}

ChildOptions SimulatorProcess::defaultOptions() {
    ChildOptions options;
    options.err = Redirect::inherit();
    options.endSignal = SIGTERM;
    return options;
}

namespace {

std::vector<std::string> withProgram(const std::string& program,
                                     const std::vector<std::string>& args) {
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

} // namespace

SimulatorProcess::SimulatorProcess(const std::string& simPath, const std::vector<std::string>& args,
                                   ChildOptions options)
    : ChildProcess(withProgram(simPath, args), std::move(options)) {}

} // namespace kelvora::test
