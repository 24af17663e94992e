#pragma once

#include <cstdint>

namespace kelvora {

// A local calendar date and time to the millisecond, as the recorder stamps
// its rows. Arithmetic is plain calendar arithmetic on the proleptic Gregorian
// calendar: no time zone, no daylight saving shift.
struct LocalTime {
    int year = 1970;
    int month = 1; // 1 to 12
    int day = 1;   // 1 to 31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;

    friend bool operator==(const LocalTime&, const LocalTime&) = default;
};

constexpr bool isLeapYear(std::int64_t year) noexcept {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

constexpr int daysInMonth(std::int64_t year, int month) noexcept {
    constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) {
        return 0;
    }
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given date (H. Hinnant's days_from_civil).
constexpr std::int64_t daysFromCivil(std::int64_t year, int month, int day) noexcept {
    const std::int64_t y = month <= 2 ? year - 1 : year;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t m = month;
    const std::int64_t dayOfYear = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// The time `milliseconds` later (earlier when negative); seconds, minutes,
// hours, days, months and years carry and borrow exactly.
constexpr LocalTime addMilliseconds(const LocalTime& time, std::int64_t milliseconds) noexcept {
    constexpr std::int64_t kPerDay = 86'400'000;
    std::int64_t total = daysFromCivil(time.year, time.month, time.day) * kPerDay +
                         time.hour * std::int64_t{3'600'000} + time.minute * std::int64_t{60'000} +
                         time.second * std::int64_t{1000} + time.millisecond + milliseconds;
    std::int64_t days = total / kPerDay;
    std::int64_t ofDay = total % kPerDay;
    if (ofDay < 0) {
        ofDay += kPerDay;
        --days;
    }
    // civil_from_days
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t dayOfEra = z - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;

    LocalTime result;
    result.year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
    result.month = static_cast<int>(month);
    result.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    result.hour = static_cast<int>(ofDay / 3'600'000);
    result.minute = static_cast<int>(ofDay / 60'000 % 60);
    result.second = static_cast<int>(ofDay / 1000 % 60);
    result.millisecond = static_cast<int>(ofDay % 1000);
    return result;
}

} // namespace kelvora
