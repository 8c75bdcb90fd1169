// Win32 debugger output: OutputDebugStringA.
#include "platform/Backend.h"
#include "platform/win32/WinApi.h"

namespace plat {
namespace backend {

void WriteDebugOutput(const char* text) { ::OutputDebugStringA(text); }

} // namespace backend
} // namespace plat
