// Loading a companion library and looking up one of its symbols.
#pragma once

namespace plat {

using LibraryHandle = void*;

// Null when the library cannot be loaded. A path without a directory is
// searched the platform's ordinary way.
LibraryHandle OpenLibrary(const char* path);
void* LibrarySymbol(LibraryHandle library, const char* name);
void CloseLibrary(LibraryHandle library);

} // namespace plat
