// Win32 program starts: CreateProcessA in a job object, ShellExecuteA.
#include "platform/Process.h"

#include "platform/win32/LastError.h"

#include <shellapi.h>

namespace plat {
namespace {

// CREATE_DEFAULT_ERROR_MODE | CREATE_NEW_PROCESS_GROUP | HIGH_PRIORITY_CLASS
constexpr DWORD kCreationFlags = 0x04000280;
static_assert(kCreationFlags == (CREATE_DEFAULT_ERROR_MODE | CREATE_NEW_PROCESS_GROUP | HIGH_PRIORITY_CLASS),
              "creation flags of a started program");

// How long ending a program may take before its handles are let go anyway.
constexpr DWORD kTerminateWaitMs = 10000;

// A started program and the job that holds it with everything it starts:
// a process group in the POSIX sense, which Windows lacks.
struct Started {
    HANDLE process;
    HANDLE job;
};

// The program path as the application name, the command line as given (a
// writable copy: CreateProcessA may write into it), inheritable handles
// passed on, and the show value for the program's first window.
bool Create(const char* program, const char* commandLine, std::uint16_t show, PROCESS_INFORMATION* info)
{
    std::string line(commandLine);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = show;
    ZeroMemory(info, sizeof(*info));
    if (!::CreateProcessA(program, &line[0], nullptr, nullptr, TRUE, kCreationFlags, nullptr, nullptr, &startup,
                          info)) {
        RecordLastError();
        return false;
    }
    return true;
}

void Release(Started* started)
{
    ::CloseHandle(started->process);
    if (started->job != nullptr)
        ::CloseHandle(started->job);
    delete started;
}

} // namespace

// The job is joined right after the start (the flags leave the program
// running at once); a process it starts from then on belongs to the job as
// well. A host inside a job that forbids nested jobs keeps the plain
// process handle.
ProcessHandle StartProcess(const char* program, const char* commandLine, std::uint16_t show)
{
    PROCESS_INFORMATION info;
    if (!Create(program, commandLine, show, &info))
        return kNoProcess;
    ::CloseHandle(info.hThread);
    HANDLE job = ::CreateJobObjectA(nullptr, nullptr);
    if (job != nullptr && !::AssignProcessToJobObject(job, info.hProcess)) {
        ::CloseHandle(job);
        job = nullptr;
    }
    return reinterpret_cast<ProcessHandle>(new Started{info.hProcess, job});
}

bool StartDetachedProcess(const char* program, const char* commandLine, std::uint16_t show)
{
    PROCESS_INFORMATION info;
    if (!Create(program, commandLine, show, &info))
        return false;
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return true;
}

WaitResult WaitForProcess(ProcessHandle process, std::uint32_t milliseconds)
{
    auto* started = reinterpret_cast<Started*>(process);
    DWORD rc = ::WaitForSingleObject(started->process, milliseconds);
    if (rc == WAIT_OBJECT_0) {
        Release(started);
        return WaitResult::kEnded;
    }
    if (rc == WAIT_TIMEOUT)
        return WaitResult::kTimedOut;
    RecordLastError();
    return WaitResult::kFailed;
}

// Exit code 0xFFFFFFFF for everything ended here. The wait lets the program
// release its files before the caller goes on.
void TerminateProcessGroup(ProcessHandle process)
{
    auto* started = reinterpret_cast<Started*>(process);
    if (started->job == nullptr || !::TerminateJobObject(started->job, 0xFFFFFFFFu))
        ::TerminateProcess(started->process, 0xFFFFFFFFu);
    ::WaitForSingleObject(started->process, kTerminateWaitMs);
    Release(started);
}

int OpenDocument(const char* verb, const char* file, std::uint16_t show)
{
    HINSTANCE result = ::ShellExecuteA(nullptr, verb != nullptr && verb[0] != '\0' ? verb : nullptr, file,
                                       nullptr, nullptr, show);
    return static_cast<int>(reinterpret_cast<INT_PTR>(result));
}

} // namespace plat
