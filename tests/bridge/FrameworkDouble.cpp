// The framework double (FrameworkDouble.h), linked as MFC42.DLL.
#define FW_DOUBLE_BUILDING
#include "FrameworkDouble.h"

#include <windows.h>

#include <cstring>

namespace {

int g_deleted = 0;

FwRuntimeClass* __stdcall NoBase() { return nullptr; }
FwRuntimeClass* __stdcall ObjectClass();
FwRuntimeClass g_objectClass = {"CObject", 4, 0xFFFF, nullptr, &NoBase, nullptr};
FwRuntimeClass g_fileClass = {"CFile", 16, 0xFFFF, nullptr, &ObjectClass, nullptr};
FwRuntimeClass g_plainClass = {"CCmdTarget", 4, 0xFFFF, nullptr, &ObjectClass, nullptr};
FwRuntimeClass* __stdcall ObjectClass() { return &g_objectClass; }

FwRuntimeClass* FW_THISCALL FileRuntimeClass(FwFile*) { return &g_fileClass; }
FwRuntimeClass* FW_THISCALL PlainRuntimeClass(FwFile*) { return &g_plainClass; }
std::uint32_t FW_THISCALL GetPosition(FwFile* self)
{
    ++self->getPositionCalls;
    return self->position;
}
void FW_THISCALL Write(FwFile* self, const void* buffer, std::uint32_t count)
{
    ++self->baseWrites;
    if (self->position + count > sizeof self->data)
        FwThrowFileException(13);
    std::memcpy(self->data + self->position, buffer, count);
    self->position += count;
}
// Every other slot: counted, never expected.
void FW_THISCALL Other(FwFile* self) { ++self->otherCalls; }

void* g_fileTable[kFwSlots];
void* g_plainTable[5];

FwFileException* FW_THISCALL ExceptionDestructor(FwFileException* self, unsigned flags)
{
    ++g_deleted;
    if (flags & 1)
        HeapFree(GetProcessHeap(), 0, self);
    return self;
}
void* g_exceptionTable[7];

// ThrowInfo of CFileException*: the pointer's catchable types, most
// derived first, each with its TypeDescriptor's decorated name.
struct TypeDescriptor {
    const void* vftable;
    void* spare;
    char name[24];
};
struct CatchableType {
    unsigned properties;
    TypeDescriptor* type;
    int mdisp, pdisp, vdisp;
    int size;
    void* copy;
};
TypeDescriptor g_fileExceptionPtr = {nullptr, nullptr, ".PAVCFileException@@"};
TypeDescriptor g_exceptionPtr = {nullptr, nullptr, ".PAVCException@@"};
TypeDescriptor g_objectPtr = {nullptr, nullptr, ".PAVCObject@@"};
TypeDescriptor g_voidPtr = {nullptr, nullptr, ".PAX"};
TypeDescriptor g_int = {nullptr, nullptr, ".H"};
CatchableType g_ctFile = {1, &g_fileExceptionPtr, 0, -1, 0, 4, nullptr};
CatchableType g_ctException = {1, &g_exceptionPtr, 0, -1, 0, 4, nullptr};
CatchableType g_ctObject = {1, &g_objectPtr, 0, -1, 0, 4, nullptr};
CatchableType g_ctVoid = {1, &g_voidPtr, 0, -1, 0, 4, nullptr};
CatchableType g_ctInt = {1, &g_int, 0, -1, 0, 4, nullptr};
struct {
    int count;
    CatchableType* types[4];
} g_fileTypes = {4, {&g_ctFile, &g_ctException, &g_ctObject, &g_ctVoid}},
  g_intTypes = {1, {&g_ctInt}};
struct ThrowInfo {
    unsigned attributes;
    void* unwind;
    void* forwardCompat;
    void* catchableTypes;
};
ThrowInfo g_fileThrow = {0, nullptr, nullptr, &g_fileTypes};
ThrowInfo g_intThrow = {0, nullptr, nullptr, &g_intTypes};

[[noreturn]] void Raise(void* object, ThrowInfo* info)
{
    const ULONG_PTR args[3] = {0x19930520, reinterpret_cast<ULONG_PTR>(object), reinterpret_cast<ULONG_PTR>(info)};
    RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 3, args);
    for (;;) {
    }
}

struct Tables {
    Tables()
    {
        for (void*& slot : g_fileTable)
            slot = reinterpret_cast<void*>(&Other);
        g_fileTable[0] = reinterpret_cast<void*>(&FileRuntimeClass);
        g_fileTable[5] = reinterpret_cast<void*>(&GetPosition);
        g_fileTable[16] = reinterpret_cast<void*>(&Write);
        for (void*& slot : g_plainTable)
            slot = reinterpret_cast<void*>(&Other);
        g_plainTable[0] = reinterpret_cast<void*>(&PlainRuntimeClass);
        for (void*& slot : g_exceptionTable)
            slot = reinterpret_cast<void*>(&Other);
        g_exceptionTable[1] = reinterpret_cast<void*>(&ExceptionDestructor);
    }
} g_tables;

} // namespace

extern "C" {

void FwInitFile(FwFile* file, std::uint32_t position)
{
    std::memset(file, 0, sizeof *file);
    file->vtable = g_fileTable;
    file->m_hFile = 0xFFFFFFFFu;
    std::memset(file->data, '.', position);
    file->position = position;
}

void* const* FwFileTable() { return g_fileTable; }
FwRuntimeClass* __stdcall FwFileClass() { return &g_fileClass; }

void FwInitPlainObject(FwFile* object)
{
    std::memset(object, 0, sizeof *object);
    object->vtable = g_plainTable;
}

void FwThrowFileException(int cause)
{
    auto* e = static_cast<FwFileException*>(HeapAlloc(GetProcessHeap(), 0, sizeof(FwFileException)));
    e->vtable = g_exceptionTable;
    e->m_bAutoDelete = 1;
    e->m_cause = cause;
    e->m_lOsError = -1;
    FwFileException* thrown = e; // the thrown object: the pointer
    Raise(&thrown, &g_fileThrow);
}

void FwThrowInt(int value) { Raise(&value, &g_intThrow); }

int FwDeletedExceptions() { return g_deleted; }

} // extern "C"
