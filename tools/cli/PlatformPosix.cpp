// Sockets and the terminal on POSIX: nothing to start, isatty and iconv.
#include "cli/Platform.h"

#include <iconv.h>
#include <langinfo.h>
#include <unistd.h>
#include <vector>

bool StartSockets() { return true; }

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

bool TerminalTextFromGbk(const std::string& text, std::string* out)
{
    iconv_t cd = ::iconv_open(nl_langinfo(CODESET), "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    std::vector<char> buffer(text.size() * 4 + 4);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* outPtr = buffer.data();
    size_t outLeft = buffer.size();
    size_t rc = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    ::iconv_close(cd);
    if (rc == static_cast<size_t>(-1))
        return false;
    out->assign(buffer.data(), buffer.size() - outLeft);
    return true;
}
