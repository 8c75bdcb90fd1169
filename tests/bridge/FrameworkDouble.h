// A double of the platform framework's file classes as its compiler lays
// them out, from the published declarations and the compiler's public ABI
// (docs/platform-windows.md): a table pointer first, 4-byte slots, member
// functions thiscall. Built as MFC42.DLL so that the library sees a
// framework module; FrameworkHost.cpp is a host module that imports it.
#pragma once

#include <cstdint>

#ifdef FW_DOUBLE_BUILDING
#define FW_API __declspec(dllexport)
#else
#define FW_API __declspec(dllimport)
#endif
#if defined(__i386__)
#define FW_THISCALL __attribute__((thiscall))
#else
#define FW_THISCALL // the 64-bit library refuses these objects before any call
#endif

// CRuntimeClass of the shared framework builds (the base by function).
struct FwRuntimeClass {
    const char* m_lpszClassName;
    int m_nObjectSize;
    unsigned m_wSchema;
    void* m_pfnCreateObject;
    FwRuntimeClass*(__stdcall* m_pfnGetBaseClass)();
    FwRuntimeClass* m_pNextClass;
};

// CFile's members (table, m_hFile, m_bCloseOnDelete, m_strFileName), then
// the double's memory and counters.
struct FwFile {
    void* const* vtable;
    std::uint32_t m_hFile;
    std::int32_t m_bCloseOnDelete;
    const char* m_strFileName;
    unsigned char data[256];
    std::uint32_t position;
    int getPositionCalls;
    int baseWrites;
    int derivedWrites;
    int otherCalls; // any slot the library must not use
};

// CObject's table word, CException's m_bAutoDelete, CFileException's
// m_cause and m_lOsError (release layout).
struct FwFileException {
    void* const* vtable; // 32-bit: the layout holds there only
    std::int32_t m_bAutoDelete;
    std::int32_t m_cause;
    std::int32_t m_lOsError;
};

constexpr int kFwSlots = 23; // CObject's five, CFile's eighteen

extern "C" {
// A CFile whose table is the framework DLL's; its position starts at
// `position`, with bytes 0..position-1 set to '.'.
FW_API void FwInitFile(FwFile* file, std::uint32_t position);
FW_API void* const* FwFileTable();
FW_API FwRuntimeClass* __stdcall FwFileClass();
// An object of a CObject class that is no CFile.
FW_API void FwInitPlainObject(FwFile* object);
// `throw new CFileException(cause)` as the framework's compiler raises it.
FW_API void FwThrowFileException(int cause);
// `throw value;` of an int: a C++ exception of another type.
FW_API void FwThrowInt(int value);
// CFileException objects deleted through their destructor slot.
FW_API int FwDeletedExceptions();
}
