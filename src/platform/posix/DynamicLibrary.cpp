// POSIX companion libraries: dlopen and dlsym.
#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

namespace plat {

LibraryHandle OpenLibrary(const char* path) { return ::dlopen(path, RTLD_NOW | RTLD_LOCAL); }

void* LibrarySymbol(LibraryHandle library, const char* name) { return ::dlsym(library, name); }

void CloseLibrary(LibraryHandle library)
{
    if (library != nullptr)
        ::dlclose(library);
}

} // namespace plat
