#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include "platform/win32/WinApi.h"
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "ServiceTestUtil.h"
#include "platform/Process.h"
#include "service/ProgramStart.h"
#include "service/ServiceRecords.h"
#include "doubles/TempDir.h"

namespace {

#ifdef _WIN32
// Beside the test program: the build's paths are the host's, not wine's.
const std::string kChild = ProgramDirectory() + "service_test_child.exe";
using ProcessId = unsigned long;
#else
const std::string kChild = SERVICE_TEST_CHILD;
using ProcessId = pid_t;
#endif

std::vector<std::uint8_t> ProgramRequestBytes(std::uint16_t kind, std::uint8_t flags, std::uint32_t waitMs,
                                              std::uint32_t delayMs, const std::string& command,
                                              const std::string& verb = "")
{
    std::string verbField = verb;
    verbField.resize(16, '\0');
    std::string bytes = U16(kind) + std::string(1, static_cast<char>(flags)) + std::string(1, '\0') + U16(1) +
                        U32(waitMs) + U32(delayMs) + U32(0) + verbField + command + std::string(1, '\0');
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

const ProgramRequest* AsRequest(const std::vector<std::uint8_t>& bytes)
{
    return reinterpret_cast<const ProgramRequest*>(bytes.data());
}

using Clock = std::chrono::steady_clock;

long long MillisSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A process that has ended, reaped or not.
bool ProcessGone(ProcessId pid)
{
#ifdef _WIN32
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr)
        return true;
    bool ended = ::WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
    ::CloseHandle(process);
    return ended;
#else
    for (int i = 0; i < 1000; ++i) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        std::string::size_type close = text.rfind(") ");
        if (text.empty() || (close != std::string::npos && text[close + 2] == 'Z'))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
#endif
}

// What the child's "dump" writes for a program started with `arguments`
// after its path: on Windows the command line as the library passed it,
// then the arguments; on POSIX the argument vector from argument zero.
std::string Dumped(const std::string& program, const std::string& commandLine,
                   const std::vector<std::string>& arguments)
{
    std::string text;
#ifdef _WIN32
    (void)program;
    text = commandLine + "\n";
#else
    (void)commandLine;
    text = program + "\n";
#endif
    for (const std::string& argument : arguments)
        text += argument + "\n";
    return text;
}

TEST(SplitProgramCommand, QuotedAndUnquotedForms)
{
    std::string program;
    std::string line;
    ASSERT_TRUE(SplitProgramCommand("\"/opt/Program Files/t/t\" -a", &program, &line));
    EXPECT_EQ(program, "/opt/Program Files/t/t");
    EXPECT_EQ(line, " -a");
    ASSERT_TRUE(SplitProgramCommand("/opt/t -a", &program, &line));
    EXPECT_EQ(program, "/opt/t");
    EXPECT_EQ(line, " -a");
    ASSERT_TRUE(SplitProgramCommand("\"/opt/a b/t\"", &program, &line));
    EXPECT_EQ(program, "/opt/a b/t");
    EXPECT_EQ(line, "");
    ASSERT_TRUE(SplitProgramCommand("/opt/t", &program, &line));
    EXPECT_EQ(line, "");
    EXPECT_FALSE(SplitProgramCommand("\"/opt/a b/t -a", &program, &line));
}

TEST(SplitCommandLine, WindowsRunTimeRules)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(plat::SplitCommandLine(" -a  b\tc "), (V{"-a", "b", "c"}));
    EXPECT_EQ(plat::SplitCommandLine("\"b c\" d\"e f\"g \"\""), (V{"b c", "de fg", ""}));
    EXPECT_EQ(plat::SplitCommandLine("a\\\\\"b c\" x\\\"y z\\w"), (V{"a\\b c", "x\"y", "z\\w"}));
    EXPECT_EQ(plat::SplitCommandLine(""), V{});
    // The program path: quotes dropped, backslashes plain.
    EXPECT_EQ(plat::FirstProgramArgument("\"C:\\Program Files\\h.exe\" -x"), "C:\\Program Files\\h.exe");
    EXPECT_EQ(plat::FirstProgramArgument("C:\\d\\\"a b\"\\h.exe\ty"), "C:\\d\\a b\\h.exe");
    EXPECT_EQ(plat::FirstProgramArgument(""), "");
}

class ProgramStart : public ::testing::Test {
protected:
    std::string Run(const std::vector<std::uint8_t>& request)
    {
        c.socket.RunProgramRequest(AsRequest(request));
        return c.ReadPacket();
    }

    TempDir tmp;
    ServiceConnection c;
};

TEST_F(ProgramStart, QuotedPathWithBlankGetsItsArguments)
{
    MakeDir(tmp.File("Program Files"));
#ifdef _WIN32
    std::string program = tmp.File("Program Files/child.exe");
    ASSERT_TRUE(::CopyFileA(kChild.c_str(), program.c_str(), TRUE));
#else
    std::string program = tmp.File("Program Files/child");
    ASSERT_EQ(::symlink(kChild.c_str(), program.c_str()), 0);
#endif
    std::string out = tmp.File("out");
    auto request = ProgramRequestBytes(0, 0, 30000, 0, "\"" + program + "\" dump " + out + " -a \"b c\"");
    EXPECT_EQ(Run(request), ReplyBytes(0));
    EXPECT_EQ(ReadWholeFile(out), Dumped(program, " dump " + out + " -a \"b c\"", {"dump", out, "-a", "b c"}));
}

TEST_F(ProgramStart, UnquotedPathEndsAtTheFirstBlank)
{
    std::string out = tmp.File("out");
    auto request = ProgramRequestBytes(0, 0, 0xFFFFFFFF, 0, kChild + " dump " + out + " -a");
    EXPECT_EQ(Run(request), ReplyBytes(0));
    EXPECT_EQ(ReadWholeFile(out), Dumped(kChild, " dump " + out + " -a", {"dump", out, "-a"}));
    EXPECT_EQ(c.socket.m_nLastError, 0);
}

TEST_F(ProgramStart, MissingProgramOrUnclosedQuoteIsABadCommand)
{
    auto missing = ProgramRequestBytes(0, 0, 30000, 0, tmp.File("missing") + " -a");
    EXPECT_EQ(Run(missing), ReplyBytes(71008));
    EXPECT_EQ(c.socket.m_nLastError, 71008);

    std::string out = tmp.File("out");
    auto unclosed = ProgramRequestBytes(0, 0, 30000, 0, "\"" + kChild + " dump " + out);
    EXPECT_EQ(Run(unclosed), ReplyBytes(71008));
    EXPECT_FALSE(PathExists(out));

    auto directory = ProgramRequestBytes(0, 0, 30000, 0, tmp.path());
    EXPECT_EQ(Run(directory), ReplyBytes(71008));
}

TEST_F(ProgramStart, FileThatCannotBeExecutedFailsToStart)
{
    std::string plain = tmp.File("plain");
    WriteWholeFile(plain, "not a program");
    EXPECT_EQ(Run(ProgramRequestBytes(0, 0, 30000, 0, plain)), ReplyBytes(71007));
    EXPECT_EQ(Run(ProgramRequestBytes(0, PROG_NO_WAIT, 30000, 0, plain)), ReplyBytes(71007));
}

TEST_F(ProgramStart, ProgramThatOutlivesItsWaitIsTerminated)
{
    std::string pids = tmp.File("pids");
    auto start = Clock::now();
    EXPECT_EQ(Run(ProgramRequestBytes(0, 0, 2000, 0, kChild + " sleep " + pids)), ReplyBytes(71009));
    EXPECT_GE(MillisSince(start), 2000);
    EXPECT_LT(MillisSince(start), 60000);
    // The program and the process it started share its group and its end.
    if (PathExists(pids)) {
        std::istringstream in(ReadWholeFile(pids));
        ProcessId first = 0;
        ProcessId second = 0;
        in >> first >> second;
        EXPECT_TRUE(ProcessGone(first));
        EXPECT_TRUE(ProcessGone(second));
    }
}

TEST_F(ProgramStart, NoWaitRepliesBeforeTheProgramEnds)
{
    std::string gate = tmp.File("gate");
    std::string out = tmp.File("out");
    auto request = ProgramRequestBytes(0, PROG_NO_WAIT, 0xFFFFFFFF, 0, kChild + " waitfor " + gate + " " + out);
    EXPECT_EQ(Run(request), ReplyBytes(0));
    EXPECT_FALSE(PathExists(out));
    WriteWholeFile(gate, "");
    EXPECT_TRUE(WaitForPath(out));
}

TEST_F(ProgramStart, DelayComesAfterTheExistenceTest)
{
    auto start = Clock::now();
    EXPECT_EQ(Run(ProgramRequestBytes(0, PROG_DELAY, 30000, 60000, tmp.File("missing"))), ReplyBytes(71008));
    EXPECT_LT(MillisSince(start), 30000);

    start = Clock::now();
    std::string out = tmp.File("out");
    EXPECT_EQ(Run(ProgramRequestBytes(0, PROG_DELAY, 30000, 500, kChild + " dump " + out)), ReplyBytes(0));
    EXPECT_GE(MillisSince(start), 500);
    EXPECT_TRUE(PathExists(out));
}

// An allow-list starts only what it names, compared after resolution, and
// nothing through the shell; the rest is answered with 5 and never started.
TEST_F(ProgramStart, AllowListStartsOnlyListedPrograms)
{
    const std::string out = tmp.File("out");
    const char* listed[] = {kChild.c_str(), nullptr};
    const char* missing[] = {kChild.c_str(), "/nonexistent/program", nullptr};
    ASSERT_EQ(c.socket.SetServicePrograms(listed), TRUE);
    EXPECT_EQ(c.socket.SetServicePrograms(missing), FALSE);
    EXPECT_EQ(c.socket.m_nLastError, 2);
    std::string alias = kChild;
#ifndef _WIN32
    alias = tmp.File("alias");
    ASSERT_EQ(::symlink(kChild.c_str(), alias.c_str()), 0);
#endif
    EXPECT_EQ(Run(ProgramRequestBytes(0, 0, 30000, 0, alias + " dump " + out)), ReplyBytes(0));
    EXPECT_TRUE(PathExists(out));
    for (const std::string& refused : {tmp.File("missing") + " dump " + out + "2", tmp.path()})
        EXPECT_EQ(Run(ProgramRequestBytes(0, 0, 30000, 0, refused)), ReplyBytes(5)) << refused;
    EXPECT_EQ(Run(ProgramRequestBytes(0, PROG_SHELL, 30000, 0, kChild)), ReplyBytes(5));
    const char* none[] = {nullptr};
    ASSERT_EQ(c.socket.SetServicePrograms(none), TRUE);
    EXPECT_EQ(Run(ProgramRequestBytes(0, 0, 30000, 0, kChild + " dump " + out + "2")), ReplyBytes(5));
    EXPECT_FALSE(PathExists(out + "2"));
    ASSERT_EQ(c.socket.SetServicePrograms(nullptr), TRUE);
    EXPECT_EQ(Run(ProgramRequestBytes(0, 0, 30000, 0, kChild + " dump " + out + "2")), ReplyBytes(0));
}

#ifdef _WIN32
// The shell opens documents by their registered association: the test
// registers the child as the opener of an extension of its own (one per
// test process, as tests run in parallel and the registry is shared). Wine
// reads associations from HKEY_CLASSES_ROOT only (on Windows writing there
// needs an administrator).
class ShellStart : public ProgramStart {
protected:
    void SetUp() override
    {
        std::string id = std::to_string(::GetCurrentProcessId());
        m_extension = ".vexacomm" + id;
        m_class = "VexaCommTest" + id + ".Document";
        std::string command = "\"" + kChild + "\" opener \"%1\"";
        ASSERT_TRUE(SetDefault(m_extension, m_class));
        ASSERT_TRUE(SetDefault(m_class + "\\shell\\open\\command", command));
        m_document = tmp.File("my doc" + m_extension);
        WriteWholeFile(m_document, "doc");
    }
    void TearDown() override
    {
        ::RegDeleteTreeA(HKEY_CLASSES_ROOT, m_class.c_str());
        ::RegDeleteTreeA(HKEY_CLASSES_ROOT, m_extension.c_str());
    }

    static bool SetDefault(const std::string& key, const std::string& value)
    {
        HKEY handle;
        if (::RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle,
                              nullptr) != ERROR_SUCCESS)
            return false;
        LONG rc = ::RegSetValueExA(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>(value.size() + 1));
        ::RegCloseKey(handle);
        return rc == ERROR_SUCCESS;
    }

    std::string m_extension;
    std::string m_class;
    std::string m_document;
};

TEST_F(ShellStart, QuotedDocumentOpensWithTheDefaultVerbAfterTheDelay)
{
    std::string command = "\"" + m_document + "\"";
    auto start = Clock::now();
    EXPECT_EQ(Run(ProgramRequestBytes(0, PROG_SHELL | PROG_DELAY, 30000, 500, command)), ReplyBytes(0));
    EXPECT_GE(MillisSince(start), 500);
    ASSERT_TRUE(WaitForContent(m_document + ".out"));
    EXPECT_EQ(ReadWholeFile(m_document + ".out"), m_document + "\n");
}

// The shell takes the whole command, arguments included, for the name of
// the file to open; no such file exists (SE_ERR_FNF).
TEST_F(ShellStart, ArgumentsBecomePartOfTheFileName)
{
    std::string command = "\"" + m_document + "\" -p";
    EXPECT_EQ(Run(ProgramRequestBytes(0, PROG_SHELL, 30000, 0, command)), ReplyBytes(2));
    EXPECT_FALSE(PathExists(m_document + ".out"));
}

TEST_F(ShellStart, FailuresGiveShellValues)
{
    std::string document = "\"" + m_document + "\"";
    EXPECT_EQ(Run(ProgramRequestBytes(0, PROG_SHELL, 30000, 0, document, "print")), ReplyBytes(31));
    EXPECT_EQ(Run(ProgramRequestBytes(0, PROG_SHELL, 30000, 0, tmp.File("missing.txt"))), ReplyBytes(71008));
    std::string unknown = tmp.File("plain.unknownext");
    WriteWholeFile(unknown, "x");
    EXPECT_EQ(Run(ProgramRequestBytes(0, PROG_SHELL, 30000, 0, unknown, "open")), ReplyBytes(31));
    EXPECT_FALSE(PathExists(m_document + ".out"));
}
#else
class ShellStart : public ProgramStart {
protected:
    void SetUp() override
    {
        m_opener = tmp.File("fake-opener");
        ASSERT_EQ(::symlink(kChild.c_str(), m_opener.c_str()), 0);
        plat::OverrideDocumentOpener(m_opener.c_str());
        m_document = tmp.File("my doc.txt");
        WriteWholeFile(m_document, "doc");
    }
    void TearDown() override { plat::OverrideDocumentOpener(nullptr); }

    std::string m_opener;
    std::string m_document;
};

TEST_F(ShellStart, OpenerGetsTheWholeCommandAsOneArgument)
{
    std::string command = "\"" + m_document + "\" -p";
    auto start = Clock::now();
    EXPECT_EQ(Run(ProgramRequestBytes(0, PROG_SHELL | PROG_DELAY, 30000, 500, command)), ReplyBytes(0));
    EXPECT_GE(MillisSince(start), 500);
    ASSERT_TRUE(WaitForContent(m_opener + ".out"));
    EXPECT_EQ(ReadWholeFile(m_opener + ".out"), command + "\n");
}

TEST_F(ShellStart, FailuresGiveShellValues)
{
    std::string document = "\"" + m_document + "\"";
    EXPECT_EQ(Run(ProgramRequestBytes(0, PROG_SHELL, 30000, 0, document, "print")), ReplyBytes(31));
    EXPECT_EQ(Run(ProgramRequestBytes(0, PROG_SHELL, 30000, 0, tmp.File("missing.txt"))), ReplyBytes(71008));
    plat::OverrideDocumentOpener(tmp.File("no-opener").c_str());
    EXPECT_EQ(Run(ProgramRequestBytes(0, PROG_SHELL, 30000, 0, document, "open")), ReplyBytes(31));
    EXPECT_FALSE(PathExists(m_opener + ".out"));
}
#endif

TEST_F(ProgramStart, OtherKindsAreNotSupported)
{
    for (std::uint16_t kind : {1, 2, 3, 0xFFFF}) {
        std::string out = tmp.File("out");
        EXPECT_EQ(Run(ProgramRequestBytes(kind, 0, 30000, 0, kChild + " dump " + out)), ReplyBytes(71305)) << kind;
        EXPECT_FALSE(PathExists(out));
    }
}

} // namespace
