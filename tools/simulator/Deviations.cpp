#include "Deviations.h"

const DeviationInfo kDeviations[11] = {
    {SimDeviation::GreetingCommand, "greeting-command", "the greeting is a CMD_STATUS with 4 bytes, not a CMD_REPLY"},
    {SimDeviation::ProbeAnswerCommand, "probe-answer-command", "the envelope probe is answered with CMD_STATUS"},
    {SimDeviation::ReplyReserved, "reply-reserved", "every CMD_REPLY with a code has a non-zero reserved word"},
    {SimDeviation::EnvelopeChecksum, "envelope-checksum", "every envelope's checksum is one too high"},
    {SimDeviation::EnvelopeDropped, "envelope-dropped", "answers go out bare after envelopes are on"},
    {SimDeviation::PacketSizeCommand, "packet-size-command", "CMD_PACKET_SIZE is answered with an empty CMD_REPLY"},
    {SimDeviation::AckModeCommand, "ack-mode-command", "CMD_ACK_MODE is answered with an empty CMD_REPLY"},
    {SimDeviation::DeviceTypeCommand, "device-type-command", "CMD_DEVICE_TYPE is answered with CMD_IDENT"},
    {SimDeviation::IdentCommand, "ident-command", "CMD_IDENT is answered with CMD_DEVICE_TYPE"},
    {SimDeviation::Asdu10Total, "asdu10-total", "the first ASDU 10 answer announces one byte more than follows"},
    {SimDeviation::Asdu10EndMark, "asdu10-end-mark", "the connection closes after the data instead of the end mark"},
};

bool ParseDeviation(const std::string& name, SimDeviation* deviation)
{
    for (const DeviationInfo& d : kDeviations) {
        if (name == d.name) {
            *deviation = d.deviation;
            return true;
        }
    }
    return false;
}
