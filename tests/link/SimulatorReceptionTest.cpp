// Reception from the simulated sensor, found through its COM number as the
// monitor finds it: frames at the sensor's pace, stop and restart, and the
// simulator dying under a running reception (the unplugged cable).
#include "../core/PipelineRig.h"
#include "link/PortMap.h"
#include "link/ReceptionControl.h"
#include "link/SerialPort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace kelvora::test {
namespace {

using namespace std::chrono_literals;
constexpr auto kReadTimeout = 200ms;
constexpr int kComNumber = 177;

class SilentView : public ReceptionView {
public:
    void showReceiving() override {}
    void showIdle() override {}
    void showMessage(std::string_view text) override { messages += std::string(text) + "\n"; }
    std::string messages;
};

template <typename Condition> bool waitFor(Condition condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

double processCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

class ReceptionFromSimulator : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kelvora-simrx-XXXXXX";
        home_ = ::mkdtemp(pattern);
        ::setenv("XDG_DATA_HOME", home_.c_str(), 1);
        ::setenv("HOME", home_.c_str(), 1);

        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::string com = std::to_string(kComNumber);
        char* const argv[] = {const_cast<char*>(KELVORA_SIM_PATH), const_cast<char*>("--com"),
                              const_cast<char*>(com.c_str()), nullptr};
        ASSERT_EQ(::posix_spawn(&simulator_, KELVORA_SIM_PATH, &actions, nullptr, argv, environ),
                  0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        // The announcement line comes once the link exists.
        FILE* announcement = ::fdopen(out[0], "r");
        char line[256] = {};
        ASSERT_NE(std::fgets(line, sizeof line, announcement), nullptr);
        std::fclose(announcement);
        ASSERT_EQ(std::string(line).rfind("Simulated sensor on COM" + com + " (", 0), 0u) << line;
    }

    void TearDown() override {
        control.shutdown();
        killSimulator();
        std::filesystem::remove_all(home_);
    }

    void killSimulator() {
        if (simulator_ > 0) {
            ::kill(simulator_, SIGTERM);
            int status = 0;
            ::waitpid(simulator_, &status, 0);
            simulator_ = -1;
        }
    }

    int goodFrames() const { return rig.state.goodFrameCount; }

    void stopAndComplete() {
        control.RequestStop();
        ASSERT_TRUE(waitFor([&] { return control.runState() == ReceptionControl::Idle; },
                            kReadTimeout * 3 + 300ms));
        control.completeStop();
    }

    std::string home_;
    pid_t simulator_ = -1;
    PipelineRig rig;
    SerialPort port{kReadTimeout};
    SilentView view;
    // Made after SetUp has pointed XDG_DATA_HOME at the test's own folder.
    PortMap ports() const { return PortMap("/dev", PortMap::defaultLinkDirectory()); }
    ReceptionControl control{rig.pipeline, port, view,
                             [this](int index) { return ports().devicePath(index + 1); },
                             ReceptionTimings{10ms, 2}};
};

TEST_F(ReceptionFromSimulator, FramesArriveAtTheSensorsPaceAndARestartBeginsAtFrameIndexZero) {
    const std::vector<int> present = ports().presentPorts();
    ASSERT_NE(std::find(present.begin(), present.end(), kComNumber), present.end());
    control.StartReceive(kComNumber - 1);
    ASSERT_EQ(control.runState(), ReceptionControl::Running) << view.messages;
    std::this_thread::sleep_for(2s);
    const int frames = goodFrames();
    EXPECT_GT(frames, 150) << "about 100 frames a second";
    EXPECT_LT(frames, 260);
    stopAndComplete();
    EXPECT_FALSE(port.isOpen());

    control.StartReceive(kComNumber - 1);
    ASSERT_EQ(control.runState(), ReceptionControl::Running) << view.messages;
    ASSERT_TRUE(waitFor([&] { return goodFrames() > frames + 10; }, 3s));
    stopAndComplete();
    // frameIndex counts this run's frames only.
    EXPECT_LE(rig.state.frameIndex, goodFrames() - frames);
    EXPECT_TRUE(view.messages.empty()) << view.messages;
}

TEST_F(ReceptionFromSimulator, ASimulatorThatDiesNeitherSpinsTheThreadNorBlocksTheStop) {
    control.StartReceive(kComNumber - 1);
    ASSERT_EQ(control.runState(), ReceptionControl::Running) << view.messages;
    ASSERT_TRUE(waitFor([&] { return goodFrames() > 20; }, 3s));

    killSimulator();
    std::this_thread::sleep_for(100ms);
    const double before = processCpuSeconds();
    std::this_thread::sleep_for(2s);
    EXPECT_LT(processCpuSeconds() - before, 0.1) << "under 5 % of one core over two seconds";

    stopAndComplete();
    EXPECT_EQ(control.runState(), ReceptionControl::Idle);
    EXPECT_FALSE(port.isOpen());
}

} // namespace
} // namespace kelvora::test
