// A program for the program-start tests.
//   child dump FILE ...     writes its arguments to FILE (on Windows the
//                           command line it received comes first)
//   child sleep PIDFILE     starts a second process, writes both ids, sleeps
//   child waitfor GATE FILE waits for GATE to exist, then writes FILE
//   child list DIR GATE     lists into DIR as an object of its own, prints
//                           the listing's name, keeps it until GATE exists
//   child capture FILE      captures into FILE: prints the result, the diagnostics
// As a document opener it stands in for the desktop's own: on POSIX when
// started under a name beginning with "fake-opener" (it writes its
// arguments to "<argv[0]>.out"), on Windows as "child opener DOCUMENT"
// (it writes them to "<DOCUMENT>.out").
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "VexaCommLib.h"
#include "VexaCommService.h"

#ifdef _WIN32
#include "platform/win32/WinApi.h"
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

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
    if (FILE* f = std::fopen(path, "rb")) {
        std::fclose(f);
        return true;
    }
    return false;
}

void VEXACOMM_CALL KeepLine(void* user, const char* line) { *static_cast<std::string*>(user) += line; }

#ifdef _WIN32
unsigned long StartSleeper()
{
    char self[MAX_PATH];
    ::GetModuleFileNameA(nullptr, self, sizeof(self));
    std::string line = " sleep";
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info;
    if (!::CreateProcessA(self, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return 0;
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return info.dwProcessId;
}
#endif

} // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    // argv[0] comes from the command line, which the library passes as the
    // program's arguments only: the first real argument is argv[1].
    if (argc >= 3 && std::strcmp(argv[1], "opener") == 0) {
        WriteFileAtomically(std::string(argv[2]) + ".out", JoinLines(2, argc, argv));
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "dump") == 0) {
        WriteFileAtomically(argv[2], std::string(::GetCommandLineA()) + "\n" + JoinLines(1, argc, argv));
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "sleep") == 0 && argc == 2) {
        std::this_thread::sleep_for(std::chrono::seconds(120));
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "sleep") == 0) {
        unsigned long other = StartSleeper();
        WriteFileAtomically(argv[2], std::to_string(::GetCurrentProcessId()) + " " + std::to_string(other) + "\n");
        std::this_thread::sleep_for(std::chrono::seconds(120));
        return 0;
    }
#else
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
#endif
    if (argc >= 4 && std::strcmp(argv[1], "waitfor") == 0) {
        for (int i = 0; i < 6000 && !Exists(argv[2]); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        WriteFileAtomically(argv[3], "done\n");
        return 0;
    }
    if (argc >= 4 && std::strcmp(argv[1], "list") == 0) {
        const std::string dir = std::string(argv[2]) + (std::strchr(argv[2], '\\') ? "\\" : "/");
        VexaComm_SetTempDir(dir.c_str());
        VexaCommObject* obj = VexaComm_CreateObject();
        const std::string request = std::string(12, '\0') + dir + "*.none" + std::string(1, '\0');
        char name[300] = "";
        VexaComm_ServiceListDirectory(obj, reinterpret_cast<const FileRequest*>(request.data()), name, sizeof(name));
        std::printf("%s\n", name);
        std::fflush(stdout);
        for (int i = 0; i < 6000 && !Exists(argv[3]); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        VexaComm_DestroyObject(obj);
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "capture") == 0) {
        std::string said;
        VexaComm_SetDiagnosticCallback(KeepLine, &said);
        VexaCommObject* obj = VexaComm_CreateObject();
        const int result = VexaComm_SetCaptureFile(obj, argv[2]);
        VexaComm_DestroyObject(obj);
        VexaComm_SetDiagnosticCallback(nullptr, nullptr);
        std::printf("%d\n%s", result, said.c_str());
        return 0;
    }
    return 2;
}
