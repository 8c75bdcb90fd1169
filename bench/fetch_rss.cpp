// Peak resident memory of `vexacomm fetch` receiving a large transfer from
// `vexacomm simulate` in another process (127.7.3.1). The fetch writes to
// /dev/null; its peak RSS comes from wait4().
//
//   fetch_rss VEXACOMM [MIB]        (default 256)
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const char kAddress[] = "127.7.3.1";

// Starts argv[0] with stdout to a pipe (or /dev/null when out is null).
pid_t Spawn(const std::vector<std::string>& args, int* out)
{
    int fds[2] = {-1, -1};
    if (out != nullptr && ::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(out != nullptr ? fds[1] : null, 1);
        ::dup2(null, 2);
        ::dup2(null, 0);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (out != nullptr) {
        ::close(fds[1]);
        *out = fds[0];
    }
    return pid;
}

// Waits until the child has printed `text` (at most timeoutMs).
bool WaitForLine(int fd, const char* text, int timeoutMs)
{
    std::string seen;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (seen.find(text) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        pollfd pfd{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&pfd, 1, static_cast<int>(left)) != 1)
            return false;
        char buf[256];
        ssize_t n = ::read(fd, buf, sizeof(buf));
        if (n <= 0)
            return false;
        seen.append(buf, static_cast<std::size_t>(n));
    }
    return true;
}

// Reaps the child within timeoutMs, killing it (it is ours) if it is late.
int Reap(pid_t pid, int timeoutMs, rusage* usage)
{
    int status = 0;
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        pid_t r = ::wait4(pid, &status, WNOHANG, usage);
        if (r == pid)
            return status;
        ::usleep(10000);
    }
    ::kill(pid, SIGKILL);
    ::wait4(pid, &status, 0, usage);
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: fetch_rss VEXACOMM [MIB]\n");
        return 2;
    }
    const std::string vexacomm = argv[1];
    const unsigned long mib = argc == 3 ? std::strtoul(argv[2], nullptr, 10) : 256;
    const std::string bytes = std::to_string(mib << 20);

    char dir[] = "/tmp/vexacomm-rss-XXXXXX";
    if (::mkdtemp(dir) == nullptr)
        return 1;
    const std::string request = std::string(dir) + "/request.bin";
    {
        std::FILE* f = std::fopen(request.c_str(), "wb");
        const unsigned char block[8] = {0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
        if (f == nullptr || std::fwrite(block, 1, sizeof(block), f) != sizeof(block))
            return 1;
        std::fclose(f);
    }

    int simOut = -1;
    pid_t sim = Spawn({vexacomm, "simulate", "--bind", kAddress, "--bytes", bytes, "--once",
                       "--timeout", "30"},
                      &simOut);
    if (sim < 0 || !WaitForLine(simOut, "simulating", 10000)) {
        std::fprintf(stderr, "fetch_rss: the simulator did not start\n");
        if (sim > 0)
            Reap(sim, 0, nullptr);
        return 1;
    }
    auto start = std::chrono::steady_clock::now();
    pid_t fetch = Spawn({vexacomm, "fetch", kAddress, "--request", request, "--out", "-"}, nullptr);
    rusage usage;
    std::memset(&usage, 0, sizeof(usage));
    int status = fetch > 0 ? Reap(fetch, 120000, &usage) : -1;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage simUsage;
    Reap(sim, 10000, &simUsage);
    ::close(simOut);
    ::unlink(request.c_str());
    ::rmdir(dir);

    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "fetch_rss: the fetch failed (status %d)\n", status);
        return 1;
    }
    double rssMib = static_cast<double>(usage.ru_maxrss) / 1024.0;
    std::printf("fetch of %lu MiB in %.2f s (%.0f MB/s); peak RSS of the fetch %.1f MiB\n", mib, seconds,
                static_cast<double>(mib << 20) / seconds / 1e6, rssMib);
    std::printf("rss_mib fetch_%lumib %.1f\n", mib, rssMib);
    return 0;
}
