// The close wrapper behind ScopedFailingClose.
#include "doubles/FailingClose.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

extern "C" int __real_close(int fd);

namespace {
std::atomic<bool> g_armed{false};
std::atomic<int> g_failed{0};

bool WrittenRegularFile(int fd)
{
    struct stat st;
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}
} // namespace

extern "C" int __wrap_close(int fd)
{
    if (!g_armed.load() || !WrittenRegularFile(fd))
        return __real_close(fd);
    __real_close(fd);
    ++g_failed;
    errno = EIO;
    return -1;
}

ScopedFailingClose::ScopedFailingClose()
{
    g_failed = 0;
    g_armed = true;
}

ScopedFailingClose::~ScopedFailingClose() { g_armed = false; }

int ScopedFailingClose::Failed() const { return g_failed.load(); }
