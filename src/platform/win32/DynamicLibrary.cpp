// Win32 companion libraries: LoadLibraryA without the error box.
#include "platform/DynamicLibrary.h"

#include "platform/win32/WinApi.h"

namespace plat {

// A companion that cannot be loaded (a damaged file, a missing dependency)
// must not stop the host with a system message box: it just is not there.
LibraryHandle OpenLibrary(const char* path)
{
    DWORD previous = 0;
    bool changed = ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous) != 0;
    HMODULE module = ::LoadLibraryA(path);
    if (changed)
        ::SetThreadErrorMode(previous, nullptr);
    return module;
}

void* LibrarySymbol(LibraryHandle library, const char* name)
{
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(LibraryHandle library)
{
    if (library != nullptr)
        ::FreeLibrary(static_cast<HMODULE>(library));
}

} // namespace plat
