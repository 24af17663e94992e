// kelvora-replay with the accelerogram recorder, run as child processes: a
// quake from kelvora-sim recorded under a simulated clock and compared row by
// row with the replay's own CSV, and a recording that keeps its rows when the
// program is killed in the middle of it.
#include "SyntheticSensor.h"
#include "support/ChildProcess.h"
#include "support/Files.h"
#include "support/TemporaryFolder.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

constexpr const char* kReplayPath = KELVORA_REPLAY_PATH;
constexpr const char* kSimPath = KELVORA_SIM_PATH;
constexpr auto kChildTimeout = seconds(120);

constexpr char kHeader[] = "\xEF\xBB\xBF"
                           "日付,時間,ms, 震度, 合成GAL(フィルタ有), X軸(E-W), Y軸(N-S), "
                           "Z軸(U-D), 合成速度\r\n\r\n";

// The rows of a recording without their CR LF; a failure when the file does
// not start with the header or ends inside a line.
std::vector<std::string> rowsOf(const std::string& bytes) {
    if (bytes.compare(0, sizeof kHeader - 1, kHeader) != 0) {
        ADD_FAILURE() << "the recording does not start with the header";
        return {};
    }
    const std::string body = bytes.substr(sizeof kHeader - 1);
    if (body.size() < 2 || body.compare(body.size() - 2, 2, "\r\n") != 0) {
        ADD_FAILURE() << "the recording does not end with a line end";
        return {};
    }
    std::vector<std::string> rows = split(body.substr(0, body.size() - 2), "\r\n");
    return rows;
}

std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

// printf's "%<width>.<precision>f" cut to width characters.
std::string printed(double value, int width, int precision) {
    char text[512];
    std::snprintf(text, sizeof text, "%*.*f", width, precision, value);
    return std::string(text).substr(0, static_cast<std::size_t>(width));
}

// "YYYY-MM-DD,HH:MM:SS,mmm" of a time, and the file name of a first row.
std::string stampOf(sys_time<milliseconds> t) {
    const sys_days day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss<milliseconds> hms{t - day};
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u,%02d:%02d:%02d,%03d",
                  static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                  static_cast<unsigned>(ymd.day()), static_cast<int>(hms.hours().count()),
                  static_cast<int>(hms.minutes().count()), static_cast<int>(hms.seconds().count()),
                  static_cast<int>(hms.subseconds().count()));
    return text;
}

std::string fileNameOf(sys_time<milliseconds> t) {
    const std::string s = stampOf(t);
    return s.substr(0, 4) + s.substr(5, 2) + s.substr(8, 2) + "-" + s.substr(11, 2) +
           s.substr(14, 2) + s.substr(17, 2) + ".csv";
}

// A child process with the given descriptors as its standard input, output
// and error.
pid_t spawn(const char* path, const std::vector<std::string>& args, int in, int out, int err) {
    std::vector<std::string> argv{path};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildOptions options;
    options.in = Redirect::descriptor(in);
    options.out = Redirect::descriptor(out);
    options.err = Redirect::descriptor(err);
    return spawnChild(argv, options);
}

// The raw wait status; a child still running at the time-out is killed.
int waitFor(pid_t pid) {
    return waitForChild(pid, kChildTimeout);
}

class ReplayRecorder : public ::testing::Test {
protected:
    int openForWriting(const std::string& name) {
        const int fd =
            ::open((dir_ / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        EXPECT_GE(fd, 0) << name << ": " << std::strerror(errno);
        return fd;
    }
    fs::path makeFolder(const std::string& name) {
        fs::create_directory(dir_ / name);
        return dir_ / name;
    }

    TemporaryFolder temporary_{"kelvora-replay-rec"};
    const fs::path dir_ = temporary_.path();
};

// One line of the replay's CSV, the columns the recording repeats.
struct CsvFrame {
    double siGal;
    double pgv;
    double intensity;
};

std::vector<CsvFrame> framesOf(const std::string& csv) {
    std::vector<CsvFrame> frames;
    const std::vector<std::string> lines = split(csv, "\n");
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty()) {
            continue;
        }
        const std::vector<std::string> fields = split(lines[i], ",");
        if (fields.size() != 12) {
            ADD_FAILURE() << "CSV line " << i << ": " << lines[i];
            return frames;
        }
        frames.push_back({std::strtod(fields[3].c_str(), nullptr),
                          std::strtod(fields[7].c_str(), nullptr),
                          std::strtod(fields[9].c_str(), nullptr)});
    }
    return frames;
}

TEST_F(ReplayRecorder, RecordsASimulatedQuakeRowForRowWithTheReplayCsv) {
    const fs::path folder = makeFolder("Accelerogram");
    // kelvora-sim | kelvora-replay through a pipe.
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    const int simErr = openForWriting("sim.err");
    const int csv = openForWriting("replay.csv");
    const int replayErr = openForWriting("replay.err");
    const pid_t sim = spawn(kSimPath, {"--quake", "4.0@20", "--seconds", "80", "--output", "-"},
                            STDIN_FILENO, pipeFds[1], simErr);
    const pid_t replay = spawn(
        kReplayPath, {"--record-dir", folder.string(), "--clock", "2026-01-01 00:00:05.437", "-"},
        pipeFds[0], csv, replayErr);
    for (int fd : {pipeFds[0], pipeFds[1], simErr, csv, replayErr}) {
        ::close(fd);
    }
    ASSERT_GT(sim, 0);
    ASSERT_GT(replay, 0);
    ASSERT_EQ(exitCode(waitFor(sim)), 0) << readAll(dir_ / "sim.err");
    ASSERT_EQ(exitCode(waitFor(replay)), 0) << readAll(dir_ / "replay.err");

    // The same stream without the recorder gives the same CSV.
    const int stream = openForWriting("stream.bin");
    const pid_t sim2 = spawn(kSimPath, {"--quake", "4.0@20", "--seconds", "80", "--output", "-"},
                             STDIN_FILENO, stream, STDERR_FILENO);
    ::close(stream);
    ASSERT_EQ(exitCode(waitFor(sim2)), 0);
    const int streamIn = ::open((dir_ / "stream.bin").c_str(), O_RDONLY | O_CLOEXEC);
    const int plainCsv = openForWriting("plain.csv");
    const pid_t plain = spawn(kReplayPath, {"-"}, streamIn, plainCsv, STDERR_FILENO);
    ::close(streamIn);
    ::close(plainCsv);
    ASSERT_EQ(exitCode(waitFor(plain)), 0);
    const std::string csvText = readAll(dir_ / "replay.csv");
    EXPECT_TRUE(csvText == readAll(dir_ / "plain.csv")) << "the recorder changed the CSV";

    const std::vector<CsvFrame> frames = framesOf(csvText);
    ASSERT_EQ(frames.size(), 8000u);
    // The trigger: the first frame at or above the default start, -0.9.
    std::size_t trigger = 0;
    while (trigger < frames.size() && !(frames[trigger].intensity > -0.9 - 0.01)) {
        ++trigger;
    }
    ASSERT_GE(trigger, 1000u) << "the quake must come after a full history";
    ASSERT_LT(trigger, frames.size());
    // The end: the minimum of 30 s has passed and the intensity is at or
    // below the default stop, -1.3.
    std::size_t last = trigger + 1999;
    while (last < frames.size() && !(frames[last].intensity < -1.3 + 0.01)) {
        ++last;
    }
    ASSERT_LT(last, frames.size()) << "the recording must end before the stream does";

    // The clock reads 00:00:05.437 at the first good frame, 10 ms more for
    // each later one; the first row is 10 s before the trigger's reading cut
    // to tens of milliseconds.
    const sys_time<milliseconds> firstRow =
        sys_days{year{2026} / January / 1} + milliseconds(5430) +
        milliseconds(10) * static_cast<int>(trigger) - seconds(10);
    const std::vector<fs::path> files = filesIn(folder);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename().string(), fileNameOf(firstRow));

    const std::vector<std::string> rows = rowsOf(readAll(files[0]));
    ASSERT_EQ(rows.size(), 1000u + (last - trigger + 1));
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const CsvFrame& f = frames[trigger - 1000 + k];
        const std::vector<std::string> fields = split(rows[k], ",");
        ASSERT_EQ(fields.size(), 9u) << rows[k];
        const std::string stamp = stampOf(firstRow + milliseconds(10) * static_cast<int>(k));
        ASSERT_EQ(fields[0] + "," + fields[1] + "," + fields[2], stamp) << "row " << k;
        ASSERT_EQ(fields[3], " " + printed(f.intensity, 4, 1)) << "row " << k;
        ASSERT_EQ(fields[4], " " + printed(f.siGal, 17, 12)) << "row " << k;
        ASSERT_EQ(fields[8], " " + printed(f.pgv, 17, 12)) << "row " << k;
    }
}

// Bytes still in the pipe, not yet read by the child.
int unread(int pipeWriteEnd) {
    int count = 0;
    if (::ioctl(pipeWriteEnd, FIONREAD, &count) != 0) {
        ADD_FAILURE() << "FIONREAD: " << std::strerror(errno);
        return 0;
    }
    return count;
}

bool writeAndWaitUntilRead(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ADD_FAILURE() << "write to the pipe: " << std::strerror(errno);
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    const auto deadline = steady_clock::now() + kChildTimeout;
    while (unread(fd) > 0) {
        if (steady_clock::now() > deadline) {
            ADD_FAILURE() << "the replay stopped reading";
            return false;
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
}

TEST_F(ReplayRecorder, KilledInTheMiddleOfARecordingLosesAtMostTheLastHundredRows) {
    // A quake from 12 s; the stream ends a few seconds after the trigger, while
    // the recording is open and holds fewer rows after its start than its
    // buffer would.
    const std::vector<std::uint8_t> bytes = sim::makeStream(61, 15.5, {{12.0, 20.0, 40.0}});
    {
        std::ofstream out(dir_ / "stream.bin", std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    const std::vector<std::string> options = {"--summary", "--clock", "2026-01-01 00:00:05.437"};

    // The whole stream to its end: the recording as the end of reception closes it.
    const fs::path whole = makeFolder("whole");
    std::vector<std::string> args = options;
    args.insert(args.end(), {"--record-dir", whole.string(), (dir_ / "stream.bin").string()});
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    ASSERT_EQ(exitCode(waitFor(spawn(kReplayPath, args, devNull, devNull, devNull))), 0);
    const std::vector<fs::path> wholeFiles = filesIn(whole);
    ASSERT_EQ(wholeFiles.size(), 1u);
    const std::string complete = readAll(wholeFiles[0]);
    const std::size_t completeRows = rowsOf(complete).size();
    // Fewer than 64 KiB of rows after the start, more than 100.
    ASSERT_GT(completeRows, 1001u + 200u) << "adjust the stream length";
    ASSERT_LT(completeRows, 1001u + 450u) << "adjust the stream length";

    // The same stream a second at a time through a pipe, then SIGKILL.
    const fs::path killed = makeFolder("killed");
    args = options;
    args.insert(args.end(), {"--record-dir", killed.string(), "-"});
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    const pid_t replay = spawn(kReplayPath, args, pipeFds[0], devNull, devNull);
    ::close(pipeFds[0]);
    ::close(devNull);
    ASSERT_GT(replay, 0);
    constexpr std::size_t kSecond = 100 * 42;
    bool fed = true;
    for (std::size_t at = 0; fed && at < bytes.size(); at += kSecond) {
        fed = writeAndWaitUntilRead(pipeFds[1], bytes.data() + at,
                                    std::min(kSecond, bytes.size() - at));
    }
    // The replay reads again only when it has run every frame it read, so a
    // byte more read from the pipe means every frame has been recorded.
    const std::uint8_t extra = 0;
    fed = fed && writeAndWaitUntilRead(pipeFds[1], &extra, 1);
    ::kill(replay, SIGKILL);
    const int status = waitFor(replay);
    ::close(pipeFds[1]);
    ASSERT_TRUE(fed);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

    const std::vector<fs::path> killedFiles = filesIn(killed);
    ASSERT_EQ(killedFiles.size(), 1u);
    EXPECT_EQ(killedFiles[0].filename(), wholeFiles[0].filename());
    const std::string left = readAll(killedFiles[0]);
    const std::size_t leftRows = rowsOf(left).size();
    EXPECT_EQ(complete.compare(0, left.size(), left), 0)
        << "not a beginning of the whole recording";
    EXPECT_GE(leftRows, 1001u);
    EXPECT_LE(completeRows - leftRows, 100u)
        << leftRows << " of " << completeRows << " rows survived the kill";
}

} // namespace
} // namespace kelvora::test
