// POSIX debugger output: stderr, while VEXACOMM_DEBUG is set.
#include <cstdio>
#include <cstdlib>

#include "platform/Backend.h"

namespace plat {
namespace backend {

// No debugger listens for lines here: they would only clutter the host's
// own stderr unless asked for.
void WriteDebugOutput(const char* text)
{
    const char* value = std::getenv("VEXACOMM_DEBUG");
    if (value != nullptr && value[0] != '\0')
        std::fputs(text, stderr);
}

} // namespace backend
} // namespace plat
