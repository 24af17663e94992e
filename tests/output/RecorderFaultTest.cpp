// The accelerogram recorder under faults of the machine it runs on, with real
// files: the disk filling up (a file size limit in a child process, so the
// kernel itself refuses the writes), the folder made read-only in the middle
// of a recording, and the program killed with SIGKILL while it records.
#include "output/AccelerogramRecorder.h"

#include "RecorderFixtures.h"

#include "support/ChildProcess.h"
#include "support/Files.h"
#include "support/TemporaryFolder.h"
#include "support/TestNames.h"
#include "support/Text.h"
#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <regex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr double kQuiet = -3.0;     // below the stop value: closes a recording
constexpr double kStrong = 5.0;     // above the start value: triggers one
constexpr int kRowsPerSecond = 100; // the sensor's frame rate
// Recordings triggered then begin ten seconds earlier: 20260502-135950.csv.
constexpr LocalTime kTriggerTime{2026, 5, 2, 14, 0, 0, 0};

// Feeds the recorder good frames in the pipeline's order (recorder step,
// history write, countdown); frame n carries n in its siGal column.
class FrameFeeder {
public:
    FrameFeeder(AccelerogramRecorder& recorder, CountingClock& clock)
        : recorder_(recorder), clock_(clock) {}

    void frame(double intensity, int n) { feedFrame(recorder_, state_, clock_, intensity, n); }

private:
    AccelerogramRecorder& recorder_;
    CountingClock& clock_;
    MeasurementState state_;
};

// A recorder on a folder whose history holds the quiet frames 1 to 1000, its
// clock then set to kTriggerTime: the next strong frame triggers a recording
// that starts with all 1000.
struct PrimedRecorder {
    PrimedRecorder(const fs::path& folder, const RecorderSettings& settings)
        : recorder(folder.string(), settings, clock), feed(recorder, clock) {
        for (int n = 1; n <= 1000; ++n) {
            feed.frame(kQuiet, n);
        }
        clock.time = kTriggerTime;
    }

    CountingClock clock{kTriggerTime};
    AccelerogramRecorder recorder;
    FrameFeeder feed;
};

// The frame numbers of a recording's rows. Fails the test unless the file is
// the header and nothing but whole rows of nine fields that parse.
std::vector<int> framesOf(const fs::path& path) {
    static const std::regex row(R"(\d{4}-\d{2}-\d{2},\d{2}:\d{2}:\d{2},\d{3}(, [ 0-9.+-]+){6})");
    std::vector<int> frames;
    for (const std::string& line : rowsOf(path)) {
        const std::vector<std::string> fields = split(line, ',');
        if (!std::regex_match(line, row) || fields.size() != 9) {
            ADD_FAILURE() << path << ": a line that is no row: " << line;
            break;
        }
        for (std::size_t i = 3; i < fields.size(); ++i) {
            char* parsedTo = nullptr;
            (void)std::strtod(fields[i].c_str(), &parsedTo);
            if (*parsedTo != '\0') {
                ADD_FAILURE() << path << ": field " << i << " is no number: " << line;
            }
        }
        frames.push_back(frameOfRow(line));
    }
    return frames;
}

std::vector<int> range(int first, int last) {
    std::vector<int> numbers;
    for (int n = first; n <= last; ++n) {
        numbers.push_back(n);
    }
    return numbers;
}

class RecorderFault : public ::testing::Test {
protected:
    RecorderFault() {
        fs::create_directory(folder_);
        // A minimum of 10 s is covered by the history and the trigger row:
        // the first quiet frame closes a recording.
        settings_.recordMinSeconds = 10;
    }

    std::vector<std::string> names() const { return fileNamesIn(folder_); }

    TemporaryFolder temporary_{"kelvora-recorder-fault"};
    const fs::path folder_ = temporary_ / "Accelerogram";
    RecorderSettings settings_;
};

// --- The disk fills up -----------------------------------------------------

struct FullDiskCase {
    const char* name;
    rlim_t fileSizeLimit; // bytes a file may reach while the disk is "full"
    bool startFits;       // the header and the 1001 rows of a start fit
};

void PrintTo(const FullDiskCase& c, std::ostream* os) {
    *os << c.name;
}

class RecorderOnAFullDisk : public RecorderFault,
                            public ::testing::WithParamInterface<FullDiskCase> {};

// The child's exit codes when a recorder state is wrong.
enum ChildFailure {
    kNoLimit = 10,
    kNoStandardError,
    kRecordedWithoutRoom,
    kNeverEnded,
    kDidNotRecordOnceFree,
    kStillOpenAtTheEnd,
};

// A recording never has a hole in the middle of the shaking: it ends at the
// last whole row the disk took, and says so once; while the disk stays full,
// the triggers record nothing and say nothing more; once there is room the
// next trigger records in full.
TEST_P(RecorderOnAFullDisk, EndsAtTheLastWholeRowSaysSoOnceAndRecordsAgainOnceThereIsRoom) {
    const FullDiskCase c = GetParam();
    const LocalTime freeAt{2026, 5, 2, 14, 5, 0, 0};
    const fs::path said = temporary_ / "stderr.txt";
    // The frame on which the disk stopped the recording, shared with the test.
    void* shared = ::mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    auto* ended = new (shared) std::atomic<int>(0);
    const pid_t pid = forkChild([&]() -> int {
        const int err = ::open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (err < 0 || ::dup2(err, STDERR_FILENO) < 0) {
            return kNoStandardError;
        }
        // The kernel refuses writes beyond the limit with EFBIG, as a full
        // disk refuses them with ENOSPC; ignored, the signal kills no one.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit original{};
        ::getrlimit(RLIMIT_FSIZE, &original);
        rlimit full = original;
        full.rlim_cur = c.fileSizeLimit;
        if (::setrlimit(RLIMIT_FSIZE, &full) != 0) {
            return kNoLimit;
        }
        PrimedRecorder primed(folder_, settings_);
        auto& [clock, recorder, feed] = primed;
        // Ten seconds of a strong quake: far more than the limit holds.
        int last = 2000;
        for (int n = 1001; n <= 2000; ++n) {
            feed.frame(kStrong, n);
            if (!c.startFits && recorder.isRecording()) {
                return kRecordedWithoutRoom;
            }
            if (c.startFits && !recorder.isRecording()) {
                last = n;
                break;
            }
        }
        if (c.startFits && recorder.isRecording()) {
            return kNeverEnded;
        }
        ended->store(last);

        ::setrlimit(RLIMIT_FSIZE, &original); // room again
        clock.time = freeAt;
        feed.frame(kStrong, last + 1);
        if (!recorder.isRecording()) {
            return kDidNotRecordOnceFree;
        }
        for (int n = last + 2; n <= last + 300; ++n) {
            feed.frame(kStrong, n);
        }
        feed.frame(kQuiet, last + 301);
        return recorder.isRecording() ? kStillOpenAtTheEnd : 0;
    });
    ASSERT_GT(pid, 0);
    const int status = waitForChild(pid);
    const int last = ended->load();
    ::munmap(shared, sizeof(std::atomic<int>));
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    ASSERT_EQ(WEXITSTATUS(status), 0);

    // Once there is room, the next trigger records in full: the 1000 frames
    // before it, the trigger and every frame up to the quiet one.
    const std::string freeName = "20260502-140450.csv";
    ASSERT_TRUE(fs::exists(folder_ / freeName));
    EXPECT_EQ(framesOf(folder_ / freeName), range(last - 999, last + 301));
    const std::string again = "kelvora: recording into " + folder_.string() + " again\n";

    if (!c.startFits) {
        EXPECT_EQ(names(), std::vector<std::string>{freeName})
            << "a start without room leaves no file behind";
        EXPECT_EQ(readAll(said), "kelvora: cannot record into " + folder_.string() +
                                     ": File too large; the next trigger tries again\n" + again);
        return;
    }
    // The recording the disk filled under keeps every row from its start up
    // to the last whole one the disk took, and ends there.
    const std::string fullName = "20260502-135950.csv";
    EXPECT_EQ(names(), (std::vector<std::string>{fullName, freeName}));
    const std::vector<int> frames = framesOf(folder_ / fullName);
    ASSERT_GT(frames.size(), 1001u + kRowsPerSecond);
    EXPECT_EQ(frames, range(1, frames.back()));
    EXPECT_LT(frames.back(), last);
    const std::uintmax_t size = fs::file_size(folder_ / fullName);
    const std::size_t rowBytes = rowsOf(folder_ / fullName).back().size() + 2;
    EXPECT_LE(size, c.fileSizeLimit);
    EXPECT_GT(size + rowBytes, c.fileSizeLimit) << "whole rows that fitted were dropped";
    EXPECT_EQ(readAll(said), "kelvora: recording " + (folder_ / fullName).string() +
                                 " ends early: File too large; it holds the rows written before\n" +
                                 again);
}

INSTANTIATE_TEST_SUITE_P(Cases, RecorderOnAFullDisk,
                         ::testing::Values(FullDiskCase{"FullAtTheStart", 50'000, false},
                                           FullDiskCase{"FullInTheMiddle", 200'000, true}),
                         CaseName());

// --- The folder made read-only ---------------------------------------------

TEST_F(RecorderFault, AFolderMadeReadOnlyMidRecordingLosesOnlyTheTriggersUntilItIsWritable) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only folders; run as an ordinary user";
    }
    PrimedRecorder primed(folder_, settings_);
    auto& [clock, recorder, feed] = primed;
    feed.frame(kStrong, 1001);
    ASSERT_TRUE(recorder.isRecording());
    const fs::path first = folder_ / "20260502-135950.csv";
    ASSERT_TRUE(fs::exists(first));

    // The open recording is not affected: it goes on and closes whole.
    fs::permissions(first, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
    for (int n = 1002; n <= 1400; ++n) {
        feed.frame(kStrong, n);
        ASSERT_TRUE(recorder.isRecording()) << "frame " << n;
    }
    feed.frame(kQuiet, 1401);
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_EQ(framesOf(first), range(1, 1401));

    // Later triggers find no room for a file: each frame tries again.
    clock.time = {2026, 5, 2, 14, 10, 0, 0};
    const int readingsBefore = clock.readings;
    for (int n = 1402; n <= 1410; ++n) {
        feed.frame(kStrong, n);
        EXPECT_FALSE(recorder.isRecording());
    }
    EXPECT_EQ(clock.readings - readingsBefore, 9);

    fs::permissions(folder_, fs::perms::owner_all);
    clock.time = {2026, 5, 2, 14, 20, 0, 0};
    feed.frame(kStrong, 1411);
    EXPECT_TRUE(recorder.isRecording());
    recorder.closeRecording();
    EXPECT_EQ(names(), (std::vector<std::string>{"20260502-135950.csv", "20260502-141950.csv"}));
    EXPECT_EQ(framesOf(folder_ / "20260502-141950.csv"), range(411, 1411));
}

// --- The program killed while it records -----------------------------------

struct KillCase {
    const char* name;
    int framesAfterTrigger; // recorded after the trigger frame, before the kill
};

void PrintTo(const KillCase& c, std::ostream* os) {
    *os << c.name;
}

class RecorderKilled : public RecorderFault, public ::testing::WithParamInterface<KillCase> {};

TEST_P(RecorderKilled, LeavesWholeRowsUpToItsLastSecond) {
    const int after = GetParam().framesAfterTrigger;
    // How far the child has got, in memory it shares with the test.
    void* shared = ::mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    auto* recorded = new (shared) std::atomic<int>(-1);

    const pid_t pid = forkChild([&]() -> int {
        PrimedRecorder primed(folder_, settings_);
        for (int n = 1001; n <= 1001 + after; ++n) {
            primed.feed.frame(kStrong, n);
        }
        recorded->store(after, std::memory_order_release);
        for (;;) {
            ::pause(); // recording, until the kill
        }
    });
    ASSERT_GT(pid, 0);
    const bool reached =
        waitFor([&] { return recorded->load(std::memory_order_acquire) == after; }, 30s);
    ::kill(pid, SIGKILL);
    const int status = waitForChild(pid);
    ::munmap(shared, sizeof(std::atomic<int>));
    ASSERT_TRUE(reached);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    // 1001 rows at the start, one per frame after: all but the last second's.
    const std::vector<std::string> found = names();
    ASSERT_EQ(found, std::vector<std::string>{"20260502-135950.csv"});
    const std::vector<int> frames = framesOf(folder_ / found[0]);
    const int produced = 1001 + after;
    ASSERT_GE(frames.size(), 1001u) << "the start reaches the file at once";
    EXPECT_GT(static_cast<int>(frames.size()), produced - kRowsPerSecond);
    EXPECT_EQ(frames, range(1, static_cast<int>(frames.size())));
}

INSTANTIATE_TEST_SUITE_P(Cases, RecorderKilled,
                         ::testing::Values(KillCase{"RightAfterTheTrigger", 0},
                                           KillCase{"BeforeTheFirstSecond", 99},
                                           KillCase{"AtTheFirstSecond", 100},
                                           KillCase{"InTheThirdSecond", 250},
                                           KillCase{"AfterAMinute", 6'123}),
                         CaseName());

} // namespace
} // namespace kelvora::test
