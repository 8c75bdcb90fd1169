// Where the error-text companion CONNERROR.DLL is looked for on Windows:
// beside the host executable, named by the host's first argument cut at its
// last backslash; and that it is released again after every call. (What it
// answers is tested with the engine.)
#include <gtest/gtest.h>

#include "device/DeviceSocket.h"
#include "platform/HostProcess.h"
#include "platform/win32/WinApi.h"
#include "doubles/TempDir.h"
#include "doubles/TestFs.h"
#include "doubles/Exposed.h"

namespace {

const std::string kUnknownGbk = "\xCE\xB4\xD6\xAA\xB4\xED\xCE\xF3\xC0\xE0\xD0\xCD";

// The engine tests' companion lies in "host" beside the test programs.
const std::string kHostDir = ProgramDirectory() + "host";

class ScopedHost {
public:
    explicit ScopedHost(const std::string& path) { plat::OverrideHostFirstArgument(path.c_str()); }
    ~ScopedHost() { plat::OverrideHostFirstArgument(nullptr); }
};

std::string TextFor(std::int32_t code)
{
    Exposed<CGLSocket> s;
    s.m_nLastError = code;
    return s.GetErrorString();
}

TEST(CompanionText, ReleasedAgainAfterEveryCall)
{
    ScopedHost host(kHostDir + "\\fakehost.exe");
    ASSERT_EQ(::GetModuleHandleA((kHostDir + "\\CONNERROR.DLL").c_str()), nullptr);
    EXPECT_EQ(TextFor(71002), "CONN-71002 : no greeting from the peer");
    EXPECT_EQ(::GetModuleHandleA((kHostDir + "\\CONNERROR.DLL").c_str()), nullptr);
}

// Only a backslash ends the directory part: a host path written with
// slashes leaves the bare name, searched the ordinary way (the program's
// own directory first, which holds no companion).
TEST(CompanionText, HostPathIsCutAtTheLastBackslash)
{
    std::string slashed = kHostDir + "\\fakehost.exe";
    for (char& c : slashed) {
        if (c == '\\')
            c = '/';
    }
    ScopedHost host(slashed);
    EXPECT_EQ(TextFor(71002), "CONN-71002 : " + kUnknownGbk);

    TempDir empty;
    ScopedHost elsewhere(empty.File("fakehost.exe"));
    EXPECT_EQ(TextFor(71002), "CONN-71002 : " + kUnknownGbk);
}

// The test program's own first argument names its directory, where no
// companion lies.
TEST(CompanionText, TheRealHostArgumentIsTheProgramPath)
{
    std::string first = plat::HostFirstArgument();
    EXPECT_NE(first.substr(first.find_last_of('\\') + 1).find("foundation_tests"), std::string::npos) << first;
    EXPECT_EQ(TextFor(71002), "CONN-71002 : " + kUnknownGbk);
}

} // namespace
