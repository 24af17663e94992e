// The accelerogram recorder on real files in a temporary folder per test. Most
// tests drive it frame by frame in the pipeline's order (recorder step,
// history write, frame clock, countdown) with chosen values; where the order
// inside the pipeline matters, the real pipeline drives it.
#include "output/AccelerogramRecorder.h"

#include "AllocationCounter.h"
#include "RecorderFixtures.h"
#include "core/MeasurementPipeline.h"
#include "support/Files.h"
#include "support/TemporaryFolder.h"
#include "support/TestNames.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;

// What printf writes for "%<width>.<precision>f", cut to width characters.
std::string printed(double value, int width, int precision) {
    char text[512];
    std::snprintf(text, sizeof text, "%*.*f", width, precision, value);
    return std::string(text).substr(0, static_cast<std::size_t>(width));
}

// The value columns of a row, as the format asks for them.
std::string valueColumns(const HistoryRecord& r) {
    std::string text = ", " + printed(r.intensity, 4, 1);
    for (double v : {r.siGal, r.accelX, r.accelY, r.accelZ, r.pgv}) {
        text += ", " + printed(v, 17, 12);
    }
    return text;
}

class Recorder : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directory(folder_); }
    void TearDown() override { recorder_.reset(); }

    AccelerogramRecorder& make(const fs::path& folder,
                               RecordFile::PositionedWrite write = nullptr) {
        recorder_ =
            std::make_unique<AccelerogramRecorder>(folder.string(), settings_, clock_, write);
        return *recorder_;
    }
    AccelerogramRecorder& make() { return make(folder_); }

    // One good frame as the pipeline runs the recorder, with the values of
    // test frame n.
    void frame(double intensity, int n, double peakPgv = 0.0) {
        feedFrame(*recorder_, state_, clock_, intensity, n, peakPgv);
    }

    std::vector<std::string> names() const { return fileNamesIn(folder_); }
    // The rows of the one file the folder must hold.
    std::vector<std::string> onlyFileRows() const {
        const std::vector<std::string> found = names();
        if (found.size() != 1) {
            ADD_FAILURE() << found.size() << " files in the folder";
            return {};
        }
        return rowsOf(folder_ / found[0]);
    }

    TemporaryFolder temporary_{"kelvora-recorder"};
    const fs::path dir_ = temporary_.path();
    const fs::path folder_ = dir_ / "Accelerogram";
    MeasurementState state_;
    RecorderSettings settings_;
    CountingClock clock_{{2026, 3, 14, 9, 26, 53, 0}};
    std::unique_ptr<AccelerogramRecorder> recorder_;
};

// --- Trigger ---------------------------------------------------------------

struct TriggerCase {
    const char* name;
    double startIntensity;
    double startVelocity;
    double intensity;
    double peakPgv;
    bool starts;
};

void PrintTo(const TriggerCase& c, std::ostream* os) {
    *os << c.name;
}

class RecorderTrigger : public Recorder, public ::testing::WithParamInterface<TriggerCase> {};

TEST_P(RecorderTrigger, StartsARecordingOrNot) {
    const TriggerCase& c = GetParam();
    settings_.recordStartIntensity = c.startIntensity;
    settings_.recordStartVelocity = c.startVelocity;
    make();
    frame(c.intensity, 1, c.peakPgv);
    EXPECT_EQ(recorder_->isRecording(), c.starts);
    EXPECT_EQ(names().size(), c.starts ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecorderTrigger,
    ::testing::Values(TriggerCase{"IntensityAtTheStartValue", 3.0, -0.001, 3.0, 0.0, true},
                      TriggerCase{"IntensityOneStepBelowTheStartValue", 3.0, -0.001, 2.9, 0.0,
                                  false},
                      // A computed intensity may miss its tenth by a rounding step.
                      TriggerCase{"IntensityARoundingStepBelowTheStartValue", 3.0, -0.001,
                                  std::nextafter(3.0, 0.0), 0.0, true},
                      TriggerCase{"DefaultStartValue", -0.9, -0.001, -0.9, 0.0, true},
                      TriggerCase{"BelowTheDefaultStartValue", -0.9, -0.001, -1.0, 0.0, false},
                      TriggerCase{"VelocityAboveTheStartVelocity", 9.0, 0.5, -3.0, 0.51, true},
                      TriggerCase{"VelocityEqualToTheStartVelocity", 9.0, 0.5, -3.0, 0.5, false},
                      TriggerCase{"VelocityTriggerOffByDefault", 9.0, -0.001, -3.0, 100.0, false},
                      TriggerCase{"VelocityTriggerOffAtZero", 9.0, 0.0, -3.0, 100.0, false}),
    CaseName());

class SilentSounds : public SoundStarter {
public:
    void startAlertSound(int) override {}
    void startNoticeSound(int) override {}
};

struct VelocityCase {
    const char* name;
    double startVelocity;
    bool triggers;
};

void PrintTo(const VelocityCase& c, std::ostream* os) {
    *os << c.name;
}

class RecorderVelocityTrigger : public Recorder,
                                public ::testing::WithParamInterface<VelocityCase> {};

// Through the real pipeline: the display tick resets peakPgv before the
// recorder runs, so the tick's frame never starts a recording by velocity.
TEST_P(RecorderVelocityTrigger, StartsOnEveryFrameButTheDisplayTick) {
    settings_.recordStartIntensity = 9.0;
    settings_.recordStartVelocity = GetParam().startVelocity;
    settings_.recordMinSeconds = 10; // each recording stops on its own trigger frame
    make();
    MeasurementState state;
    PipelineSettings pipelineSettings;
    pipelineSettings.useSensorVelocity = 1;
    IntensityAlerts alerts;
    DisplayTextBoard board;
    SilentSounds sounds;
    MeasurementPipeline pipeline(state, pipelineSettings, alerts, board, sounds);
    pipeline.setRecorder(recorder_.get());
    pipeline.startReception();
    state.displayPhase = 20;

    FrameValues values;
    values.sensorVelocity = 5.0f;
    for (int n = 1; n <= 60; ++n) {
        const bool tick = state.displayPhase == 0;
        const int readings = clock_.readings;
        pipeline.processFrame(encodeFrame(values));
        const bool started = clock_.readings > readings;
        ASSERT_EQ(started, GetParam().triggers && !tick)
            << "frame " << n << (tick ? " (tick)" : "");
        ASSERT_FALSE(recorder_->isRecording()) << "frame " << n;
    }
    EXPECT_EQ(names().size(), GetParam().triggers ? 57u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, RecorderVelocityTrigger,
                         ::testing::Values(VelocityCase{"On", 1.0, true},
                                           VelocityCase{"OffByDefault", -0.001, false},
                                           VelocityCase{"OffAtZero", 0.0, false}),
                         CaseName());

// --- Start, rows and length ------------------------------------------------

TEST_F(Recorder, StartWritesTheLastThousandFramesOldestFirstThenTheTriggerFrame) {
    make();
    // 1500 quiet frames: the ring has wrapped and frameIndex stands at 500.
    for (int n = 1; n <= 1500; ++n) {
        frame(-3.0, n);
    }
    frame(5.0, 1501);
    ASSERT_TRUE(recorder_->isRecording());
    // The start reaches the file at once, before the recording closes.
    const std::vector<std::string> rows = onlyFileRows();
    ASSERT_EQ(rows.size(), 1001u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const int n = 501 + static_cast<int>(i);
        const HistoryRecord expected = frameValues(n == 1501 ? 5.0 : -3.0, n);
        ASSERT_EQ(rows[i].substr(23), valueColumns(expected)) << "row " << i;
    }
    for (int n = 1502; n <= 1506; ++n) {
        frame(4.0, n);
    }
    recorder_->closeRecording();
    const std::vector<std::string> closed = onlyFileRows();
    ASSERT_EQ(closed.size(), 1006u);
    EXPECT_EQ(closed.back().substr(23), valueColumns(frameValues(4.0, 1506)));
}

struct LengthCase {
    const char* name;
    int minSeconds;
    bool byVelocity; // else one frame at the start intensity
    std::size_t rows;
};

void PrintTo(const LengthCase& c, std::ostream* os) {
    *os << c.name;
}

class RecorderLength : public Recorder, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(RecorderLength, OfAShortEventIsTheMinimumLength) {
    const LengthCase& c = GetParam();
    settings_.recordMinSeconds = c.minSeconds;
    settings_.recordStartVelocity = 1.0;
    make();
    frame(c.byVelocity ? -3.0 : 0.0, 1, c.byVelocity ? 2.0 : 0.0);
    int n = 2;
    while (recorder_->isRecording() && n < 10'000) {
        frame(-3.0, n++);
    }
    EXPECT_FALSE(recorder_->isRecording());
    EXPECT_EQ(onlyFileRows().size(), c.rows);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecorderLength,
    ::testing::Values(LengthCase{"ThirtySeconds", 30, false, 3000},
                      LengthCase{"ElevenSeconds", 11, false, 1100},
                      LengthCase{"TenSecondsWithTheIntensityAlreadyLow", 10, true, 1001},
                      LengthCase{"TenSecondsStopOnTheNextFrame", 10, false, 1002},
                      LengthCase{"ZeroSeconds", 0, true, 1001},
                      LengthCase{"NegativeSeconds", -5, true, 1001}),
    CaseName());

TEST_F(Recorder, LargestMinimumLengthDoesNotWrapAround) {
    settings_.recordMinSeconds = INT_MAX;
    settings_.recordStartVelocity = 1.0;
    make();
    frame(-3.0, 1, 2.0);
    for (int n = 2; n <= 3000; ++n) {
        frame(-3.0, n);
    }
    EXPECT_TRUE(recorder_->isRecording());
}

TEST_F(Recorder, StopsOnTheFirstFrameAtTheStopValueAndHasNoMaximumLength) {
    settings_.recordStartIntensity = 3.0;
    settings_.recordStopIntensity = 2.0;
    settings_.recordMinSeconds = 10;
    make();
    frame(3.0, 1);
    for (int n = 2; n <= 4001; ++n) {
        frame(2.1, n);
        ASSERT_TRUE(recorder_->isRecording()) << "frame " << n;
    }
    frame(std::nextafter(2.0, 3.0), 4002); // at the stop value but for a rounding step
    EXPECT_FALSE(recorder_->isRecording());
    EXPECT_EQ(onlyFileRows().size(), 1001u + 4001u);
}

// --- Clock and names -------------------------------------------------------

struct ClockCase {
    const char* name;
    LocalTime trigger; // the clock reading at the trigger
    const char* file;
    // Date, time and milliseconds of the first row, the last history row, the
    // trigger frame's row and the row after it.
    const char* firstRow;
    const char* lastHistoryRow;
    const char* triggerRow;
    const char* nextRow;
};

void PrintTo(const ClockCase& c, std::ostream* os) {
    *os << c.name;
}

class RecorderClockTime : public Recorder, public ::testing::WithParamInterface<ClockCase> {};

TEST_P(RecorderClockTime, NamesTheFileAndStampsTheRows) {
    const ClockCase& c = GetParam();
    make();
    clock_.time = c.trigger;
    frame(5.0, 1);
    frame(5.0, 2);
    recorder_->closeRecording();
    ASSERT_EQ(names(), std::vector<std::string>{c.file});
    const std::vector<std::string> rows = rowsOf(folder_ / c.file);
    ASSERT_EQ(rows.size(), 1002u);
    EXPECT_EQ(rows[0].substr(0, 23), c.firstRow);
    EXPECT_EQ(rows[999].substr(0, 23), c.lastHistoryRow);
    EXPECT_EQ(rows[1000].substr(0, 23), c.triggerRow);
    EXPECT_EQ(rows[1001].substr(0, 23), c.nextRow);
}

INSTANTIATE_TEST_SUITE_P(Cases, RecorderClockTime,
                         ::testing::Values(ClockCase{"MillisecondsCutToTens",
                                                     {2026, 3, 14, 12, 0, 5, 437},
                                                     "20260314-115955.csv",
                                                     "2026-03-14,11:59:55,430",
                                                     "2026-03-14,12:00:05,420",
                                                     "2026-03-14,12:00:05,430",
                                                     "2026-03-14,12:00:05,440"},
                                           ClockCase{"FirstRowInThePreviousYear",
                                                     {2026, 1, 1, 0, 0, 4, 0},
                                                     "20251231-235954.csv",
                                                     "2025-12-31,23:59:54,000",
                                                     "2026-01-01,00:00:03,990",
                                                     "2026-01-01,00:00:04,000",
                                                     "2026-01-01,00:00:04,010"},
                                           ClockCase{"FirstRowOnALeapDay",
                                                     {2024, 3, 1, 0, 0, 5, 999},
                                                     "20240229-235955.csv",
                                                     "2024-02-29,23:59:55,990",
                                                     "2024-03-01,00:00:05,980",
                                                     "2024-03-01,00:00:05,990",
                                                     "2024-03-01,00:00:06,000"},
                                           ClockCase{"FirstRowAtTheEndOfFebruary",
                                                     {2023, 3, 1, 0, 0, 3, 5},
                                                     "20230228-235953.csv",
                                                     "2023-02-28,23:59:53,000",
                                                     "2023-03-01,00:00:02,990",
                                                     "2023-03-01,00:00:03,000",
                                                     "2023-03-01,00:00:03,010"},
                                           ClockCase{"RowsRunIntoTheNextYear",
                                                     {2025, 12, 31, 23, 59, 59, 995},
                                                     "20251231-235949.csv",
                                                     "2025-12-31,23:59:49,990",
                                                     "2025-12-31,23:59:59,980",
                                                     "2025-12-31,23:59:59,990",
                                                     "2026-01-01,00:00:00,000"}),
                         CaseName());

TEST_F(Recorder, WritesTheExactBytesOfAShortFile) {
    settings_.recordStartIntensity = 3.0;
    settings_.recordStopIntensity = 2.0;
    settings_.recordMinSeconds = 10;
    clock_.time = {2026, 3, 14, 9, 26, 53, 0};
    make();
    // frameIndex 0: the history is read from record 0 on; the last three
    // records carry the values whose texts are cut or padded.
    state_.history[997] = {-3.0, 1.5, -1.5, 4e-13, -4e-13, 2.25};
    state_.history[998] = {12.5, 123456.789, -98765.4321, 1e300, 0.0, 0.5};
    state_.history[999] = {-10.5, 0.0, 0.0, 0.0, 0.0, 0.0};
    frame(3.0, 7);  // the trigger
    frame(-3.0, 8); // at or below the stop value: the file closes
    ASSERT_FALSE(recorder_->isRecording());
    ASSERT_EQ(names(), std::vector<std::string>{"20260314-092643.csv"});

    std::string expected = "\xEF\xBB\xBF"
                           "日付,時間,ms, 震度, 合成GAL(フィルタ有), X軸(E-W), Y軸(N-S), "
                           "Z軸(U-D), 合成速度\r\n"
                           "\r\n";
    const std::string zeros = ",  0.0,    0.000000000000,    0.000000000000,    0.000000000000,"
                              "    0.000000000000,    0.000000000000\r\n";
    char stamp[32];
    auto stampOf = [&](int row) {
        std::snprintf(stamp, sizeof stamp, "2026-03-14,09:26:%02d,%03d", 43 + row / 100,
                      row % 100 * 10);
        return std::string(stamp);
    };
    for (int row = 0; row < 997; ++row) {
        expected += stampOf(row) + zeros;
    }
    expected += stampOf(997) + ", -3.0,    1.500000000000,   -1.500000000000,    "
                               "0.000000000000,   -0.000000000000,    2.250000000000\r\n";
    expected += stampOf(998) + ", 12.5, 123456.7890000000, -98765.4321000000, "
                               "10000000000000000,    0.000000000000,    0.500000000000\r\n";
    expected += stampOf(999) + ", -10.,    0.000000000000,    0.000000000000,    "
                               "0.000000000000,    0.000000000000,    0.000000000000\r\n";
    expected += "2026-03-14,09:26:53,000,  3.0,    7.000000000000,    7.250000000000,   "
                "-7.500000000000,    7.750000000000,    0.875000000000\r\n";
    expected += "2026-03-14,09:26:53,010, -3.0,    8.000000000000,    8.250000000000,   "
                "-8.500000000000,    8.750000000000,    1.000000000000\r\n";
    const std::string bytes = readAll(folder_ / "20260314-092643.csv");
    EXPECT_EQ(bytes.substr(0, 9), "\xEF\xBB\xBF\xE6\x97\xA5\xE4\xBB\x98"); // BOM, "日付" in UTF-8
    EXPECT_EQ(bytes.size(), expected.size());
    EXPECT_TRUE(bytes == expected)
        << "first difference at byte "
        << std::mismatch(bytes.begin(), bytes.end(), expected.begin(), expected.end()).first -
               bytes.begin();
}

TEST_F(Recorder, NeverReplacesAFileButNumbersTheNextName) {
    settings_.recordMinSeconds = 10;
    settings_.recordStartVelocity = 1.0;
    make();
    // Each frame starts a recording by velocity that stops at once; the first
    // rows of all three lie in the same second.
    frame(-3.0, 1, 2.0);
    std::ofstream(folder_ / "20260314-092643-2.csv") << "keep";
    frame(-3.0, 2, 2.0);
    frame(-3.0, 3, 2.0);
    clock_.time = {2026, 3, 14, 9, 26, 54, 0};
    frame(-3.0, 4, 2.0);
    const std::vector<std::string> expected = {"20260314-092643-2.csv", "20260314-092643-3.csv",
                                               "20260314-092643-4.csv", "20260314-092643.csv",
                                               "20260314-092644.csv"};
    ASSERT_EQ(names(), expected);
    EXPECT_EQ(readAll(folder_ / expected[0]), "keep");
    const int triggerFrames[] = {0, 2, 3, 1, 4};
    for (std::size_t i = 1; i < expected.size(); ++i) {
        const std::vector<std::string> rows = rowsOf(folder_ / expected[i]);
        ASSERT_EQ(rows.size(), 1001u) << expected[i];
        EXPECT_EQ(frameOfRow(rows.back()), triggerFrames[i]) << expected[i];
    }
}

// --- Failures --------------------------------------------------------------

struct FolderTroubleCase {
    const char* name;
    // Makes the recording folder below dir unusable; returns it.
    fs::path (*spoil)(const fs::path& dir);
    // Mends it, leaving the folder itself to the recorder.
    void (*mend)(const fs::path& dir);
    const char* reason;
    bool onlyForOrdinaryUsers; // root writes whatever the permissions
};

void PrintTo(const FolderTroubleCase& c, std::ostream* os) {
    *os << c.name;
}

class RecorderFolderTrouble : public Recorder,
                              public ::testing::WithParamInterface<FolderTroubleCase> {};

// Each triggered frame tries again, but the trouble is said once: a quake
// triggers a hundred times a second.
TEST_P(RecorderFolderTrouble, LosesTheTriggersSaysSoOnceAndRecordsOnceMended) {
    const FolderTroubleCase& c = GetParam();
    if (c.onlyForOrdinaryUsers && ::geteuid() == 0) {
        GTEST_SKIP() << "root ignores file permissions";
    }
    const fs::path folder = c.spoil(dir_);
    make(folder);
    ::testing::internal::CaptureStderr();
    for (int n = 1; n <= 50; ++n) {
        frame(5.0, n);
        EXPECT_FALSE(recorder_->isRecording());
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "kelvora: cannot record into " +
                                                            folder.string() + ": " + c.reason +
                                                            "; the next trigger tries again\n");
    EXPECT_EQ(clock_.readings, 50);

    // Mended: the next triggered frame records under its own time.
    c.mend(dir_);
    clock_.time = {2026, 3, 14, 9, 27, 0, 0};
    ::testing::internal::CaptureStderr();
    frame(5.0, 51);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "kelvora: recording into " + folder.string() + " again\n");
    EXPECT_TRUE(recorder_->isRecording());
    recorder_->closeRecording();
    ASSERT_TRUE(fs::exists(folder / "20260314-092650.csv"));
    const std::vector<std::string> rows = rowsOf(folder / "20260314-092650.csv");
    ASSERT_EQ(rows.size(), 1001u);
    EXPECT_EQ(frameOfRow(rows[998]), 49);
    EXPECT_EQ(frameOfRow(rows[999]), 50);
    EXPECT_EQ(frameOfRow(rows[1000]), 51);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecorderFolderTrouble,
    ::testing::Values(
        // The folder is made again, but not the working folder above it.
        FolderTroubleCase{"WorkingFolderGone",
                          [](const fs::path& dir) { return dir / "missing" / "Accelerogram"; },
                          [](const fs::path& dir) { fs::create_directory(dir / "missing"); },
                          "No such file or directory", false},
        // Root ignores permissions; a file in the way stops everyone.
        FolderTroubleCase{"FolderBelowARegularFile",
                          [](const fs::path& dir) {
                              std::ofstream(dir / "plain") << "x";
                              return dir / "plain" / "Accelerogram";
                          },
                          [](const fs::path& dir) {
                              fs::remove(dir / "plain");
                              fs::create_directory(dir / "plain");
                          },
                          "Not a directory", false},
        FolderTroubleCase{"FileInPlaceOfTheFolder",
                          [](const fs::path& dir) {
                              fs::remove(dir / "Accelerogram");
                              std::ofstream(dir / "Accelerogram") << "x";
                              return dir / "Accelerogram";
                          },
                          [](const fs::path& dir) { fs::remove(dir / "Accelerogram"); },
                          "Not a directory", false},
        FolderTroubleCase{"ReadOnlyFolder",
                          [](const fs::path& dir) {
                              fs::permissions(dir / "Accelerogram", fs::perms::owner_write,
                                              fs::perm_options::remove);
                              return dir / "Accelerogram";
                          },
                          [](const fs::path& dir) {
                              fs::permissions(dir / "Accelerogram", fs::perms::owner_write,
                                              fs::perm_options::add);
                          },
                          "Permission denied", true}),
    CaseName());

// A folder removed while the program runs is made again by the next trigger,
// and only then: quiet frames do no file work.
TEST_F(Recorder, AFolderRemovedWhileRunningIsMadeAgainByTheNextTrigger) {
    settings_.recordMinSeconds = 10;
    make();
    frame(5.0, 1);
    frame(-3.0, 2); // stops
    ASSERT_FALSE(recorder_->isRecording());
    fs::remove_all(folder_);
    ::testing::internal::CaptureStderr();
    for (int n = 3; n <= 300; ++n) {
        frame(-3.0, n);
    }
    EXPECT_FALSE(fs::exists(folder_));
    clock_.time = {2026, 3, 14, 9, 30, 0, 0};
    frame(5.0, 301);
    EXPECT_TRUE(recorder_->isRecording());
    recorder_->closeRecording();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(names(), std::vector<std::string>{"20260314-092950.csv"});
}

// pwrite(2) that fails with ENOSPC while `failing` is set, once `callsBefore`
// more calls have gone through; with `shortFirst` the first failing call
// writes half its bytes and a few more (so a row is cut) and the next one
// fails.
struct WriteFault {
    bool failing = false;
    bool shortFirst = false;
    bool wroteShort = false;
    int callsBefore = 0;
};
WriteFault gFault;

ssize_t faultyPwrite(int fd, const void* data, std::size_t size, off_t offset) {
    if (gFault.failing && gFault.callsBefore > 0) {
        --gFault.callsBefore;
    } else if (gFault.failing) {
        if (gFault.shortFirst && !gFault.wroteShort && size > 1) {
            gFault.wroteShort = true;
            return ::pwrite(fd, data, std::min<std::size_t>(size / 2 + 7, size), offset);
        }
        errno = ENOSPC;
        return -1;
    }
    return ::pwrite(fd, data, size, offset);
}

class RecorderWriteFailure : public Recorder, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        Recorder::SetUp();
        gFault = {};
        gFault.shortFirst = GetParam();
    }
};

// A recording never has a hole: at the first refused write it ends at its
// last whole row and closes, and a later trigger starts a new one once
// writing works again.
TEST_P(RecorderWriteFailure, EndsTheRecordingAtItsLastWholeRowAndSaysSoOnce) {
    make(folder_, &faultyPwrite);
    frame(5.0, 1000); // the trigger: rows of frames 0 (history) and 1000
    constexpr int kPiece = AccelerogramRecorder::kRowsPerFlush;
    const int firstFailing = 1000 + kPiece + 50; // in the second piece after the start
    const int lastFailing = 1000 + 3 * kPiece;
    const int refused = 1000 + 2 * kPiece; // the frame of that piece's write
    ::testing::internal::CaptureStderr();
    int firstIdle = 0; // the first frame after the trigger without a recording
    for (int n = 1001; n <= lastFailing; ++n) {
        gFault.failing = n >= firstFailing;
        frame(5.0, n);
        if (firstIdle == 0 && !recorder_->isRecording()) {
            firstIdle = n;
        }
    }
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(firstIdle, refused);
    EXPECT_FALSE(recorder_->isRecording()) << "a new recording started while the disk was full";
    const fs::path cut = folder_ / "20260314-092643.csv";
    EXPECT_EQ(said, "kelvora: recording " + cut.string() +
                        " ends early: No space left on device; it holds the rows written before\n");
    ASSERT_EQ(names(), std::vector<std::string>{cut.filename().string()})
        << "the triggers while the disk was full left no file";

    // Whole rows up to the last one that reached the file: after the short
    // write, the whole rows in its first half.
    std::vector<int> frames;
    for (const std::string& row : rowsOf(cut)) {
        ASSERT_EQ(split(row, ',').size(), 9u) << row;
        frames.push_back(frameOfRow(row));
    }
    const int lastRow = GetParam() ? 1000 + kPiece + kPiece / 2 : 1000 + kPiece;
    std::vector<int> expected(1000, 0);
    for (int n = 1000; n <= lastRow; ++n) {
        expected.push_back(n);
    }
    EXPECT_EQ(frames, expected);
    EXPECT_EQ(gFault.wroteShort, GetParam());

    // Room again: the next triggered frame starts a whole new recording.
    gFault.failing = false;
    clock_.time = {2026, 3, 14, 9, 40, 0, 0};
    ::testing::internal::CaptureStderr();
    frame(5.0, lastFailing + 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "kelvora: recording into " + folder_.string() + " again\n");
    ASSERT_TRUE(recorder_->isRecording());
    recorder_->closeRecording();
    const std::vector<std::string> rows = rowsOf(folder_ / "20260314-093950.csv");
    ASSERT_EQ(rows.size(), 1001u);
    EXPECT_EQ(frameOfRow(rows[999]), lastFailing);
    EXPECT_EQ(frameOfRow(rows[1000]), lastFailing + 1);
}

INSTANTIATE_TEST_SUITE_P(Writes, RecorderWriteFailure, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? "ShortWriteThenFailure" : "Failure";
                         });

struct StartWriteFailureCase {
    const char* name;
    int callsBefore; // the start (header, history, trigger row) takes two pieces
    bool shortFirst;
};

void PrintTo(const StartWriteFailureCase& c, std::ostream* os) {
    *os << c.name;
}

class RecorderStartWriteFailure : public Recorder,
                                  public ::testing::WithParamInterface<StartWriteFailureCase> {
protected:
    void SetUp() override {
        Recorder::SetUp();
        gFault = {};
        gFault.callsBefore = GetParam().callsBefore;
        gFault.shortFirst = GetParam().shortFirst;
    }
};

TEST_P(RecorderStartWriteFailure, LeavesNoFileAndTriesAgainUntilAWholeStartIsWritten) {
    make(folder_, &faultyPwrite);
    gFault.failing = true;
    ::testing::internal::CaptureStderr();
    frame(5.0, 1);
    EXPECT_FALSE(recorder_->isRecording());
    EXPECT_TRUE(names().empty()) << "no empty or headless file is left";
    gFault.callsBefore = GetParam().callsBefore;
    frame(5.0, 2);
    EXPECT_FALSE(recorder_->isRecording());
    EXPECT_TRUE(names().empty());
    EXPECT_EQ(clock_.readings, 2) << "the trigger was tried on each frame";
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "kelvora: cannot record into " + folder_.string() +
                  ": No space left on device; the next trigger tries again\n");

    // The disk frees up: the next triggered frame starts a whole recording.
    gFault.failing = false;
    clock_.time = {2026, 3, 14, 10, 0, 0, 0};
    ::testing::internal::CaptureStderr();
    frame(5.0, 3);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "kelvora: recording into " + folder_.string() + " again\n");
    EXPECT_TRUE(recorder_->isRecording());
    recorder_->closeRecording();
    ASSERT_EQ(names(), (std::vector<std::string>{"20260314-095950.csv"}));
    const std::vector<std::string> rows = rowsOf(folder_ / names()[0]);
    ASSERT_EQ(rows.size(), 1001u);
    EXPECT_EQ(frameOfRow(rows[999]), 2);
    EXPECT_EQ(frameOfRow(rows[1000]), 3);
}

INSTANTIATE_TEST_SUITE_P(Cases, RecorderStartWriteFailure,
                         ::testing::Values(StartWriteFailureCase{"NothingFits", 0, false},
                                           StartWriteFailureCase{"HeaderAndSomeHistoryFit", 1,
                                                                 false},
                                           StartWriteFailureCase{"HistoryCutShort", 1, true}),
                         CaseName());

// --- Durability and closing ------------------------------------------------

TEST_F(Recorder, RowsReachTheFileAtLeastEveryHundredRows) {
    make();
    frame(5.0, 1);
    ASSERT_EQ(onlyFileRows().size(), 1001u);
    for (int n = 2; n <= 450; ++n) {
        frame(5.0, n);
        const std::size_t produced = 1000u + static_cast<std::size_t>(n);
        const std::size_t inFile = onlyFileRows().size();
        ASSERT_LE(inFile, produced);
        ASSERT_LT(produced - inFile, 100u) << "frame " << n;
    }
}

TEST_F(Recorder, CloseOnThreadEndWritesEveryRowAndAllowsANewRecording) {
    make();
    frame(5.0, 1);
    for (int n = 2; n <= 150; ++n) {
        frame(5.0, n);
    }
    recorder_->closeRecording();
    EXPECT_FALSE(recorder_->isRecording());
    EXPECT_EQ(onlyFileRows().size(), 1150u);
    recorder_->closeRecording(); // nothing open: no effect

    clock_.time = {2026, 3, 14, 10, 0, 0, 0};
    frame(5.0, 151);
    EXPECT_TRUE(recorder_->isRecording());
    recorder_.reset(); // the program's end closes it as well
    EXPECT_EQ(rowsOf(folder_ / "20260314-095950.csv").size(), 1001u);
}

TEST_F(Recorder, RecordingFramesAllocatesNothing) {
    make();
    for (int n = 1; n <= 1200; ++n) {
        frame(-3.0, n);
    }
    const long before = allocationCount();
    frame(5.0, 1201); // the start, with its file name and 1001 rows
    for (int n = 1202; n <= 1700; ++n) {
        frame(5.0, n); // rows and five flushes
    }
    frame(-3.0, 1701);
    const long after = allocationCount();
    EXPECT_TRUE(recorder_->isRecording());
    EXPECT_EQ(after, before);
}

} // namespace
} // namespace kelvora::test
