// The version resources of the shipped DLL and program, read as the library
// reads any file's version (the FileVersion of the Chinese (PRC) Unicode
// string table) through the public export, on the DLL this program loaded.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/win32/WinApi.h"

#include "VexaCommService.h"
#include "device/SimulatedDevice.h"

namespace {

std::string VersionOf(const std::string& path)
{
    Object obj = NewObject();
    FileInfoVersionRecord record;
    std::memset(&record, 0xAB, sizeof(record));
    EXPECT_EQ(VexaComm_ServiceGetFileInfoVersion(obj.get(), &record, path.c_str()), 0) << path;
    return std::string(record.version, strnlen(record.version, sizeof(record.version)));
}

} // namespace

TEST(VersionResource, TheLibraryAndTheProgramCarryTheProjectVersion)
{
    HMODULE dll = ::GetModuleHandleA("VexaCommLib.dll");
    ASSERT_NE(dll, nullptr);
    char path[MAX_PATH];
    DWORD length = ::GetModuleFileNameA(dll, path, sizeof(path));
    ASSERT_TRUE(length > 0 && length < sizeof(path));
    EXPECT_EQ(VersionOf(path), VEXACOMM_FILE_VERSION) << path;
    EXPECT_EQ(VersionOf(VEXACOMM_PROGRAM), VEXACOMM_FILE_VERSION) << VEXACOMM_PROGRAM;
}
