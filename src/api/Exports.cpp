// The six exports. Each one clears the last error, runs one operation and
// returns the last error, holding the object's lock from the clear to the
// read so that threads sharing an object never see each other's codes.
#include <new>

#include "api/ObjectHandle.h"
#include "api/ProgressBinding.h"

extern "C" {

VEXACOMM_API VexaCommObject* VEXACOMM_CALL VexaComm_CreateObject(void)
{
    CDeviceSocket* socket = new (std::nothrow) CDeviceSocket();
    return ToHandle(socket);
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_DestroyObject(VexaCommObject* obj)
{
    if (obj != nullptr) {
        UnbindProgress(FromHandle(obj));
        delete FromHandle(obj);
    }
    return 0;
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_Connect(VexaCommObject* obj, const char* host)
{
    CDeviceSocket* socket = FromHandle(obj);
    CSingleLock lock(&socket->m_lock);
    socket->m_nLastError = 0;
    BOOL ok = socket->Connect(host);
    return FailureCode(socket, ok);
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetPacketSizeMax(VexaCommObject* obj, uint16_t* size)
{
    CDeviceSocket* socket = FromHandle(obj);
    CSingleLock lock(&socket->m_lock);
    socket->m_nLastError = 0;
    socket->NegotiatePacketSize(*size);
    return socket->m_nLastError;
}

VEXACOMM_API uint16_t VEXACOMM_CALL VexaComm_GetPacketSizeMax(VexaCommObject* obj)
{
    return FromHandle(obj)->m_wPacketSizeMax;
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_GetAsdu10(VexaCommObject* obj, VexaCommFile* file,
                                                     const void* request)
{
    CDeviceSocket* socket = FromHandle(obj);
    CSingleLock lock(&socket->m_lock);
    socket->m_nLastError = 0;
    BOOL ok = socket->GetAsdu10(file, request);
    return FailureCode(socket, ok);
}

} // extern "C"
