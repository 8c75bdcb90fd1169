// Win32 clocks: GetTickCount64 for the wait limits, local time, Sleep.
#include "platform/Clock.h"

#include <ctime>

#include "platform/win32/WinApi.h"

namespace plat {

std::int64_t MonotonicMs() { return static_cast<std::int64_t>(::GetTickCount64()); }

void SleepMs(unsigned milliseconds) { ::Sleep(milliseconds); }

// The C run-time's conversion, as CTime::GetLocalTm makes it: it honours TZ
// when set, and the system's zone otherwise.
LocalTime LocalTimeOf(std::int64_t secondsSince1970)
{
    __time64_t t = static_cast<__time64_t>(secondsSince1970);
    tm parts{};
    if (::_localtime64_s(&parts, &t) != 0)
        return LocalTime{1970, 1, 1, 0, 0, 0}; // before 1970: the run-time has no answer
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                     parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

LocalTime LocalTimeNow()
{
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

} // namespace plat
