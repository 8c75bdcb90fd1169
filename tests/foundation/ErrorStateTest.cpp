#include <gtest/gtest.h>

#include "device/DeviceSocket.h"
#include "doubles/DebugCapture.h"
#include "doubles/SocketPair.h"
#include "doubles/Exposed.h"
#include "platform/DiskFile.h"
#include "platform/SystemErrors.h"
#ifndef _WIN32
#include "platform/posix/SocketErrors.h"

#include <netdb.h>
#endif

#include <cerrno>

namespace {

// GBK "unknown error type" and "user verification failed".
const std::string kUnknownGbk = "\xCE\xB4\xD6\xAA\xB4\xED\xCE\xF3\xC0\xE0\xD0\xCD";
const std::string kUserVerifyGbk = "\xD3\xC3\xBB\xA7\xD1\xE9\xD6\xA4\xCA\xA7\xB0\xDC";


// Hosts read system causes as Windows numbers on every platform; the ones
// a file operation's failure most often has, and their literal values.
TEST(SystemErrors, HostsSeeWindowsNumbers)
{
    const struct {
        int err;
        int windows;
    } rows[] = {{ENOENT, 2}, {ENOTDIR, 3}, {EACCES, 5}, {EROFS, 19}, {EEXIST, 183},
                {ENOSPC, 112}, {ENOTEMPTY, 145}, {ENAMETOOLONG, 206}};
    for (const auto& r : rows)
        EXPECT_EQ(plat::SystemErrorFromErrno(r.err), r.windows) << r.err;
#ifndef _WIN32
    // Look-ups in Windows Sockets numbers: not found, try again, no recovery.
    EXPECT_EQ(plat::WsaErrorFromResolver(EAI_NONAME, 0), 11001);
    EXPECT_EQ(plat::WsaErrorFromResolver(EAI_AGAIN, 0), 11002);
    EXPECT_EQ(plat::WsaErrorFromResolver(EAI_FAIL, 0), 11003);
#endif
}

// A failed read, write or close reaches the host as its file exception
// cause; the system's own error numbers, as each platform has them.
TEST(SystemErrors, FileCausesAsHostsReadThem)
{
    const struct {
        long os;
        int cause;
#ifdef _WIN32
    } rows[] = {{2, 2}, {5, 5}, {32, 11}, {33, 12}, {112, 13}, {38, 14}, {1117, 10}};
#else
    } rows[] = {{ENOENT, 2}, {EACCES, 5}, {EWOULDBLOCK, 11}, {ENOSPC, 13}, {EIO, 10}};
#endif
    for (const auto& r : rows)
        EXPECT_EQ(plat::FileExceptionCause(r.os), r.cause) << r.os;
}

TEST(ConnectionObject, StartsClosedWithDefaults)
{
    Exposed<CDeviceSocket> s;
    EXPECT_EQ(s.m_hSocket, kInvalidSocket);
    EXPECT_EQ(s.m_nLastError, 0);
    EXPECT_EQ(s.m_wPacketSizeMax, 16376);
    EXPECT_EQ(s.m_wAckMode, 0);
    EXPECT_EQ(s.m_dwStatusFlags, 0xFFFFFFFFu);
    EXPECT_EQ(s.m_bEnvelopeAllowed, 1);
    EXPECT_EQ(s.m_bPeerEnvelope, 0);
    EXPECT_EQ(s.m_bConnected, 0);
    EXPECT_EQ(s.m_bPostNotify, 0);
    EXPECT_EQ(s.m_hNotifyWnd, nullptr);
    EXPECT_EQ(s.m_tvTimeout.tv_sec, 30);
    EXPECT_EQ(s.m_tvTimeout.tv_usec, 30000);
    EXPECT_EQ(s.m_nBytesReceived, 0u);
    EXPECT_EQ(s.m_nBytesSent, 0u);
    EXPECT_NE(s.m_tLastActivity, 0);
    EXPECT_EQ(s.m_wDeviceType, 0);
    EXPECT_TRUE(s.m_strIdent.empty());
    // Both events start signalled; a poll consumes the signal.
    EXPECT_TRUE(s.m_evCancel.Lock(0));
    EXPECT_FALSE(s.m_evCancel.Lock(0));
    EXPECT_TRUE(s.m_evDone.Lock(0));
}

TEST(ErrorState, LostConnectionCodeClosesAndLogsOneLine)
{
    SocketPair pair;
    Exposed<CDeviceSocket> s;
    s.m_hSocket = pair.TakeLocal();
    s.m_bConnected = TRUE;
    s.m_strIdent = "dev";
    s.m_wDeviceType = 769;
    DebugCapture capture;

    s.SetError(10054);

    EXPECT_EQ(s.m_hSocket, kInvalidSocket);
    EXPECT_EQ(s.m_bConnected, 0);
    EXPECT_EQ(s.m_nLastError, 10054);
    EXPECT_EQ(s.m_wDeviceType, 0);
    EXPECT_TRUE(s.m_strIdent.empty());
    auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "CGLSocket::SetError(10054,CONN-10054 : " + LogForm(kUnknownGbk) + ")\n");
}

TEST(ErrorState, QuietCodesKeepSocketAndLogNothing)
{
    SocketPair pair;
    Exposed<CDeviceSocket> s;
    s.m_hSocket = pair.TakeLocal();
    s.m_bConnected = TRUE;
    DebugCapture capture;

    s.SetError(10060);
    EXPECT_NE(s.m_hSocket, kInvalidSocket);
    s.SetError(0x76337692);
    s.SetError(0);
    EXPECT_NE(s.m_hSocket, kInvalidSocket);
    EXPECT_EQ(s.m_bConnected, 1);
    EXPECT_TRUE(capture.Lines().empty());

    // Any other code is logged but leaves the connection open.
    s.SetError(71003);
    EXPECT_NE(s.m_hSocket, kInvalidSocket);
    EXPECT_EQ(capture.Lines().size(), 1u);
}

TEST(ErrorState, SetErrorOnClosedObjectStillCloses)
{
    Exposed<CDeviceSocket> s;
    s.m_bConnected = TRUE; // inconsistent on purpose: no socket
    s.m_wDeviceType = 2;
    DebugCapture capture;
    s.SetError(0);
    EXPECT_EQ(s.m_bConnected, 0);
    EXPECT_EQ(s.m_wDeviceType, 0);
    EXPECT_TRUE(capture.Lines().empty());
}

TEST(ErrorState, CloseTwiceIsHarmless)
{
    SocketPair pair;
    Exposed<CDeviceSocket> s;
    s.m_hSocket = pair.TakeLocal();
    s.m_nLastError = 71003;
    s.m_wPacketSizeMax = 8192;
    s.Close();
    s.Close();
    EXPECT_EQ(s.m_hSocket, kInvalidSocket);
    // Close keeps the last error and the negotiated values.
    EXPECT_EQ(s.m_nLastError, 71003);
    EXPECT_EQ(s.m_wPacketSizeMax, 8192);
}

TEST(ErrorText, FallbackIsGbkWithUnsignedCode)
{
    Exposed<CGLSocket> s;
    EXPECT_EQ(s.GetErrorString(), "");
    s.m_nLastError = 71002;
    EXPECT_EQ(s.GetErrorString(), "CONN-71002 : " + kUnknownGbk);
    s.m_nLastError = 71305;
    std::string text = s.GetErrorString();
    EXPECT_EQ(text.size(), 25u);
    EXPECT_EQ(text, "CONN-71305 : " + kUnknownGbk);
    s.m_nLastError = -1;
    EXPECT_EQ(s.GetErrorString(), "CONN-4294967295 : " + kUnknownGbk);
}

TEST(ErrorText, DeviceTextForUserVerification)
{
    Exposed<CDeviceSocket> s;
    s.m_nLastError = 75001;
    EXPECT_EQ(s.GetErrorString(), kUserVerifyGbk);
    s.m_nLastError = 75002;
    EXPECT_EQ(s.GetErrorString(), "CONN-75002 : " + kUnknownGbk);
    // The base class knows nothing of the device's text.
    Exposed<CGLSocket> base;
    base.m_nLastError = 75001;
    EXPECT_EQ(base.GetErrorString(), "CONN-75001 : " + kUnknownGbk);
}

} // namespace
