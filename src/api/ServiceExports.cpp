// The service operations for hosts that answer a peer's requests
// themselves: one export per operation, run through the object's virtual
// table, and the transfer files and packets around them.
#include <cstring>

#include "VexaCommService.h"
#include "api/NullArgument.h"
#include "api/ObjectHandle.h"
#include "api/TextCopy.h"
#include "service/TempDir.h"
#include "support/FileCause.h"

namespace {

CFile* FromTransfer(VexaCommTransfer* file) { return reinterpret_cast<CFile*>(file); }
VexaCommTransfer* ToTransfer(CFile* file) { return reinterpret_cast<VexaCommTransfer*>(file); }

// An operation that answers the peer: without a connection the answer was
// lost, which the host must hear about even though nothing was recorded.
template <class Op>
int32_t RunAnswer(VexaCommObject* obj, Op&& op)
{
    return RunOperation(obj, [&](CDeviceSocket& s) {
        op(s);
        return s.IsOpen() || s.LastError() != 0 ? TRUE : FALSE;
    });
}

// A file exception of a transfer file, as a result code.
template <class Op>
int32_t RunFileCall(Op&& op)
{
    try {
        op();
        return 0;
    } catch (CFileException* e) {
        return TakeCause(e);
    } catch (...) {
        return COMM_ERR_EXCEPTION;
    }
}

// Hands a transfer file out; a failure without a recorded reason is the
// want of memory for the object.
void HandOut(CDeviceSocket& s, CFile* opened, VexaCommTransfer** file)
{
    *file = ToTransfer(opened);
    if (opened == nullptr && s.LastError() == 0)
        s.StoreError(COMM_ERR_FILE_CREATE);
}

} // namespace

extern "C" {

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_TransferRead(VexaCommTransfer* file, void* buffer, uint32_t count,
                                                        uint32_t* done)
{
    if (done != nullptr)
        *done = 0;
    if (file == nullptr)
        return CFileException::invalidFile;
    if (buffer == nullptr)
        return VEXACOMM_ERR_INVALID_PARAMETER;
    return RunFileCall([&] {
        uint32_t n = FromTransfer(file)->Read(buffer, count);
        if (done != nullptr)
            *done = n;
    });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_TransferWrite(VexaCommTransfer* file, const void* data, uint32_t count)
{
    if (file == nullptr)
        return CFileException::invalidFile;
    if (data == nullptr)
        return VEXACOMM_ERR_INVALID_PARAMETER;
    return RunFileCall([&] { FromTransfer(file)->Write(data, count); });
}

VEXACOMM_API uint32_t VEXACOMM_CALL VexaComm_TransferLength(VexaCommTransfer* file)
{
    if (file == nullptr)
        return 0;
    uint32_t length = 0;
    RunFileCall([&] { length = FromTransfer(file)->GetLength(); });
    return length;
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceGetFileInfo(VexaCommObject* obj, FileInfoRecord* record,
                                                              const char* path)
{
    return RunOperation(obj, [&](CDeviceSocket& s) {
        return record != nullptr && path != nullptr ? s.GetFileInfo(record, path) : RefuseNull(s);
    });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceGetFileInfoVersion(VexaCommObject* obj,
                                                                     FileInfoVersionRecord* record,
                                                                     const char* path)
{
    return RunOperation(obj, [&](CDeviceSocket& s) {
        return record != nullptr && path != nullptr ? s.GetFileInfoVersion(record, path) : RefuseNull(s);
    });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceCreateReceiveFile(VexaCommObject* obj,
                                                                    const FileInfoRecord* record,
                                                                    VexaCommTransfer** file)
{
    if (file != nullptr)
        *file = nullptr;
    return RunOperation(obj, [&](CDeviceSocket& s) {
        // Without a place for the handle nothing is created.
        if (record == nullptr || file == nullptr)
            return RefuseNull(s);
        HandOut(s, s.CreateReceiveFile(record), file);
        return TRUE;
    });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceOpenSendFile(VexaCommObject* obj, FileInfoRecord* record,
                                                               const FileRequest* request,
                                                               VexaCommTransfer** file)
{
    if (file != nullptr)
        *file = nullptr;
    return RunOperation(obj, [&](CDeviceSocket& s) {
        // Without a place for the handle no compressed copy is made.
        if (record == nullptr || request == nullptr || file == nullptr)
            return RefuseNull(s);
        HandOut(s, s.OpenSendFile(record, request), file);
        return TRUE;
    });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceCloseTransferFile(VexaCommObject* obj, VexaCommTransfer* file)
{
    return RunOperation(obj, [&](CDeviceSocket& s) {
        s.CloseTransferFile(FromTransfer(file), 0, 0);
        return TRUE;
    });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceCloseFileOnStatus(VexaCommObject* obj, VexaCommTransfer* file,
                                                                    const uint16_t* status, int32_t check)
{
    return RunOperation(obj, [&](CDeviceSocket& s) {
        s.CloseFileOnStatus(FromTransfer(file), status, check != 0 ? TRUE : FALSE);
        return TRUE;
    });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceListDirectory(VexaCommObject* obj, const FileRequest* request,
                                                                char* name, int32_t size)
{
    if (name != nullptr && size > 0)
        name[0] = '\0';
    return RunOperation(obj, [&](CDeviceSocket& s) {
        // A listing whose name the host cannot learn would only be litter.
        if (request == nullptr || name == nullptr)
            return RefuseNull(s);
        CopyText(s.ListDirectory(request), name, size);
        return TRUE;
    });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceRunProgramRequest(VexaCommObject* obj,
                                                                    const ProgramRequest* request)
{
    return RunAnswer(obj, [&](CDeviceSocket& s) {
        request != nullptr ? s.RunProgramRequest(request) : RefuseNull(s);
    });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceStartProgram(VexaCommObject* obj, const ProgramRequest* request)
{
    return RunAnswer(obj, [&](CDeviceSocket& s) {
        if (request != nullptr)
            s.StartProgram(request);
        else
            RefuseNull(s);
    });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceReplyNotSupported(VexaCommObject* obj, const void* request)
{
    return RunAnswer(obj, [&](CDeviceSocket& s) { s.ReplyNotSupported(request); });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceSendStatusFlags(VexaCommObject* obj)
{
    return RunAnswer(obj, [&](CDeviceSocket& s) { s.SendStatusFlags(); });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceClearStatusFlags(VexaCommObject* obj, uint32_t mask)
{
    return RunAnswer(obj, [&](CDeviceSocket& s) { s.ClearStatusFlags(mask); });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceSetStatusFlags(VexaCommObject* obj, uint32_t mask)
{
    return RunAnswer(obj, [&](CDeviceSocket& s) { s.SetStatusFlags(mask); });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceMakeDirectory(VexaCommObject* obj, const char* path)
{
    return RunAnswer(obj, [&](CDeviceSocket& s) { path != nullptr ? s.MakeDirectory(path) : RefuseNull(s); });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceDeletePath(VexaCommObject* obj, const char* path)
{
    return RunAnswer(obj, [&](CDeviceSocket& s) { path != nullptr ? s.DeletePath(path) : RefuseNull(s); });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ReceivePacket(VexaCommObject* obj, uint32_t* command, uint32_t* length,
                                                         void* payload, uint32_t capacity)
{
    return RunOperation(obj, [&](CDeviceSocket& s) {
        if (!s.ReceivePacket(s.Packet(), TRUE))
            return FALSE;
        s.m_bHostExchangeOpen = false;
        PacketHeader header = s.Header();
        if (command != nullptr)
            *command = header.command;
        if (length != nullptr)
            *length = header.length;
        if (payload != nullptr)
            std::memcpy(payload, s.Payload(), header.length < capacity ? header.length : capacity);
        return TRUE;
    });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SendPacket(VexaCommObject* obj, uint32_t command, const void* payload,
                                                      uint32_t length)
{
    return RunOperation(obj, [&](CDeviceSocket& s) {
        if (length != 0 && payload == nullptr)
            return RefuseNull(s);
        if (length > PACKET_PAYLOAD_MAX) {
            s.StoreError(COMM_ERR_PROTOCOL);
            return FALSE;
        }
        CSingleLock lock(&s.ObjectLock());
        s.SetHeader(command, length);
        if (length != 0)
            std::memcpy(s.Payload(), payload, length);
        if (!s.SendPacket(s.Packet(), TRUE))
            return FALSE;
        // Answers and a cancel await nothing; any other packet is a request.
        if (command != CMD_REPLY && command != CMD_CANCEL && command != CMD_STATUS)
            s.m_bHostExchangeOpen = true;
        return TRUE;
    });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SendReply(VexaCommObject* obj, uint32_t code)
{
    return RunAnswer(obj, [&](CDeviceSocket& s) { s.SendReply(code); });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceSetRoot(VexaCommObject* obj, const char* root)
{
    return RunOperation(obj, [&](CDeviceSocket& s) { return s.SetServiceRoot(root); });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceSetPrograms(VexaCommObject* obj, const char* const* programs)
{
    return RunOperation(obj, [&](CDeviceSocket& s) { return s.SetServicePrograms(programs); });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetTempDir(const char* dir)
{
    return RunProcessWide([&] { SetTempDir(dir); });
}

} // extern "C"
