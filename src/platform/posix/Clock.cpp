// POSIX clocks: CLOCK_MONOTONIC for the wait limits, localtime_r, nanosleep.
#include "platform/Clock.h"

#include <ctime>
#include <time.h>

namespace plat {

std::int64_t MonotonicMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void SleepMs(unsigned milliseconds)
{
    timespec ts{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0) {
    }
}

LocalTime LocalTimeOf(std::int64_t secondsSince1970)
{
    time_t t = static_cast<time_t>(secondsSince1970);
    tm parts{};
    ::localtime_r(&t, &parts);
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                     parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

LocalTime LocalTimeNow() { return LocalTimeOf(std::time(nullptr)); }

} // namespace plat
