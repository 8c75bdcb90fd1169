// Wall-clock seconds, a monotonic clock for wait limits, local calendar
// time and sleeping.
#pragma once

#include <cstdint>

namespace plat {

// Seconds since 1970, truncated to 32 bits as the connection stores them.
std::int32_t Now();

// Milliseconds from an arbitrary start; never goes back when the wall
// clock is set, so a wait limit measured on it holds.
std::int64_t MonotonicMs();

void SleepMs(unsigned milliseconds);

struct LocalTime {
    int year;   // with century
    int month;  // 1..12
    int day;    // 1..31
    int hour;
    int minute;
    int second;
};

LocalTime LocalTimeNow();
// Breaks seconds since 1970 into local calendar fields (CTime::GetLocalTm).
LocalTime LocalTimeOf(std::int64_t secondsSince1970);

} // namespace plat
