// Error texts from the companion library or the fallback format, and the
// diagnostic line that SetError writes.
#include <vector>

#include "platform/DebugOutput.h"
#include "platform/DynamicLibrary.h"
#include "doubles/DebugCapture.h"
#include "socket/SocketTestSupport.h"
#include "doubles/TempDir.h"
#include "doubles/TestFs.h"
#include "doubles/Exposed.h"

namespace {

#ifdef _WIN32
// Beside the test programs, in the directory of the C host test.
const std::string kCompanionDir = ProgramDirectory() + "host";
#else
const std::string kCompanionDir = CONNERROR_DIR;
#endif
const std::string kCompanionHost = kCompanionDir + kSep + "fakehost";

std::string TextFor(std::int32_t code)
{
    Exposed<CGLSocket> sock;
    sock.m_nLastError = code;
    return sock.GetErrorString();
}

TEST(ErrorText, CompanionSuppliesTheText)
{
    ScopedHostArgument host(kCompanionHost);
    EXPECT_EQ(TextFor(COMM_ERR_NO_GREETING), "CONN-71002 : no greeting from the peer");
}

TEST(ErrorText, NullOrEmptyAnswerFallsBack)
{
    ScopedHostArgument host(kCompanionHost);
    EXPECT_EQ(TextFor(COMM_ERR_UNEXPECTED_REPLY), FallbackText(COMM_ERR_UNEXPECTED_REPLY));
    EXPECT_EQ(TextFor(COMM_ERR_PEER_CANCELLED), FallbackText(COMM_ERR_PEER_CANCELLED));
}

TEST(ErrorText, MissingCompanionFallsBack)
{
    TempDir empty;
    ScopedHostArgument host(empty.File("fakehost"));
    EXPECT_EQ(TextFor(COMM_ERR_NO_GREETING), "CONN-71002 : \xCE\xB4\xD6\xAA\xB4\xED\xCE\xF3\xC0\xE0\xD0\xCD");
    // Codes are shown unsigned.
    EXPECT_EQ(TextFor(-1), FallbackText(4294967295u));
}

TEST(ErrorText, NoErrorHasNoTextAndAsksNoLibrary)
{
    ScopedHostArgument host(kCompanionHost);
    // Held open here so that its call counter survives the engine's
    // load-and-release on every call.
    plat::LibraryHandle companion = plat::OpenLibrary((kCompanionDir + kSep + "CONNERROR.DLL").c_str());
    ASSERT_NE(companion, nullptr);
    auto calls = reinterpret_cast<int (*)()>(plat::LibrarySymbol(companion, "CompanionCallCount"));
    ASSERT_NE(calls, nullptr);

    int before = calls();
    EXPECT_EQ(TextFor(0), "");
    EXPECT_EQ(calls(), before);
    EXPECT_EQ(TextFor(COMM_ERR_NO_GREETING), "CONN-71002 : no greeting from the peer");
    EXPECT_EQ(calls(), before + 1);
    plat::CloseLibrary(companion);
}

TEST(ErrorText, SendReplyCutsALongCompanionText)
{
    ScopedHostArgument host(kCompanionHost);
    TestPeer peer("127.3.5.1", 0, [](TestPeer&) {});
    Exposed<CGLSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    EXPECT_TRUE(sock.SendReply(COMM_ERR_EXEC_TIMEOUT));
    sock.Close();
    peer.Join();
    std::string text = "CONN-71009 : " + std::string(300, 'E');
    text.resize(255);
    EXPECT_EQ(wire::Hex(peer.Received()),
              wire::Hex(wire::Bare(CMD_REPLY, wire::ReplyPayload(COMM_ERR_EXEC_TIMEOUT, text))));
}

std::vector<std::string>* g_lines = nullptr;
void CaptureLine(const char* text, void*) { g_lines->push_back(text); }

TEST(ErrorText, SetErrorLogsAllButTheQuietCodes)
{
    ScopedHostArgument host(kCompanionHost);
    std::vector<std::string> lines;
    g_lines = &lines;
    plat::SetDebugHook(&CaptureLine, nullptr);

    TestPeer peer("127.3.5.2", 0, [](TestPeer&) {});
    Exposed<CGLSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    sock.m_bConnected = TRUE;
    sock.SetError(0);
    sock.SetError(10060);
    sock.SetError(COMM_CODE_ENVELOPE_ON);
    EXPECT_TRUE(lines.empty());
    EXPECT_NE(sock.m_hSocket, kInvalidSocket);
    EXPECT_TRUE(sock.m_bConnected);

    sock.SetError(10054);
    EXPECT_EQ(sock.m_hSocket, kInvalidSocket);
    EXPECT_FALSE(sock.m_bConnected);
    sock.SetError(COMM_ERR_UNEXPECTED_REPLY);
    plat::SetDebugHook(nullptr, nullptr);
    g_lines = nullptr;
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "CGLSocket::SetError(10054,CONN-10054 : connection reset)\n",
                         "CGLSocket::SetError(71003," + LogForm(FallbackText(71003)) + ")\n"}));
}

} // namespace
