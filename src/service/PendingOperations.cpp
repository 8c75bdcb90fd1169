// Service operations not yet available on this platform: each refuses with
// "not supported" and creates nothing.
#include "service/ServiceRecords.h"
#include "socket/GLSocket.h"

BOOL CGLSocket::GetFileInfo(FileInfoRecord*, const char*)
{
    SetError(COMM_ERR_NOT_SUPPORTED);
    return FALSE;
}
BOOL CGLSocket::GetFileInfoVersion(FileInfoVersionRecord*, const char*)
{
    SetError(COMM_ERR_NOT_SUPPORTED);
    return FALSE;
}
CFile* CGLSocket::CreateReceiveFile(const FileInfoRecord*)
{
    SetError(COMM_ERR_NOT_SUPPORTED);
    return nullptr;
}
CFile* CGLSocket::OpenSendFile(FileInfoRecord*, const FileRequest*)
{
    SetError(COMM_ERR_NOT_SUPPORTED);
    return nullptr;
}
std::string CGLSocket::ListDirectory(const FileRequest*)
{
    SetError(COMM_ERR_NOT_SUPPORTED);
    return std::string();
}
void CGLSocket::StartProgram(const ProgramRequest*) { SendReply(COMM_ERR_NOT_SUPPORTED); }
BOOL CGLSocket::MakeDirectory(const char*) { return SendReply(COMM_ERR_NOT_SUPPORTED); }
BOOL CGLSocket::DeletePath(const char*) { return SendReply(COMM_ERR_NOT_SUPPORTED); }
