#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <io.h>

#include "platform/win32/WinApi.h"
#else
#include <fcntl.h>
#endif

#include "device/DeviceSocket.h"
#include "platform/FileOps.h"
#include "doubles/DebugCapture.h"
#include "support/DebugLog.h"
#include "doubles/TempDir.h"
#include "doubles/Exposed.h"

namespace {

class LogPathGuard {
public:
    explicit LogPathGuard(const std::string& path) { SetLogPath(path.c_str()); }
    ~LogPathGuard() { SetLogPath(nullptr); }
};

// The log file is written in text mode: a line feed is stored as carriage
// return and line feed on Windows, unchanged elsewhere.
#ifdef _WIN32
const std::string kLineEnd = "\r\n";
#else
const std::string kLineEnd = "\n";
#endif

// Lines without their ends; every line must end with kLineEnd.
std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string::size_type begin = 0;
    while (begin < text.size()) {
        std::string::size_type end = text.find(kLineEnd, begin);
        EXPECT_NE(end, std::string::npos) << "unterminated last line";
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(begin, end - begin);
        EXPECT_EQ(line.find('\n'), std::string::npos) << "bare line feed in " << line;
        lines.push_back(line);
        begin = end + kLineEnd.size();
    }
    return lines;
}

TEST(DebugLog, NoPathWritesNoFile)
{
    TempDir dir;
    DebugCapture capture;
    std::int32_t before = LogLineCount();
    DebugLog("value %d\n", 7);
    EXPECT_EQ(LogLineCount(), before);
    ASSERT_EQ(capture.Lines().size(), 1u);
    EXPECT_EQ(capture.Lines()[0], "value 7\n");
}

TEST(DebugLog, LinesOfEveryLengthArriveWhole)
{
    DebugCapture capture;
    for (std::size_t length : {511u, 512u, 513u, 4000u}) {
        std::string text(length - 1, 'a');
        text += '\n';
        DebugLog("%s", text.c_str());
        ASSERT_FALSE(capture.Lines().empty());
        EXPECT_EQ(capture.Lines().back(), text) << length;
    }
}

TEST(DebugLog, HeaderedLinesAreNumberedAndTimeStamped)
{
    TempDir dir;
    std::string path = dir.File("log.txt");
    LogPathGuard guard(path);
    DebugCapture capture;
    std::int32_t first = LogLineCount() + 1;

    Exposed<CDeviceSocket> a, b;
    a.SetError(71002);
    b.SetError(75001);
    b.SetError(10060); // not logged

    auto lines = SplitLines(ReadWholeFile(path));
    ASSERT_EQ(lines.size(), 2u);
    char expected[16];
    std::snprintf(expected, sizeof(expected), "[%010d]", first);
    EXPECT_EQ(lines[0].substr(0, 12), expected);
    std::regex header(R"(\[\d{10}\]\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] -- CGLSocket::SetError\(.*)");
    EXPECT_TRUE(std::regex_match(lines[0], header)) << lines[0];
    EXPECT_NE(lines[0].find("SetError(71002,CONN-71002 : "), std::string::npos);
    EXPECT_NE(lines[1].find(LogForm("SetError(75001,\xD3\xC3\xBB\xA7\xD1\xE9\xD6\xA4\xCA\xA7\xB0\xDC)")),
              std::string::npos);
    EXPECT_EQ(LogLineCount(), first + 1);
    EXPECT_EQ(LogResult(), first + 1);
}

TEST(DebugLog, UnopenablePathKeepsCountAndNextLineTakesNextNumber)
{
    TempDir dir;
    std::int32_t before = LogLineCount();
    std::int32_t result = LogResult();
    EXPECT_EQ(AppendLogFile("x\n", dir.File("missing/dir/log.txt").c_str(), TRUE), result);
    EXPECT_EQ(LogLineCount(), before);

    std::string path = dir.File("log.txt");
    EXPECT_EQ(AppendLogFile("y\n", path.c_str(), TRUE), before + 1);
    char expected[16];
    std::snprintf(expected, sizeof(expected), "[%010d]", before + 1);
    EXPECT_EQ(ReadWholeFile(path).substr(0, 12), expected);
}

TEST(DebugLog, WithoutHeaderOnlyTheText)
{
    TempDir dir;
    std::string path = dir.File("plain.txt");
    std::int32_t before = LogLineCount();
    EXPECT_EQ(AppendLogFile("abc", path.c_str(), FALSE), before);
    EXPECT_EQ(AppendLogFile("def\n", path.c_str(), FALSE), before);
    EXPECT_EQ(ReadWholeFile(path), "abcdef" + kLineEnd);
    EXPECT_EQ(LogLineCount(), before);
}

TEST(DebugLog, ConcurrentObjectsGetDistinctGapFreeNumbers)
{
    TempDir dir;
    std::string path = dir.File("log.txt");
    LogPathGuard guard(path);
    DebugCapture capture; // keeps stderr quiet
    const int kThreads = 8, kLines = 1000;
    std::int32_t first = LogLineCount() + 1;

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            Exposed<CDeviceSocket> s;
            for (int i = 0; i < kLines; ++i)
                s.SetError(80000 + t);
        });
    }
    for (auto& th : threads)
        th.join();

    auto lines = SplitLines(ReadWholeFile(path));
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    std::set<int> numbers;
    std::regex line(R"(\[(\d{10})\]\[[^\]]+\] -- CGLSocket::SetError\((\d+),CONN-(\d+) : .*\))");
    for (const std::string& l : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, line)) << l;
        EXPECT_EQ(m[2].str(), m[3].str()) << "line text mixed between threads: " << l;
        numbers.insert(std::stoi(m[1].str()));
    }
    EXPECT_EQ(numbers.size(), static_cast<size_t>(kThreads * kLines));
    EXPECT_EQ(*numbers.begin(), first);
    EXPECT_EQ(*numbers.rbegin(), first + kThreads * kLines - 1);
}

// The log stream is opened while other threads may start programs.
TEST(LogFile, StreamIsNeverInherited)
{
    TempDir tmp;
    std::FILE* f = plat::OpenUninheritedStream(tmp.File("log.txt").c_str(), "a");
    ASSERT_NE(f, nullptr);
#ifdef _WIN32
    DWORD flags = HANDLE_FLAG_INHERIT;
    ::GetHandleInformation(reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(f))), &flags);
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
#else
    EXPECT_NE(::fcntl(::fileno(f), F_GETFD) & FD_CLOEXEC, 0);
#endif
    std::fclose(f);
}

} // namespace
