// Win32 debugger output: OutputDebugStringA.
#include "platform/Backend.h"
#include "platform/DebugOutput.h"
#include "platform/win32/WinApi.h"

namespace plat {

// The system code page is what Windows tools show.
std::string LogText(const std::string& systemText) { return systemText; }
namespace backend {

void WriteDebugOutput(const char* text) { ::OutputDebugStringA(text); }

} // namespace backend
} // namespace plat
