// Starting a program on a peer's request. Command lines never pass through
// a shell: the program gets its arguments as a vector.
#include "service/ProgramStart.h"

#include <cstring>

#include "platform/Beneath.h"
#include "platform/Clock.h"
#include "platform/Process.h"
#include "platform/SystemErrors.h"
#include "service/RecordFields.h"
#include "service/ServiceLimits.h"
#include "service/ServiceRecords.h"
#include "vexacomm/GLSocket.h"
#include "support/DebugLog.h"
#include "support/FileSystemHelpers.h"

bool SplitProgramCommand(const char* command, std::string* program, std::string* commandLine)
{
    if (command[0] == '"') {
        const char* closing = std::strchr(command + 1, '"');
        if (closing == nullptr)
            return false;
        program->assign(command + 1, closing);
        commandLine->assign(closing + 1);
        return true;
    }
    const char* blank = std::strchr(command, ' ');
    if (blank == nullptr) {
        program->assign(command);
        commandLine->clear();
    } else {
        program->assign(command, blank);
        commandLine->assign(blank);
    }
    return true;
}

namespace {

// SE_ERR_OOM
constexpr std::uint32_t kShellOutOfMemory = 8;

// With an allow-list, `program` becomes the listed file it resolves to, and
// is started by that name: a link changed after the check starts nothing
// else. Nothing is started through the desktop's opener, whose program the
// list does not name.
bool IsAllowed(const ServiceLimits& limits, std::string* program, bool shell)
{
    if (!limits.listed)
        return true;
    const std::string resolved = shell ? std::string() : plat::ResolvedPath(program->c_str());
    for (const std::string& allowed : limits.programs) {
        if (!resolved.empty() && resolved == allowed) {
            *program = resolved;
            return true;
        }
    }
    DebugLog("CGLSocket::StartProgram refused %s%s", program->c_str(), shell ? " (shell)" : "");
    return false;
}

std::uint32_t RunProgram(const ProgramRequest* request, const ServiceLimits& limits)
{
    const char* command = request->Command();
    std::string program;
    std::string commandLine;
    if (!SplitProgramCommand(command, &program, &commandLine))
        return COMM_ERR_EXEC_BAD_COMMAND;
    if (!IsAllowed(limits, &program, (request->flags & PROG_SHELL) != 0))
        return plat::kErrorAccessDenied;
    // Also before a start through the shell.
    if (!FileExists(program.c_str()))
        return COMM_ERR_EXEC_BAD_COMMAND;

    if (request->flags & PROG_DELAY)
        plat::SleepMs(request->delayMs);

    if (request->flags & PROG_SHELL) {
        std::string verb(request->verb, BoundedLength(request->verb, sizeof(request->verb)));
        int shell = plat::OpenDocument(verb.c_str(), command, request->show);
        if (shell > 32)
            return 0;
        // The shell's 0 means out of memory; as a reply it would read as success.
        return shell == 0 ? kShellOutOfMemory : static_cast<std::uint32_t>(shell);
    }

    if (request->flags & PROG_NO_WAIT)
        return plat::StartDetachedProcess(program.c_str(), commandLine.c_str(), request->show)
                   ? 0
                   : COMM_ERR_EXEC_FAILED;

    plat::ProcessHandle process = plat::StartProcess(program.c_str(), commandLine.c_str(), request->show);
    if (process == plat::kNoProcess)
        return COMM_ERR_EXEC_FAILED;
    if (plat::WaitForProcess(process, request->waitMs) == plat::WaitResult::kEnded)
        return 0;
    plat::TerminateProcessGroup(process);
    return COMM_ERR_EXEC_TIMEOUT;
}

} // namespace

// Blocks for the delay and the wait, under the caller's lock when it holds
// one (every export does): other calls on the object wait meanwhile.
void CGLSocket::StartProgram(const ProgramRequest* request)
{
    SendReply(RunProgram(request, ServiceLimitsOf(this)));
}

BOOL CGLSocket::RunProgramRequest(const ProgramRequest* request)
{
    switch (request->kind) {
    case PROGRAM_KIND_START:
        StartProgram(request);
        return TRUE;
    case PROGRAM_KIND_RESERVED:
        return ReplyNotSupported(request);
    default:
        return SendReply(COMM_ERR_NOT_SUPPORTED);
    }
}
