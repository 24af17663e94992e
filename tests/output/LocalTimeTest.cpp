// Calendar arithmetic of the recorder's row times, against std::chrono's
// civil calendar and hand-picked carries and borrows.
#include "output/LocalTime.h"
#include "output/RecorderClock.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <ostream>
#include <string>

namespace kelvora {

void PrintTo(const LocalTime& t, std::ostream* os) {
    *os << t.year << '-' << t.month << '-' << t.day << ' ' << t.hour << ':' << t.minute << ':'
        << t.second << '.' << t.millisecond;
}

namespace test {
namespace {

using namespace std::chrono;

TEST(LocalTimeCalendar, DaysAndMonthLengthsAgreeWithTheCivilCalendar) {
    // Every day from 1899 to 2201: the day count, the next day and the month length.
    const sys_days first{year{1899} / January / 1};
    const sys_days last{year{2201} / December / 31};
    for (sys_days d = first; d <= last; d += days{1}) {
        const year_month_day ymd{d};
        const int y = static_cast<int>(ymd.year());
        const int m = static_cast<int>(static_cast<unsigned>(ymd.month()));
        const int day = static_cast<int>(static_cast<unsigned>(ymd.day()));
        ASSERT_EQ(daysFromCivil(y, m, day), d.time_since_epoch().count()) << y << '-' << m;
        const year_month_day next{d + days{1}};
        const LocalTime lastMillisecond{y, m, day, 23, 59, 59, 999};
        const LocalTime expected{static_cast<int>(next.year()),
                                 static_cast<int>(static_cast<unsigned>(next.month())),
                                 static_cast<int>(static_cast<unsigned>(next.day())),
                                 0,
                                 0,
                                 0,
                                 0};
        ASSERT_EQ(addMilliseconds(lastMillisecond, 1), expected);
        ASSERT_EQ(addMilliseconds(expected, -1), lastMillisecond);
        const year_month_day_last monthEnd{ymd.year(), month_day_last{ymd.month()}};
        ASSERT_EQ(daysInMonth(y, m), static_cast<int>(static_cast<unsigned>(monthEnd.day())));
    }
}

struct Step {
    const char* name;
    LocalTime from;
    std::int64_t milliseconds;
    LocalTime to;
};

void PrintTo(const Step& s, std::ostream* os) {
    *os << s.name;
}

class LocalTimeStep : public ::testing::TestWithParam<Step> {};

TEST_P(LocalTimeStep, CarriesAndBorrowsExactly) {
    const Step& s = GetParam();
    EXPECT_EQ(addMilliseconds(s.from, s.milliseconds), s.to);
    EXPECT_EQ(addMilliseconds(s.to, -s.milliseconds), s.from);
}

INSTANTIATE_TEST_SUITE_P(Steps, LocalTimeStep,
                         ::testing::Values(Step{"TenMillisecondsWithinASecond",
                                                {2026, 5, 17, 8, 30, 0, 420},
                                                10,
                                                {2026, 5, 17, 8, 30, 0, 430}},
                                           Step{"TenMillisecondsIntoTheNextSecond",
                                                {2026, 5, 17, 8, 30, 0, 990},
                                                10,
                                                {2026, 5, 17, 8, 30, 1, 0}},
                                           Step{"TenMillisecondsIntoTheNextYear",
                                                {2025, 12, 31, 23, 59, 59, 990},
                                                10,
                                                {2026, 1, 1, 0, 0, 0, 0}},
                                           Step{"TenSecondsBackWithinAMinute",
                                                {2026, 5, 17, 12, 0, 15, 430},
                                                -10'000,
                                                {2026, 5, 17, 12, 0, 5, 430}},
                                           Step{"TenSecondsBackIntoThePreviousHour",
                                                {2026, 5, 17, 12, 0, 5, 430},
                                                -10'000,
                                                {2026, 5, 17, 11, 59, 55, 430}},
                                           Step{"TenSecondsBackIntoThePreviousYear",
                                                {2026, 1, 1, 0, 0, 4, 0},
                                                -10'000,
                                                {2025, 12, 31, 23, 59, 54, 0}},
                                           Step{"TenSecondsBackIntoALeapDay",
                                                {2024, 3, 1, 0, 0, 5, 990},
                                                -10'000,
                                                {2024, 2, 29, 23, 59, 55, 990}},
                                           Step{"TenSecondsBackIntoFebruaryOfACommonYear",
                                                {2023, 3, 1, 0, 0, 3, 0},
                                                -10'000,
                                                {2023, 2, 28, 23, 59, 53, 0}},
                                           Step{"TenSecondsBackIntoFebruaryOf2100",
                                                {2100, 3, 1, 0, 0, 0, 0},
                                                -10'000,
                                                {2100, 2, 28, 23, 59, 50, 0}},
                                           Step{"TenSecondsBackIntoFebruaryOf2000",
                                                {2000, 3, 1, 0, 0, 0, 0},
                                                -10'000,
                                                {2000, 2, 29, 23, 59, 50, 0}},
                                           Step{"ThirtyDaysOverALeapDay",
                                                {2024, 2, 15, 6, 0, 0, 0},
                                                30LL * 86'400'000,
                                                {2024, 3, 16, 6, 0, 0, 0}}),
                         CaseName());

// The product clock in a fixed zone nine hours east of UTC, against the
// system clock.
TEST(LocalClockReading, IsTheSystemTimeInTheLocalZone) {
    const char* previous = std::getenv("TZ");
    const std::optional<std::string> saved =
        previous != nullptr ? std::optional<std::string>(previous) : std::nullopt;
    ::setenv("TZ", "XST-9", 1);
    LocalClock clock;
    const auto before = floor<milliseconds>(system_clock::now());
    const LocalTime t = clock.now();
    const auto after = floor<milliseconds>(system_clock::now());
    if (saved) {
        ::setenv("TZ", saved->c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();

    ASSERT_EQ(daysInMonth(t.year, t.month) >= t.day && t.day >= 1, true);
    const sys_days day{year{t.year} / t.month / t.day};
    const auto read = day + hours(t.hour) + minutes(t.minute) + seconds(t.second) +
                      milliseconds(t.millisecond) - hours(9);
    EXPECT_GE(read, before);
    EXPECT_LE(read, after);
}

} // namespace
} // namespace test
} // namespace kelvora
