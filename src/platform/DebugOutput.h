// The debugger-output channel. On Windows this is OutputDebugStringA; on
// POSIX the lines go to stderr while the environment variable
// VEXACOMM_DEBUG is set to a non-empty value. A host may install a hook
// instead, which then receives every line on every platform.
#pragma once

#include <string>

namespace plat {

// A text of the system's code page (the library's own texts are GBK) as
// the diagnostic lines carry it: UTF-8 on POSIX systems, whose terminals
// and files are UTF-8; unchanged on Windows. Bytes that do not convert
// stay as they are.
std::string LogText(const std::string& systemText);

using DebugHook = void (*)(const char* text, void* user);

void DebugOutput(const char* text);
void SetDebugHook(DebugHook hook, void* user);

} // namespace plat
