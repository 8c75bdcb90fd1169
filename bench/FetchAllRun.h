// One run of `vexacomm fetch-all --jobs N` as a child process against
// simulators already listening: the list it reads, its wall time, its peak
// resident memory (wait4) and whether every file came out whole.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace bench {

struct FetchAllOutcome {
    bool ok = false;
    double seconds = 0;
    long peakKib = 0;
    std::string where; // the directory the files went to
};

// `devices` lines "host:port name"; `check(path)` judges each written file.
inline FetchAllOutcome RunFetchAll(const std::string& vexacomm, const std::vector<std::string>& devices, unsigned jobs,
                                   const std::function<bool(const std::string&)>& check)
{
    FetchAllOutcome outcome;
    // On tmpfs where there is one: the figure is the program's, not the
    // file system's (ext4 spends more on creating a thousand files than the
    // transfers' own overhead).
    char shm[] = "/dev/shm/vexacomm-fetch-all-XXXXXX";
    char tmp[] = "/tmp/vexacomm-fetch-all-XXXXXX";
    char* dir = ::mkdtemp(shm) != nullptr ? shm : ::mkdtemp(tmp);
    if (dir == nullptr)
        return outcome;
    outcome.where = dir;
    const std::string list = std::string(dir) + "/devices";
    const std::string out = std::string(dir) + "/out";
    std::FILE* f = std::fopen(list.c_str(), "w");
    if (f == nullptr)
        return outcome;
    for (const std::string& d : devices)
        std::fprintf(f, "%s\n", d.c_str());
    std::fclose(f);

    const std::string jobsText = std::to_string(jobs);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execl(vexacomm.c_str(), vexacomm.c_str(), "fetch-all", list.c_str(), "--out-dir", out.c_str(), "--jobs",
                jobsText.c_str(), "--timeout", "120", "--retries", "0", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = -1;
    rusage usage{};
    if (pid > 0 && ::wait4(pid, &status, 0, &usage) != pid)
        status = -1;
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.peakKib = usage.ru_maxrss;
    outcome.ok = pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    for (const std::string& d : devices) {
        const std::string path = out + "/" + d.substr(d.rfind(' ') + 1) + ".bin";
        outcome.ok = outcome.ok && check(path);
        ::unlink(path.c_str());
    }
    ::rmdir(out.c_str());
    ::unlink(list.c_str());
    ::rmdir(dir);
    return outcome;
}

} // namespace bench
