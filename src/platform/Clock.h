// Wall-clock seconds, local calendar time and sleeping.
#pragma once

#include <cstdint>

namespace plat {

// Seconds since 1970, truncated to 32 bits as the connection stores them.
std::int32_t Now();

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
