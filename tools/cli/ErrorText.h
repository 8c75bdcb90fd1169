// The program's two forms of failure line on stderr: "error <code>: <text>"
// for a library result and "error: <what>: <reason>" for its own.
#pragma once

#include <cstdint>
#include <string>

#include "VexaCommLib.h"

// The library's text for `code` without its "CONN-<code> : " prefix, in
// the terminal's character set; texts that set cannot show are replaced.
std::string LibraryErrorText(VexaCommObject* obj, int32_t code);
void PrintLibraryError(VexaCommObject* obj, int32_t code);
// `error` is a system error number (errno, GetLastError()).
void PrintSystemError(const std::string& what, int error);
