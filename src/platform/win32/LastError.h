// The backend records GetLastError() for plat::LastSystemError() at the
// failing call: anything in between (a lock, a log line) may overwrite it.
#pragma once

#include "platform/SystemErrors.h"
#include "platform/win32/WinApi.h"

namespace plat {

inline int RecordLastError()
{
    int error = static_cast<int>(::GetLastError());
    SetLastSystemError(error);
    return error;
}

// FILETIME (100 ns steps since 1601, UTC) -> seconds since 1970.
inline std::int64_t SecondsSince1970(const FILETIME& time)
{
    const std::int64_t ticks =
        static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    const std::int64_t kTicksTo1970 = 116444736000000000LL;
    const std::int64_t kTicksPerSecond = 10000000;
    std::int64_t since = ticks - kTicksTo1970;
    // Round towards minus infinity, as time_t does for times before 1970.
    return since >= 0 ? since / kTicksPerSecond : -((-since + kTicksPerSecond - 1) / kTicksPerSecond);
}

} // namespace plat
