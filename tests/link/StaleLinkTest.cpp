// A kelvora-sim killed with SIGKILL leaves its COM link behind, and its
// pseudo-terminal number goes to the next terminal that asks. The COM map must
// not follow that link, and the next simulator asking for the number gets it.
#include "PseudoTerminal.h"
#include "link/PortLinkLock.h"
#include "link/PortMap.h"
#include "support/SimulatorProcess.h"
#include "support/TemporaryFolder.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/wait.h>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct KilledCase {
    const char* name;
    int com;
    std::string fallback; // the built-in device below the fake /dev; empty: none
};

void PrintTo(const KilledCase& c, std::ostream* os) {
    *os << c.name;
}

class KilledSimulator : public ::testing::TestWithParam<KilledCase> {
protected:
    void SetUp() override {
        fs::create_directories(devices_);
        fs::create_directories(home_);
        std::ofstream(devices_ + "/ttyUSB7").put('x'); // COM40's built-in device
    }

    std::unique_ptr<SimulatorProcess> start(int com) {
        ChildOptions options = SimulatorProcess::defaultOptions();
        options.environment = {{"XDG_DATA_HOME", root_ + "/data"}, {"HOME", home_}};
        return std::make_unique<SimulatorProcess>(
            KELVORA_SIM_PATH, std::vector<std::string>{"--com", std::to_string(com)}, options);
    }

    bool present(int com) const {
        const std::vector<int> ports = map_.presentPorts();
        return std::find(ports.begin(), ports.end(), com) != ports.end();
    }

    TemporaryFolder temporary_{"kelvora-stale"};
    const std::string root_ = temporary_.string();
    const std::string devices_ = root_ + "/dev";
    const std::string home_ = root_ + "/home";
    const std::string links_ = root_ + "/data/Vantrell/Kelvora/ports";
    const PortMap map_{devices_, links_};
};

TEST_P(KilledSimulator, ItsLinkIsSkippedAndTheNextSimulatorTakesTheNumber) {
    const KilledCase& c = GetParam();
    const std::string link = map_.linkPath(c.com);

    std::unique_ptr<SimulatorProcess> killed = start(c.com);
    const auto first = parseAnnouncement(killed->announcement(20s).value_or(""));
    ASSERT_TRUE(first);
    ASSERT_EQ(first->first, c.com);
    EXPECT_TRUE(present(c.com));
    EXPECT_EQ(map_.devicePath(c.com), link);
    EXPECT_EQ(fs::read_symlink(link), first->second);

    ASSERT_TRUE(killed->signal(SIGKILL));
    const int status = killed->wait(10s);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    ASSERT_TRUE(fs::is_symlink(link)) << "no chance to remove it";
    ASSERT_TRUE(fs::exists(portLinkLockPath(link)));

    // An unrelated terminal gets the pseudo-terminal number (the lowest free
    // one is handed out, so a few tries get it unless someone else is faster).
    std::vector<std::unique_ptr<PseudoTerminal>> others;
    while (others.size() < 64 && (others.empty() || others.back()->slavePath() != first->second)) {
        others.push_back(std::make_unique<PseudoTerminal>());
    }
    const bool reused = others.back()->slavePath() == first->second;
    if (reused) {
        EXPECT_TRUE(fs::exists(link)) << "the stale link names a live terminal";
    }

    EXPECT_EQ(present(c.com), !c.fallback.empty());
    EXPECT_EQ(map_.devicePath(c.com), c.fallback.empty() ? "" : devices_ + c.fallback);

    std::unique_ptr<SimulatorProcess> next = start(c.com);
    const auto second = parseAnnouncement(next->announcement(20s).value_or(""));
    ASSERT_TRUE(second) << "refused the number of a simulator that has gone";
    EXPECT_EQ(second->first, c.com);
    EXPECT_EQ(fs::read_symlink(link), second->second);
    EXPECT_TRUE(present(c.com));
    EXPECT_EQ(map_.devicePath(c.com), link);

    EXPECT_EQ(exitCode(next->stop()), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    EXPECT_FALSE(fs::exists(portLinkLockPath(link)));
}

INSTANTIATE_TEST_SUITE_P(Numbers, KilledSimulator,
                         ::testing::Values(KilledCase{"WithABuiltInDevice", 40, "/ttyUSB7"},
                                           KilledCase{"Above96", 150, ""}),
                         CaseName());

} // namespace
} // namespace kelvora::test
