// The --trace lines of fetch and simulate, with command names from one table.
#include "cli/PacketTrace.h"

#include "cli/Args.h"
#include "vexacomm/Protocol.h"

namespace {

struct CommandName {
    uint32_t command;
    const char* name;
};

const CommandName kCommandNames[] = {
    {CMD_REPLY, "REPLY"},           {CMD_PACKET_SIZE, "PACKET_SIZE"}, {CMD_ACK_MODE, "ACK_MODE"},
    {CMD_IDENT, "IDENT"},           {CMD_CANCEL, "CANCEL"},           {CMD_STATUS, "STATUS"},
    {CMD_DEVICE_TYPE, "DEVICE_TYPE"}, {CMD_ASDU10, "ASDU10"},         {CMD_ENVELOPE_PROBE, "ENVELOPE_PROBE"},
};

constexpr uint32_t kHexBytes = 64;

std::string NameOf(uint32_t command)
{
    for (const CommandName& c : kCommandNames) {
        if (c.command == command)
            return c.name;
    }
    char text[16];
    std::snprintf(text, sizeof(text), "0x%X", command);
    return text;
}

} // namespace

void CPacketTrace::Packet(int32_t direction, uint32_t command, uint32_t length, bool enveloped,
                          const uint8_t* payload)
{
    const int side = direction == VEXACOMM_TRACE_SENT ? 0 : 1;
    ++m_packets[side];
    m_bytes[side] += PACKET_HEADER_SIZE + length + (enveloped ? ENVELOPE_OVERHEAD : 0);
    if (m_out == nullptr)
        return;
    std::string name = NameOf(command);
    std::string detail;
    if (command == CMD_ASDU10) {
        if (direction == m_dataDirection) {
            // The first answer carries the total; then come the data packets
            // and the empty end mark.
            if (m_dataPackets++ != 0) {
                name = "DATA";
                detail = length == 0 ? " (end)" : " (packet " + std::to_string(m_dataPackets - 1) + ")";
            } else if (length >= 4) {
                detail = " total " + std::to_string(ReadU32(payload));
            }
            if (length == 0)
                m_dataDirection = -1;
        } else {
            m_dataDirection = direction == VEXACOMM_TRACE_SENT ? VEXACOMM_TRACE_RECEIVED : VEXACOMM_TRACE_SENT;
            m_dataPackets = 0;
        }
    } else if (command == CMD_REPLY && length >= 4) {
        detail = " code " + std::to_string(static_cast<int32_t>(ReadU32(payload)));
    } else if ((command == CMD_PACKET_SIZE || command == CMD_ACK_MODE || command == CMD_DEVICE_TYPE) && length >= 2) {
        detail = " value " + std::to_string(ReadU16(payload));
    }
    std::fprintf(m_out, "%s%s %s len %u%s%s\n", m_prefix.c_str(), direction == VEXACOMM_TRACE_SENT ? ">" : "<",
                 name.c_str(), length, enveloped ? " env" : "", detail.c_str());
    if (m_hex && length != 0) {
        const uint32_t shown = length < kHexBytes ? length : kHexBytes;
        for (uint32_t row = 0; row < shown; row += 16) {
            std::fprintf(m_out, "%s    %04x ", m_prefix.c_str(), row);
            for (uint32_t i = row; i < row + 16 && i < shown; ++i)
                std::fprintf(m_out, " %02x", payload[i]);
            std::fputc('\n', m_out);
        }
    }
}

void CPacketTrace::PrintSummary(std::FILE* out, double seconds) const
{
    std::fprintf(out, "wire: sent %llu packets (%llu bytes), received %llu packets (%llu bytes) in %.3f s\n",
                 static_cast<unsigned long long>(m_packets[0]), static_cast<unsigned long long>(m_bytes[0]),
                 static_cast<unsigned long long>(m_packets[1]), static_cast<unsigned long long>(m_bytes[1]), seconds);
}

void VEXACOMM_CALL CPacketTrace::Callback(void* user, int32_t direction, uint32_t command, uint32_t length,
                                          int32_t enveloped, const void* payload)
{
    static_cast<CPacketTrace*>(user)->Packet(direction, command, length, enveloped != 0,
                                             static_cast<const uint8_t*>(payload));
}

bool TraceWantsHex(const std::string& value)
{
    if (value.empty())
        return false;
    if (value == "hex")
        return true;
    throw UsageError{"--trace takes no value or =hex, not '" + value + "'"};
}
