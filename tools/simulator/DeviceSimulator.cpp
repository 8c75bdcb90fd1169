// The device simulator, built as any host builds on the library: from the
// public headers and the shipped library only.
#include "DeviceSimulator.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "SimSocket.h"
#include "StrictChecks.h"
#include "VexaCommSocket.h"
#include "vexacomm/ByteSum.h"

namespace {
constexpr int kAcceptPollMs = 50;
constexpr WaitLimit kStallPoll = {0, 50000};
constexpr std::chrono::milliseconds kPausePoll{50};

// Strict lines of all connections and simulators, one whole line at a time.
std::mutex g_strictLog;

// A whole file's bytes; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}
} // namespace

std::uint8_t GeneratedByte(std::uint64_t offset)
{
    std::uint32_t x = static_cast<std::uint32_t>(offset) * 0x9E3779B1u;
    return static_cast<std::uint8_t>((x >> 24) ^ (offset >> 16) ^ (offset >> 32));
}

void FillGenerated(std::uint64_t offset, std::uint8_t* out, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        out[i] = GeneratedByte(offset + i);
}

// The answering connection. Close is guarded so that Stop() can wake a
// blocked connection without racing the descriptor's release.
struct CDeviceSimulator::Connection : public CGLSocket {
    // The state the simulator sets and reads from outside the class, as a
    // derived host may open it up.
    using CGLSocket::m_hSocket;
    using CGLSocket::m_nLastError;
    using CGLSocket::m_packet;
    using CGLSocket::m_pfnTrace;
    using CGLSocket::m_pTraceUser;
    using CGLSocket::m_tvTimeout;
    using CGLSocket::m_wAckMode;
    using CGLSocket::m_wPacketSizeMax;
    using CGLSocket::m_bPeerEnvelope;
    using CGLSocket::m_bEnvelopeAllowed;

    std::mutex fdMutex;

    void Close() override
    {
        std::lock_guard<std::mutex> guard(fdMutex);
        CGLSocket::Close();
    }

    void Interrupt()
    {
        std::lock_guard<std::mutex> guard(fdMutex);
        sim::Shutdown(m_hSocket);
    }

    bool Open() const { return m_hSocket != kInvalidSocket; }

    unsigned asdu10Requests = 0;

    // The simulator's trace and strict checks, for this connection's packets.
    const SimulatorOptions* options = nullptr;
    unsigned number = 0;
    SimDeviation deviation = SimDeviation::None;
    std::unique_ptr<CStrictChecks> strict;
    bool answeringProbe = false;
    static void VEXACOMM_CALL Trace(void* user, std::int32_t direction, std::uint32_t command, std::uint32_t length,
                                    std::int32_t enveloped, const void* payload)
    {
        auto* c = static_cast<Connection*>(user);
        const auto* bytes = static_cast<const std::uint8_t*>(payload);
        if (c->options->trace)
            c->options->trace(c->number, direction, command, length, enveloped != 0, bytes);
        if (c->strict && direction == VEXACOMM_TRACE_SENT)
            c->strict->DeviceSent(command, length, bytes, enveloped != 0, c->answeringProbe);
    }

    // m_packet as framed now; the checksum deviation writes the envelope itself.
    bool Transmit()
    {
        if (deviation != SimDeviation::EnvelopeChecksum || !m_bPeerEnvelope || !m_bEnvelopeAllowed)
            return SendPacket(m_packet, TRUE) != 0;
        const std::uint32_t bare = static_cast<std::uint32_t>(PACKET_HEADER_SIZE) + Header().length;
        if (bare > PACKET_BUFFER_SIZE)
            return false;
        std::uint8_t envelope[ENVELOPE_OVERHEAD + PACKET_BUFFER_SIZE];
        WriteEnvelopeHead(envelope);
        std::memcpy(envelope + ENVELOPE_HEAD_SIZE, m_packet, bare);
        WriteEnvelopeTrailer(envelope + ENVELOPE_HEAD_SIZE + bare, ByteSum(m_packet, bare) + 1);
        TracePacket(VEXACOMM_TRACE_SENT, m_packet, TRUE);
        return SendAll(envelope, static_cast<std::int32_t>(ENVELOPE_OVERHEAD + bare), TRUE) != 0;
    }

    bool Send(std::uint32_t command, const void* payload, std::uint32_t length)
    {
        SetHeader(command, length);
        if (length != 0)
            std::memcpy(Payload(), payload, length);
        return Transmit();
    }

    // SendReply's packet, built here so that the deviations reach it.
    void Reply(std::uint32_t code)
    {
        SetHeader(CMD_REPLY, 0);
        if (code != 0) {
            SetError(static_cast<std::int32_t>(code));
            std::memset(Payload(), 0, REPLY_CLEARED_BYTES);
            WriteU32(Payload(), code);
            WriteU32(Payload() + 4, deviation == SimDeviation::ReplyReserved ? 1 : 0);
            std::string text = GetErrorString();
            text.resize(std::min(text.size(), REPLY_TEXT_AREA - 1));
            std::memcpy(Payload() + REPLY_TEXT_OFFSET, text.c_str(), text.size() + 1);
            SetHeader(CMD_REPLY, ReplyLength(text.size()));
        }
        Transmit();
    }

    // The library's answer, unless the checksum deviation must frame it.
    void AnswerNegotiation(std::uint32_t command, std::uint16_t requested)
    {
        const bool size = command == CMD_PACKET_SIZE;
        if (deviation != SimDeviation::EnvelopeChecksum) {
            size ? AnswerPacketSize(requested) : AnswerAckMode(requested);
            return;
        }
        if (size && requested >= PACKET_SIZE_MIN && requested <= PACKET_PAYLOAD_MAX)
            m_wPacketSizeMax = requested;
        if (!size && requested <= ACK_MODE_MAX)
            m_wAckMode = requested;
        std::uint8_t value[2];
        WriteU16(value, size ? m_wPacketSizeMax : m_wAckMode);
        Send(command, value, sizeof(value));
    }

    // ReceivePacket; in strict mode read by hand, so that a broken envelope
    // or length is told apart, and judged.
    bool Receive(CStrictChecks::Moment moment)
    {
        if (!strict)
            return ReceivePacket(m_packet, TRUE) != 0;
        std::uint8_t* p = m_packet;
        std::memset(p, 0, PACKET_BUFFER_SIZE);
        if (!ReceiveAll(p, PACKET_HEADER_SIZE, TRUE))
            return false;
        const bool enveloped = ReadU32(p) == ENVELOPE_HEAD_MAGIC && ReadU32(p + 4) == ENVELOPE_HEAD_MAGIC;
        if (enveloped && !ReceiveAll(p, PACKET_HEADER_SIZE, TRUE))
            return false;
        m_bPeerEnvelope = enveloped;
        const std::uint32_t length = ReadU32(p + 4);
        if (length > PACKET_PAYLOAD_MAX) {
            strict->BadLength(length, enveloped);
            StoreError(COMM_ERR_PROTOCOL);
            return false;
        }
        if (length != 0 && !ReceiveAll(Payload(), static_cast<std::int32_t>(length), TRUE))
            return false;
        if (enveloped) {
            std::uint8_t trailer[sizeof(EnvelopeTrailer)];
            if (!ReceiveAll(trailer, sizeof(trailer), TRUE))
                return false;
            const std::uint32_t sum = ByteSum(p, PACKET_HEADER_SIZE + length);
            if (ReadU32(trailer) != sum || ReadU32(trailer + 4) != ENVELOPE_TAIL_MAGIC ||
                ReadU32(trailer + 8) != ENVELOPE_TAIL_MAGIC) {
                char came[96];
                std::snprintf(came, sizeof(came), "checksum %u, tail words %08x %08x for %s", ReadU32(trailer),
                              ReadU32(trailer + 4), ReadU32(trailer + 8), CommandText(ReadU32(p)).c_str());
                strict->BadEnvelope("checksum " + std::to_string(sum) + ", tail words 76927633 76927633", came);
                StoreError(COMM_ERR_PROTOCOL);
                return false;
            }
        }
        TracePacket(VEXACOMM_TRACE_RECEIVED, p, enveloped ? TRUE : FALSE);
        strict->HostPacket(p, enveloped, moment);
        return true;
    }
};

CDeviceSimulator::CDeviceSimulator(SimulatorOptions options) : m_options(std::move(options)) {}

CDeviceSimulator::~CDeviceSimulator() { Stop(); }

bool CDeviceSimulator::Start(std::string* error)
{
    std::uint32_t address = sim::ParseIPv4(m_options.bindAddress);
    if (address == kNoAddress) {
        if (error != nullptr)
            *error = "not a dotted IPv4 address: " + m_options.bindAddress;
        return false;
    }
    if (!m_options.captureFile.empty()) {
        m_captureKeeper = std::make_shared<Connection>();
        if (m_captureKeeper->SetCaptureFile(m_options.captureFile.c_str()) != 0) {
            if (error != nullptr)
                *error = "cannot create the capture file " + m_options.captureFile;
            return false;
        }
    }
    std::string reason;
    m_listener = sim::Listen(address, m_options.port, &m_port, &reason);
    if (m_listener == kInvalidSocket) {
        if (error != nullptr)
            *error = "cannot listen on " + m_options.bindAddress + ":" + std::to_string(m_options.port) + ": " + reason;
        return false;
    }
    m_acceptThread = std::thread(&CDeviceSimulator::AcceptLoop, this);
    return true;
}

void CDeviceSimulator::Stop()
{
    m_stopping = true;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        for (auto& c : m_active)
            c->Interrupt();
    }
    m_cv.notify_all();
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    if (m_listener != kInvalidSocket) {
        sim::Close(m_listener);
        m_listener = kInvalidSocket;
    }
}

void CDeviceSimulator::Wait()
{
    std::unique_lock<std::mutex> guard(m_mutex);
    m_cv.wait(guard, [this] { return m_stopped; });
}

std::string CDeviceSimulator::LastRequest()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_lastRequest;
}

std::vector<std::uint32_t> CDeviceSimulator::Commands()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_commands;
}

bool CDeviceSimulator::Stopped()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_stopped;
}

void CDeviceSimulator::AcceptLoop()
{
    while (!m_stopping) {
        if (m_options.maxConnections != 0 && m_connections >= m_options.maxConnections)
            break;
        SocketHandle s = sim::Accept(m_listener, kAcceptPollMs);
        if (s == kInvalidSocket)
            continue;
        auto connection = std::make_shared<Connection>();
        connection->m_hSocket = s;
        connection->number = ++m_connections;
        if (m_captureKeeper)
            connection->SetCaptureFile(m_options.captureFile.c_str());
        connection->options = &m_options;
        connection->deviation = m_options.deviation;
        if (m_options.strict) {
            const unsigned number = connection->number;
            connection->strict.reset(new CStrictChecks(
                [this, number](const char* rule, const std::string& expected, const std::string& came) {
                    ++m_strictDeviations;
                    std::lock_guard<std::mutex> guard(g_strictLog);
                    std::fprintf(stderr, "strict: %s: %s, %s (connection %u)\n", rule, expected.c_str(),
                                 came.c_str(), number);
                    std::fflush(stderr);
                }));
        }
        if (m_options.trace || m_options.strict) {
            connection->m_pfnTrace = &Connection::Trace;
            connection->m_pTraceUser = connection.get();
        }
        std::lock_guard<std::mutex> guard(m_mutex);
        m_active.push_back(connection);
        m_threads.emplace_back(&CDeviceSimulator::Serve, this, connection);
    }
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        threads.swap(m_threads);
    }
    for (auto& t : threads)
        t.join();
    std::lock_guard<std::mutex> guard(m_mutex);
    m_active.clear();
    m_stopped = true;
    m_cv.notify_all();
}

void CDeviceSimulator::Serve(std::shared_ptr<Connection> connection)
{
    Connection& c = *connection;
    c.m_tvTimeout = WaitLimit{static_cast<std::int32_t>(m_options.ioTimeoutMs / 1000),
                              static_cast<std::int32_t>(m_options.ioTimeoutMs % 1000) * 1000};
    c.m_wPacketSizeMax = m_options.packetSize;
    c.m_wAckMode = m_options.ackMode;
    // The probe's answer still turns envelopes on; nothing goes out in one.
    if (c.deviation == SimDeviation::EnvelopeDropped)
        c.m_bEnvelopeAllowed = FALSE;
    if (m_stopping)
        c.Interrupt();

    if (m_options.silent) {
        StallUntilStopped(c);
        c.Close();
        return;
    }
    std::uint8_t noFlags[4] = {0, 0, 0, 0};
    if (c.deviation == SimDeviation::GreetingCommand)
        c.Send(CMD_STATUS, noFlags, sizeof(noFlags));
    else
        c.Reply(m_options.refuseGreeting ? COMM_ERR_CONNECT_REFUSED : 0);
    if (m_options.refuseGreeting) {
        c.Close();
        return;
    }
    while (!m_stopping && c.Open()) {
        if (!c.Receive(CStrictChecks::Moment::Request)) {
            if (c.m_nLastError == COMM_ERR_TIMED_OUT && c.Open())
                continue; // an idle client; keep it until it goes
            break;
        }
        PacketHeader header = c.Header();
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_commands.push_back(header.command);
            if (header.command == CMD_ASDU10)
                m_lastRequest.assign(reinterpret_cast<const char*>(c.Payload()), header.length);
        }
        if (m_options.statusCommand != 0 && header.command == m_options.statusCommand) {
            std::uint8_t flags[4] = {0xFF, 0xFF, 0xFF, 0xFF};
            c.Send(CMD_STATUS, flags, sizeof(flags));
            continue;
        }
        if (m_options.replyCommand != 0 && header.command == m_options.replyCommand) {
            c.Reply(static_cast<std::uint32_t>(m_options.replyCode));
            continue;
        }
        auto sendType = [&] {
            std::uint8_t type[2];
            WriteU16(type, m_options.deviceType);
            c.Send(CMD_DEVICE_TYPE, type, sizeof(type));
        };
        auto sendIdent = [&] {
            std::size_t n = std::min<std::size_t>(m_options.ident.size(), PACKET_PAYLOAD_MAX - 1);
            std::string text = m_options.ident.substr(0, n);
            c.Send(CMD_IDENT, text.c_str(), static_cast<std::uint32_t>(n + 1));
        };
        switch (header.command) {
        case CMD_ENVELOPE_PROBE:
            c.answeringProbe = true;
            if (c.deviation == SimDeviation::ProbeAnswerCommand)
                c.Send(CMD_STATUS, noFlags, sizeof(noFlags));
            else
                c.Reply(m_options.envelope ? static_cast<std::uint32_t>(COMM_CODE_ENVELOPE_ON) : 0);
            c.answeringProbe = false;
            break;
        case CMD_PACKET_SIZE:
        case CMD_ACK_MODE:
            if (c.deviation == (header.command == CMD_PACKET_SIZE ? SimDeviation::PacketSizeCommand
                                                                  : SimDeviation::AckModeCommand))
                c.Reply(0);
            else
                c.AnswerNegotiation(header.command, ReadU16(c.Payload()));
            break;
        case CMD_DEVICE_TYPE:
            c.deviation == SimDeviation::DeviceTypeCommand ? sendIdent() : sendType();
            break;
        case CMD_IDENT: {
            c.deviation == SimDeviation::IdentCommand ? sendType() : sendIdent();
            if (!m_options.askFiles.empty()) {
                std::string outcome = AskFiles(c);
                std::lock_guard<std::mutex> guard(m_mutex);
                m_askFilesOutcome = outcome;
                c.Close();
            }
            break;
        }
        case CMD_ASDU10:
            // The request was recorded above; every request gets the whole set.
            if (!ServeAsdu10(c))
                c.Close();
            break;
        case CMD_REPLY:
        case CMD_CANCEL:
            break; // late acknowledgements and cancels of an ended transfer
        default:
            c.Reply(COMM_ERR_NOT_SUPPORTED);
            break;
        }
    }
    c.Close();
}

bool CDeviceSimulator::ServeAsdu10(Connection& c)
{
    std::ifstream file;
    std::uint32_t total = m_options.generatedBytes;
    if (!m_options.dataFile.empty()) {
        file.open(m_options.dataFile, std::ios::binary | std::ios::ate);
        if (!file) {
            c.Reply(COMM_ERR_FILE_CREATE);
            return true;
        }
        total = static_cast<std::uint32_t>(file.tellg());
        file.seekg(0);
    }
    const bool first = c.asdu10Requests++ == 0;
    SimFault fault = m_options.fault;
    if (!first && (fault == SimFault::Flood || fault == SimFault::Pause))
        fault = SimFault::None;
    const bool promise = first && m_options.promisedBytes >= 0;
    const bool overstate = first && c.deviation == SimDeviation::Asdu10Total;
    const std::uint32_t announced =
        promise ? static_cast<std::uint32_t>(m_options.promisedBytes) : total + (overstate ? 1 : 0);

    std::uint8_t head[4];
    WriteU32(head, announced);
    if (!c.Send(CMD_ASDU10, head, sizeof(head)))
        return false;
    if (announced == 0 && !promise)
        return true; // the client expects no data packet at all

    // Unread acknowledgements pile up in the socket: a stream of more packets
    // than its buffers hold acknowledgements for blocks both sides.
    const bool flood = fault == SimFault::Flood || (promise && announced == 0);
    const bool acks = c.m_wAckMode != 0 && !flood;
    const bool watchCancel = c.m_wAckMode == 0 && !flood;
    // Tells the strict checks where the stream ended, on every way out.
    struct StreamEnd {
        Connection& c;
        unsigned unreadAcks = 0;
        ~StreamEnd()
        {
            if (c.strict)
                c.strict->StreamEnds(unreadAcks);
        }
    } streamEnd{c};
    if (c.strict)
        c.strict->StreamBegins(acks);
    // Answers the client's packet after a data packet: true to go on.
    auto takeClientPacket = [&](bool* cancelled) {
        *cancelled = false;
        if (!c.Receive(acks ? CStrictChecks::Moment::Acknowledgement : CStrictChecks::Moment::Streaming))
            return false;
        if (c.Header().command == CMD_CANCEL) {
            ++m_cancelsReceived;
            *cancelled = true;
            return c.Send(CMD_CANCEL, nullptr, 0);
        }
        return c.Header().command == CMD_REPLY;
    };

    // A slow device still answers a cancel: the pause is watched in slices.
    enum { kPauseOver, kPauseCancelled, kPauseStopped };
    auto pause = [&] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_options.pauseMs);
        for (auto now = std::chrono::steady_clock::now(); now < end; now = std::chrono::steady_clock::now()) {
            if (!PauseUnlessStopped(std::min<std::chrono::steady_clock::duration>(end - now, kPausePoll)))
                return kPauseStopped;
            bool cancel = false;
            if (watchCancel && sim::InputWaiting(c.m_hSocket) && (!takeClientPacket(&cancel) || cancel))
                return cancel ? kPauseCancelled : kPauseStopped;
        }
        return kPauseOver;
    };

    bool cancelled = false;
    if (acks && (!takeClientPacket(&cancelled) || cancelled))
        return cancelled;

    const std::uint32_t size = c.m_wPacketSizeMax;
    std::uint64_t offset = 0;
    std::uint32_t sent = 0;
    while (offset < total) {
        if (m_stopping)
            return false;
        if (fault != SimFault::None && sent == m_options.faultAfterPackets) {
            switch (fault) {
            case SimFault::Close:
                c.Close();
                return false;
            case SimFault::Cancel:
                return c.Send(CMD_CANCEL, nullptr, 0);
            case SimFault::ReplyCode:
                c.Reply(static_cast<std::uint32_t>(m_options.faultCode));
                return true;
            case SimFault::BadChecksum: {
                std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, total - offset));
                std::uint8_t envelope[ENVELOPE_OVERHEAD + PACKET_BUFFER_SIZE];
                std::uint8_t* packet = envelope + ENVELOPE_HEAD_SIZE;
                const std::uint32_t bare = static_cast<std::uint32_t>(PACKET_HEADER_SIZE) + n;
                WriteEnvelopeHead(envelope);
                WriteU32(packet, CMD_ASDU10);
                WriteU32(packet + 4, n);
                FillGenerated(offset, packet + PACKET_HEADER_SIZE, n);
                WriteEnvelopeTrailer(packet + bare, ByteSum(packet, bare) + 1);
                if (c.strict)
                    c.strict->DeviceSent(CMD_ASDU10, n, packet + PACKET_HEADER_SIZE, true, false);
                c.SendAll(envelope, static_cast<std::int32_t>(ENVELOPE_OVERHEAD + bare), TRUE);
                return true;
            }
            case SimFault::Stall:
                StallUntilStopped(c);
                return false;
            case SimFault::Pause: {
                const int outcome = pause();
                if (outcome != kPauseOver)
                    return outcome == kPauseCancelled;
                break;
            }
            case SimFault::Flood:
            case SimFault::None:
                break;
            }
        }
        if (watchCancel) {
            // A cancel may arrive at any time while the stream runs.
            if (sim::InputWaiting(c.m_hSocket)) {
                if (!takeClientPacket(&cancelled))
                    return false;
                if (cancelled)
                    return true;
            }
        }
        std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, total - offset));
        c.SetHeader(CMD_ASDU10, n);
        if (file.is_open()) {
            if (!file.read(reinterpret_cast<char*>(c.Payload()), n))
                return false;
        } else {
            FillGenerated(offset, c.Payload(), n);
        }
        if (!c.Transmit())
            return false;
        offset += n;
        ++sent;
        if (acks && (!takeClientPacket(&cancelled) || cancelled))
            return cancelled;
    }
    if (fault == SimFault::Pause && sent == m_options.faultAfterPackets) {
        const int outcome = pause();
        if (outcome != kPauseOver)
            return outcome == kPauseCancelled;
    }
    // A flood's acknowledgements, one before and one after each packet,
    // still wait unread (a client told 0 bytes sends none).
    if (fault == SimFault::Flood && c.m_wAckMode != 0 && !(promise && announced == 0))
        streamEnd.unreadAcks = sent + 1;
    if (c.deviation == SimDeviation::Asdu10EndMark) {
        c.Close();
        return false;
    }
    // Counted before the end mark leaves, so a client that has seen the
    // mark also sees the count.
    ++m_transfersCompleted;
    return c.Send(CMD_ASDU10, nullptr, 0);
}

bool CDeviceSimulator::PauseUnlessStopped(std::chrono::steady_clock::duration length)
{
    // Stop() wakes it through m_cv; the short waits only bound a missed wake-up.
    const auto end = std::chrono::steady_clock::now() + length;
    std::unique_lock<std::mutex> guard(m_mutex);
    while (!m_stopping) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= end)
            return true;
        m_cv.wait_for(guard, std::min<std::chrono::steady_clock::duration>(end - now, kPausePoll));
    }
    return false;
}

void CDeviceSimulator::StallUntilStopped(Connection& c)
{
    // Silent until the client hangs up or the simulator stops.
    while (!m_stopping && c.Open()) {
        if (c.WaitReadable(kStallPoll)) {
            std::uint8_t discard[512];
            c.ReceiveAll(discard, 1, FALSE);
        }
    }
}

// The example answering host's exchange; the command numbers are that
// example's own (examples/answering_host.c), not the device's.
namespace {
constexpr std::uint32_t kAskList = 0x7E000001;
constexpr std::uint32_t kAskFile = 0x7E000002;
constexpr std::uint32_t kFileData = 0x7E000003;
constexpr std::size_t kRecordSize = sizeof(FileInfoRecord);
constexpr std::size_t kRecordPathOffset = offsetof(FileInfoRecord, path);
constexpr std::size_t kRecordSizeOffset = offsetof(FileInfoRecord, size);
} // namespace

std::string CDeviceSimulator::AskFilesOutcome()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_askFilesOutcome;
}

namespace {
// Sends a FileRequest for `path` and gathers the answer up to the closing
// reply: the packets of `first` and of `more` in order.
template <class Connection>
bool Ask(Connection& c, std::uint32_t command, const std::string& path, std::uint32_t more, std::string* first,
     std::string* rest, std::uint32_t* code, const std::function<void()>& whileAsking = nullptr)
{
    std::string request(12, '\0');
    request += path;
    request.push_back('\0');
    if (request.size() > PACKET_PAYLOAD_MAX ||
        !c.Send(command, request.data(), static_cast<std::uint32_t>(request.size())))
        return false;
    if (whileAsking)
        whileAsking();
    for (;;) {
        if (!c.ReceivePacket(c.m_packet, TRUE))
            return false;
        PacketHeader h = c.Header();
        const char* payload = reinterpret_cast<const char*>(c.Payload());
        if (h.command == CMD_REPLY) {
            *code = h.length >= 4 ? ReadU32(c.Payload()) : 0;
            return true;
        }
        if (h.command == command)
            first->append(payload, h.length);
        else if (h.command == more)
            rest->append(payload, h.length);
        else
            return false;
    }
}
} // namespace

std::string CDeviceSimulator::AskFiles(Connection& c)
{
    auto ask = [&](std::uint32_t command, const std::string& path, std::uint32_t more, std::string* first,
                   std::string* rest, std::uint32_t* code) {
        return Ask(c, command, path, more, first, rest, code);
    };

    std::string listing;
    std::string unused;
    std::uint32_t code = 0;
    if (!ask(kAskList, m_options.askFiles, 0, &listing, &unused, &code))
        return "failed: no answer to the listing request";
    if (code != 0 || listing.size() % kRecordSize != 0)
        return "failed: listing answered with code " + std::to_string(code) + " and " +
               std::to_string(listing.size()) + " bytes";
    if (listing.empty())
        return "ok: nothing matches " + m_options.askFiles;
    const std::size_t entries = listing.size() / kRecordSize;
    std::string path(listing.c_str() + kRecordPathOffset);

    std::string record;
    std::string data;
    if (!ask(kAskFile, path, kFileData, &record, &data, &code))
        return "failed: no answer to the file request for " + path;
    if (code != 0 || record.size() != kRecordSize)
        return "failed: file request for " + path + " answered with code " + std::to_string(code);
    const std::uint32_t size = ReadU32(reinterpret_cast<const std::uint8_t*>(record.data()) + kRecordSizeOffset);
    std::string local;
    ReadWholeFile(m_options.filesRoot.empty() ? path : m_options.filesRoot + path, &local);
    if (data.size() != size || data != local)
        return "failed: " + path + ": " + std::to_string(data.size()) + " bytes received, the file differs";
    std::string outcome = "ok: " + std::to_string(entries) + " entries listed; " + path + ": " +
                          std::to_string(size) + " bytes received and verified";
    if (m_options.filesRoot.empty())
        return outcome;
    std::string escapes = AskEscapes(c);
    return escapes.compare(0, 7, "failed:") == 0 ? escapes : outcome + "; " + escapes;
}

// Each attempt may be refused (5), find nothing beneath the root (2, 3),
// or, for the swap, be answered from inside before the swap: never with
// the bytes of the file outside.
std::string CDeviceSimulator::AskEscapes(Connection& c)
{
    namespace fs = std::filesystem;
    const fs::path root(m_options.filesRoot);
    const std::string secret = "outside the root";
    const fs::path outside = root.parent_path() / "escape-victim";
    std::error_code ec;
    {
        std::ofstream(outside, std::ios::binary) << secret;
    }
    fs::create_symlink(root.parent_path(), root / "escape-link", ec);
    fs::create_directory(root / "escape-swap", ec);
    {
        std::ofstream(root / "escape-swap" / "escape-victim", std::ios::binary) << "inside";
    }
    const std::string absolute = outside.string();
    const std::pair<const char*, std::string> attempts[] = {
        {"dot-dot", "../escape-victim"},
        {"absolute", absolute},
        {"planted link", "escape-link/escape-victim"},
        {"swapped link", "escape-swap/escape-victim"},
    };
    std::string report = "escapes:";
    bool escaped = false;
    for (const auto& [name, path] : attempts) {
        std::string record;
        std::string data;
        std::uint32_t code = 0;
        auto swap = [&] {
            if (std::string(name) == "swapped link") {
                fs::rename(root / "escape-swap", root / "escape-swapped", ec);
                fs::create_directory_symlink(root.parent_path(), root / "escape-swap", ec);
            }
        };
        if (!Ask(c, kAskFile, path, kFileData, &record, &data, &code, swap))
            return std::string("failed: no answer to the escape request ") + name;
        escaped = escaped || data.find(secret) != std::string::npos;
        report += std::string(" ") + name + " " + (code == 5 ? "refused (5)" : "answered " + std::to_string(code)) +
                  ",";
    }
    for (const char* left : {"escape-link", "escape-swap", "escape-swapped"})
        fs::remove_all(root / left, ec);
    fs::remove(outside, ec);
    report.pop_back();
    return escaped ? "failed: a file outside the root was sent; " + report : report;
}
