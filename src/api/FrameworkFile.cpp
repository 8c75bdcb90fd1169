#include "api/FrameworkFile.h"

#include "VexaCommLib.h"
#include "device/DeviceSocket.h"

#if defined(_WIN32)

#include <cstring>
#include <string>

#include "platform/win32/ForeignObject.h"

namespace {

// The framework's DLLs: shared release and debug, ANSI and Unicode. The
// Unicode ones differ only in TCHAR arguments, none of which we pass.
struct FrameworkDll {
    const char* name;
    bool debug;
};
constexpr FrameworkDll kFrameworkDlls[] = {
    {"MFC42.DLL", false}, {"MFC42U.DLL", false}, {"MFC42D.DLL", true}, {"MFC42UD.DLL", true}};

enum class Framework { None, Release, Debug };

bool SameName(const std::string& a, const char* b)
{
    if (a.size() != std::strlen(b))
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
        if (x != b[i])
            return false;
    }
    return true;
}

// Whether the image is one of the framework's DLLs or imports one: code
// of the framework's compiler, laid out as the framework's classes are.
Framework FrameworkOf(void* module)
{
    const std::string name = plat::ModuleName(module);
    for (const FrameworkDll& dll : kFrameworkDlls) {
        if (SameName(name, dll.name))
            return dll.debug ? Framework::Debug : Framework::Release;
    }
    for (const FrameworkDll& dll : kFrameworkDlls) {
        if (plat::ModuleImports(module, dll.name))
            return dll.debug ? Framework::Debug : Framework::Release;
    }
    return Framework::None;
}

// Our compiler family's table is preceded by the offset to the top (0 for
// a primary table) and the type-info record (or 0 without RTTI), whose
// second word is the class's mangled name.
bool OurTableShape(const void* const* table)
{
    if (!plat::Readable(table - 2, 2 * sizeof(void*)) || table[-2] != nullptr)
        return false;
    const void* info = table[-1];
    if (info == nullptr)
        return true;
    if (!plat::Readable(info, 2 * sizeof(void*)) || plat::ModuleAt(info) == nullptr)
        return false;
    const char* name = static_cast<const char* const*>(info)[1];
    if (!plat::Readable(name, 2) || plat::ModuleAt(name) == nullptr)
        return false;
    // '*' marks a class of internal linkage.
    const char c = name[0] == '*' ? name[1] : name[0];
    return (c >= '1' && c <= '9') || c == 'N';
}

bool IsOurs(void* module, const void* const* table)
{
    void* own = plat::OwnModule();
    if (own == nullptr)
        return false;
    if (module != own && !plat::ModuleImports(module, plat::ModuleName(own).c_str()))
        return false;
    return OurTableShape(table);
}

} // namespace

#if defined(__i386__)

namespace {

// Slots of the framework's CFile table (4-byte entries): CObject's
// GetRuntimeClass 0, destructor 1, Serialize 2, AssertValid 3, Dump 4;
// then CFile's own in declaration order: GetPosition 5, ... Write 16.
constexpr unsigned kGetRuntimeClassSlot = 0;
constexpr unsigned kDestructorSlot = 1;
constexpr unsigned kGetPositionSlot = 5;
constexpr unsigned kWriteSlot = 16;
// CException: table, m_bAutoDelete, (debug only) m_bReadyForDelete; then
// CFileException's m_cause.
constexpr std::size_t kAutoDeleteOffset = 4;
constexpr std::size_t kReadyForDeleteOffset = 8;

struct ForeignException {
    std::uint32_t code;
};

void* const* TableOf(const void* object)
{
    return *static_cast<void* const* const*>(object);
}

// Is the object's class CFile or derived from it? Asked of its run-time
// class record (GetRuntimeClass, then each base's m_pfnGetBaseClass, a
// __stdcall function, as the shared framework builds have it).
bool IsFrameworkFile(void* object)
{
    void* const* table = TableOf(object);
    if (!plat::Readable(table, (kWriteSlot + 1) * sizeof(void*)))
        return false;
    plat::ForeignRaise raise;
    auto* record = reinterpret_cast<const std::uint32_t*>(
        plat::CallMember(table[kGetRuntimeClassSlot], object, nullptr, 0, &raise));
    for (int depth = 0; depth < 64 && !raise.raised && record != nullptr; ++depth) {
        // m_lpszClassName, m_nObjectSize, m_wSchema, m_pfnCreateObject, m_pfnGetBaseClass
        if (!plat::Readable(record, 5 * sizeof(std::uint32_t)))
            return false;
        const auto* name = reinterpret_cast<const char*>(record[0]);
        if (plat::Readable(name, 6) && std::memcmp(name, "CFile", 6) == 0)
            return true;
        const auto* base = reinterpret_cast<const void*>(record[4]);
        if (base == nullptr || plat::ModuleAt(base) == nullptr)
            return false;
        record = reinterpret_cast<const std::uint32_t*>(plat::CallMember(base, nullptr, nullptr, 0, &raise));
    }
    return false;
}

// What the framework's CException::Delete does: when m_bAutoDelete, the
// virtual (scalar deleting) destructor with flag 1, in the exception's own
// module and heap. False (nothing touched) when the object's layout
// cannot be told.
bool TakeFrameworkCause(std::uintptr_t thrown, std::int32_t* cause)
{
    if (thrown == 0) {
        *cause = CFileException::genericException;
        return true;
    }
    auto* e = reinterpret_cast<unsigned char*>(thrown);
    if (!plat::Readable(e, sizeof(void*)))
        return false;
    void* const* table = TableOf(e);
    void* module = plat::ModuleAt(table);
    const Framework kind = module != nullptr ? FrameworkOf(module) : Framework::None;
    if (kind == Framework::None || !plat::Readable(table, (kDestructorSlot + 1) * sizeof(void*)))
        return false;
    const std::size_t causeOffset = kind == Framework::Debug ? 12 : 8;
    if (!plat::Readable(e, causeOffset + 4))
        return false;
    std::int32_t value;
    std::int32_t autoDelete;
    std::memcpy(&value, e + causeOffset, 4);
    std::memcpy(&autoDelete, e + kAutoDeleteOffset, 4);
    if (autoDelete > 0) {
        // The debug framework's delete checks that Delete() marked it.
        if (kind == Framework::Debug) {
            const std::int32_t ready = 1;
            std::memcpy(e + kReadyForDeleteOffset, &ready, 4);
        }
        const std::uint32_t deleteFlag = 1;
        plat::ForeignRaise ignored;
        plat::CallMember(table[kDestructorSlot], e, &deleteFlag, 1, &ignored);
    }
    // Cause 0 would read as success: a generic failure, as the bridge has it.
    *cause = value != 0 ? value : static_cast<std::int32_t>(CFileException::genericException);
    return true;
}

[[noreturn]] void Rethrow(const plat::ForeignRaise& raise)
{
    std::int32_t cause = 0;
    if (raise.filePointer && TakeFrameworkCause(raise.thrown, &cause))
        throw new CFileException(cause);
    // Caught by the engine's catch-all: 71011, the stream abandoned.
    throw ForeignException{raise.code};
}

} // namespace

void CHostFile::CFrameworkFile::Write(const void* buffer, uint32_t count)
{
    const std::uint32_t args[2] = {static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(buffer)), count};
    plat::ForeignRaise raise;
    plat::CallMember(TableOf(m_object)[kWriteSlot], m_object, args, 2, &raise);
    if (raise.raised)
        Rethrow(raise);
}

uint32_t CHostFile::CFrameworkFile::GetPosition() const
{
    plat::ForeignRaise raise;
    std::uint32_t position = plat::CallMember(TableOf(m_object)[kGetPositionSlot], m_object, nullptr, 0, &raise);
    if (raise.raised)
        Rethrow(raise);
    return position;
}

#endif // __i386__

CHostFile::CHostFile(CFile* file)
{
    if (file == nullptr) {
        m_target = file; // the engine's answer for no file, as before
        m_refused = false;
        return;
    }
    // Nothing is called before the table's module has said what it is.
    if (!plat::Readable(file, sizeof(void*)))
        return;
    void* const* table = *reinterpret_cast<void* const* const*>(file);
    void* module = plat::ModuleAt(table);
    if (module == nullptr)
        return;
    if (FrameworkOf(module) != Framework::None) {
#if defined(__i386__)
        if (IsFrameworkFile(file)) {
            m_framework.Attach(file);
            m_target = &m_framework;
            m_refused = false;
        }
#endif
        // 64-bit: the framework's shared DLLs named are 32-bit only.
        return;
    }
    if (IsOurs(module, table)) {
        m_target = file;
        m_refused = false;
    }
}

#else // !_WIN32

// One ABI on these systems: every host object is ours.
CHostFile::CHostFile(CFile* file) : m_target(file), m_refused(false) {}

#endif

// Ordinal 6's work, under its object lock (api/Exports.cpp); C linkage, as
// declared there. A refusal sends nothing and leaves the connection as it was.
extern "C" BOOL FetchIntoHostFile(CDeviceSocket& s, CFile* file, const void* request)
{
    CHostFile host(file);
    if (host.Refused()) {
        s.StoreError(VEXACOMM_ERR_FILE_UNRECOGNISED);
        return FALSE;
    }
    return s.GetAsdu10(host.Target(), request);
}
