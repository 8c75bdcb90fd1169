// The --trace lines: one per packet, "> " for what this side sends and
// "< " for what it receives, with the command's name, the payload length,
// "env" for an enveloped packet and what the payload means where that is
// short: a reply's code, a data packet's number in its stream. It also
// counts the packets and bytes of each direction.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "VexaCommLib.h"

class CPacketTrace {
public:
    // `prefix` starts every line; `hex` adds the first 64 payload bytes;
    // `out` NULL only counts.
    CPacketTrace(std::FILE* out, bool hex, std::string prefix = std::string())
        : m_out(out), m_hex(hex), m_prefix(std::move(prefix))
    {
    }

    // "wire: sent ..., received ... in S s": packets and bytes with
    // headers and envelopes.
    void PrintSummary(std::FILE* out, double seconds) const;

    void Packet(int32_t direction, uint32_t command, uint32_t length, bool enveloped, const uint8_t* payload);

    // For VexaComm_SetTraceCallback, with the trace as `user`.
    static void VEXACOMM_CALL Callback(void* user, int32_t direction, uint32_t command, uint32_t length,
                                       int32_t enveloped, const void* payload);

private:
    std::FILE* m_out;
    bool m_hex;
    std::string m_prefix;
    // The direction the data of the last ASDU 10 request flows in, and how
    // many packets of it went by; -1 while none is expected.
    int32_t m_dataDirection = -1;
    uint32_t m_dataPackets = 0;
    uint64_t m_packets[2] = {0, 0}; // by direction
    uint64_t m_bytes[2] = {0, 0};
};

// "--trace" or "--trace=hex"; anything else is a usage error.
bool TraceWantsHex(const std::string& value);
