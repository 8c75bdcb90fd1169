// The program's forms of failure line on stderr: "error <code>: <text>"
// for a library result, "vexacomm: <host>:<port>: <text> (<code>)" for a
// connection's failure and "error: <what>: <reason>" for its own.
#pragma once

#include <cstdint>
#include <string>

#include "VexaCommLib.h"

// The library's text for `code` without its "CONN-<code> : " prefix, in
// the terminal's character set; texts that set cannot show are replaced.
std::string LibraryErrorText(VexaCommObject* obj, int32_t code);
void PrintLibraryError(VexaCommObject* obj, int32_t code);
// Socket numbers and the device closing or refusing the connection.
bool IsConnectionError(int32_t code);
void PrintConnectionError(VexaCommObject* obj, const std::string& host, unsigned port, int32_t code);
// `error` is a system error number (errno, GetLastError()).
void PrintSystemError(const std::string& what, int error);
// The command that runs, as failure lines name it.
void SetCommandName(const char* name);
// "vexacomm <command>: standard output: <reason>", at most once a run
// (a closed pipe fails every later write too); true when printed now.
bool PrintStdoutError(const std::string& reason);
