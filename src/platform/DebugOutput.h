// The debugger-output channel. On Windows this is OutputDebugStringA; on
// POSIX the lines go to stderr while the environment variable
// VEXACOMM_DEBUG is set to a non-empty value. A host may install a hook
// instead, which then receives every line on every platform.
#pragma once

namespace plat {

using DebugHook = void (*)(const char* text, void* user);

void DebugOutput(const char* text);
void SetDebugHook(DebugHook hook, void* user);

} // namespace plat
