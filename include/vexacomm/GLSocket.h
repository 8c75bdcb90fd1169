// CGLSocket: one connection to one peer over the framed request/reply
// protocol. It owns the socket, the single packet buffer, the negotiated
// connection properties, the transfer events and the last error.
//
// Where its operations live (src/), each file using only those listed
// above it, never one below:
//   socket/ErrorText.cpp      GetErrorString: companion library or fallback text
//   socket/GLSocket.cpp       construction, SetError, IsLost, Close, the header
//   socket/SocketWait.cpp     AwaitSocket: every wait, its limit, cancel scopes
//   socket/Transport.cpp      bytes only: SendAll, ReceiveAll, DrainInput
//   socket/WireCapture.cpp    SetCaptureFile: the bytes moved, as a pcap file
//   socket/Framing.cpp        packets: SendPacket, ReceivePacket, envelope, SendReply
//   socket/Negotiation.cpp    envelope probe, packet size, acknowledgement mode asked
//   socket/Connect.cpp        ConnectHost..ConnectSockAddr, greeting, OpenConnection
//   socket/DataReception.cpp  ReceiveData: the data stream, acks, progress, cancel
//   service/*.cpp             the answering side: its virtual operations and
//                             the answers to the negotiations
//   device/*.cpp              CDeviceSocket: the requests of a host to a device
// (A wait's cancel action is the transfer's, handed down by its scope.)
//
// The order of the virtual operations is an interface: hosts derived from
// this class (include/VexaCommSocket.h) and the C service exports that call
// through the table rely on it, so new virtual operations only ever go last.
//
// Thread safety: every operation that exchanges packets holds m_lock (a
// recursive lock) for its whole exchange, and every export runs under it.
// SetError, IsLost, Close and GetErrorString run under their caller's lock.
// The service operations take no lock of their own: a dispatcher that shares
// one connection between threads holds m_lock across a received request and
// its answer. Each member group below says what guards it.
#pragma once

#include <cstdint>
#include <string>

#include "VexaCommLib.h"
#include "vexacomm/ErrorCodes.h"
#include "vexacomm/Event.h"
#include "vexacomm/Lock.h"
#include "vexacomm/Protocol.h"
#include "vexacomm/Types.h"

class CFile;
namespace plat {
struct RecvBuffer;
struct SendBuffer;
}
struct FileInfoRecord;
struct FileInfoVersionRecord;
struct FileRequest;
struct ProgramRequest;

// Window message carrying transfer progress to m_hNotifyWnd.
constexpr std::uint32_t WM_COMM_PROGRESS = 0x0A00;

// Default wait limit: 30 seconds plus 30000 microseconds.
constexpr WaitLimit kDefaultWaitLimit = {30, 30000};

// What a cancel request (m_evCancel) does to the waits of the operation in
// progress: nothing; end a connect, or a request whose answer has not begun,
// closing the connection (a late answer would be taken for the next one's);
// or ask the peer to stop a transfer.
enum CancelScope : int { CANCEL_NONE, CANCEL_CONNECT, CANCEL_REQUEST, CANCEL_TRANSFER };
// After asking the peer to stop, a transfer gives each silence this long
// before it closes the connection; waits look for a request this often.
constexpr std::int64_t CANCEL_GRACE_MS = VEXACOMM_CANCEL_GRACE_MS;
constexpr std::int64_t CANCEL_POLL_MS = 50;

enum class SocketWaitKind { Readable, Writable, Connected };

// Where the answer to this side's last request stands. Anything but idle
// when an operation returns means packets of that answer may still come,
// and the next request would take them for its own answer.
enum StreamState : int { STREAM_IDLE, STREAM_REQUEST_SENT, STREAM_RECEIVING };

// The engine of one connection: waits, transport, framing, the set-up and
// the data stream. It holds every slot of the virtual table; the answering
// side's operations here only refuse (71305), CGLSocket below gives them
// their bodies.
class VEXACOMM_API CPacketSocket {
public:
    CPacketSocket();
    CPacketSocket(const CPacketSocket&) = delete;
    CPacketSocket& operator=(const CPacketSocket&) = delete;

    // ---- Virtual operations, in their fixed table order (31 slots). ----
    virtual ~CPacketSocket();
    virtual BOOL IsLost();
    virtual void Close();
    virtual std::string GetErrorString();

    // The answering side's slots (see CGLSocket): file information and
    // transfer files...
    virtual BOOL GetFileInfo(FileInfoRecord*, const char*) { return Unsupported(); }
    virtual int ReservedFile1(int, int, int) { return 0; }
    virtual int ReservedFile2(int, int, int) { return 0; }
    virtual int ReservedFile3(int, int, int) { return 0; }
    virtual BOOL GetFileInfoVersion(FileInfoVersionRecord*, const char*) { return Unsupported(); }
    virtual int ReservedFile4(int, int, int) { return 0; }
    virtual void CloseFileOnStatus(CFile*, const std::uint16_t*, BOOL) { Unsupported(); }
    virtual CFile* CreateReceiveFile(const FileInfoRecord*) { Unsupported(); return nullptr; }
    virtual void CloseTransferFile(CFile*, int, int) { Unsupported(); }
    virtual CFile* OpenSendFile(FileInfoRecord*, const FileRequest*) { Unsupported(); return nullptr; }
    virtual int ReservedFile5(int, int) { return 0; }
    virtual int ReservedFile6(int, int) { return 0; }
    virtual int ReservedFile7(int, int) { return 0; }

    // ...listing, programs, status, directories.
    virtual std::string ListDirectory(const FileRequest*) { Unsupported(); return std::string(); }
    virtual std::string ReservedText(int) { return std::string(); }
    virtual BOOL RunProgramRequest(const ProgramRequest*) { return Unsupported(); }
    virtual void StartProgram(const ProgramRequest*) { Unsupported(); }
    virtual BOOL ReplyNotSupported(const void*) { return Unsupported(); }
    virtual BOOL SendStatusFlags() { return Unsupported(); }
    virtual BOOL ClearStatusFlags(std::uint32_t) { return Unsupported(); }
    virtual BOOL SetStatusFlags(std::uint32_t) { return Unsupported(); }
    virtual BOOL AnswerPacketSize(std::uint16_t) { return Unsupported(); }
    virtual BOOL AnswerAckMode(std::uint16_t) { return Unsupported(); }
    virtual BOOL MakeDirectory(const char*) { return Unsupported(); }
    virtual BOOL DeletePath(const char*) { return Unsupported(); }

    // Progress: hands one message to the object's observer. The base sends
    // it to the window m_hNotifyWnd (posted when m_bPostNotify is set) and
    // is TRUE while one is set; a host class may deliver elsewhere.
    virtual BOOL DeliverProgress(std::uintptr_t wParam, std::intptr_t lParam);
    // Progress in bytes: `done` of `total` (what the peer announced, or as
    // many as arrived when that is more); `end` once when the transfer
    // ends. The base ignores it; a host class may pass it on.
    virtual void DeliverBytes(std::uint64_t, std::uint64_t, BOOL) {}

    // ---- Error state. ----
    // Records `code` as the object's last error (m_nLastError, the result
    // the exports return), and then: closes the connection when it counts
    // as lost (no socket, or 10053, 10054, 71000), and writes the line
    // "CGLSocket::SetError(code,text)" unless the code is quiet (0, 10060,
    // the envelope probe's answer). The host's call starts with 0 and each
    // exchange with the peer clears it once as it starts (BeginExchange);
    // within an exchange the last code recorded is its result. Caller holds
    // m_lock.
    void SetError(std::int32_t code);
    // Starts an exchange (a request and its answer): on an open connection
    // the last error is cleared; on a closed one the reason it closed stays
    // the result. FALSE, with that reason, when closed.
    BOOL BeginExchange();
    // An operation that meets a closed connection: FALSE, with 71006 unless
    // the reason it closed is recorded.
    BOOL FailClosed();
    // The text that GetErrorString gives for `code` (base rules: companion
    // library, then the fallback format).
    static std::string ErrorTextFor(std::int32_t code);
    // "CONN-<code> : " and the GBK text for an unknown error.
    static std::string FallbackErrorText(std::int32_t code);

    // ---- Waits and transport. ----
    // Waits for `s` up to `limit`, measured on a monotonic clock; within a
    // cancel scope a request ends it early. Records 10060, the socket
    // layer's code or 71005 (the connection then closed); TRUE when ready.
    BOOL AwaitSocket(SocketHandle s, SocketWaitKind kind, WaitLimit limit);
    BOOL WaitReadable(WaitLimit limit);
    BOOL WaitWritable(WaitLimit limit);
    BOOL SendAll(const void* data, std::int32_t length, BOOL wait);
    // A receive of the host's own: it starts an exchange (BeginExchange).
    BOOL ReceiveAll(void* buffer, std::int32_t length, BOOL wait);
    void DrainInput();

    // ---- Framing. ----
    // Records 71010 for a packet too long to send.
    BOOL SendPacket(std::uint8_t* packet, BOOL wait);
    // Starts an exchange (BeginExchange); records 71010 for a packet that
    // fails its checks (a length over 16376, an envelope's trailer or sum).
    BOOL ReceivePacket(std::uint8_t* packet, BOOL wait);

    // CMD_REPLY with `code` and, when non-zero, its text.
    BOOL SendReply(std::uint32_t code);

    // ---- Negotiation. ----
    BOOL ProbeEnvelope();
    BOOL NegotiatePacketSize(std::uint16_t& value);
    BOOL NegotiateAckMode(std::uint16_t& value);

    // ---- Set-up: connect, greeting, negotiations. ----
    BOOL ConnectHost(const char* host, std::uint16_t port);
    BOOL ConnectAddr(std::uint32_t address, std::uint16_t port);
    BOOL ConnectSockAddr(const SocketAddress* address);
    BOOL ReceiveGreeting();
    BOOL OpenConnection();

    // What the answering side's slots do here: record 71305, fail.
    BOOL Unsupported()
    {
        SetError(COMM_ERR_NOT_SUPPORTED);
        return FALSE;
    }

    // ---- The answer in progress (m_nStreamState). ----
    // Ends an answer that did not arrive whole: the connection is closed,
    // the cause stays recorded (71010 when none was).
    void AbandonStream();

    // ---- Bulk data reception. ----
    BOOL ReceiveData(CFile* file, std::uint32_t dataCommand, std::uint32_t expectedPackets);
    // The same, with the size in bytes the peer announced for DeliverBytes
    // (ReceiveData takes a whole number of full packets).
    BOOL ReceiveData(CFile* file, std::uint32_t dataCommand, std::uint32_t expectedPackets,
                     std::uint64_t announcedBytes);
    // CMD_CANCEL to the peer, once per transfer.
    void SendCancelRequest();
    // DeliverProgress through the table; TRUE when an observer is set.
    BOOL NotifyProgress(std::uintptr_t wParam, std::intptr_t lParam) { return DeliverProgress(wParam, lParam); }

    // m_wPacketSizeMax for readers without the lock (the export reports it
    // while a connect may run on another thread).
    std::uint16_t LoadPacketSizeMax() const { return __atomic_load_n(&m_wPacketSizeMax, __ATOMIC_RELAXED); }
    void StorePacketSizeMax(std::uint16_t value) { __atomic_store_n(&m_wPacketSizeMax, value, __ATOMIC_RELAXED); }

    // The size data packets arrive in, for counting them; never 0.
    std::uint32_t PacketSizeInUse() const
    {
        std::uint16_t size = m_wPacketSizeInUse != 0 ? m_wPacketSizeInUse : m_wPacketSizeMax;
        return size != 0 ? size : PACKET_SIZE_DEFAULT;
    }

    // Hands a packet to the trace, when one is set.
    void TracePacket(std::int32_t direction, const std::uint8_t* packet, BOOL enveloped)
    {
        if (m_pfnTrace != nullptr)
            m_pfnTrace(m_pTraceUser, direction, ReadU32(packet), ReadU32(packet + 4), enveloped ? 1 : 0,
                       packet + PACKET_HEADER_SIZE);
    }

    // ---- Packet buffer access. ----
    PacketHeader Header() const;
    void SetHeader(std::uint32_t command, std::uint32_t length);
    std::uint8_t* Payload() { return m_packet + PACKET_HEADER_SIZE; }
    const std::uint8_t* Payload() const { return m_packet + PACKET_HEADER_SIZE; }

    // ---- The state others reach: the exports and tests. A derived host
    // class reaches the members below directly. ----
    std::int32_t LastError() const { return m_nLastError; }
    // Records `code` as it is, without SetError's closing and logging.
    void StoreError(std::int32_t code) { m_nLastError = code; }
    BOOL IsOpen() const { return m_hSocket != kInvalidSocket ? TRUE : FALSE; }
    BOOL IsEstablished() const { return m_hSocket != kInvalidSocket && m_bConnected ? TRUE : FALSE; }
    CCriticalSection& ObjectLock() { return m_lock; }
    CEvent& CancelRequest() { return m_evCancel; }
    WaitLimit GetWaitLimit() const { return m_tvTimeout; }
    void SetWaitLimit(WaitLimit limit) { m_tvTimeout = limit; }
    std::uint16_t AckMode() const { return m_wAckMode; }
    void SetTrace(VexaCommTraceFn fn, void* user)
    {
        m_pfnTrace = fn;
        m_pTraceUser = fn != nullptr ? user : nullptr;
    }
    std::uint8_t* Packet() { return m_packet; }
    // Writes every byte this object sends and receives from now on to the
    // pcap file `path`, as TCP segments between the connection's real
    // addresses (a null or empty path stops). Objects given one path share
    // its file. A failing file never fails an exchange: the capture stops
    // with one diagnostic line. 0, or 71200 when the file cannot be created.
    std::int32_t SetCaptureFile(const char* path);

protected:
    // ---- Members, in declaration order (the layout is an interface). ----
    // Set while connecting, read by every exchange: under m_lock.
    SocketAddress m_addr;
    WaitLimit m_tvTimeout;
    // The window that gets progress messages (null: none): set under
    // m_lock, which waits for a running transfer first.
    void* m_hNotifyWnd;
    BOOL m_bPostNotify;
    // Under the lock of the operation that records it.
    std::int32_t m_nLastError;
    // Events synchronise themselves: a cancel request and the end of a
    // transfer are signalled and awaited without m_lock.
    CEvent m_evCancel;
    CEvent m_evDone;
    CCriticalSection m_lock;
    // The connection and its single packet buffer: under m_lock.
    SocketHandle m_hSocket;
    alignas(8) std::uint8_t m_packet[PACKET_BUFFER_SIZE];
    std::int32_t m_tLastActivity;
    std::uint32_t m_dwStatusFlags;
    // Written under m_lock; read without it through LoadPacketSizeMax.
    std::uint16_t m_wPacketSizeMax;
    // Negotiated properties and statistics: under m_lock.
    std::uint16_t m_wAckMode;
    std::uint64_t m_nBytesReceived;
    std::uint64_t m_nBytesSent;
    std::int32_t m_tLastReceive;
    std::int32_t m_tLastSend;
    BOOL m_bPeerEnvelope;
    BOOL m_bEnvelopeAllowed;
    BOOL m_bConnected;
    // Used only by the thread running the operation in progress.
    CancelScope m_nCancelScope;
    BOOL m_bCancelSent;
    // Under m_lock. The peer's answer to a packet-size negotiation after
    // the connect, 0 while none came: m_wPacketSizeMax keeps the size
    // agreed while connecting (what hosts read), but the peer sends packets
    // of the size it answered last.
    std::uint16_t m_wPacketSizeInUse;
    // Used only by the thread running the operation in progress. What a
    // readable wait does on a cancel request within the scope (null:
    // nothing): the transfer's own, so that the waits know no packets.
    using CancelAction = void (CPacketSocket::*)();
    CancelAction m_pfnCancelAction;
    // The host's packet trace (null: none): under m_lock.
    VexaCommTraceFn m_pfnTrace;
    void* m_pTraceUser;
    // Under m_lock.
    StreamState m_nStreamState;
    // The listing file this connection created last, "" while none: under
    // m_lock.
    std::string m_strListingFile;

private:
    friend class CCancelScope;
    friend class CStreamGuard;
    friend class CTransferEnd;

    void CloseSocketOnly();
    // Connects `s` to m_addr within m_tvTimeout; records the failure.
    BOOL ConnectWithinLimit(SocketHandle s);
    // SendAll over several buffers sent as one stream; advances `pieces`.
    BOOL SendPieces(plat::SendBuffer* pieces, int count, BOOL wait);
    // ReceiveAll into several buffers filled in order; advances `pieces`.
    // `expectWaiting`: the bytes are most likely there already (the rest of
    // a packet, the next packet of a stream); with the wait flag the first
    // read is then tried at once and waits only if nothing is ready.
    BOOL ReceivePieces(plat::RecvBuffer* pieces, int count, BOOL wait, bool expectWaiting = false);
    // ReceivePacket; `streaming`: packets follow each other without an
    // answer in between, so the next one is usually waiting already.
    BOOL ReceiveNextPacket(std::uint8_t* packet, BOOL wait, bool streaming);
    // Records 71010 for a packet that failed its checks; FALSE.
    BOOL RejectPacket();
    // WaitReadable without the count of waiting bytes, for ReceivePieces.
    BOOL WaitForInput(WaitLimit limit);
    // Reacts to a cancel request seen during a wait; FALSE when it ended
    // the operation.
    BOOL OnCancelRequest(SocketWaitKind kind);
    BOOL NegotiateValue(std::uint16_t& value, std::uint32_t command, std::uint16_t minAccepted,
                        std::uint16_t maxAccepted, std::uint16_t fallback);
};

// The connection class hosts use and derive from: the engine, and the
// answering side of the file and program service (src/service/).
class VEXACOMM_API CGLSocket : public CPacketSocket {
public:
    CGLSocket() = default;
    // Fills the destructor's slot of the table; forgets the settings below.
    ~CGLSocket() override;

    // Settings of the service side, kept beside the object (its layout is
    // an interface); any thread, at any time: an operation uses those in
    // force when it starts. FALSE with the reason recorded (SetError).
    //
    // Confines every path of the service operations to the directory
    // `root` (see VexaComm_ServiceSetRoot); null: paths used as given.
    // The root is resolved now: 3 when it is missing, 267 when no directory.
    BOOL SetServiceRoot(const char* root);
    // Lets program requests start only the programs of the null-terminated
    // list `programs`, compared after resolving every link (see
    // VexaComm_ServiceSetPrograms); an empty list starts none, null any.
    // 2 when a listed program cannot be resolved; nothing changes then.
    BOOL SetServicePrograms(const char* const* programs);

    // Service side: the answering half of the file and program service.
    // Nothing in the library calls these on a peer's behalf: they are
    // reachable only by a host that receives requests and dispatches them
    // here itself, and that host decides which peers may read, write and
    // delete files or start programs on this computer. Paths and commands
    // are used as given unless a root confines them (SetServiceRoot);
    // records and replies are filled with bounded copies, and command lines
    // never pass through a shell.
    //
    // File information and transfer files.
    BOOL GetFileInfo(FileInfoRecord* record, const char* path) override;
    BOOL GetFileInfoVersion(FileInfoVersionRecord* record, const char* path) override;
    void CloseFileOnStatus(CFile* file, const std::uint16_t* status, BOOL check) override;
    CFile* CreateReceiveFile(const FileInfoRecord* record) override;
    void CloseTransferFile(CFile* file, int, int) override;
    CFile* OpenSendFile(FileInfoRecord* record, const FileRequest* request) override;

    // Service side: listing, programs, status, directories.
    std::string ListDirectory(const FileRequest* request) override;
    BOOL RunProgramRequest(const ProgramRequest* request) override;
    void StartProgram(const ProgramRequest* request) override;
    BOOL ReplyNotSupported(const void* request) override;
    BOOL SendStatusFlags() override;
    BOOL ClearStatusFlags(std::uint32_t mask) override;
    BOOL SetStatusFlags(std::uint32_t mask) override;
    BOOL AnswerPacketSize(std::uint16_t requested) override;
    BOOL AnswerAckMode(std::uint16_t requested) override;
    BOOL MakeDirectory(const char* path) override;
    BOOL DeletePath(const char* path) override;

    // Writes one record per entry matching `pattern` to `listing`; a write
    // failure closes `listing`, records the cause and ends the listing.
    void WriteListingRecords(CFile* listing, const char* pattern);
};
