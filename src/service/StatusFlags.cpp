// The service side's status flags, and its answer to what it does not do.
#include "vexacomm/GLSocket.h"

BOOL CGLSocket::ReplyNotSupported(const void*) { return SendReply(COMM_ERR_NOT_SUPPORTED); }

BOOL CGLSocket::SendStatusFlags()
{
    SetHeader(CMD_STATUS, 4);
    WriteU32(Payload(), m_dwStatusFlags);
    return SendPacket(m_packet, TRUE);
}

BOOL CGLSocket::ClearStatusFlags(std::uint32_t mask)
{
    m_dwStatusFlags &= ~mask;
    return SendReply(0);
}

BOOL CGLSocket::SetStatusFlags(std::uint32_t mask)
{
    m_dwStatusFlags |= mask;
    return SendReply(0);
}
