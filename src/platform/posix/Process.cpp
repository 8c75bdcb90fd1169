// POSIX program starts: posix_spawn in a process group, detached starts, xdg-open.
#include "platform/Process.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Clock.h"
#include "platform/SystemErrors.h"

extern char** environ;

namespace plat {
namespace {

std::mutex g_openerMutex;
bool g_openerOverridden = false;
std::string g_openerOverride;

// Any value above 32 means success to a ShellExecute caller.
constexpr int kShellStarted = 33;

std::vector<std::string> ProgramArguments(const char* program, const char* commandLine)
{
    std::vector<std::string> args{program};
    for (std::string& arg : SplitCommandLine(commandLine))
        args.push_back(std::move(arg));
    return args;
}

std::vector<char*> ArgumentVector(std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    return argv;
}

pid_t Pid(ProcessHandle process) { return static_cast<pid_t>(process); }

// Runs args[0] twice removed: the intermediate child exits at once and is
// reaped here, so the program is adopted by init and never lingers as a
// zombie of the host. Only async-signal-safe calls run between fork and
// exec; a failed exec reports its errno through a close-on-exec pipe.
bool SpawnDetached(std::vector<std::string> args)
{
    std::vector<char*> argv = ArgumentVector(args);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        RecordErrno();
        return false;
    }
    sigset_t none;
    sigemptyset(&none);
    pid_t child = ::fork();
    if (child < 0) {
        int err = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        errno = err;
        RecordErrno();
        return false;
    }
    if (child == 0) {
        ::close(fds[0]);
        pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ::setpgid(0, 0);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            struct sigaction dfl {};
            dfl.sa_handler = SIG_DFL;
            ::sigaction(SIGPIPE, &dfl, nullptr);
            ::execv(argv[0], argv.data());
        }
        int err = errno;
        if (grandchild > 0)
            ::_exit(0);
        ssize_t ignored = ::write(fds[1], &err, sizeof err);
        (void)ignored;
        ::_exit(127);
    }
    ::close(fds[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int err = 0;
    ssize_t got;
    while ((got = ::read(fds[0], &err, sizeof err)) < 0 && errno == EINTR) {
    }
    ::close(fds[0]);
    if (got == static_cast<ssize_t>(sizeof err)) {
        SetLastSystemError(SystemErrorFromErrno(err));
        return false;
    }
    return true;
}

bool IsExecutableFile(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The desktop's opener as found on PATH; empty when none is installed.
// Empty and relative entries name the current directory, which anyone may
// have filled: they are skipped.
std::string DocumentOpener()
{
    {
        std::lock_guard<std::mutex> guard(g_openerMutex);
        if (g_openerOverridden)
            return g_openerOverride;
    }
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    std::string::size_type begin = 0;
    while (begin <= dirs.size()) {
        std::string::size_type end = dirs.find(':', begin);
        if (end == std::string::npos)
            end = dirs.size();
        std::string dir = dirs.substr(begin, end - begin);
        std::string candidate = dir + "/xdg-open";
        if (!dir.empty() && dir[0] == '/' && IsExecutableFile(candidate))
            return candidate;
        begin = end + 1;
    }
    return std::string();
}

} // namespace

ProcessHandle StartProcess(const char* program, const char* commandLine, std::uint16_t)
{
    std::vector<std::string> args = ProgramArguments(program, commandLine);
    std::vector<char*> argv = ArgumentVector(args);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    // A host that ignores SIGPIPE would pass that on through exec.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);

    pid_t pid = 0;
    int rc = ::posix_spawn(&pid, program, nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        SetLastSystemError(SystemErrorFromErrno(rc));
        return kNoProcess;
    }
    return static_cast<ProcessHandle>(pid);
}

bool StartDetachedProcess(const char* program, const char* commandLine, std::uint16_t)
{
    return SpawnDetached(ProgramArguments(program, commandLine));
}

// ECHILD means the program is gone already: a host that ignores SIGCHLD
// has the system reap its children.
WaitResult WaitForProcess(ProcessHandle process, std::uint32_t milliseconds)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(Pid(process), &status, milliseconds == kWaitForever ? 0 : WNOHANG);
        if (r == Pid(process))
            return WaitResult::kEnded;
        if (r < 0) {
            if (errno == EINTR)
                continue;
            if (errno == ECHILD)
                return WaitResult::kEnded;
            RecordErrno();
            return WaitResult::kFailed;
        }
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        if (elapsed >= static_cast<long long>(milliseconds))
            return WaitResult::kTimedOut;
        long long left = static_cast<long long>(milliseconds) - elapsed;
        SleepMs(static_cast<unsigned>(left < 10 ? left : 10));
    }
}

void TerminateProcessGroup(ProcessHandle process)
{
    pid_t pid = Pid(process);
    if (::kill(-pid, SIGKILL) != 0)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

// The opener takes the document as one argument and knows only opening;
// another verb has no association here.
int OpenDocument(const char* verb, const char* file, std::uint16_t)
{
    if (verb != nullptr && verb[0] != '\0' && ::strcasecmp(verb, "open") != 0)
        return kShellNoAssociation;
    std::string opener = DocumentOpener();
    if (opener.empty())
        return kShellNoAssociation;
    if (!SpawnDetached({opener, file}))
        return kShellNoAssociation;
    return kShellStarted;
}

void OverrideDocumentOpener(const char* path)
{
    std::lock_guard<std::mutex> guard(g_openerMutex);
    g_openerOverridden = path != nullptr;
    g_openerOverride = path != nullptr ? path : "";
}

} // namespace plat
