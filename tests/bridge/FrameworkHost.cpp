// A host module of the framework double: it imports MFC42.DLL, as a host
// program built with the framework does, and derives from its CFile (the
// derived class's table lives here, its base slots copied from the DLL).
#include "FrameworkDouble.h"

#include <cstring>

#define FW_HOST_API extern "C" __declspec(dllexport)

namespace {

FwRuntimeClass* __stdcall FileBase() { return FwFileClass(); }
FwRuntimeClass g_derivedClass = {"CHostFile", sizeof(FwFile), 0xFFFF, nullptr, &FileBase, nullptr};
FwRuntimeClass* FW_THISCALL DerivedRuntimeClass(FwFile*) { return &g_derivedClass; }

// Appends as the base does, counted apart.
void FW_THISCALL CopyingWrite(FwFile* self, const void* buffer, std::uint32_t count)
{
    ++self->derivedWrites;
    if (self->position + count > sizeof self->data)
        FwThrowFileException(13);
    std::memcpy(self->data + self->position, buffer, count);
    self->position += count;
}
void FW_THISCALL DiskFullWrite(FwFile* self, const void*, std::uint32_t)
{
    ++self->derivedWrites;
    FwThrowFileException(13);
}
void FW_THISCALL IntThrowingWrite(FwFile* self, const void*, std::uint32_t)
{
    ++self->derivedWrites;
    FwThrowInt(7);
}

void* g_tables[3][kFwSlots];

} // namespace

// kind 0: a Write that copies; 1: one that throws CFileException 13;
// 2: one that throws an int.
FW_HOST_API void FwHostInitDerived(FwFile* file, int kind, std::uint32_t position)
{
    static void* const writes[3] = {reinterpret_cast<void*>(&CopyingWrite), reinterpret_cast<void*>(&DiskFullWrite),
                                    reinterpret_cast<void*>(&IntThrowingWrite)};
    FwInitFile(file, position);
    void** table = g_tables[kind];
    std::memcpy(table, FwFileTable(), sizeof g_tables[kind]);
    table[0] = reinterpret_cast<void*>(&DerivedRuntimeClass);
    table[16] = writes[kind];
    file->vtable = table;
}

// For the test program, which must not import the framework DLL itself.
FW_HOST_API void FwHostInitBase(FwFile* file, std::uint32_t position) { FwInitFile(file, position); }
FW_HOST_API void FwHostInitPlainObject(FwFile* object) { FwInitPlainObject(object); }
FW_HOST_API int FwHostDeletedExceptions() { return FwDeletedExceptions(); }
