// Objects made by a host's other C++ run-time: which module holds an
// address, what that module imports, and (32-bit) a member-function call
// into such code that no exception raised in it can pass.
// Windows only; docs/platform-windows.md gives the facts behind each piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

// [address, address + size) is committed and readable at this moment.
bool Readable(const void* address, std::size_t size);

// The loaded image (program or DLL) that holds `address`, or nullptr.
void* ModuleAt(const void* address);
// That image's file name without its folder, e.g. "VexaCommLib.dll".
std::string ModuleName(void* module);
// Whether the image's import table names `dll` (ASCII, case-insensitive).
bool ModuleImports(void* module, const char* dll);
// The image holding this library's code (the DLL, or a static host).
void* OwnModule();

// What a guarded call raised instead of returning.
struct ForeignRaise {
    bool raised = false;
    std::uint32_t code = 0;         // the exception code
    bool cxx = false;               // a throw of the other compiler's kind (0xE06D7363)
    bool filePointer = false;       // ... whose catchable types name CFileException*
    std::uintptr_t thrown = 0;      // that pointer, adjusted to the CFileException
};

#if defined(__i386__)
// Calls `fn` as a member function of `self` (thiscall: this in ECX, the
// callee pops its stack arguments) with `count` (0..2) arguments. An
// exception raised in it and not handled there ends the call: its frames
// are unwound, the result is 0 and *raise says what it was.
std::uint32_t CallMember(const void* fn, void* self, const std::uint32_t* args, unsigned count,
                         ForeignRaise* raise);
#endif

} // namespace plat
