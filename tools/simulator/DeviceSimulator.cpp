#include "DeviceSimulator.h"

#include <algorithm>
#include <cstring>

#include "platform/Socket.h"
#include "socket/GLSocket.h"
#include "support/File.h"

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
