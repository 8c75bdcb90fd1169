// A program for the program-start tests.
//   child dump FILE ...     writes its whole argument vector to FILE
//   child sleep PIDFILE     starts a second process, writes both ids, sleeps
//   child waitfor GATE FILE waits for GATE to exist, then writes FILE
// Started under a name beginning with "fake-opener" it stands in for the
// desktop's document opener and writes its arguments to "<argv[0]>.out".
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// Written under a temporary name and renamed, so that a reader never sees
// half a file.
void WriteFileAtomically(const std::string& path, const std::string& text)
{
    std::string temp = path + ".part";
    if (FILE* f = std::fopen(temp.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
        std::rename(temp.c_str(), path.c_str());
    }
}

std::string JoinLines(int first, int argc, char** argv)
{
    std::string text;
    for (int i = first; i < argc; ++i)
        text += std::string(argv[i]) + "\n";
    return text;
}

bool Exists(const char* path)
{
    struct stat st;
    return ::stat(path, &st) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    const char* base = std::strrchr(argv[0], '/');
    base = base != nullptr ? base + 1 : argv[0];
    if (std::strncmp(base, "fake-opener", 11) == 0) {
        WriteFileAtomically(std::string(argv[0]) + ".out", JoinLines(1, argc, argv));
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "dump") == 0) {
        WriteFileAtomically(argv[2], JoinLines(0, argc, argv));
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "sleep") == 0) {
        pid_t other = ::fork();
        if (other == 0) {
            std::this_thread::sleep_for(std::chrono::seconds(120));
            return 0;
        }
        WriteFileAtomically(argv[2], std::to_string(::getpid()) + " " + std::to_string(other) + "\n");
        std::this_thread::sleep_for(std::chrono::seconds(120));
        return 0;
    }
    if (argc >= 4 && std::strcmp(argv[1], "waitfor") == 0) {
        for (int i = 0; i < 6000 && !Exists(argv[2]); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        WriteFileAtomically(argv[3], "done\n");
        return 0;
    }
    return 2;
}
