// Termination signals reach the user-interface thread as calls, one per
// signal, whichever of the three it is.
#include "shell/TerminationSignals.h"

#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <csignal>
#include <optional>
#include <vector>

namespace kelvora::test {
namespace {

using namespace std::chrono_literals;

TEST(TerminationSignals, EachOneArrivesInTheEventLoop) {
    static int argc = 1;
    static char name[] = "kelvora-signal-test";
    static char* argv[] = {name, nullptr};
    std::optional<QCoreApplication> application; // the window tests may have one
    if (QCoreApplication::instance() == nullptr) {
        application.emplace(argc, argv);
    }
    std::vector<int> seen;
    {
        TerminationSignals handler([&](int signal) { seen.push_back(signal); });
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
            ASSERT_EQ(::raise(signal), 0); // the process lives on: it is handled
        }
        EXPECT_TRUE(seen.empty()) << "nothing runs in the handler itself";
        ASSERT_TRUE(waitFor(
            [&] {
                QCoreApplication::processEvents();
                return seen.size() == 3;
            },
            5s, 1ms));
    }
    EXPECT_EQ(seen, (std::vector<int>{SIGTERM, SIGINT, SIGHUP}));
}

} // namespace
} // namespace kelvora::test
