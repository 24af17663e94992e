// kelvora-sim run as a child process: calibrated quakes checked by
// kelvora-replay, the live pseudo-terminal with its COM link, a serial device,
// pauses, recorded accelerograms, and how it refuses bad command lines. Every
// test gets its own folder as XDG_DATA_HOME and HOME, so the links it makes
// never reach the user's own.
#include "SyntheticSensor.h"
#include "core/FrameAssembler.h"
#include "support/ChildProcess.h"
#include "support/Files.h"
#include "support/SimulatorProcess.h"
#include "support/TemporaryFolder.h"
#include "support/TestNames.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kSimPath = KELVORA_SIM_PATH;
constexpr const char* kReplayPath = KELVORA_REPLAY_PATH;
constexpr auto kToolTimeout = std::chrono::seconds(120);
// The guard of a wait for the live line.
constexpr double kGuardSeconds = 30.0;

Bytes readBytes(const fs::path& path) {
    const std::string text = readAll(path);
    return Bytes(text.begin(), text.end());
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The target of a symbolic link; empty when there is none.
std::string linkTarget(const fs::path& link) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    return ec ? std::string() : target.string();
}

// Sets a terminal raw without flushing what is already waiting on it.
void makeRaw(int fd) {
    termios tio{};
    ASSERT_EQ(::tcgetattr(fd, &tio), 0) << std::strerror(errno);
    ::cfmakeraw(&tio);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &tio), 0) << std::strerror(errno);
}

// Bytes as they arrived, with the time of each read.
struct Arrival {
    double seconds; // since reading began
    Bytes bytes;
};

std::vector<Arrival> readFor(int fd, double seconds) {
    std::vector<Arrival> arrivals;
    const auto start = Clock::now();
    for (double elapsed = 0.0; elapsed < seconds; elapsed = secondsSince(start)) {
        pollfd p{fd, POLLIN, 0};
        const int timeout = static_cast<int>(std::ceil((seconds - elapsed) * 1000.0));
        if (::poll(&p, 1, std::max(timeout, 1)) <= 0 || (p.revents & POLLIN) == 0) {
            continue;
        }
        std::uint8_t buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            arrivals.push_back({secondsSince(start), Bytes(buffer, buffer + n)});
        }
    }
    return arrivals;
}

// Reads until `enough` holds for everything received so far; gives up (with
// what came) after a guard far beyond what a busy machine needs.
template <typename Enough> std::vector<Arrival> readUntil(int fd, Enough enough) {
    std::vector<Arrival> arrivals;
    Bytes all;
    const auto start = Clock::now();
    while (!enough(all) && secondsSince(start) < kGuardSeconds) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0 || (p.revents & POLLIN) == 0) {
            continue;
        }
        std::uint8_t buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            arrivals.push_back({secondsSince(start), Bytes(buffer, buffer + n)});
            all.insert(all.end(), buffer, buffer + n);
        }
    }
    return arrivals;
}

Bytes joined(const std::vector<Arrival>& arrivals) {
    Bytes all;
    for (const Arrival& a : arrivals) {
        all.insert(all.end(), a.bytes.begin(), a.bytes.end());
    }
    return all;
}

// Good frames as the monitor's decoder finds them.
std::size_t goodFrames(const Bytes& bytes) {
    FrameAssembler assembler;
    assembler.reset();
    std::size_t good = 0;
    bool skip = false;
    for (const std::uint8_t b : bytes) {
        if (std::exchange(skip, false)) {
            assembler.skipNext(ReadResult::of(b));
            continue;
        }
        const AssembleResult result = assembler.pushRead(ReadResult::of(b));
        good += result == AssembleResult::GoodFrame ? 1 : 0;
        skip = result == AssembleResult::BadFrame;
    }
    return good;
}

bool startsWith(const Bytes& bytes, const Bytes& prefix) {
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

// A kelvora-sim that keeps running: its standard output is a pipe, so the
// test can read the line it prints before streaming.
struct LiveSim : SimulatorProcess {
    LiveSim(const std::vector<std::string>& args, ChildOptions options, fs::path err)
        : SimulatorProcess(kSimPath, args, std::move(options)), errPath(std::move(err)) {}
    fs::path errPath;
};

class SimTool : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir_ / "data");
        fs::create_directories(dir_ / "home");
    }

    fs::path linkDirectory() const { return dir_ / "data/Vantrell/Kelvora/ports"; }
    fs::path linkPath(int com) const { return linkDirectory() / ("COM" + std::to_string(com)); }

    fs::path writeFile(const std::string& name, const std::string& text) {
        const fs::path path = dir_ / name;
        std::ofstream out(path, std::ios::binary);
        out << text;
        EXPECT_TRUE(out.good()) << path;
        return path;
    }

    // Standard output goes to a file of the test's, or to `out` when given.
    ToolRun run(const char* tool, const std::vector<std::string>& args,
                std::optional<Redirect> out = std::nullopt) {
        const std::string id = std::to_string(++children_);
        std::vector<std::string> argv{tool};
        argv.insert(argv.end(), args.begin(), args.end());
        return runTool(argv,
                       childOptions(out.value_or(Redirect::file(dir_ / ("stdout." + id))), id),
                       kToolTimeout);
    }

    ToolRun runSim(const std::vector<std::string>& args) { return run(kSimPath, args); }

    LiveSim& startSim(const std::vector<std::string>& args) {
        const std::string id = std::to_string(++children_);
        live_.push_back(std::make_unique<LiveSim>(args, childOptions(Redirect::pipe(), id),
                                                  dir_ / ("stderr." + id)));
        return *live_.back();
    }

    // The first line the simulator prints, without its newline; nullopt when
    // none comes within the time-out.
    static std::optional<std::string> firstLine(LiveSim& sim) {
        return sim.announcement(std::chrono::seconds(20));
    }

    // Sends `signal` (none: waits for the simulator to end by itself) and
    // returns the exit status; -1 when it did not exit normally in time.
    static int finish(LiveSim& sim, std::optional<int> signal = SIGTERM) {
        if (signal) {
            sim.signal(*signal);
        }
        return exitCode(sim.wait(std::chrono::seconds(10)));
    }

    static bool hasExited(LiveSim& sim, int& exitStatus) {
        const std::optional<int> status = sim.tryWait();
        if (!status) {
            return false;
        }
        exitStatus = exitCode(*status);
        return true;
    }

    TemporaryFolder temporary_{"kelvora-sim"};
    const fs::path dir_ = temporary_.path();

private:
    // Children read nothing, write their standard error to a file of the
    // test's, and see the test's folder as their data and home folders; one
    // left running at the end is killed.
    ChildOptions childOptions(Redirect out, const std::string& id) const {
        ChildOptions options;
        options.in = Redirect::file("/dev/null");
        options.out = std::move(out);
        options.err = Redirect::file(dir_ / ("stderr." + id));
        options.environment = {{"XDG_DATA_HOME", (dir_ / "data").string()},
                               {"HOME", (dir_ / "home").string()}};
        options.endSignal = SIGKILL;
        return options;
    }

    std::vector<std::unique_ptr<LiveSim>> live_;
    int children_ = 0;
};

// --- Calibrated quakes, judged by the replay tool --------------------------

class SimQuakeIntensity : public SimTool, public ::testing::WithParamInterface<double> {};

TEST_P(SimQuakeIntensity, ReplaySummaryShowsTheAskedIntensity) {
    const double intensity = GetParam();
    char quake[32];
    std::snprintf(quake, sizeof quake, "%.1f@5", intensity);
    const std::string stream = (dir_ / "quake.bin").string();
    const ToolRun sim = runSim({"--quake", quake, "--seconds", "40", "--output", stream});
    ASSERT_EQ(sim.exitStatus, 0) << sim.err;
    EXPECT_EQ(fs::file_size(stream), 4000 * frame::kSize);

    const ToolRun replay = run(kReplayPath, {"--summary", stream});
    ASSERT_EQ(replay.exitStatus, 0) << replay.err;
    const auto at = replay.err.find("max_jma=");
    ASSERT_NE(at, std::string::npos) << replay.err;
    const double maxJma = std::strtod(replay.err.c_str() + at + 8, nullptr);
    EXPECT_NEAR(maxJma, intensity, 0.1 + 1e-9) << replay.err;
}

INSTANTIATE_TEST_SUITE_P(Intensities, SimQuakeIntensity,
                         ::testing::Values(1.0, 2.0, 3.0, 4.0, 4.5, 5.0, 5.5, 6.0, 6.5),
                         [](const ::testing::TestParamInfo<double>& param) {
                             char label[32];
                             std::snprintf(label, sizeof label, "Intensity%.1f", param.param);
                             return testName(label);
                         });

// --- The live pseudo-terminal ----------------------------------------------

TEST_F(SimTool, LiveLineCarriesTheSeedsStreamAtTheSensorsPace) {
    const auto started = Clock::now();
    LiveSim& sim = startSim({"--com", "150", "--seed", "11"});
    const auto line = firstLine(sim);
    ASSERT_TRUE(line) << readAll(sim.errPath);
    const double announcedAt = secondsSince(started);
    const auto announced = parseAnnouncement(*line);
    ASSERT_TRUE(announced) << *line;
    EXPECT_EQ(announced->first, 150);
    const std::string device = announced->second;
    EXPECT_EQ(linkTarget(linkPath(150)), device);

    const int fd = ::open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << device << ": " << std::strerror(errno);
    makeRaw(fd);
    // Two seconds of frames, however long they take to come.
    const Bytes received =
        joined(readUntil(fd, [](const Bytes& bytes) { return goodFrames(bytes) >= 200; }));
    const double seconds = secondsSince(started);
    ::close(fd);

    // Nothing lost, doubled or translated on the way: what a file gets.
    const std::size_t frames = goodFrames(received);
    ASSERT_GE(frames, 200u);
    EXPECT_TRUE(
        startsWith(sim::makeStream(11, static_cast<double>(frames) / 100.0 + 5.0, {}), received))
        << received.size() << " bytes differ from the stream of seed 11";
    // On 10 ms deadlines from its start: never ahead of them, however the
    // machine is loaded, and not half as slow since its announcement.
    EXPECT_LE(static_cast<double>(frames), seconds * 100.0 + 5.0) << seconds << " s";
    EXPECT_GE(static_cast<double>(frames), (seconds - announcedAt) * 50.0) << seconds << " s";

    EXPECT_EQ(finish(sim), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(linkPath(150))));
    EXPECT_EQ(readAll(sim.errPath), "");
}

TEST_F(SimTool, LiveRunEndsByItselfAfterItsSeconds) {
    LiveSim& sim = startSim({"--seconds", "0.5"});
    const auto announced = parseAnnouncement(firstLine(sim).value_or(""));
    ASSERT_TRUE(announced) << readAll(sim.errPath);
    EXPECT_EQ(finish(sim, std::nullopt), 0) << readAll(sim.errPath);
    EXPECT_FALSE(fs::exists(fs::symlink_status(linkPath(announced->first))));
}

TEST_F(SimTool, LinkTakenOverByAnotherDeviceIsLeftInPlace) {
    LiveSim& sim = startSim({"--com", "150"});
    ASSERT_TRUE(parseAnnouncement(firstLine(sim).value_or(""))) << readAll(sim.errPath);
    fs::remove(linkPath(150));
    fs::create_symlink("/dev/null", linkPath(150));
    EXPECT_EQ(finish(sim), 0);
    EXPECT_EQ(linkTarget(linkPath(150)), "/dev/null");
}

// Links present before the simulator starts: to an existing device, or
// dangling, as one left behind by a simulator that was killed.
enum class Target { Device, Missing };

struct LinkCase {
    const char* name;
    std::vector<std::pair<int, Target>> existing;
    std::vector<std::string> args;
    int expectedCom; // 0: refused
    int stopSignal = SIGTERM;
};

void PrintTo(const LinkCase& c, std::ostream* os) {
    *os << c.name;
}

class SimPortLink : public SimTool, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(SimPortLink, TakesTheExpectedNumberAndLeavesOtherLinksAlone) {
    const LinkCase& c = GetParam();
    fs::create_directories(linkDirectory());
    for (const auto& [com, target] : c.existing) {
        fs::create_symlink(target == Target::Device ? "/dev/null" : (dir_ / "gone").string(),
                           linkPath(com));
    }
    LiveSim& sim = startSim(c.args);
    const auto line = firstLine(sim);
    if (c.expectedCom == 0) {
        EXPECT_FALSE(line) << *line;
        EXPECT_EQ(finish(sim, std::nullopt), 2);
        EXPECT_EQ(linesOf(readAll(sim.errPath)).size(), 1u) << readAll(sim.errPath);
    } else {
        ASSERT_TRUE(line) << readAll(sim.errPath);
        const auto announced = parseAnnouncement(*line);
        ASSERT_TRUE(announced) << *line;
        EXPECT_EQ(announced->first, c.expectedCom);
        EXPECT_EQ(linkTarget(linkPath(c.expectedCom)), announced->second);
        EXPECT_EQ(finish(sim, c.stopSignal), 0);
        EXPECT_FALSE(fs::exists(fs::symlink_status(linkPath(c.expectedCom))));
    }
    for (const auto& [com, target] : c.existing) {
        if (target == Target::Device) {
            EXPECT_EQ(linkTarget(linkPath(com)), "/dev/null") << "COM" << com;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Links, SimPortLink,
    ::testing::Values(
        LinkCase{"FirstFreeIsOneHundred", {}, {}, 100},
        LinkCase{"SkipsANumberInUse", {{100, Target::Device}}, {}, 101},
        LinkCase{"ReplacesADanglingLink",
                 {{100, Target::Device}, {101, Target::Missing}, {102, Target::Device}},
                 {},
                 101},
        LinkCase{"AskedNumberInUse", {{100, Target::Device}}, {"--com", "100"}, 0},
        LinkCase{"AskedNumberWithADanglingLink", {{150, Target::Missing}}, {"--com", "150"}, 150},
        LinkCase{"AskedNumberBesideOneInUse", {{150, Target::Device}}, {"--com", "151"}, 151},
        LinkCase{"StoppedByInterrupt", {}, {"--com", "7"}, 7, SIGINT}),
    CaseName());

// How many bytes a pseudo-terminal holds for a reader that does not read.
std::size_t pseudoTerminalCapacity() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        return 0;
    }
    char name[128];
    const int slave = ::ptsname_r(master, name, sizeof name) == 0
                          ? ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC)
                          : -1;
    std::size_t total = 0;
    if (slave >= 0) {
        makeRaw(slave);
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        const Bytes frameBytes(frame::kSize, 0x55);
        for (ssize_t n; (n = ::write(master, frameBytes.data(), frameBytes.size())) > 0;) {
            total += static_cast<std::size_t>(n);
        }
        ::close(slave);
    }
    ::close(master);
    return total;
}

TEST_F(SimTool, FramesNobodyReadsAreLostNotQueued) {
    const std::size_t capacity = pseudoTerminalCapacity();
    ASSERT_GT(capacity, 0u);
    const std::int64_t framesHeld = static_cast<std::int64_t>(capacity / frame::kSize);
    // Nobody reads for long enough for the line to fill and then lose three
    // seconds of frames: one more than the check below needs, for a busy
    // machine.
    const double idle = static_cast<double>(framesHeld) / 100.0 + 3.0;

    LiveSim& sim = startSim({"--seed", "14"});
    const auto announced = parseAnnouncement(firstLine(sim).value_or(""));
    ASSERT_TRUE(announced) << readAll(sim.errPath);
    const auto started = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(idle));

    // Opened as the monitor opens it: what waited on the line is thrown away.
    const int fd = ::open(announced->second.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    makeRaw(fd);
    ASSERT_EQ(::tcflush(fd, TCIFLUSH), 0);
    const double openedAt = secondsSince(started);
    const Bytes received =
        joined(readUntil(fd, [](const Bytes& bytes) { return bytes.size() >= 3 * frame::kSize; }));
    ::close(fd);
    EXPECT_EQ(finish(sim), 0);

    // Where the received frames sit in the stream: a sender that waited for
    // room would still be at the frames the line could hold.
    const Bytes stream = sim::makeStream(14, openedAt + 10.0, {});
    std::optional<std::int64_t> firstFrame;
    for (std::size_t offset = 0; offset < frame::kSize && !firstFrame; ++offset) {
        if (received.size() < offset + frame::kSize) {
            break;
        }
        const auto window = received.begin() + static_cast<std::ptrdiff_t>(offset);
        for (std::size_t at = 0; at + frame::kSize <= stream.size(); at += frame::kSize) {
            if (std::equal(window, window + frame::kSize,
                           stream.begin() + static_cast<std::ptrdiff_t>(at))) {
                firstFrame = static_cast<std::int64_t>(at / frame::kSize);
                break;
            }
        }
    }
    ASSERT_TRUE(firstFrame) << received.size() << " bytes match no frame of the stream";
    EXPECT_GT(*firstFrame, framesHeld + 100) << "the line holds " << framesHeld << " frames";
    EXPECT_LE(*firstFrame, static_cast<std::int64_t>(std::ceil(openedAt * 100.0)) + 60);
}

TEST_F(SimTool, StalledSimulatorGoesOnAtTheSensorsPaceWithoutABurst) {
    LiveSim& sim = startSim({});
    const auto announced = parseAnnouncement(firstLine(sim).value_or(""));
    ASSERT_TRUE(announced) << readAll(sim.errPath);
    const int fd = ::open(announced->second.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    makeRaw(fd);
    readFor(fd, 0.3);
    // Stalled for two seconds, with whatever it sent before drained.
    ASSERT_EQ(::kill(sim.pid(), SIGSTOP), 0);
    readFor(fd, 2.0);
    const auto resumed = Clock::now();
    ASSERT_EQ(::kill(sim.pid(), SIGCONT), 0);
    const Bytes afterStall =
        joined(readUntil(fd, [](const Bytes& bytes) { return goodFrames(bytes) >= 100; }));
    const double seconds = secondsSince(resumed);
    ::close(fd);
    EXPECT_EQ(finish(sim), 0);
    // It goes on; catching up on the two seconds missed would send 200 frames
    // at once, where its deadlines allow 100 a second since it went on.
    const std::size_t frames = goodFrames(afterStall);
    EXPECT_GE(frames, 100u) << "it never went on";
    EXPECT_LE(static_cast<double>(frames), seconds * 100.0 + 50.0) << seconds << " s";
}

TEST_F(SimTool, PauseSilencesTheLineAfterHalfAFrame) {
    const auto started = Clock::now();
    LiveSim& sim = startSim({"--seed", "12", "--pause", "0.5@1"});
    const auto announced = parseAnnouncement(firstLine(sim).value_or(""));
    ASSERT_TRUE(announced) << readAll(sim.errPath);
    const int fd = ::open(announced->second.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    makeRaw(fd);
    // Frames 0-99, the first half of frame 100; the frames of the pause are
    // not sent and the stream goes on with frame 150. Read until 20 frames
    // past the pause have come.
    const auto halfFrame = static_cast<std::ptrdiff_t>(100 * frame::kSize + frame::kSize / 2);
    const std::size_t wanted = static_cast<std::size_t>(halfFrame) + 20 * frame::kSize;
    const double readingBegan = secondsSince(started);
    const std::vector<Arrival> arrivals =
        readUntil(fd, [&](const Bytes& bytes) { return bytes.size() >= wanted; });
    ::close(fd);
    EXPECT_EQ(finish(sim), 0);

    // Frame 150 is due 1.5 s after the simulator's start, later than ours: the
    // line was silent instead of going on at once with the frames after the
    // pause. (A busy machine delays it further, never brings it forward.)
    std::size_t seen = 0;
    for (const Arrival& a : arrivals) {
        seen += a.bytes.size();
        if (seen > static_cast<std::size_t>(halfFrame)) {
            EXPECT_GE(readingBegan + a.seconds, 1.49) << "the first byte after the pause";
            break;
        }
    }

    const Bytes received = joined(arrivals);
    ASSERT_GE(received.size(), wanted);
    const Bytes stream = sim::makeStream(12, 3.0, {});
    EXPECT_TRUE(std::equal(stream.begin(), stream.begin() + halfFrame, received.begin()))
        << "the bytes before the pause";
    const Bytes resumed(stream.begin() + 150 * frame::kSize, stream.end());
    EXPECT_TRUE(startsWith(resumed, Bytes(received.begin() + halfFrame, received.end())))
        << received.size() - static_cast<std::size_t>(halfFrame) << " bytes after the pause";
}

// --- A serial device ---------------------------------------------------------

TEST_F(SimTool, DeviceGetsRawFramesAtTheSensorsPaceAndNoLink) {
    // A pseudo-terminal of the test's own stands in for the device; holding its
    // slave open keeps the settings the simulator gave it.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0) << std::strerror(errno);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    char name[128];
    ASSERT_EQ(::ptsname_r(master, name, sizeof name), 0);
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(slave, 0) << std::strerror(errno);
    ASSERT_EQ(::fcntl(master, F_SETFL, O_NONBLOCK), 0);

    const auto start = Clock::now();
    LiveSim& sim = startSim({"--device", name, "--seconds", "1.5", "--seed", "13"});
    Bytes received;
    int status = -1;
    bool exited = false;
    while (!exited && secondsSince(start) < kGuardSeconds) {
        exited = hasExited(sim, status);
        const Bytes chunk = joined(readFor(master, 0.05));
        received.insert(received.end(), chunk.begin(), chunk.end());
    }
    const double elapsed = secondsSince(start);
    ASSERT_TRUE(exited);
    EXPECT_EQ(status, 0) << readAll(sim.errPath);
    EXPECT_EQ(readAll(sim.errPath), "");

    EXPECT_TRUE(received == sim::makeStream(13, 1.5, {})) << received.size() << " bytes";
    // 150 frames on 10 ms deadlines, not as fast as the line takes them.
    EXPECT_GE(elapsed, 1.3);

    termios tio{};
    ASSERT_EQ(::tcgetattr(slave, &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | ICRNL), 0u);
    ::close(slave);
    ::close(master);

    EXPECT_FALSE(fs::exists(linkDirectory()));
}

// What is not a terminal cannot take the line settings and is no serial line:
// it is refused before anything is written to it. "@file" stands for a file of
// the test's that must keep its bytes.
struct DeviceCase {
    const char* name;
    std::string device;
    std::string reason;
};

void PrintTo(const DeviceCase& c, std::ostream* os) {
    *os << c.name;
}

class SimRefusesDevice : public SimTool, public ::testing::WithParamInterface<DeviceCase> {};

TEST_P(SimRefusesDevice, WithStatusTwoNamingItAndLeavesItAlone) {
    const DeviceCase& c = GetParam();
    const std::string kept = "not a serial line\n";
    const fs::path file = writeFile("file.bin", kept);
    const std::string device = c.device == "@file" ? file.string() : c.device;
    const ToolRun sim = runSim({"--device", device, "--seconds", "0.3"});
    EXPECT_EQ(sim.exitStatus, 2) << sim.err;
    EXPECT_EQ(sim.out, "");
    EXPECT_EQ(linesOf(sim.err).size(), 1u) << sim.err;
    EXPECT_NE(sim.err.find("'" + device + "'"), std::string::npos) << sim.err;
    EXPECT_NE(sim.err.find(c.reason), std::string::npos) << sim.err;
    EXPECT_EQ(readAll(file), kept);
    EXPECT_FALSE(fs::exists(linkDirectory()));
}

INSTANTIATE_TEST_SUITE_P(Devices, SimRefusesDevice,
                         ::testing::Values(DeviceCase{"RegularFile", "@file", "a regular file"},
                                           DeviceCase{"NullDevice", "/dev/null", "not a terminal"}),
                         CaseName());

// --- Recorded accelerograms --------------------------------------------------

struct CsvRow {
    float siGal, x, y, z, pgv;
};

const std::vector<CsvRow> kRows = {
    {0.012345678901f, 0.001f, -0.25f, 12.5f, 0.000123f},
    {3.5f, -120.75f, 88.125f, -0.0625f, 1.75f},
    {0.0f, 0.0f, 1e-6f, -1e-6f, 0.0f},
};

// The rows above as the recorder writes them.
std::string recording(const std::string& lineEnd, bool byteOrderMark) {
    const std::vector<std::string> rows = {
        "2026-01-01,00:00:05,430, -3.0,    0.012345678901,    0.001000000000,   "
        "-0.250000000000,   12.500000000000,    0.000123000000",
        "2026-01-01,00:00:05,440,  4.2,    3.500000000000, -120.750000000000,   "
        "88.125000000000,   -0.062500000000,    1.750000000000",
        "2026-01-01,00:00:05,450,  0.0,    0.000000000000,    0.000000000000,    "
        "0.000001000000,   -0.000001000000,    0.000000000000",
    };
    std::string text = byteOrderMark ? "\xEF\xBB\xBF" : "";
    text += "Date,Time,ms,Intensity,SI(gal),X(gal),Y(gal),Z(gal),PGV(cm/s)" + lineEnd + lineEnd;
    for (const std::string& row : rows) {
        text += row + lineEnd;
    }
    return text;
}

struct CsvCase {
    const char* name;
    std::string text;
    std::vector<std::string> args;
    std::size_t expectedFrames;
};

void PrintTo(const CsvCase& c, std::ostream* os) {
    *os << c.name;
}

class SimFromCsv : public SimTool, public ::testing::WithParamInterface<CsvCase> {};

TEST_P(SimFromCsv, FramesCarryTheRowsThenQuietNoise) {
    const CsvCase& c = GetParam();
    const fs::path csv = writeFile("event.csv", c.text);
    const fs::path out = dir_ / "out.bin";
    std::vector<std::string> args = {"--from-csv", csv.string(), "--output", out.string()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ToolRun sim = runSim(args);
    ASSERT_EQ(sim.exitStatus, 0) << sim.err;
    EXPECT_EQ(sim.err, "");

    const Bytes bytes = readBytes(out);
    ASSERT_EQ(bytes.size(), c.expectedFrames * frame::kSize);
    EXPECT_EQ(goodFrames(bytes), c.expectedFrames);
    for (std::size_t i = 0; i < c.expectedFrames; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        const std::uint8_t* f = &bytes[i * frame::kSize];
        if (i < kRows.size()) {
            EXPECT_EQ(readFloat(f + frame::kSensorSiGal), kRows[i].siGal);
            EXPECT_EQ(readFloat(f + frame::kAccelX), kRows[i].x);
            EXPECT_EQ(readFloat(f + frame::kAccelY), kRows[i].y);
            EXPECT_EQ(readFloat(f + frame::kAccelZ), kRows[i].z);
            EXPECT_EQ(readFloat(f + frame::kSensorVelocity), kRows[i].pgv);
        } else {
            for (const std::size_t axis : {frame::kAccelX, frame::kAccelY, frame::kAccelZ}) {
                EXPECT_LT(std::fabs(readFloat(f + axis)), 1.0f);
            }
        }
        // The weather comes from the synthetic sensor.
        const float temperature = readFloat(f + frame::kTemperature);
        EXPECT_TRUE(temperature >= 15.0f && temperature <= 30.0f) << temperature;
        EXPECT_GE(readFloat(f + frame::kPressure), 1000.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, SimFromCsv,
    ::testing::Values(
        CsvCase{"AsTheRecorderWritesIt", recording("\r\n", true), {}, 3},
        CsvCase{"LineFeedsWithoutByteOrderMark", recording("\n", false), {}, 3},
        CsvCase{"SecondsBeyondTheRecording", recording("\r\n", true), {"--seconds", "1"}, 100},
        CsvCase{"SecondsWithinTheRecording", recording("\r\n", true), {"--seconds", "0.02"}, 2}),
    CaseName());

// A row padded with blanks to `length` bytes before its line end.
std::string rowOfLength(std::size_t length) {
    const std::string start = "2026-01-01,00:00:05,430, -3.0, 0.5, 1.5, -2.5,";
    const std::string end = " 4.5, 0.25";
    return start + std::string(length - start.size() - end.size(), ' ') + end;
}

// No accelerogram row comes near 4096 bytes; a longer line is refused by its
// number before it is read to its end, which an endless one has none of.
TEST_F(SimTool, CsvLinesHoldAtMost4096Bytes) {
    const std::string header = "Date,Time,ms,Intensity,SI,X,Y,Z,PGV\r\n\r\n";
    const fs::path out = dir_ / "out.bin";
    const fs::path longest = writeFile("longest.csv", header + rowOfLength(4096) + "\r\n");
    const ToolRun accepted = runSim({"--from-csv", longest.string(), "--output", out.string()});
    EXPECT_EQ(accepted.exitStatus, 0) << accepted.err;
    EXPECT_EQ(readBytes(out).size(), frame::kSize);
    fs::remove(out);

    const fs::path tooLong = writeFile("too-long.csv", header + rowOfLength(4097) + "\r\n");
    const ToolRun refused = runSim({"--from-csv", tooLong.string(), "--output", out.string()});
    EXPECT_EQ(refused.exitStatus, 2);
    EXPECT_EQ(linesOf(refused.err).size(), 1u) << refused.err;
    EXPECT_NE(refused.err.find("'" + tooLong.string() + "' line 3: longer than 4096 bytes"),
              std::string::npos)
        << refused.err;
    EXPECT_FALSE(fs::exists(out));
}

// --- Refusals ----------------------------------------------------------------

// "@out" stands for an output path in the test's folder, "@missing" for a path
// that does not exist and "@csv" for a file holding `csv`.
struct BadCommandLine {
    const char* name;
    std::vector<std::string> args;
    std::string csv = {};
    std::string messageHas = {};
};

void PrintTo(const BadCommandLine& c, std::ostream* os) {
    *os << c.name;
}

class SimRejects : public SimTool, public ::testing::WithParamInterface<BadCommandLine> {};

TEST_P(SimRejects, WithStatusTwoOneLineOnStandardErrorAndNothingLeftBehind) {
    const BadCommandLine& c = GetParam();
    const fs::path out = dir_ / "out.bin";
    const fs::path csv = writeFile("event.csv", c.csv);
    std::vector<std::string> args;
    for (const std::string& a : c.args) {
        args.push_back(a == "@out"       ? out.string()
                       : a == "@missing" ? (dir_ / "missing").string()
                       : a == "@csv"     ? csv.string()
                                         : a);
    }
    const ToolRun sim = runSim(args);
    EXPECT_EQ(sim.exitStatus, 2);
    EXPECT_EQ(sim.out, "");
    EXPECT_EQ(linesOf(sim.err).size(), 1u) << sim.err;
    EXPECT_TRUE(!sim.err.empty() && sim.err.back() == '\n') << sim.err;
    EXPECT_NE(sim.err.find(c.messageHas), std::string::npos) << sim.err;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(linkDirectory()));
}

std::string csvWithRow(const std::string& row) {
    return "\xEF\xBB\xBF"
           "Date,Time,ms,Intensity,SI,X,Y,Z,PGV\r\n\r\n"
           "2026-01-01,00:00:05,430, -3.0,    0.01,    0.02,    0.03,    0.04,    0.05\r\n" +
           row + "\r\n";
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, SimRejects,
    ::testing::Values(
        BadCommandLine{"UnknownOption", {"--verbose"}},
        BadCommandLine{"OptionWithoutValue", {"--seconds"}},
        BadCommandLine{"PauseWithOutput", {"--pause", "1@2", "--output", "@out"}},
        BadCommandLine{"PauseWithoutStart", {"--pause", "2"}},
        BadCommandLine{"PauseOfNoLength", {"--pause", "0@3"}},
        BadCommandLine{"ComZero", {"--com", "0"}},
        BadCommandLine{"ComNotANumber", {"--com", "COM3"}},
        BadCommandLine{"ComWithOutput", {"--com", "150", "--output", "@out"}},
        BadCommandLine{"OutputAndDevice", {"--output", "@out", "--device", "/dev/null"}},
        BadCommandLine{"MissingDevice", {"--device", "@missing"}},
        BadCommandLine{"QuakeWithoutStart", {"--quake", "5"}},
        BadCommandLine{"QuakeWithEmptyStart", {"--quake", "5@", "--output", "@out"}},
        BadCommandLine{"MissingCsvFile", {"--from-csv", "@missing", "--output", "@out"}},
        BadCommandLine{"CsvRowWithTooFewColumns",
                       {"--from-csv", "@csv", "--output", "@out"},
                       csvWithRow("2026-01-01,00:00:05,440, -3.0, 0.01, 0.02, 0.03"),
                       "line 4"},
        BadCommandLine{"CsvRowWithText",
                       {"--from-csv", "@csv", "--output", "@out"},
                       csvWithRow("2026-01-01,00:00:05,440, -3.0, 0.01, x, 0.03, 0.04, 0.05"),
                       "line 4"},
        BadCommandLine{"CsvRowWithoutTimeStamp",
                       {"--from-csv", "@csv", "--output", "@out"},
                       csvWithRow("0.0,0.0,0.0, -3.0, 0.01, 0.02, 0.03, 0.04, 0.05"),
                       "line 4"},
        BadCommandLine{"CsvWithoutRows",
                       {"--from-csv", "@csv", "--output", "@out"},
                       "Date,Time,ms,Intensity,SI,X,Y,Z,PGV\r\n\r\n"},
        BadCommandLine{"CsvOnALiveLine", {"--from-csv", "@csv"}, "header\n\n1,2\n", "line 3"},
        BadCommandLine{"CsvHeaderOfAMebibyteOfZeros",
                       {"--from-csv", "@csv", "--output", "@out"},
                       std::string(1 << 20, '\0'),
                       "line 1: longer than 4096 bytes"}),
    CaseName());

// Numbers as strtod and strtoull would take them: blanks, signs, other bases,
// overflow. A live line is given a short --seconds, so that one accepted by
// mistake ends by itself.
INSTANTIATE_TEST_SUITE_P(
    Numbers, SimRejects,
    ::testing::Values(
        BadCommandLine{"SeedNegative", {"--seed", "-5", "--output", "@out"}, {}, "--seed"},
        BadCommandLine{
            "SeedNegativeAfterABlank", {"--seed", " -5", "--output", "@out"}, {}, "--seed"},
        BadCommandLine{"SeedAfterABlank", {"--seed", " 5", "--output", "@out"}, {}, "--seed"},
        BadCommandLine{"SeedWithPlusSign", {"--seed", "+5", "--output", "@out"}, {}, "--seed"},
        BadCommandLine{"SeedWithTrailingText", {"--seed", "5x", "--output", "@out"}, {}, "--seed"},
        BadCommandLine{"SeedEmpty", {"--seed", "", "--output", "@out"}, {}, "--seed"},
        BadCommandLine{"SeedBeyondSixtyFourBits",
                       {"--seed", "18446744073709551616", "--output", "@out"},
                       {},
                       "--seed"},
        BadCommandLine{
            "SecondsAfterABlank", {"--seconds", " 5", "--output", "@out"}, {}, "--seconds"},
        BadCommandLine{
            "SecondsHexadecimal", {"--seconds", "0x10", "--output", "@out"}, {}, "--seconds"},
        BadCommandLine{"SecondsNegative", {"--seconds", "-1", "--output", "@out"}, {}, "--seconds"},
        BadCommandLine{
            "SecondsNotANumber", {"--seconds", "nan", "--output", "@out"}, {}, "--seconds"},
        BadCommandLine{
            "SecondsOverflowing", {"--seconds", "1e400", "--output", "@out"}, {}, "--seconds"},
        BadCommandLine{"SecondsBeyondTheLongest",
                       {"--seconds", "10000000.5", "--output", "@out"},
                       {},
                       "--seconds"},
        BadCommandLine{"ComWithPlusSign", {"--com", "+150", "--seconds", "0.1"}, {}, "--com"},
        BadCommandLine{"ComAfterABlank", {"--com", " 150", "--seconds", "0.1"}, {}, "--com"},
        BadCommandLine{"ComWrappingRoundThirtyTwoBits",
                       {"--com", "4294967446", "--seconds", "0.1"},
                       {},
                       "--com"},
        BadCommandLine{
            "CorruptAfterABlank", {"--corrupt", " 0.1", "--output", "@out"}, {}, "--corrupt"},
        BadCommandLine{"NanRateHexadecimal", {"--nan", "0x1p-4", "--output", "@out"}, {}, "--nan"},
        BadCommandLine{"PauseStartBeyondTheLongest",
                       {"--pause", "1@1e300", "--seconds", "0.1"},
                       {},
                       "--pause"},
        BadCommandLine{"PauseLengthBeyondTheLongest",
                       {"--pause", "1e300@1", "--seconds", "0.1"},
                       {},
                       "--pause"}),
    CaseName());

// A quake's start is bounded as the stream is, its length so that its motion,
// computed ahead, stays small; and it must start before a stream with an end
// is over, or it would be calibrated for nothing.
INSTANTIATE_TEST_SUITE_P(
    Quakes, SimRejects,
    ::testing::Values(
        BadCommandLine{"StartBeyondTheLongestStream",
                       {"--quake", "4@1e300", "--seconds", "0.1"},
                       {},
                       "start from 0 to 10000000 s"},
        BadCommandLine{"StartJustBeyondTheLongestStream",
                       {"--quake", "4@10000000.01", "--seconds", "0.1"},
                       {},
                       "start from 0 to 10000000 s"},
        BadCommandLine{
            "StartNegative", {"--quake", "4@-1", "--output", "@out"}, {}, "start from 0"},
        BadCommandLine{"LastingThirtyYears",
                       {"--quake", "4@0:1e9", "--seconds", "1", "--output", "@out"},
                       {},
                       "duration from 1 to 600 s"},
        BadCommandLine{"LastingJustOverTenMinutes",
                       {"--quake", "4@0:600.5", "--seconds", "1", "--output", "@out"},
                       {},
                       "duration from 1 to 600 s"},
        BadCommandLine{"LastingHalfASecond",
                       {"--quake", "4@0:0.5", "--seconds", "1", "--output", "@out"},
                       {},
                       "duration from 1 to 600 s"},
        BadCommandLine{"LastingNoTime",
                       {"--quake", "4@0:0", "--seconds", "1", "--output", "@out"},
                       {},
                       "duration from 1 to 600 s"},
        BadCommandLine{"IntensityAboveEight",
                       {"--quake", "8.5@0", "--output", "@out"},
                       {},
                       "intensity from -2 to 8"},
        BadCommandLine{"StartingLongAfterTheEnd",
                       {"--quake", "4@100000", "--seconds", "10", "--output", "@out"},
                       {},
                       "before the stream ends at 10 s"},
        BadCommandLine{"StartingAsTheStreamEnds",
                       {"--quake", "4@10", "--seconds", "10", "--output", "@out"},
                       {},
                       "before the stream ends at 10 s"},
        BadCommandLine{"StartingAfterTheDefaultLength",
                       {"--quake", "4@60", "--output", "@out"},
                       {},
                       "before the stream ends at 60 s"},
        BadCommandLine{"StartingAfterTheRecording",
                       {"--from-csv", "@csv", "--quake", "4@1", "--output", "@out"},
                       csvWithRow("2026-01-01,00:00:05,440, -3.0, 0.01, 0.02, 0.03, 0.04, 0.05"),
                       "before the stream ends at 0.02 s"},
        BadCommandLine{"StartingAfterTheEndOfALiveLine",
                       {"--quake", "4@5", "--seconds", "1"},
                       {},
                       "before the stream ends at 1 s"}),
    CaseName());

// Command lines at the bounds still run: the stream has its length, and a
// quake that ends with it shows its intensity.
struct AcceptedCommandLine {
    const char* name;
    std::vector<std::string> args;
    std::size_t frames;
    std::optional<double> shownIntensity = std::nullopt;
};

void PrintTo(const AcceptedCommandLine& c, std::ostream* os) {
    *os << c.name;
}

class SimAccepts : public SimTool, public ::testing::WithParamInterface<AcceptedCommandLine> {};

TEST_P(SimAccepts, AndWritesTheWholeStream) {
    const AcceptedCommandLine& c = GetParam();
    const std::string stream = (dir_ / "out.bin").string();
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--output", stream});
    const ToolRun sim = runSim(args);
    ASSERT_EQ(sim.exitStatus, 0) << sim.err;
    EXPECT_EQ(sim.err, "");
    EXPECT_EQ(fs::file_size(stream), c.frames * frame::kSize);
    if (c.shownIntensity) {
        const ToolRun replay = run(kReplayPath, {"--summary", stream});
        ASSERT_EQ(replay.exitStatus, 0) << replay.err;
        const auto at = replay.err.find("max_jma=");
        ASSERT_NE(at, std::string::npos) << replay.err;
        EXPECT_NEAR(std::strtod(replay.err.c_str() + at + 8, nullptr), *c.shownIntensity,
                    0.1 + 1e-9)
            << replay.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, SimAccepts,
    ::testing::Values(
        AcceptedCommandLine{"LongestQuake", {"--quake", "4@0:600", "--seconds", "1"}, 100},
        AcceptedCommandLine{
            "ShortestQuakeEndingWithTheStream", {"--quake", "4@9:1", "--seconds", "10"}, 1000, 4.0},
        AcceptedCommandLine{
            "QuakeFromTheLastFrame", {"--quake", "4@9.99", "--seconds", "10"}, 1000},
        AcceptedCommandLine{
            "HighestSeed", {"--seed", "18446744073709551615", "--seconds", "1"}, 100},
        AcceptedCommandLine{"SecondsWithAnExponent", {"--seconds", "1e-2"}, 1}),
    CaseName());

// The latest start is only reached by an endless line. The line starts once
// the quake is calibrated, which must not mean running the core through the
// 16 weeks before it.
TEST_F(SimTool, QuakeAtTheLatestStartIsTakenByAnEndlessLine) {
    LiveSim& sim = startSim({"--quake", "4@10000000:600"});
    const auto announced = parseAnnouncement(firstLine(sim).value_or(""));
    ASSERT_TRUE(announced) << readAll(sim.errPath);
    EXPECT_EQ(finish(sim), 0);
    EXPECT_EQ(readAll(sim.errPath), "");
}

// A stream that cannot be written fails with status 1 and says why, as the
// usage text promises for a failing line. "@missing" and "@dir" stand for a
// path in a folder that does not exist and for the test's folder.
struct FailingOutput {
    const char* name;
    std::vector<std::string> args;
    bool fullStandardOutput;
    std::string messageHas;
};

void PrintTo(const FailingOutput& c, std::ostream* os) {
    *os << c.name;
}

class SimOutputFails : public SimTool, public ::testing::WithParamInterface<FailingOutput> {};

TEST_P(SimOutputFails, WithStatusOneAndOneLineOnStandardError) {
    const FailingOutput& c = GetParam();
    std::vector<std::string> args;
    for (const std::string& a : c.args) {
        args.push_back(a == "@missing" ? (dir_ / "missing/stream.bin").string()
                       : a == "@dir"   ? dir_.string()
                                       : a);
    }
    std::optional<Redirect> out;
    int full = -1;
    if (c.fullStandardOutput) {
        full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        ASSERT_GE(full, 0) << std::strerror(errno);
        out = Redirect::descriptor(full);
    }
    const ToolRun sim = run(kSimPath, args, out);
    if (full >= 0) {
        ::close(full);
    }
    EXPECT_EQ(sim.exitStatus, 1);
    EXPECT_EQ(sim.out, "");
    EXPECT_EQ(linesOf(sim.err).size(), 1u) << sim.err;
    EXPECT_NE(sim.err.find(c.messageHas), std::string::npos) << sim.err;
    EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, SimOutputFails,
    ::testing::Values(
        FailingOutput{"FileInAMissingFolder", {"--output", "@missing"}, false, "cannot create"},
        FailingOutput{"FileThatIsAFolder", {"--output", "@dir"}, false, "cannot create"},
        FailingOutput{"FullStandardOutput",
                      {"--output", "-", "--seconds", "1"},
                      true,
                      "cannot write to standard output"},
        FailingOutput{
            "HelpToAFullStandardOutput", {"--help"}, true, "cannot write to standard output"}),
    CaseName());

TEST_F(SimTool, HelpDocumentsEveryOptionAndTheLinkFolder) {
    const ToolRun sim = runSim({"--help"});
    EXPECT_EQ(sim.exitStatus, 0);
    EXPECT_EQ(sim.err, "");
    EXPECT_EQ(sim.out.rfind("Usage: kelvora-sim", 0), 0u) << sim.out;
    for (const char* text : {"--com", "--device", "--output", "--seconds", "--seed", "--quake",
                             "--from-csv", "--pause", "--corrupt", "--drop", "--nan",
                             "--start-mid-frame", "Vantrell/Kelvora/ports", "Examples"}) {
        EXPECT_NE(sim.out.find(text), std::string::npos) << text;
    }
}

} // namespace
} // namespace kelvora::test
