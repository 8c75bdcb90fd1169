// The input layout of the API-sequence target (ApiSequenceFuzz.cpp), shared
// with its seed maker so that both read the bytes the same way.
//
//   byte 0       data set size: kDataSizes[b % 10], served by all three devices
//   bytes 1..9   three devices, 3 bytes each:
//                  a: fault ((a & 15) % 10, Device below), bits 4-5 packets before
//                     the fault, bit 6 acknowledgements on, bit 7 no envelopes
//                  b: bits 0-1 device packet size, 2-4 fault code, 5-7 pause
//                  c: connections served before it stops accepting (c % 4, 0 = no limit)
//   byte 10      n = b % 17 callback actions follow, 3 bytes each (op, object, arg)
//   then         operations, 4 bytes each: op (bit 7: host thread B, else A;
//                Op = low 7 bits % kOpCount), object, arg (2 bytes, little-endian)
//
// Object byte % 8: 0-2 the handle in that slot (NULL when empty), 3 the
// callback's own object (slot 0 outside callbacks), 4 NULL, 5-7 the last
// handle destroyed from slot 0-2 (stale).
#pragma once

#include <cstdint>
#include <string>

namespace apiseq {

enum Op : std::uint8_t {
    Create,
    Destroy,
    Connect,
    ConnectPort,
    SetPacketSizeMax,
    GetPacketSizeMax,
    GetAsdu10,
    GetAsdu10ToCallback,
    GetAsdu10ToPath,
    GetIdent,
    GetDeviceType,
    GetErrorText,
    IsConnected,
    SetWaitLimit,
    GetWaitLimit,
    SetProgressCallback,
    DispatchProgress,
    CancelTransfer,
    WaitTransferDone,
    SetProgressWindow,
    SetTraceCallback,
    SetTransferCallback,
    SetDiagnosticCallback, // from a host thread only (in a callback: GetVersion)
    SetLogPath,            // the same
    SetCaptureFile,
    SendPacket,
    ReceivePacket,
    SendReply,
    FailWrite, // in a write callback: answer non-zero or throw; elsewhere nothing
    GetVersion,
    kOpCount
};

enum Device : std::uint8_t {
    Healthy,
    CloseAt,
    CancelAt,
    ReplyCodeAt,
    BadChecksumAt,
    StallAt,
    Flood,
    PauseAt,
    Silent,
    RefuseGreeting,
    kDeviceKinds
};

constexpr unsigned kDataSizes[10] = {0, 1, 247, 248, 1000, 5000, 16376, 16377, 33000, 70000};
constexpr unsigned kMaxActions = 16;

// Arguments of ConnectPort/Connect: arg % 16 below 8 picks device arg % 3.
constexpr std::uint16_t HostDevice(unsigned device) { return static_cast<std::uint16_t>(device); }
constexpr std::uint16_t HostOdd(unsigned which) { return static_cast<std::uint16_t>(8 + which); }

// Builds inputs in the layout above.
class Encoder {
public:
    explicit Encoder(unsigned dataSizeIndex) { m_bytes.push_back(static_cast<char>(dataSizeIndex)); }
    Encoder& Device(std::uint8_t a, std::uint8_t b = 0, std::uint8_t c = 0)
    {
        m_bytes += {static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)};
        return *this;
    }
    Encoder& Action(Op op, std::uint8_t object, std::uint8_t arg)
    {
        m_actions += {static_cast<char>(op), static_cast<char>(object), static_cast<char>(arg)};
        return *this;
    }
    Encoder& Do(bool threadB, Op op, std::uint8_t object, std::uint16_t arg = 0)
    {
        m_ops += {static_cast<char>(op | (threadB ? 0x80 : 0)), static_cast<char>(object),
                  static_cast<char>(arg & 0xFF), static_cast<char>(arg >> 8)};
        return *this;
    }
    std::string Bytes() const
    {
        std::string out = m_bytes;
        while (out.size() < 10)
            out.push_back('\0');
        out.push_back(static_cast<char>(m_actions.size() / 3));
        return out + m_actions + m_ops;
    }

private:
    std::string m_bytes;
    std::string m_actions;
    std::string m_ops;
};

} // namespace apiseq
