// The connection's life: construction, the recorded error and what it
// closes, the header of the packet buffer.
#include "vexacomm/GLSocket.h"

#include <cstddef>
#include <cstring>

#include "platform/Clock.h"
#include "platform/DebugOutput.h"
#include "platform/Socket.h"
#include "socket/WireCapture.h"
#include "support/DebugLog.h"

static_assert(sizeof(CGLSocket) == sizeof(CPacketSocket), "the answering side adds no state");
#if defined(_WIN64)
static_assert(sizeof(CGLSocket) == 16632, "the layout derived hosts are built against");
#elif defined(_WIN32)
static_assert(sizeof(CGLSocket) == 16568, "the layout derived hosts are built against");
#elif defined(__x86_64__) && defined(__GLIBCXX__)
static_assert(sizeof(CGLSocket) == 16808, "the layout derived hosts are built against");
#endif

CPacketSocket::CPacketSocket()
    : m_tvTimeout(kDefaultWaitLimit),
      m_hNotifyWnd(nullptr),
      // Progress goes out synchronously unless a host asks for queueing.
      m_bPostNotify(FALSE),
      m_nLastError(0),
      m_evCancel(false),
      m_evDone(false),
      m_hSocket(kInvalidSocket),
      m_tLastActivity(plat::Now()),
      m_dwStatusFlags(0xFFFFFFFFu),
      m_wPacketSizeMax(PACKET_SIZE_DEFAULT),
      m_wAckMode(0),
      m_nBytesReceived(0),
      m_nBytesSent(0),
      m_tLastReceive(0),
      m_tLastSend(0),
      m_bPeerEnvelope(FALSE),
      m_bEnvelopeAllowed(TRUE),
      m_bConnected(FALSE),
      m_nCancelScope(CANCEL_NONE),
      m_bCancelSent(FALSE),
      m_wPacketSizeInUse(0),
      m_pfnCancelAction(nullptr),
      m_pfnTrace(nullptr),
      m_pTraceUser(nullptr),
      m_nStreamState(STREAM_IDLE)
{
    // The layout is an interface: hosts derived from this class are built
    // against it. The table pointer comes first, the members follow in
    // their declared order, and a change of size means rebuilding them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
    static_assert(offsetof(CPacketSocket, m_addr) == sizeof(void*), "the table pointer, then the members");
    static_assert(offsetof(CPacketSocket, m_tvTimeout) > offsetof(CPacketSocket, m_addr) &&
                      offsetof(CPacketSocket, m_packet) > offsetof(CPacketSocket, m_hSocket) &&
                      offsetof(CPacketSocket, m_strListingFile) > offsetof(CPacketSocket, m_nStreamState),
                  "members in their declared order");
#pragma GCC diagnostic pop
    std::memset(&m_addr, 0, sizeof(m_addr));
    std::memset(m_packet, 0, sizeof(m_packet));
    // Both signalled: no transfer runs yet, and the cancel request, which
    // every connect and transfer resets as it starts, never reaches one.
    m_evCancel.SetEvent();
    m_evDone.SetEvent();
}

CPacketSocket::~CPacketSocket()
{
    // Virtual dispatch has already fallen back to this class here.
    CPacketSocket::Close();
    if (capture::Active())
        capture::Start(this, nullptr);
}

void CPacketSocket::SetError(std::int32_t code)
{
    m_nLastError = code;
    if (IsLost())
        Close();
    if (IsQuietCode(m_nLastError))
        return;
    std::string text = GetErrorString();
    DebugLog("CGLSocket::SetError(%d,%s)\n", m_nLastError, plat::LogText(text).c_str());
}

void CPacketSocket::AbandonStream()
{
    // Closed, not drained: the rest may be gigabytes nobody wants, or never
    // come, and its end cannot be told from a stall. A new connection is
    // certain and bounded; the host's retry reconnects.
    m_nStreamState = STREAM_IDLE;
    if (m_hSocket == kInvalidSocket)
        return;
    if (m_nLastError == 0)
        SetError(COMM_ERR_PROTOCOL);
    DebugLog("CGLSocket::AbandonStream(%d): connection closed\n", m_nLastError);
    Close();
}

BOOL CPacketSocket::BeginExchange()
{
    if (m_hSocket == kInvalidSocket)
        return FailClosed();
    StoreError(0);
    return TRUE;
}

BOOL CPacketSocket::FailClosed()
{
    // The reason it closed says more than that it is closed.
    if (m_nLastError == 0)
        StoreError(COMM_ERR_NOT_CONNECTED);
    return FALSE;
}

BOOL CPacketSocket::IsLost()
{
    if (m_hSocket == kInvalidSocket)
        return TRUE;
    return IsLostConnectionCode(m_nLastError) ? TRUE : FALSE;
}

void CPacketSocket::CloseSocketOnly()
{
    if (m_hSocket != kInvalidSocket) {
        if (capture::Active())
            capture::Closed(this);
        plat::SocketClose(m_hSocket);
        m_hSocket = kInvalidSocket;
    }
}

void CPacketSocket::Close()
{
    CloseSocketOnly();
    m_bConnected = FALSE;
}

PacketHeader CPacketSocket::Header() const
{
    return PacketHeader{ReadU32(m_packet), ReadU32(m_packet + 4)};
}

void CPacketSocket::SetHeader(std::uint32_t command, std::uint32_t length)
{
    WriteU32(m_packet, command);
    WriteU32(m_packet + 4, length);
}

