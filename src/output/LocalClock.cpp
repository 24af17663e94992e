#include "output/RecorderClock.h"

#include <ctime>

namespace kelvora {

LocalClock::LocalClock() {
    ::tzset();
}

LocalTime LocalClock::now() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm{};
    LocalTime time;
    if (::localtime_r(&ts.tv_sec, &tm) == nullptr) {
        return time;
    }
    time.year = tm.tm_year + 1900;
    time.month = tm.tm_mon + 1;
    time.day = tm.tm_mday;
    time.hour = tm.tm_hour;
    time.minute = tm.tm_min;
    time.second = tm.tm_sec;
    time.millisecond = static_cast<int>(ts.tv_nsec / 1'000'000);
    return time;
}

} // namespace kelvora
