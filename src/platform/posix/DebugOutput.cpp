// POSIX debugger output: stderr, while VEXACOMM_DEBUG is set; log texts in
// UTF-8.
#include <cstdio>
#include <cstdlib>
#include <iconv.h>

#include "platform/Backend.h"
#include "platform/DebugOutput.h"

namespace plat {

std::string LogText(const std::string& systemText)
{
    // A conversion object serves one thread at a time: one per call, for
    // error lines only.
    iconv_t cd = ::iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return systemText;
    std::string in = systemText;
    std::string out(in.size() * 3 / 2 + 16, '\0');
    char* from = &in[0];
    std::size_t fromLeft = in.size();
    char* to = &out[0];
    std::size_t toLeft = out.size();
    const bool ok = ::iconv(cd, &from, &fromLeft, &to, &toLeft) != static_cast<std::size_t>(-1);
    ::iconv_close(cd);
    if (!ok)
        return systemText;
    out.resize(out.size() - toLeft);
    return out;
}

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
