// The six exports, each a thin shell over one operation of the object.
#include <new>

#include "api/HostObject.h"
#include "api/NullArgument.h"
#include "api/ObjectHandle.h"

extern "C" {

VEXACOMM_API VexaCommObject* VEXACOMM_CALL VexaComm_CreateObject(void)
{
    try {
        CDeviceSocket* socket = new CHostObject();
        try {
            RegisterObject(socket);
        } catch (...) {
            delete socket;
            return nullptr;
        }
        return ToHandle(socket);
    } catch (...) {
        return nullptr;
    }
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_DestroyObject(VexaCommObject* obj)
{
    if (obj == nullptr)
        return 0;
    return RetireObject(obj) ? 0 : COMM_ERR_BUSY;
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_Connect(VexaCommObject* obj, const char* host)
{
    return RunOperation(obj, [&](CDeviceSocket& s) { return host != nullptr ? s.Connect(host) : RefuseNull(s); });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetPacketSizeMax(VexaCommObject* obj, uint16_t* size)
{
    // The negotiation's truth value is dropped: only a recorded reason
    // counts, and without a connection there is none (the size falls back).
    return RunOperation(obj, [&](CDeviceSocket& s) {
        if (size == nullptr)
            return RefuseNull(s);
        if (!s.RefuseInHostExchange())
            return FALSE;
        const bool open = s.IsOpen();
        s.NegotiatePacketSize(*size);
        if (!open)
            s.StoreError(0);
        return TRUE;
    });
}

VEXACOMM_API uint16_t VEXACOMM_CALL VexaComm_GetPacketSizeMax(VexaCommObject* obj)
{
    CObjectCall call(obj);
    return call.Socket() != nullptr ? call.Socket()->LoadPacketSizeMax() : 0;
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_GetAsdu10(VexaCommObject* obj, VexaCommFile* file,
                                                     const void* request)
{
    // api/FrameworkFile.cpp: the host's file sorted by kind before anything is sent.
    BOOL FetchIntoHostFile(CDeviceSocket& s, VexaCommFile* file, const void* request);
    return RunOperation(obj, [&](CDeviceSocket& s) {
        // No file is as no write function (VexaComm_GetAsdu10ToCallback).
        if (file == nullptr) {
            s.StoreError(COMM_ERR_FILE_CREATE);
            return FALSE;
        }
        return request != nullptr ? FetchIntoHostFile(s, file, request) : RefuseNull(s);
    }, true);
}

} // extern "C"
