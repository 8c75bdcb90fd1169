// Sockets and the terminal on POSIX: nothing to start, isatty and iconv.
#include "cli/Platform.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <poll.h>
#include <langinfo.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

bool StartSockets() { return true; }

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

std::string StreamFailure(std::FILE* stream)
{
    const int fd = ::fileno(stream);
    if (fd < 0 || ::fcntl(fd, F_GETFL) < 0)
        return std::strerror(EBADF);
    // A pipe without readers polls as an error.
    pollfd p {fd, POLLOUT, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & POLLERR) != 0)
        return std::strerror(EPIPE);
    return "write error";
}

bool TerminalSize(std::FILE* stream, int* rows, int* columns)
{
    winsize size {};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) != 0 || size.ws_row == 0 || size.ws_col == 0)
        return false;
    *rows = size.ws_row;
    *columns = size.ws_col;
    return true;
}

bool EnableTerminalControl(std::FILE*) { return true; }

unsigned RaiseDescriptorLimit(unsigned wanted)
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return wanted;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
        limit.rlim_cur = limit.rlim_max == RLIM_INFINITY || limit.rlim_max > wanted ? wanted : limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > wanted ? wanted : static_cast<unsigned>(limit.rlim_cur);
}

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
