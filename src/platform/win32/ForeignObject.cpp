#include "platform/win32/ForeignObject.h"

#include <cstring>

#include "platform/win32/WinApi.h"

namespace plat {

bool Readable(const void* address, std::size_t size)
{
    const auto* p = static_cast<const char*>(address);
    if (p == nullptr || size == 0)
        return p != nullptr;
    const char* end = p + size;
    if (end < p)
        return false;
    while (p < end) {
        MEMORY_BASIC_INFORMATION mbi;
        if (VirtualQuery(p, &mbi, sizeof mbi) != sizeof mbi || mbi.State != MEM_COMMIT)
            return false;
        const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                               PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
        if ((mbi.Protect & readable) == 0 || (mbi.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0)
            return false;
        p = static_cast<const char*>(mbi.BaseAddress) + mbi.RegionSize;
    }
    return true;
}

void* ModuleAt(const void* address)
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &module))
        return nullptr;
    return module;
}

std::string ModuleName(void* module)
{
    char path[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(static_cast<HMODULE>(module), path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return std::string();
    std::string name(path, n);
    std::size_t slash = name.find_last_of("\\/");
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

namespace {

bool SameAsciiName(const char* a, const char* b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a + 32) : *a;
        char y = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b + 32) : *b;
        if (x != y)
            return false;
    }
    return *a == *b;
}

} // namespace

bool ModuleImports(void* module, const char* dll)
{
    // A loaded image is mapped whole; every offset is still checked
    // against its size, as a damaged header must not take us elsewhere.
    const auto* base = static_cast<const unsigned char*>(module);
    if (base == nullptr || !Readable(base, sizeof(IMAGE_DOS_HEADER)))
        return false;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0)
        return false;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (!Readable(nt, sizeof *nt) || nt->Signature != IMAGE_NT_SIGNATURE ||
        nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC ||
        nt->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_IMPORT)
        return false;
    const DWORD size = nt->OptionalHeader.SizeOfImage;
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0 || dir.VirtualAddress >= size)
        return false;
    const std::size_t nameMax = std::strlen(dll) + 1;
    for (DWORD at = dir.VirtualAddress; at + sizeof(IMAGE_IMPORT_DESCRIPTOR) <= size;
         at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + at);
        if (!Readable(d, sizeof *d) || d->Name == 0)
            return false;
        if (d->Name >= size || size - d->Name < nameMax || !Readable(base + d->Name, nameMax))
            continue;
        const char* name = reinterpret_cast<const char*>(base + d->Name);
        if (std::memchr(name, '\0', nameMax) != nullptr && SameAsciiName(name, dll))
            return true;
    }
    return false;
}

void* OwnModule()
{
    static void* const own = ModuleAt(reinterpret_cast<const void*>(&OwnModule));
    return own;
}

#if defined(__i386__)

namespace {

constexpr DWORD kCxxThrow = 0xE06D7363;
constexpr DWORD kUnwinding = 0x2 | 0x4; // EH_UNWINDING | EH_EXIT_UNWIND

// The guarded call's state; offsets are fixed by the assembly below.
struct GuardRecord {
    const void* fn;        // 0
    void* self;            // 4
    std::uint32_t count;   // 8
    std::uint32_t args[2]; // 12, 16
    std::uint32_t eax;     // 20
    ForeignRaise* raise;   // 24
};
static_assert(offsetof(GuardRecord, eax) == 20, "the assembly stores EAX there");

// The SEH registration the assembly pushes: the two words the system
// reads, then ours.
struct Registration {
    Registration* prev;
    void* handler;
    GuardRecord* record;
    void* ebp;
};

// The record of a throw of the other compiler (x86): magic, the thrown
// object's address, its ThrowInfo. ThrowInfo: attributes, destructor,
// forward-compat, catchable-type array; that array: count, then
// CatchableType*: properties, TypeDescriptor*, mdisp, pdisp, vdisp, size,
// copy function. TypeDescriptor: vftable, spare, then the decorated name.
void ReadThrow(const EXCEPTION_RECORD* rec, ForeignRaise* out, const void** destroy, void** object)
{
    if (rec->ExceptionCode != kCxxThrow || rec->NumberParameters < 3)
        return;
    const ULONG_PTR magic = rec->ExceptionInformation[0];
    if (magic < 0x19930520 || magic > 0x19930522)
        return;
    out->cxx = true;
    auto* thrown = reinterpret_cast<void*>(rec->ExceptionInformation[1]);
    const auto* info = reinterpret_cast<const std::uint32_t*>(rec->ExceptionInformation[2]);
    if (!Readable(info, 16))
        return;
    *destroy = reinterpret_cast<const void*>(info[1]);
    *object = thrown;
    const auto* types = reinterpret_cast<const std::uint32_t*>(info[3]);
    if (!Readable(types, 4) || types[0] > 64 || !Readable(types + 1, 4 * types[0]))
        return;
    static const char kName[] = ".PAVCFileException@@";
    for (std::uint32_t i = 0; i < types[0]; ++i) {
        const auto* type = reinterpret_cast<const std::int32_t*>(types[1 + i]);
        if (!Readable(type, 28))
            continue;
        const auto* descriptor = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(type[1]));
        // A virtual base (pdisp >= 0) would need the object's vbtable.
        if (!Readable(descriptor, 8 + sizeof kName) || std::memcmp(descriptor + 8, kName, sizeof kName) != 0 ||
            type[3] != -1)
            continue;
        if (!Readable(thrown, 4))
            return;
        const std::uint32_t pointer = *static_cast<const std::uint32_t*>(thrown);
        out->filePointer = true;
        out->thrown = pointer != 0 ? pointer + static_cast<std::uint32_t>(type[2]) : 0;
        *destroy = nullptr; // a pointer has no destructor
        return;
    }
}

} // namespace

extern "C" {
std::uint32_t vexacomm_guarded_call(GuardRecord* record);
void vexacomm_guard_unwind(void* frame, EXCEPTION_RECORD* rec);
[[noreturn]] void vexacomm_guard_resume(void* frame);

// Reached only for what the host's own frames did not handle.
int vexacomm_guard_handler(EXCEPTION_RECORD* rec, void* frame, CONTEXT*, void*)
{
    if ((rec->ExceptionFlags & kUnwinding) != 0)
        return ExceptionContinueSearch;
    auto* reg = static_cast<Registration*>(frame);
    ForeignRaise* out = reg->record->raise;
    *out = ForeignRaise();
    out->raised = true;
    out->code = rec->ExceptionCode;
    const void* destroy = nullptr;
    void* object = nullptr;
    ReadThrow(rec, out, &destroy, &object);
    // The host's frames run their unwind handlers; ours stays.
    vexacomm_guard_unwind(frame, rec);
    // As a catch(...) of that compiler ends: the thrown object is destroyed
    // while its frame still exists.
    if (destroy != nullptr && object != nullptr) {
        ForeignRaise ignored;
        CallMember(destroy, object, nullptr, 0, &ignored);
    }
    vexacomm_guard_resume(frame);
}
}

// One frame of our own round the call: callee-saved registers, then the
// registration (prev, handler, record, ebp) linked into FS:[0]. Every exit
// restores ESP from EBP, so a callee that pops the wrong amount changes
// nothing; the resume path re-enters with EBP and EAX = 1.
__asm__(R"(
    .text
    .globl _vexacomm_guarded_call
_vexacomm_guarded_call:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 8(%ebp), %esi
    pushl %ebp
    pushl %esi
    pushl $_vexacomm_guard_handler
    pushl %fs:0
    movl %esp, %fs:0
    movl 8(%esi), %ecx
    cmpl $2, %ecx
    jb 1f
    pushl 16(%esi)
1:  cmpl $1, %ecx
    jb 2f
    pushl 12(%esi)
2:  movl 4(%esi), %ecx
    cld
    call *(%esi)
    movl 8(%ebp), %esi
    movl %eax, 20(%esi)
    xorl %eax, %eax
.Lvexacomm_guard_done:
    leal -28(%ebp), %esp
    movl (%esp), %ecx
    movl %ecx, %fs:0
    leal -12(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret

    .globl _vexacomm_guard_resume
_vexacomm_guard_resume:
    movl 4(%esp), %edx
    movl 12(%edx), %ebp
    movl $1, %eax
    cld
    jmp .Lvexacomm_guard_done

    .globl _vexacomm_guard_unwind
_vexacomm_guard_unwind:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    pushl $0
    pushl 12(%ebp)
    pushl $3f
    pushl 8(%ebp)
    call _RtlUnwind@16
3:  leal -12(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
)");

std::uint32_t CallMember(const void* fn, void* self, const std::uint32_t* args, unsigned count,
                         ForeignRaise* raise)
{
    GuardRecord record{fn, self, count > 2 ? 2u : count, {0, 0}, 0, raise};
    for (unsigned i = 0; i < record.count; ++i)
        record.args[i] = args[i];
    *raise = ForeignRaise();
    if (vexacomm_guarded_call(&record) != 0)
        return 0;
    return record.eax;
}

#endif // __i386__

} // namespace plat
