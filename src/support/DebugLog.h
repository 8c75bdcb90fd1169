// Diagnostic lines: the debugger output always, and a numbered, time-stamped
// text log while g_strLogPath is set.
#pragma once

#include <cstdint>
#include <string>

#include "VexaCommLib.h"
#include "vexacomm/Types.h"

// Formats printf-style and writes one diagnostic line.
void DebugLog(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Appends `text` to the file `path` (a built-in default when null), behind
// the "[%010d][date time] -- " header when `header` is set. Returns the line
// count after a successful append, else g_nLogResult unchanged. Appends and
// their numbering are serialised process-wide.
std::int32_t AppendLogFile(const char* text, const char* path, BOOL header);

// A host's receiver of every diagnostic line, besides the debugger output
// and the log file (null removes it). Lines reach it one at a time; a
// change waits for a line being delivered.
using DiagnosticHook = VexaCommDiagnosticFn;
void SetDiagnosticHook(DiagnosticHook hook, void* user);

// Between these, lines reach the hook only when the outermost hold ends:
// an export holds them from its entry to its return, so that the hook runs
// with no lock of the library held and may call any export.
void HoldDiagnostics();
void ReleaseDiagnostics();
// True while the calling thread runs the host's hook (holding the lock
// that a change of hook waits for): it must not wait for an operation.
bool InsideDiagnosticHook();

// Process-wide log state, each read and change under the log's lock. The
// library itself never sets the texts; hosts do, through the exports.
void SetLogPath(const char* path);
std::string GetLogPath();
// Header lines appended so far, and what the last append returned.
std::int32_t LogLineCount();
std::int32_t LogResult();

// File that AppendLogFile uses when it is given no path.
extern const char* const kDefaultLogPath;
