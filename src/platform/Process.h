// Starting programs for the service side: a program with its command line,
// waiting for it with a time limit, ending it, and opening a document with
// the desktop's opener. No call passes a command line through a shell.
// Failures leave a Windows system error number for plat::LastSystemError().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

using ProcessHandle = std::intptr_t;
constexpr ProcessHandle kNoProcess = 0;

// Wait limit that never runs out.
constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;

// The arguments of a command line as the Windows C run-time parses them:
// blanks and tabs separate, double quotes group (and are removed), 2n
// backslashes before a quote give n and the quote acts, 2n+1 give n and a
// literal quote; other backslashes are literal.
std::vector<std::string> SplitCommandLine(const char* commandLine);

// The program path at the start of a command line, as the C run-time splits
// it off: quotes group and are dropped, a blank or tab outside quotes ends
// it. Read from the command line itself, since a host's run-time (and so
// its __argv) need not be ours.
std::string FirstProgramArgument(const char* commandLine);

// Starts `program` (a path, never searched for) in a process group of its
// own, with argument zero the program path and the further arguments split
// from `commandLine`. `show` is the window show value; POSIX has no use for
// it. kNoProcess on failure.
ProcessHandle StartProcess(const char* program, const char* commandLine, std::uint16_t show);

// As StartProcess, but the program runs on independently: nothing is left
// to wait for or release. True once the program has been executed.
bool StartDetachedProcess(const char* program, const char* commandLine, std::uint16_t show);

enum class WaitResult { kEnded, kTimedOut, kFailed };

// Waits up to `milliseconds` (kWaitForever: no limit) for the program to
// end. After kEnded the handle is released.
WaitResult WaitForProcess(ProcessHandle process, std::uint32_t milliseconds);

// Ends the program and everything in its process group, then releases the
// handle.
void TerminateProcessGroup(ProcessHandle process);

// ShellExecute of `file` with `verb` (empty: the default verb). Returns a
// value above 32 when the document was handed to the desktop's opener,
// otherwise a shell failure value from 0 to 32.
int OpenDocument(const char* verb, const char* file, std::uint16_t show);

// Shell failure value for a document that no opener takes
// (SE_ERR_NOASSOC).
constexpr int kShellNoAssociation = 31;

#ifndef _WIN32
// Tests point OpenDocument at another opener program; null restores the
// search for the desktop's own. (On Windows the shell's associations
// decide, and tests register one.)
void OverrideDocumentOpener(const char* path);
#endif

} // namespace plat
