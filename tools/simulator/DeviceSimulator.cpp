#include "DeviceSimulator.h"

#include <algorithm>
#include <cstring>

#include "platform/DiskFile.h"
#include "platform/Socket.h"
#include "socket/GLSocket.h"

namespace {
constexpr int kAcceptPollMs = 50;
constexpr WaitLimit kStallPoll = {0, 50000};

std::string ListenErrorText(int error)
{
    switch (error) {
    case 10013: return "permission denied";
    case 10048: return "address already in use";
    case 10049: return "address not available on this machine";
    default: return "socket error " + std::to_string(error);
    }
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
    std::mutex fdMutex;

    void Close() override
    {
        std::lock_guard<std::mutex> guard(fdMutex);
        CGLSocket::Close();
    }

    void Interrupt()
    {
        std::lock_guard<std::mutex> guard(fdMutex);
        plat::SocketShutdown(m_hSocket);
    }

    bool Open() const { return m_hSocket != kInvalidSocket; }

    bool Send(std::uint32_t command, const void* payload, std::uint32_t length)
    {
        SetHeader(command, length);
        if (length != 0)
            std::memcpy(Payload(), payload, length);
        return SendPacket(m_packet, TRUE) != 0;
    }
};

CDeviceSimulator::CDeviceSimulator(SimulatorOptions options) : m_options(std::move(options)) {}

CDeviceSimulator::~CDeviceSimulator() { Stop(); }

bool CDeviceSimulator::Start(std::string* error)
{
    std::uint32_t address = plat::ParseIPv4(m_options.bindAddress.c_str());
    if (address == 0xFFFFFFFFu) {
        if (error != nullptr)
            *error = "not a dotted IPv4 address: " + m_options.bindAddress;
        return false;
    }
    m_listener = plat::SocketListenTcp(address, m_options.port, &m_port);
    if (m_listener == kInvalidSocket) {
        if (error != nullptr)
            *error = "cannot listen on " + m_options.bindAddress + ":" +
                     std::to_string(m_options.port) + ": " + ListenErrorText(plat::SocketLastError());
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
        plat::SocketClose(m_listener);
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
        SocketHandle s = plat::SocketAccept(m_listener, kAcceptPollMs);
        if (s == kInvalidSocket)
            continue;
        auto connection = std::make_shared<Connection>();
        connection->m_hSocket = s;
        ++m_connections;
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
    if (m_stopping)
        c.Interrupt();

    if (m_options.silent) {
        StallUntilStopped(c);
        c.Close();
        return;
    }
    c.SendReply(m_options.refuseGreeting ? COMM_ERR_CONNECT_REFUSED : 0);
    if (m_options.refuseGreeting) {
        c.Close();
        return;
    }
    std::uint8_t request[PACKET_BUFFER_SIZE];
    while (!m_stopping && c.Open()) {
        if (!c.ReceivePacket(c.m_packet, TRUE)) {
            if (c.m_nLastError == 10060 && c.Open())
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
            c.SendReply(static_cast<std::uint32_t>(m_options.replyCode));
            continue;
        }
        switch (header.command) {
        case CMD_ENVELOPE_PROBE:
            c.SendReply(m_options.envelope ? static_cast<std::uint32_t>(COMM_CODE_ENVELOPE_ON) : 0);
            break;
        case CMD_PACKET_SIZE:
            c.AnswerPacketSize(ReadU16(c.Payload()));
            break;
        case CMD_ACK_MODE:
            c.AnswerAckMode(ReadU16(c.Payload()));
            break;
        case CMD_DEVICE_TYPE: {
            std::uint8_t type[2];
            WriteU16(type, m_options.deviceType);
            c.Send(CMD_DEVICE_TYPE, type, sizeof(type));
            break;
        }
        case CMD_IDENT: {
            std::size_t n = std::min<std::size_t>(m_options.ident.size(), PACKET_PAYLOAD_MAX - 1);
            std::string text = m_options.ident.substr(0, n);
            c.Send(CMD_IDENT, text.c_str(), static_cast<std::uint32_t>(n + 1));
            if (!m_options.askFiles.empty()) {
                std::string outcome = AskFiles(c);
                std::lock_guard<std::mutex> guard(m_mutex);
                m_askFilesOutcome = outcome;
                c.Close();
            }
            break;
        }
        case CMD_ASDU10:
            std::memcpy(request, c.Payload(), header.length);
            if (!ServeAsdu10(c, request, header.length))
                c.Close();
            break;
        case CMD_REPLY:
        case CMD_CANCEL:
            break; // late acknowledgements and cancels of an ended transfer
        default:
            c.SendReply(COMM_ERR_NOT_SUPPORTED);
            break;
        }
    }
    c.Close();
}

bool CDeviceSimulator::ServeAsdu10(Connection& c, const std::uint8_t*, std::uint32_t)
{
    CDiskFile file;
    std::uint32_t total = m_options.generatedBytes;
    if (!m_options.dataFile.empty()) {
        if (!file.Open(m_options.dataFile.c_str(), CFile::modeRead | CFile::shareDenyNone)) {
            c.SendReply(COMM_ERR_FILE_CREATE);
            return true;
        }
        total = file.GetLength();
    }
    std::uint8_t head[4];
    WriteU32(head, total);
    if (!c.Send(CMD_ASDU10, head, sizeof(head)))
        return false;
    if (total == 0)
        return true; // the client expects no data packet at all

    const bool acks = c.m_wAckMode != 0;
    // Answers the client's packet after a data packet: true to go on.
    auto takeClientPacket = [&](bool* cancelled) {
        *cancelled = false;
        if (!c.ReceivePacket(c.m_packet, TRUE))
            return false;
        if (c.Header().command == CMD_CANCEL) {
            ++m_cancelsReceived;
            *cancelled = true;
            return c.Send(CMD_CANCEL, nullptr, 0);
        }
        return c.Header().command == CMD_REPLY;
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
        if (m_options.fault != SimFault::None && sent == m_options.faultAfterPackets) {
            switch (m_options.fault) {
            case SimFault::Close:
                c.Close();
                return false;
            case SimFault::Cancel:
                return c.Send(CMD_CANCEL, nullptr, 0);
            case SimFault::ReplyCode:
                c.SendReply(static_cast<std::uint32_t>(m_options.faultCode));
                return true;
            case SimFault::BadChecksum: {
                std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, total - offset));
                std::uint8_t packet[ENVELOPE_OVERHEAD + PACKET_BUFFER_SIZE];
                WriteU32(packet, ENVELOPE_HEAD_MAGIC);
                WriteU32(packet + 4, ENVELOPE_HEAD_MAGIC);
                WriteU32(packet + 8, CMD_ASDU10);
                WriteU32(packet + 12, n);
                FillGenerated(offset, packet + 16, n);
                WriteU32(packet + 16 + n, ByteSum(packet + 8, 8 + n) + 1);
                WriteU32(packet + 20 + n, ENVELOPE_TAIL_MAGIC);
                WriteU32(packet + 24 + n, ENVELOPE_TAIL_MAGIC);
                c.SendAll(packet, static_cast<std::int32_t>(n + 28), TRUE);
                return true;
            }
            case SimFault::Stall:
                StallUntilStopped(c);
                return false;
            case SimFault::None:
                break;
            }
        }
        if (!acks) {
            // A cancel may arrive at any time while the stream runs.
            unsigned long waiting = 0;
            if (plat::SocketPendingBytes(c.m_hSocket, &waiting) == 0 && waiting != 0) {
                if (!takeClientPacket(&cancelled))
                    return false;
                if (cancelled)
                    return true;
            }
        }
        std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, total - offset));
        c.SetHeader(CMD_ASDU10, n);
        if (file.IsOpen()) {
            if (file.Read(c.Payload(), n) != n)
                return false;
        } else {
            FillGenerated(offset, c.Payload(), n);
        }
        if (!c.SendPacket(c.m_packet, TRUE))
            return false;
        offset += n;
        ++sent;
        if (acks && (!takeClientPacket(&cancelled) || cancelled))
            return cancelled;
    }
    // Counted before the end mark leaves, so a client that has seen the
    // mark also sees the count.
    ++m_transfersCompleted;
    return c.Send(CMD_ASDU10, nullptr, 0);
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
constexpr std::size_t kRecordSize = 292;
constexpr std::size_t kRecordPathOffset = 36;
} // namespace

std::string CDeviceSimulator::AskFilesOutcome()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_askFilesOutcome;
}

std::string CDeviceSimulator::AskFiles(Connection& c)
{
    // Sends a FileRequest for `path` and gathers the answer up to the
    // closing reply: the packets of `first` and of `more` in order.
    auto ask = [&](std::uint32_t command, const std::string& path, std::uint32_t more, std::string* first,
                   std::string* rest, std::uint32_t* code) {
        std::string request(12, '\0');
        request += path;
        request.push_back('\0');
        if (request.size() > PACKET_PAYLOAD_MAX ||
            !c.Send(command, request.data(), static_cast<std::uint32_t>(request.size())))
            return false;
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
    const std::uint32_t size = ReadU32(reinterpret_cast<const std::uint8_t*>(record.data()) + 20);
    CDiskFile file;
    std::string local;
    if (file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone)) {
        local.resize(file.GetLength());
        if (!local.empty())
            local.resize(file.Read(&local[0], static_cast<std::uint32_t>(local.size())));
        file.Close();
    }
    if (data.size() != size || data != local)
        return "failed: " + path + ": " + std::to_string(data.size()) + " bytes received, the file differs";
    return "ok: " + std::to_string(entries) + " entries listed; " + path + ": " + std::to_string(size) +
           " bytes received and verified";
}
