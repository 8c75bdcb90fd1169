// Every pointer parameter of every export, given NULL with valid values
// elsewhere: the row list is generated from the installed headers
// (NullArgumentRows.cmake), so a new export is a new row. Each row is its
// own test: a crash takes down that row only.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "VexaCommFile.h"
#include "VexaCommService.h"
#include "doubles/MemoryFile.h"
#include "doubles/TempDir.h"

namespace {

// What NULL in each pointer parameter documentedly gives. "=": NULL means
// nothing there, so the result is the all-valid call's.
const std::map<std::string, std::string> kDocumented = {
    {"DestroyObject", "obj 0"}, {"Connect", "obj 71006 host 87"}, {"SetPacketSizeMax", "obj 71006 size 87"},
    {"GetPacketSizeMax", "obj 0"}, {"GetAsdu10", "obj 71006 file 71200 request 87"},
    {"GetIdent", "obj 0 buffer ="}, {"GetDeviceType", "obj 0"}, {"GetErrorText", "obj = buffer ="},
    {"IsConnected", "obj 0"}, {"SetLogPath", "path 0"}, {"SetWaitLimit", "obj 71006"}, {"GetWaitLimit", "obj 0"},
    {"ConnectPort", "obj 71006 host 87"}, {"SetProgressCallback", "obj 71006 fn 0 user 0"},
    {"DispatchProgress", "obj 0"}, {"CancelTransfer", "obj 71006"}, {"WaitTransferDone", "obj 0"},
    {"GetAsdu10ToPath", "obj 71006 path 71200 request 87"}, {"SetProgressWindow", "obj 71006 window 0"},
    {"GetAsdu10ToCallback", "obj 71006 write 71200 user = request 87"}, {"SetDiagnosticCallback", "fn 0 user 0"},
    {"SetTraceCallback", "obj 71006 fn 0 user 0"}, {"SetTransferCallback", "obj 71006 fn 0 user 0"},
    {"SetCaptureFile", "obj 71006 path 0"}, {"CompressStream", "read 71200 readUser = write 71200 writeUser ="},
    {"DecompressStream", "read 71200 readUser = write 71200 writeUser ="},
    {"TransferRead", "file 6 buffer 87 done ="}, {"TransferWrite", "file 6 data 87"}, {"TransferLength", "file 0"},
    {"ServiceGetFileInfo", "obj 71006 record 87 path 87"},
    {"ServiceGetFileInfoVersion", "obj 71006 record 87 path 87"},
    {"ServiceCreateReceiveFile", "obj 71006 record 87 file 87"},
    {"ServiceOpenSendFile", "obj 71006 record 87 request 87 file 87"},
    {"ServiceCloseTransferFile", "obj 71006 file 0"}, {"ServiceCloseFileOnStatus", "obj 71006 file 0 status 0"},
    {"ServiceListDirectory", "obj 71006 request 87 name 87"}, {"ServiceRunProgramRequest", "obj 71006 request 87"},
    {"ServiceStartProgram", "obj 71006 request 87"}, {"ServiceReplyNotSupported", "obj 71006 request ="},
    {"ServiceSendStatusFlags", "obj 71006"}, {"ServiceClearStatusFlags", "obj 71006"},
    {"ServiceSetStatusFlags", "obj 71006"}, {"ServiceMakeDirectory", "obj 71006 path 87"},
    {"ServiceDeletePath", "obj 71006 path 87"}, {"ServiceSetRoot", "obj 71006 root 0"},
    {"ServiceSetPrograms", "obj 71006 programs 0"},
    {"ReceivePacket", "obj 71006 command = length = payload ="}, {"SendPacket", "obj 71006 payload 87"},
    {"SendReply", "obj 71006"}, {"SetTempDir", "dir 0"},
};

int32_t VEXACOMM_CALL Write(void*, const void*, uint32_t) { return 0; }
int32_t VEXACOMM_CALL Read(void*, void*, uint32_t, uint32_t* got) { return *got = 0; }
void VEXACOMM_CALL Progress(void*, uint32_t, int32_t) {}
void VEXACOMM_CALL Diagnostic(void*, const char*) {}
void VEXACOMM_CALL Trace(void*, int32_t, uint32_t, uint32_t, int32_t, const void*) {}
void VEXACOMM_CALL Transfer(void*, uint64_t, uint64_t) {}

template <class T> struct Tag {};

// The valid value of every parameter but the one under test.
struct Call {
    explicit Call(int n) : nullAt(n) {}
    int nullAt;
    VexaCommObject* obj = VexaComm_CreateObject();
    VexaCommTransfer* transfer = nullptr;
    VexaCommTransfer* handedOut = nullptr;
    MemoryFile file;
    char text[300] = {};
    uint16_t word = 512;
    uint32_t number = 0;
    FileInfoRecord record{};
    FileInfoVersionRecord versionRecord{};
    std::string fileRequest = std::string(12, '\0') + "*.none" + '\0';
    std::string programRequest = std::string(34, '\0') + "absent-program" + '\0';
    const char* programs[1] = {nullptr};
    std::string unknown;

    template <class T> T Get(int i, const char* name)
    {
        if constexpr (std::is_pointer_v<T>)
            if (i == nullAt)
                return nullptr;
        return Valid(Tag<T>{}, name);
    }
    template <class T> T Valid(Tag<T>, const std::string& name)
    {
        static_assert(std::is_integral_v<T>, "a pointer type without a valid value here");
        return static_cast<T>(name == "size" || name == "capacity" ? 300 : name == "count" || name == "length" ? 4
                              : name == "code" ? 71006 : name == "check" || name == "port" ? 1 : 0);
    }
    VexaCommObject* Valid(Tag<VexaCommObject*>, const std::string&) { return obj; }
    VexaCommFile* Valid(Tag<VexaCommFile*>, const std::string&) { return &file; }
    VexaCommTransfer* Valid(Tag<VexaCommTransfer*>, const std::string&) { return transfer; }
    VexaCommTransfer** Valid(Tag<VexaCommTransfer**>, const std::string&) { return &handedOut; }
    char* Valid(Tag<char*>, const std::string&) { return text; }
    void* Valid(Tag<void*>, const std::string&) { return text; }
    const void* Valid(Tag<const void*>, const std::string&) { return text; }
    uint16_t* Valid(Tag<uint16_t*>, const std::string&) { return &word; }
    const uint16_t* Valid(Tag<const uint16_t*>, const std::string&) { return &word; }
    uint32_t* Valid(Tag<uint32_t*>, const std::string&) { return &number; }
    FileInfoRecord* Valid(Tag<FileInfoRecord*>, const std::string&) { return &record; }
    const FileInfoRecord* Valid(Tag<const FileInfoRecord*>, const std::string&) { return &record; }
    FileInfoVersionRecord* Valid(Tag<FileInfoVersionRecord*>, const std::string&) { return &versionRecord; }
    const FileRequest* Valid(Tag<const FileRequest*>, const std::string&)
    {
        return reinterpret_cast<const FileRequest*>(fileRequest.data());
    }
    const ProgramRequest* Valid(Tag<const ProgramRequest*>, const std::string&)
    {
        return reinterpret_cast<const ProgramRequest*>(programRequest.data());
    }
    const char* const* Valid(Tag<const char* const*>, const std::string&) { return programs; }
    VexaCommWriteFn Valid(Tag<VexaCommWriteFn>, const std::string&) { return Write; }
    VexaCommReadFn Valid(Tag<VexaCommReadFn>, const std::string&) { return Read; }
    VexaCommProgressFn Valid(Tag<VexaCommProgressFn>, const std::string&) { return Progress; }
    VexaCommDiagnosticFn Valid(Tag<VexaCommDiagnosticFn>, const std::string&) { return Diagnostic; }
    VexaCommTraceFn Valid(Tag<VexaCommTraceFn>, const std::string&) { return Trace; }
    VexaCommTransferFn Valid(Tag<VexaCommTransferFn>, const std::string&) { return Transfer; }
    // Text parameters by name: files relative to the (scratch) current
    // directory, a loopback host.
    const char* Valid(Tag<const char*>, const std::string& name)
    {
        if (name == "host")
            return "127.38.5.1";
        if (name == "path" || name == "root" || name == "dir")
            return name == "root" ? "." : "made-by-a-row";
        unknown = name;
        return "";
    }
};

template <class R> long long Result(R r)
{
    if constexpr (std::is_pointer_v<R>)
        return r != nullptr;
    else
        return static_cast<long long>(r);
}

struct Row {
    std::string name;
    int index;
    std::string param;
    std::function<long long(Call&)> run;
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name << "(NULL " << row.param << ")"; }

const std::vector<Row>& Rows()
{
    static const std::vector<Row> rows = {
#define NULL_ARGUMENT_EXPORT(name)
#define NULL_ARGUMENT_ROW(name, index, param, call) {#name, index, #param, [](Call& c) { return Result(call); }},
#include "NullArgumentRows.inc"
    };
    return rows;
}

std::vector<std::string> Exports()
{
    std::vector<std::string> names;
#undef NULL_ARGUMENT_EXPORT
#undef NULL_ARGUMENT_ROW
#define NULL_ARGUMENT_EXPORT(name) names.push_back(std::string(#name).substr(9));
#define NULL_ARGUMENT_ROW(name, index, param, call)
#include "NullArgumentRows.inc"
    return names;
}

// "=" or the documented code of NULL in `param`; "" when undocumented.
std::string Documented(const Row& row)
{
    auto found = kDocumented.find(row.name.substr(9));
    std::istringstream words(found != kDocumented.end() ? found->second : "");
    for (std::string param, code; words >> param >> code;)
        if (param == row.param)
            return code;
    return "";
}

class NullArgument : public testing::TestWithParam<Row> {};

TEST_P(NullArgument, GivesItsDocumentedResultAndMakesNothing)
{
    const Row& row = GetParam();
    const std::string documented = Documented(row);
    ASSERT_NE(documented, "") << row.name << ": no documented result for NULL " << row.param;
    namespace fs = std::filesystem;
    TempDir fixtures, temp, cwd;
    const fs::path before = fs::current_path();
    long long valid = 0;
    long long got = 0;
    std::string unknown;
    {
        Call setup(-1);
        Call c(row.index);
        ASSERT_NE(c.obj, nullptr);
        // A transfer file of its own, made before the row looks.
        std::snprintf(c.record.path, sizeof(c.record.path), "%s", fixtures.File("transfer").c_str());
        ASSERT_EQ(VexaComm_ServiceCreateReceiveFile(c.obj, &c.record, &c.transfer), 0);
        setup.transfer = c.transfer;
        std::snprintf(c.record.path, sizeof(c.record.path), "made-by-a-row");
        setup.record = c.record;
        VexaComm_SetTempDir((temp.path() + static_cast<char>(fs::path::preferred_separator)).c_str());
        fs::current_path(cwd.path());
        if (documented == "=")
            valid = row.run(setup);
        got = row.run(c);
        unknown = c.unknown + setup.unknown;
        // Before the objects go, which would delete what they hold.
        EXPECT_TRUE(fs::is_empty(temp.path())) << row.name << " made something in the temporary directory";
        EXPECT_TRUE(fs::is_empty(cwd.path())) << row.name << " made something in the current directory";
        VexaComm_SetDiagnosticCallback(nullptr, nullptr);
        VexaComm_SetTempDir(nullptr);
        fs::current_path(before);
        VexaComm_ServiceCloseTransferFile(c.obj, c.transfer);
        VexaComm_ServiceCloseTransferFile(c.obj, c.handedOut);
        VexaComm_DestroyObject(c.obj);
        VexaComm_DestroyObject(setup.obj);
    }
    ASSERT_EQ(unknown, "") << row.name << ": no valid value for the parameter '" << unknown << "'";
    EXPECT_EQ(got, documented == "=" ? valid : std::stoll(documented)) << row.name << "(NULL " << row.param << ")";
}

INSTANTIATE_TEST_SUITE_P(Exports, NullArgument, testing::ValuesIn(Rows()),
                         [](const testing::TestParamInfo<Row>& info) {
                             return info.param.name.substr(9) + "_" + info.param.param;
                         });

// The table has no entry for an export that the headers no longer declare.
TEST(NullArgumentTable, NamesOnlyDeclaredExports)
{
    const std::vector<std::string> declared = Exports();
    for (const auto& entry : kDocumented)
        EXPECT_NE(std::find(declared.begin(), declared.end(), entry.first), declared.end()) << entry.first;
}

} // namespace
