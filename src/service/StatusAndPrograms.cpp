// The service side's status flags and program requests.
#include "service/ServiceRecords.h"
#include "vexacomm/GLSocket.h"

BOOL CGLSocket::RunProgramRequest(const ProgramRequest* request)
{
    switch (request->kind) {
    case PROGRAM_KIND_START:
        StartProgram(request);
        return TRUE;
    case PROGRAM_KIND_RESERVED:
        return ReplyNotSupported(request);
    default:
        return SendReply(COMM_ERR_NOT_SUPPORTED);
    }
}

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
