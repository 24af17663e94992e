// The real program, offscreen, in a temporary working folder with its own
// settings and port-link folders, against the simulator on a pseudo-terminal
// with an earthquake: it receives, records, logs, publishes, and on a
// termination signal closes the normal way.
#include "link/SerialPort.h"
#include "support/ChildProcess.h"
#include "support/Files.h"
#include "support/Reception.h"
#include "support/TemporaryFolder.h"
#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <unistd.h>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kComNumber = 241;
constexpr const char* kBlock = "/KELVORA_GAL_READ_MEM_110";

bool hasFileWithContent(const fs::path& folder) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (entry.is_regular_file() && entry.file_size() > 0) {
            return true;
        }
    }
    return false;
}

std::string quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

// The main thread of a process sleeps in poll: a Qt program waiting in its
// event loop, here at a message box.
bool waitsInItsEventLoop(pid_t pid) {
    return readAll("/proc/" + std::to_string(pid) + "/wchan").find("poll") != std::string::npos;
}

class ProgramEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        for (const fs::path& folder : {work_, config_ / "Vantrell", data_, runtime_}) {
            fs::create_directories(folder);
        }
        // A block left by a killed program would be taken over but never
        // removed, being another's; the program must remove the one it makes.
        ::shm_unlink(kBlock);
        std::ofstream(config_ / "Vantrell" / "kelvora.conf")
            << "[Port]\nNumber=" << kComNumber - 1
            << "\n\n[CheckBox]\nAutoStart=1\n\n[WaveRec]\nwaveRecStopSec=10\n";
    }

    ChildOptions programOptions() const {
        ChildOptions options;
        options.out = Redirect::file(temporary_ / "program.out");
        options.err = Redirect::file(temporary_ / "program.err");
        options.environment = {{"QT_QPA_PLATFORM", "offscreen"},
                               {"HOME", temporary_.string()},
                               {"XDG_CONFIG_HOME", config_.string()},
                               {"XDG_DATA_HOME", data_.string()},
                               {"XDG_RUNTIME_DIR", runtime_.string()}};
        options.endSignal = SIGKILL;
        return options;
    }

    TemporaryFolder temporary_{"kelvora-program"};
    const fs::path work_ = temporary_ / "work";
    const fs::path config_ = temporary_ / "config";
    const fs::path data_ = temporary_ / "data";
    const fs::path runtime_ = temporary_ / "runtime";
    // Its link in data_, where the program looks for it.
    SimulatorOnCom simulator_{KELVORA_SIM_PATH, kComNumber, data_};
};

// One case only: the program publishes under its one fixed block name.
TEST_F(ProgramEndToEnd, ReceivesRecordsLogsPublishesAndClosesOnTermination) {
    ASSERT_TRUE(simulator_.start({"--seed", "3", "--quake", "4.0@2:8"}));

    ChildProcess program(
        {"/bin/sh", "-c", "cd " + quoted(work_) + " && exec " + quoted(KELVORA_PROGRAM_PATH)},
        programOptions());
    ASSERT_TRUE(waitFor([&] { return hasFileWithContent(work_ / "Accelerogram"); }, 60s))
        << readAll(temporary_ / "program.err");

    const ToolRun shm = runTool({KELVORA_SHM_PATH, "--once", "--json"}, {}, 20s);
    EXPECT_EQ(shm.exitStatus, 0) << shm.err;
    EXPECT_NE(shm.out.find('{'), std::string::npos) << shm.out;

    // The log writes at the start of each minute.
    EXPECT_TRUE(waitFor([&] { return hasFileWithContent(work_ / "Observation"); }, 75s));

    // A second instance does not run beside the first: the first shows its
    // window and answers, and the second ends quietly, without a message.
    {
        ChildOptions options = programOptions();
        options.err = Redirect::file(temporary_ / "second.err");
        ChildProcess second(
            {"/bin/sh", "-c", "cd " + quoted(work_) + " && exec " + quoted(KELVORA_PROGRAM_PATH)},
            options);
        std::optional<int> ended;
        // While it waits for the first's answer it also sits in poll: only a
        // wait past the 5 s it gives the first is a wait at a message.
        const auto started = std::chrono::steady_clock::now();
        ASSERT_TRUE(waitFor(
            [&] {
                return (ended = second.tryWait()).has_value() ||
                       (std::chrono::steady_clock::now() - started > 7s &&
                        waitsInItsEventLoop(second.pid()));
            },
            60s));
        ASSERT_TRUE(ended.has_value()) << "it waits at a message";
        EXPECT_EQ(exitCode(*ended), 0) << readAll(temporary_ / "second.err");
    }
    EXPECT_FALSE(program.tryWait().has_value()) << "the first goes on";

    ASSERT_TRUE(program.signal(SIGTERM));
    const int status = program.wait(30s);
    EXPECT_EQ(exitCode(status), 0) << readAll(temporary_ / "program.err");

    const std::string settings = readAll(config_ / "Vantrell" / "kelvora.conf");
    for (const char* entry :
         {"top=",           "left=",         "bottom=",        "right=",
          "View=",          "Number=",       "SiSel=",         "AutoStart=1",
          "MinStart=",      "ObsWrite=",     "Receive_SiGal=", "Receive_Velocity=",
          "waveRecStaPgv=", "waveRecStaSi=", "waveRecStopSi=", "waveRecStopSec=10",
          "LangNo=",        "BackGraund=",   "StaticText=",    "StaticText2=",
          "Ontop="}) {
        EXPECT_NE(settings.find(entry), std::string::npos) << entry << " in\n" << settings;
    }
    EXPECT_LT(::shm_open(kBlock, O_RDONLY, 0), 0) << "the block is removed";
    SerialPort port;
    EXPECT_TRUE(port.open(simulator_.device())) << "the port is free again";
}

// A lock held by something that does not answer (a hung monitor): the second
// start cannot reach it and says so, in the user's language, leaving the
// settings alone.
TEST_F(ProgramEndToEnd, ASecondStartThatCannotReachTheFirstShowsItsMessage) {
    const fs::path lock = runtime_ / "Kelvora.exe.lock";
    const int held = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    std::ofstream(config_ / "Vantrell" / "kelvora.conf", std::ios::app)
        << "\n[Language]\nLangNo=1\n";
    const std::string before = readAll(config_ / "Vantrell" / "kelvora.conf");

    ChildProcess second(
        {"/bin/sh", "-c", "cd " + quoted(work_) + " && exec " + quoted(KELVORA_PROGRAM_PATH)},
        programOptions());
    std::optional<int> ended;
    ASSERT_TRUE(waitFor(
        [&] { return (ended = second.tryWait()).has_value() || waitsInItsEventLoop(second.pid()); },
        60s));
    EXPECT_FALSE(ended.has_value()) << "it shows its message";
    second.signal(SIGKILL);
    second.wait(10s);
    ::close(held);
    EXPECT_EQ(readAll(config_ / "Vantrell" / "kelvora.conf"), before);
}

// Waits for a file's close (after an open for writing) without polling it.
class CloseWatch {
public:
    explicit CloseWatch(const fs::path& file)
        : fd_(::inotify_init1(IN_CLOEXEC)),
          watch_(::inotify_add_watch(fd_, file.c_str(), IN_CLOSE_WRITE)) {}
    ~CloseWatch() { ::close(fd_); }
    CloseWatch(const CloseWatch&) = delete;
    CloseWatch& operator=(const CloseWatch&) = delete;

    bool watching() const { return fd_ >= 0 && watch_ >= 0; }
    bool wait(std::chrono::milliseconds limit) const {
        pollfd ready{fd_, POLLIN, 0};
        return ::poll(&ready, 1, static_cast<int>(limit.count())) == 1;
    }

private:
    int fd_;
    int watch_;
};

// An automatic start on a port that is no serial line fails with its message
// box; a termination signal then ends the box and the program, which saves
// its settings like any close.
TEST_F(ProgramEndToEnd, ExitsOnTerminationWhileTheStartFailureBoxIsOpen) {
    const fs::path notALine = temporary_ / "not-a-line";
    std::ofstream(notALine) << "";
    const fs::path ports = data_ / "Vantrell" / "Kelvora" / "ports";
    fs::create_directories(ports);
    fs::create_symlink(notALine, ports / ("COM" + std::to_string(kComNumber)));
    const CloseWatch closed(notALine);
    ASSERT_TRUE(closed.watching());

    ChildProcess program(
        {"/bin/sh", "-c", "cd " + quoted(work_) + " && exec " + quoted(KELVORA_PROGRAM_PATH)},
        programOptions());
    // The start closes the file it found to be no line, then shows its box;
    // the signal is handled in the box's run.
    ASSERT_TRUE(closed.wait(60s)) << readAll(temporary_ / "program.err");
    ASSERT_TRUE(program.signal(SIGTERM));
    const int status = program.wait(30s);
    EXPECT_EQ(exitCode(status), 0) << readAll(temporary_ / "program.err");

    const std::string settings = readAll(config_ / "Vantrell" / "kelvora.conf");
    for (const char* entry : {"AutoStart=1", "waveRecStopSec=10", "Ontop=", "LangNo="}) {
        EXPECT_NE(settings.find(entry), std::string::npos) << entry << " in\n" << settings;
    }
    EXPECT_LT(::shm_open(kBlock, O_RDONLY, 0), 0) << "the block is removed";
}

} // namespace
} // namespace kelvora::test
