// The rules are those of the framing, the set-up, the data stream and the
// device requests, seen from the device: only what the host sends is judged.
#include "StrictChecks.h"

#include "vexacomm/ErrorCodes.h"
#include "vexacomm/Protocol.h"

std::string CommandText(std::uint32_t command)
{
    const char* name = nullptr;
    switch (command) {
    case CMD_REPLY: name = "CMD_REPLY"; break;
    case CMD_PACKET_SIZE: name = "CMD_PACKET_SIZE"; break;
    case CMD_ACK_MODE: name = "CMD_ACK_MODE"; break;
    case CMD_IDENT: name = "CMD_IDENT"; break;
    case CMD_CANCEL: name = "CMD_CANCEL"; break;
    case CMD_STATUS: name = "CMD_STATUS"; break;
    case CMD_DEVICE_TYPE: name = "CMD_DEVICE_TYPE"; break;
    case CMD_ASDU10: name = "CMD_ASDU10"; break;
    case CMD_ENVELOPE_PROBE: name = "CMD_ENVELOPE_PROBE"; break;
    default: return "command " + std::to_string(command);
    }
    return std::string(name) + " (" + std::to_string(command) + ")";
}

void CStrictChecks::Deviation(const char* rule, const std::string& expected, const std::string& came)
{
    m_report(rule, "expected " + expected, "got " + came);
}

void CStrictChecks::DeviceSent(std::uint32_t command, std::uint32_t length, const std::uint8_t* payload,
                               bool enveloped, bool probeAnswer)
{
    // The host follows the code of a coded probe answer, not its framing.
    if (probeAnswer && command == CMD_REPLY && length != 0)
        m_expectEnvelope = ReadU32(payload) == static_cast<std::uint32_t>(COMM_CODE_ENVELOPE_ON);
    else
        m_expectEnvelope = enveloped;
}

void CStrictChecks::HostPacket(const std::uint8_t* packet, bool enveloped, Moment moment)
{
    const std::uint32_t command = ReadU32(packet);
    const std::uint32_t length = ReadU32(packet + 4);
    const std::string came =
        CommandText(command) + ", length " + std::to_string(length) + (enveloped ? ", enveloped" : ", bare");
    if (command == CMD_ENVELOPE_PROBE) {
        if (enveloped || length != 0)
            Deviation("probe-bare", "the probe as the 8 bytes 92 76 33 76 00 00 00 00", came);
    } else if (enveloped != m_expectEnvelope) {
        Deviation("framing",
                  m_expectEnvelope ? "an envelope, as the device last spoke" : "a bare packet, as the device last spoke",
                  came);
    }
    CheckOrder(command, came);
    CheckPayload(packet, came);
    CheckStreamMoment(command, length, moment, came);
}

void CStrictChecks::BadLength(std::uint32_t length, bool enveloped)
{
    Deviation("length", "a length of at most 16376",
              "length " + std::to_string(length) + (enveloped ? " in an envelope" : ""));
}

void CStrictChecks::BadEnvelope(const std::string& expected, const std::string& came)
{
    Deviation("envelope", expected, came);
}

void CStrictChecks::CheckOrder(std::uint32_t command, const std::string& came)
{
    switch (m_stage) {
    case 0:
        if (command != CMD_ENVELOPE_PROBE)
            Deviation("probe-first", "the envelope probe first after the greeting", came);
        // One report per fault: a missing probe does not also break the order.
        m_stage = command == CMD_ENVELOPE_PROBE ? 1 : command == CMD_PACKET_SIZE ? 2 : 3;
        break;
    case 1:
    case 2: {
        const std::uint32_t next = m_stage == 1 ? CMD_PACKET_SIZE : CMD_ACK_MODE;
        if (command != next)
            Deviation("negotiation-order",
                      m_stage == 1 ? "CMD_PACKET_SIZE (3) after the probe" : "CMD_ACK_MODE (4) after CMD_PACKET_SIZE",
                      came);
        m_stage = command == next ? m_stage + 1 : 3;
        break;
    }
    default:
        if (command == CMD_ENVELOPE_PROBE)
            Deviation("probe-first", "the probe only once, first after the greeting", came);
        break;
    }
}

void CStrictChecks::CheckPayload(const std::uint8_t* packet, const std::string& came)
{
    const std::uint32_t command = ReadU32(packet);
    const std::uint32_t length = ReadU32(packet + 4);
    const std::uint8_t* payload = packet + PACKET_HEADER_SIZE;
    const std::uint16_t value = ReadU16(payload); // zero-filled past a short payload
    switch (command) {
    case CMD_PACKET_SIZE:
        if (length != 2 || !((value >= PACKET_SIZE_MIN && value <= PACKET_PAYLOAD_MAX) || value == NEGOTIATE_QUERY))
            Deviation("packet-size-request", "length 2 and a size of 248..16376 or 0xFFFF",
                      came + ", value " + std::to_string(value));
        break;
    case CMD_ACK_MODE:
        if (length != 2 || !(value <= ACK_MODE_MAX || value == NEGOTIATE_QUERY))
            Deviation("ack-mode-request", "length 2 and a mode of 0..30000 or 0xFFFF",
                      came + ", value " + std::to_string(value));
        break;
    case CMD_DEVICE_TYPE:
    case CMD_IDENT:
        if (length != 0)
            Deviation("empty-request", "an empty payload", came);
        break;
    case CMD_ASDU10: {
        // N = -1 travels as an empty payload; any other payload carries N.
        const int n = static_cast<std::int16_t>(ReadU16(payload + ASDU10_COUNT_OFFSET));
        if (length != 0 && (length < ASDU10_HEAD_SIZE || n < 0 || n > ASDU10_MAX_ENTRIES ||
                            length != Asdu10RequestSize(static_cast<std::int16_t>(n))))
            Deviation("asdu10-request-length",
                      "length 0 for N = -1, else 8 + 8 x N with N in 0..2046",
                      came + (length >= ASDU10_HEAD_SIZE ? ", N = " + std::to_string(n) : ""));
        break;
    }
    case CMD_CANCEL:
        if (length != 0)
            Deviation("cancel", "an empty CMD_CANCEL", came);
        break;
    case CMD_REPLY:
    case CMD_ENVELOPE_PROBE:
        break;
    default:
        Deviation("unknown-command", "a command the host sends", came);
        break;
    }
}

void CStrictChecks::CheckStreamMoment(std::uint32_t command, std::uint32_t length, Moment moment,
                                      const std::string& came)
{
    switch (moment) {
    case Moment::Request:
        if (command == CMD_REPLY) {
            if (m_acksOwed > 0)
                --m_acksOwed;
            else
                Deviation("acks", "no acknowledgement outside a data stream (none after the end mark, none in mode 0)",
                          came);
        } else if (command == CMD_CANCEL) {
            if (!m_lateCancel)
                Deviation("cancel", "CMD_CANCEL only during a data stream", came);
            m_lateCancel = false;
        } else {
            m_acksOwed = 0;
            m_lateCancel = false;
        }
        break;
    case Moment::Acknowledgement:
        if (command == CMD_CANCEL)
            m_cancelled = true;
        else if (command != CMD_REPLY || length != 0)
            Deviation("acks", "an empty CMD_REPLY (acknowledgement mode on)", came);
        break;
    case Moment::Streaming:
        if (command == CMD_CANCEL)
            m_cancelled = true;
        else
            Deviation("acks",
                      command == CMD_REPLY ? "no acknowledgement in acknowledgement mode 0"
                                           : "nothing but CMD_CANCEL while the data streams",
                      came);
        break;
    }
}

void CStrictChecks::StreamBegins(bool acks)
{
    m_acks = acks;
    m_cancelled = false;
}

void CStrictChecks::StreamEnds(unsigned unreadAcks)
{
    // After its cancel a host still acknowledges the packet it cancelled after.
    m_acksOwed = unreadAcks + (m_acks && m_cancelled ? 1 : 0);
    m_lateCancel = !m_acks && !m_cancelled;
}
