// Wall-clock seconds: the C library's time(), the same on every platform.
#include "platform/Clock.h"

#include <ctime>

namespace plat {

std::int32_t Now() { return static_cast<std::int32_t>(std::time(nullptr)); }

} // namespace plat
