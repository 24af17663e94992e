// The observation log on real files in a temporary folder per test. Tick times
// are handed over directly, as the window hands over the local time it read
// for the tick; the texts come from a real pipeline's display ticks.
#include "output/ObservationLog.h"

#include "../core/FrameFixtures.h"
#include "AllocationCounter.h"
#include "support/Files.h"
#include "support/NonRegularFiles.h"
#include "support/TemporaryFolder.h"
#include "support/TestNames.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;

// The readings of a line before any display tick, and the line's end.
const std::string kPlaceholders = "---.-,---.-,----.--,----.--,0,0\r\n";

// A time on an ordinary day, 14 March 2026.
LocalTime hms(int hour, int minute, int second, int millisecond = 0) {
    return {2026, 3, 14, hour, minute, second, millisecond};
}

std::int64_t millisecondsOf(const LocalTime& time) {
    return daysFromCivil(time.year, time.month, time.day) * 86'400'000 +
           ((time.hour * 60 + time.minute) * 60 + time.second) * std::int64_t{1000} +
           time.millisecond;
}

class ObservationLogIn : public ::testing::Test {
protected:
    ObservationLogIn() {
        fs::create_directories(folder_);
        rig_.pipeline.startReception();
    }

    void tick(const LocalTime& time, std::int32_t enabled = 1) {
        log_.tick(time, enabled, rig_.board);
    }

    // The window's 10-ms ticks from `from` up to, not including, `to`.
    void tickEvery10Ms(const LocalTime& from, const LocalTime& to) {
        for (LocalTime time = from; millisecondsOf(time) < millisecondsOf(to);
             time = addMilliseconds(time, 10)) {
            tick(time);
        }
    }

    // A display period of frames with these readings, so the next display
    // tick formats them as the receive thread does.
    void receive(float temperature, float humidity, float pressure, float seaLevelPressure) {
        FrameValues values;
        values.temperature = temperature;
        values.humidity = humidity;
        values.pressure = pressure;
        values.seaLevelPressure = seaLevelPressure;
        for (int n = 0; n < 25; ++n) {
            runFrame(rig_, values);
        }
    }

    std::set<std::string> files() const {
        std::set<std::string> names;
        if (fs::is_directory(folder_)) {
            for (const auto& entry : fs::directory_iterator(folder_)) {
                names.insert(entry.path().filename().string());
            }
        }
        return names;
    }

    std::string day(const std::string& name) const { return readAll(folder_ / name); }

    TemporaryFolder temporary_{"kelvora-obslog"};
    const fs::path work_ = temporary_ / "work";
    const fs::path folder_ = work_ / "Observation";
    PipelineRig rig_; // its board holds the texts of the last display tick
    ObservationLog log_{folder_.string()};
};

TEST_F(ObservationLogIn, LogsThePlaceholdersBeforeAnyFrame) {
    tick(hms(12, 0, 59, 990));
    tick(hms(12, 1, 0, 0));
    EXPECT_EQ(files(), std::set<std::string>{"20260314.txt"});
    EXPECT_EQ(day("20260314.txt"), "2026-03-14,12:01:00," + kPlaceholders);
}

TEST_F(ObservationLogIn, OneLineAMinuteWhateverTheTicksInSecondZero) {
    tickEvery10Ms(hms(12, 0, 30), hms(12, 3, 30)); // 100 ticks in each second 0
    EXPECT_EQ(files(), std::set<std::string>{"20260314.txt"});
    EXPECT_EQ(day("20260314.txt"), "2026-03-14,12:01:00," + kPlaceholders + "2026-03-14,12:02:00," +
                                       kPlaceholders + "2026-03-14,12:03:00," + kPlaceholders);
}

// --- Which tick writes --------------------------------------------------------------

struct TicksCase {
    const char* name;
    std::vector<LocalTime> ticks;
    std::vector<std::string> stamps; // the times of the lines written, in order
};

void PrintTo(const TicksCase& c, std::ostream* os) {
    *os << c.name;
}

class ObservationTicks : public ObservationLogIn,
                         public ::testing::WithParamInterface<TicksCase> {};

TEST_P(ObservationTicks, WriteTheFirstTickOfEachSecondZero) {
    for (const LocalTime& time : GetParam().ticks) {
        tick(time);
    }
    std::string expected;
    for (const std::string& stamp : GetParam().stamps) {
        expected += "2026-03-14," + stamp + "," + kPlaceholders;
    }
    if (expected.empty()) {
        EXPECT_EQ(files(), std::set<std::string>{});
    } else {
        EXPECT_EQ(day("20260314.txt"), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ObservationTicks,
    ::testing::Values(
        TicksCase{"StampedWithSecondZeroWhateverTheMilliseconds",
                  {hms(12, 0, 59, 999), hms(12, 1, 0, 730), hms(12, 1, 0, 990), hms(12, 1, 1, 20)},
                  {"12:01:00"}},
        // The remembered second starts at 0: that minute gets no line.
        TicksCase{"StartDuringSecondZero",
                  {hms(12, 0, 0, 500), hms(12, 0, 0, 510), hms(12, 0, 1), hms(12, 0, 59, 990),
                   hms(12, 1, 0)},
                  {"12:01:00"}},
        TicksCase{"StartAtTheFirstMillisecondOfSecondZero", {hms(12, 0, 0), hms(12, 0, 0, 10)}, {}},
        TicksCase{"StartAfterSecondZero", {hms(12, 0, 1, 500), hms(12, 0, 2), hms(12, 0, 59)}, {}},
        // The window thread held up through second 0 (a reception start waits
        // on it): the first tick after writes the minute's line, once.
        TicksCase{"NoTickDuringSecondZero",
                  {hms(12, 0, 59, 990), hms(12, 1, 1), hms(12, 1, 1, 10), hms(12, 1, 59, 990),
                   hms(12, 2, 0)},
                  {"12:01:00", "12:02:00"}},
        TicksCase{"HeldUpFromSecondFiftyNineToSecondThree",
                  {hms(12, 0, 59, 500), hms(12, 1, 3, 200), hms(12, 1, 3, 210), hms(12, 1, 30)},
                  {"12:01:00"}},
        TicksCase{"SecondZeroAfterAStall", {hms(12, 0, 30), hms(12, 4, 0, 250)}, {"12:04:00"}},
        // Only the minute the tick is in: the minutes between have no readings
        // of their own.
        TicksCase{"StallOverSeveralMinutes",
                  {hms(12, 0, 30), hms(12, 3, 17), hms(12, 3, 59, 990), hms(12, 4, 0)},
                  {"12:03:00", "12:04:00"}},
        // A whole minute without a tick: second 0 again, yet a new minute.
        TicksCase{"StallOfExactlyAMinuteFromSecondZero",
                  {hms(12, 0, 59, 990), hms(12, 1, 0, 500), hms(12, 2, 0, 500)},
                  {"12:01:00", "12:02:00"}},
        TicksCase{"ClockSetForwardByHours",
                  {hms(9, 0, 30), hms(15, 0, 5), hms(15, 0, 6), hms(15, 0, 59, 990), hms(15, 1, 0)},
                  {"15:00:00", "15:01:00"}},
        // Set back, the minute it lands in has had its line already (or lies
        // before the start): nothing until the next minute begins.
        TicksCase{"ClockSetBackByHours",
                  {hms(15, 0, 30), hms(9, 0, 5), hms(9, 0, 6), hms(9, 0, 59, 990), hms(9, 1, 0)},
                  {"09:01:00"}},
        TicksCase{"ClockSetBackIntoTheMinuteBefore",
                  {hms(12, 0, 59, 990), hms(12, 1, 0), hms(12, 0, 58), hms(12, 0, 59, 990),
                   hms(12, 1, 0)},
                  {"12:01:00", "12:01:00"}}),
    CaseName());

// --- The option -----------------------------------------------------------------------

struct OptionCase {
    const char* name;
    std::int32_t observationLogEnabled;
    bool writes;
};

void PrintTo(const OptionCase& c, std::ostream* os) {
    *os << c.name;
}

class ObservationOption : public ObservationLogIn,
                          public ::testing::WithParamInterface<OptionCase> {};

TEST_P(ObservationOption, OnlyOneWrites) {
    const std::int32_t value = GetParam().observationLogEnabled;
    tick(hms(12, 0, 59, 990), value);
    tick(hms(12, 1, 0), value);
    tick(hms(12, 1, 0, 10), value);
    EXPECT_EQ(files().size(), GetParam().writes ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Values, ObservationOption,
                         ::testing::Values(OptionCase{"One", 1, true}, OptionCase{"Zero", 0, false},
                                           OptionCase{"Two", 2, false},
                                           OptionCase{"MinusOne", -1, false}),
                         CaseName());

TEST_F(ObservationLogIn, OptionChangedDuringSecondZeroCountsFromTheNextMinute) {
    tick(hms(12, 0, 59, 990), 0);
    tick(hms(12, 1, 0), 0);
    tick(hms(12, 1, 0, 10), 1); // the same second: no line for 12:01
    tick(hms(12, 1, 59, 990), 1);
    tick(hms(12, 2, 0), 1);
    tick(hms(12, 2, 59, 990), 1);
    tick(hms(12, 3, 0), 0);
    tick(hms(12, 3, 0, 10), 1); // the same second again: 12:03 stays without a line
    EXPECT_EQ(day("20260314.txt"), "2026-03-14,12:02:00," + kPlaceholders);
}

// --- Files -----------------------------------------------------------------------------

struct MidnightCase {
    const char* name;
    LocalTime lastMinute; // 23:59:00 of the first day
    const char* firstFile;
    const char* firstDate;
    const char* nextFile;
    const char* nextDate;
};

void PrintTo(const MidnightCase& c, std::ostream* os) {
    *os << c.name;
}

class ObservationMidnight : public ObservationLogIn,
                            public ::testing::WithParamInterface<MidnightCase> {};

TEST_P(ObservationMidnight, FirstLineOfTheDayOpensTheDaysFile) {
    const MidnightCase& c = GetParam();
    tickEvery10Ms(addMilliseconds(c.lastMinute, -1000), addMilliseconds(c.lastMinute, 61'000));
    EXPECT_EQ(files(), (std::set<std::string>{c.firstFile, c.nextFile}));
    EXPECT_EQ(day(c.firstFile), std::string(c.firstDate) + ",23:59:00," + kPlaceholders);
    EXPECT_EQ(day(c.nextFile), std::string(c.nextDate) + ",00:00:00," + kPlaceholders);
}

INSTANTIATE_TEST_SUITE_P(Days, ObservationMidnight,
                         ::testing::Values(MidnightCase{"Day",
                                                        {2026, 3, 14, 23, 59, 0, 0},
                                                        "20260314.txt",
                                                        "2026-03-14",
                                                        "20260315.txt",
                                                        "2026-03-15"},
                                           MidnightCase{"MonthEnd",
                                                        {2026, 4, 30, 23, 59, 0, 0},
                                                        "20260430.txt",
                                                        "2026-04-30",
                                                        "20260501.txt",
                                                        "2026-05-01"},
                                           MidnightCase{"LeapDay",
                                                        {2028, 2, 29, 23, 59, 0, 0},
                                                        "20280229.txt",
                                                        "2028-02-29",
                                                        "20280301.txt",
                                                        "2028-03-01"},
                                           MidnightCase{"YearEnd",
                                                        {2026, 12, 31, 23, 59, 0, 0},
                                                        "20261231.txt",
                                                        "2026-12-31",
                                                        "20270101.txt",
                                                        "2027-01-01"}),
                         CaseName());

TEST_F(ObservationLogIn, AppendsToTheDaysFile) {
    const std::string earlier = "2026-03-14,11:59:00, 20.0, 50.0,1000.00,1010.00,0,0\r\n";
    std::ofstream(folder_ / "20260314.txt", std::ios::binary) << earlier;
    tick(hms(12, 0, 59, 990));
    tick(hms(12, 1, 0));
    // A restarted program appends as well.
    ObservationLog restarted(folder_.string());
    restarted.tick(hms(12, 1, 59, 990), 1, rig_.board);
    restarted.tick(hms(12, 2, 0), 1, rig_.board);
    EXPECT_EQ(day("20260314.txt"), earlier + "2026-03-14,12:01:00," + kPlaceholders +
                                       "2026-03-14,12:02:00," + kPlaceholders);
}

// A full disk: the kernel takes part of a line, then refuses the rest. The
// file-size limit does that for real (and raises SIGXFSZ, ignored here).
TEST_F(ObservationLogIn, ALineCutShortIsTakenBackSoTheNextOneStartsOnItsOwn) {
    const std::string earlier = "2026-03-14,11:59:00, 20.0, 50.0,1000.00,1010.00,0,0\r\n";
    std::ofstream(folder_ / "20260314.txt", std::ios::binary) << earlier;
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tight = saved;
    tight.rlim_cur = earlier.size() + 10;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
    tick(hms(12, 0, 59, 990));
    tick(hms(12, 1, 0));
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(day("20260314.txt"), earlier) << "no broken half line is left";

    tick(hms(12, 1, 59, 990));
    tick(hms(12, 2, 0));
    EXPECT_EQ(day("20260314.txt"), earlier + "2026-03-14,12:02:00," + kPlaceholders);
}

// --- Readings --------------------------------------------------------------------------

struct ReadingsCase {
    const char* name;
    float temperature;
    float humidity;
    float pressure;
    float seaLevelPressure;
    const char* logged; // the four fields of the line
    const char* shown;  // the window's four texts
};

void PrintTo(const ReadingsCase& c, std::ostream* os) {
    *os << c.name;
}

class ObservationReadings : public ObservationLogIn,
                            public ::testing::WithParamInterface<ReadingsCase> {};

// The texts of the display tick, out-of-range readings as formatted rather
// than as the window's placeholders.
TEST_P(ObservationReadings, LoggedAsTheDisplayTickFormattedThem) {
    const ReadingsCase& c = GetParam();
    receive(c.temperature, c.humidity, c.pressure, c.seaLevelPressure);
    tick(hms(12, 0, 59, 990));
    tick(hms(12, 1, 0));
    EXPECT_EQ(day("20260314.txt"), "2026-03-14,12:01:00," + std::string(c.logged) + ",0,0\r\n");
    const DisplayTexts texts = rig_.board.snapshot();
    EXPECT_EQ(std::string(texts.temperatureText.view()) + "," +
                  std::string(texts.humidityText.view()) + "," +
                  std::string(texts.pressureText.view()) + "," +
                  std::string(texts.seaLevelPressureText.view()),
              c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ObservationReadings,
    ::testing::Values(ReadingsCase{"Typical", 25.3f, 55.0f, 1013.25f, 1015.5f,
                                   " 25.3, 55.0,1013.25,1015.50", " 25.3, 55.0,1013.25,1015.50"},
                      ReadingsCase{"FullHumidity", 20.0f, 100.0f, 1000.0f, 1010.0f,
                                   " 20.0,100.0,1000.00,1010.00", " 20.0,100.0,1000.00,1010.00"},
                      ReadingsCase{"BelowZeroAndLowPressure", -7.4f, 0.5f, 850.75f, 1003.0f,
                                   " -7.4,  0.5, 850.75,1003.00", " -7.4,  0.5, 850.75,1003.00"},
                      ReadingsCase{"TemperatureOutOfTheDisplayRange", 1234.5f, 50.0f, 1000.0f,
                                   1010.0f, "1234., 50.0,1000.00,1010.00",
                                   "---.-, 50.0,1000.00,1010.00"},
                      ReadingsCase{"HumidityOutOfTheDisplayRange", 20.0f, -100.0f, 1000.0f, 1010.0f,
                                   " 20.0,-100.,1000.00,1010.00", " 20.0,---.-,1000.00,1010.00"},
                      ReadingsCase{"PressuresOutOfTheDisplayRange", 20.0f, 50.0f, 10000.0f,
                                   -1000.0f, " 20.0, 50.0,10000.0,-1000.0",
                                   " 20.0, 50.0,----.--,----.--"}),
    CaseName());

// A minute without frames (reception stopped, the line silent or gone) logs
// the placeholders, not the last readings again; frames bring readings back.
TEST_F(ObservationLogIn, AMinuteWithoutFramesLogsThePlaceholdersNotStaleReadings) {
    receive(25.3f, 55.0f, 1013.25f, 1015.5f);
    tick(hms(12, 0, 59, 990));
    tick(hms(12, 1, 0));
    receive(26.1f, 54.0f, 1012.5f, 1014.75f);
    tick(hms(12, 1, 59, 990));
    tick(hms(12, 2, 0));
    tick(hms(12, 2, 59, 990));
    tick(hms(12, 3, 0));
    receive(27.0f, 53.0f, 1011.0f, 1013.0f);
    tick(hms(12, 3, 59, 990), 0); // frames in a minute the log was off for
    tick(hms(12, 4, 0), 0);
    tick(hms(12, 4, 59, 990));
    tick(hms(12, 5, 0));
    receive(27.5f, 52.0f, 1010.5f, 1012.5f);
    tick(hms(12, 5, 59, 990));
    tick(hms(12, 6, 0));
    EXPECT_EQ(day("20260314.txt"), "2026-03-14,12:01:00, 25.3, 55.0,1013.25,1015.50,0,0\r\n"
                                   "2026-03-14,12:02:00, 26.1, 54.0,1012.50,1014.75,0,0\r\n"
                                   "2026-03-14,12:03:00," +
                                       kPlaceholders + "2026-03-14,12:05:00," + kPlaceholders +
                                       "2026-03-14,12:06:00, 27.5, 52.0,1010.50,1012.50,0,0\r\n");
}

TEST(DisplayTextBoardObservationTexts, AreTheFourLogTextsInOrder) {
    DisplayTextBoard board;
    ObservationTexts initial = board.observationTexts();
    EXPECT_EQ(initial.temperature, "---.-");
    EXPECT_EQ(initial.humidity, "---.-");
    EXPECT_EQ(initial.pressure, "----.--");
    EXPECT_EQ(initial.seaLevelPressure, "----.--");

    DisplayTexts texts;
    texts.temperatureLogText.assign("1234.");
    texts.humidityLogText.assign("100.0");
    texts.pressureLogText.assign("1013.25");
    texts.seaLevelPressureLogText.assign("1015.50");
    board.publish(texts);
    const ObservationTexts copied = board.observationTexts();
    EXPECT_EQ(copied.temperature, "1234.");
    EXPECT_EQ(copied.humidity, "100.0");
    EXPECT_EQ(copied.pressure, "1013.25");
    EXPECT_EQ(copied.seaLevelPressure, "1015.50");
}

// --- Failures --------------------------------------------------------------------------

struct UnwritableCase {
    const char* name;
    void (*spoil)(const fs::path& work, const fs::path& folder);
    void (*mend)(const fs::path& work, const fs::path& folder);
    bool onlyForOrdinaryUsers; // root writes whatever the permissions
    bool namesTheFile;         // else the folder
    const char* reason;
};

void PrintTo(const UnwritableCase& c, std::ostream* os) {
    *os << c.name;
}

class ObservationUnwritable : public ObservationLogIn,
                              public ::testing::WithParamInterface<UnwritableCase> {};

// The failed minutes' lines are lost, the tick is remembered as any other
// (no second try within that minute), and the next minute writes again. The
// trouble is said once on standard error, naming the place and the reason,
// and so is the end of it.
TEST_P(ObservationUnwritable, LosesOnlyThoseMinutesLinesAndSaysSoOnce) {
    const UnwritableCase& c = GetParam();
    if (c.onlyForOrdinaryUsers && ::geteuid() == 0) {
        GTEST_SKIP() << "root ignores file permissions";
    }
    c.spoil(work_, folder_);
    ::testing::internal::CaptureStderr();
    tick(hms(12, 0, 59, 990));
    tick(hms(12, 1, 0)); // cannot open
    tick(hms(12, 1, 59, 990));
    tick(hms(12, 2, 0)); // nor a minute later
    const std::string failure = ::testing::internal::GetCapturedStderr();
    c.mend(work_, folder_);
    ::testing::internal::CaptureStderr();
    tick(hms(12, 2, 0, 10));
    tick(hms(12, 2, 0, 500));
    tick(hms(12, 2, 1));
    EXPECT_EQ(files(), std::set<std::string>{});
    tick(hms(12, 2, 59, 990));
    tick(hms(12, 3, 0));
    const std::string mended = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(files(), std::set<std::string>{"20260314.txt"});
    EXPECT_EQ(day("20260314.txt"), "2026-03-14,12:03:00," + kPlaceholders);

    const std::string place = (c.namesTheFile ? folder_ / "20260314.txt" : folder_).string();
    EXPECT_EQ(linesOf(failure).size(), 1u) << failure;
    EXPECT_TRUE(failure.starts_with("kelvora: cannot write the observation log to " + place + ": " +
                                    c.reason))
        << failure;
    EXPECT_EQ(mended,
              "kelvora: the observation log is written to " + folder_.string() + " again\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ObservationUnwritable,
    ::testing::Values(
        // The folder cannot be made again where the working folder has gone.
        UnwritableCase{"WorkingFolderGone",
                       [](const fs::path& work, const fs::path&) { fs::remove_all(work); },
                       [](const fs::path& work, const fs::path&) { fs::create_directory(work); },
                       false, false, "No such file or directory"},
        UnwritableCase{"FolderBelowARegularFile",
                       [](const fs::path& work, const fs::path&) {
                           fs::remove_all(work);
                           std::ofstream(work) << "not a folder";
                       },
                       [](const fs::path& work, const fs::path& folder) {
                           fs::remove(work);
                           fs::create_directories(folder);
                       },
                       false, false, "Not a directory"},
        UnwritableCase{"FileInPlaceOfTheFolder",
                       [](const fs::path&, const fs::path& folder) {
                           fs::remove(folder);
                           std::ofstream(folder) << "not a folder";
                       },
                       [](const fs::path&, const fs::path& folder) { fs::remove(folder); }, false,
                       false, "Not a directory"},
        UnwritableCase{
            "DaysFileIsAFolder",
            [](const fs::path&, const fs::path& folder) {
                fs::create_directory(folder / "20260314.txt");
            },
            [](const fs::path&, const fs::path& folder) { fs::remove(folder / "20260314.txt"); },
            false, true, "Is a directory"},
        UnwritableCase{"ReadOnlyFolder",
                       [](const fs::path&, const fs::path& folder) {
                           fs::permissions(folder, fs::perms::owner_write,
                                           fs::perm_options::remove);
                       },
                       [](const fs::path&, const fs::path& folder) {
                           fs::permissions(folder, fs::perms::owner_write, fs::perm_options::add);
                       },
                       true, true, "Permission denied"}),
    CaseName());

// A folder removed while the program runs is there again for the next line,
// and nothing needs saying.
TEST_F(ObservationLogIn, AFolderRemovedWhileRunningIsMadeAgainForTheNextLine) {
    tick(hms(12, 0, 59, 990));
    tick(hms(12, 1, 0));
    fs::remove_all(folder_);
    ::testing::internal::CaptureStderr();
    for (LocalTime time = hms(12, 1, 0, 10); millisecondsOf(time) < millisecondsOf(hms(12, 1, 59));
         time = addMilliseconds(time, 490)) {
        tick(time);
    }
    EXPECT_FALSE(fs::exists(folder_)) << "made only when a line needs it";
    tick(hms(12, 1, 59, 990));
    tick(hms(12, 2, 0));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(day("20260314.txt"), "2026-03-14,12:02:00," + kPlaceholders);
}

// A FIFO or a device in the place of the day's file: the window never waits
// on it and writes nothing into it; the minute's line is lost as with a file
// that cannot be written, and said once.
class ObservationNonRegularFile : public ObservationLogIn,
                                  public ::testing::WithParamInterface<NonRegularFile> {};

TEST_P(ObservationNonRegularFile, NeitherHoldsUpTheTickNorTakesTheLine) {
    const fs::path daysFile = folder_ / "20260314.txt";
    {
        NonRegularFileAt special(daysFile, GetParam());
        tick(hms(12, 0, 59, 990));
        ::testing::internal::CaptureStderr();
        EXPECT_TRUE(returnsByItself([&] { tick(hms(12, 1, 0)); }, special));
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(special.unread(), "") << "the line went into the special file";
        EXPECT_EQ(said, "kelvora: cannot write the observation log to " + daysFile.string() +
                            ": not a regular file; the next minute tries again\n");
    }
    ::testing::internal::CaptureStderr();
    tick(hms(12, 1, 59, 990));
    tick(hms(12, 2, 0));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "kelvora: the observation log is written to " + folder_.string() + " again\n");
    EXPECT_EQ(day("20260314.txt"), "2026-03-14,12:02:00," + kPlaceholders);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ObservationNonRegularFile,
                         ::testing::Values(NonRegularFile::Fifo, NonRegularFile::FifoWithOtherEnd,
                                           NonRegularFile::LinkToDeviceNull),
                         NonRegularFileName());

// --- Cost --------------------------------------------------------------------------------

TEST_F(ObservationLogIn, TicksWithoutALineAllocateNothing) {
    tick(hms(12, 0, 0, 500));
    const long before = allocationCount();
    tickEvery10Ms(hms(12, 0, 0, 510), hms(12, 1, 0)); // every tick of the minute but its line's
    EXPECT_EQ(allocationCount(), before);
    EXPECT_EQ(files(), std::set<std::string>{});
    tick(hms(12, 1, 0));
    EXPECT_EQ(files(), std::set<std::string>{"20260314.txt"});
}

} // namespace
} // namespace kelvora::test
