// The six exports, each a thin shell over one operation of the object.
#include <new>

#include "api/ObjectHandle.h"
#include "api/ProgressBinding.h"

extern "C" {

VEXACOMM_API VexaCommObject* VEXACOMM_CALL VexaComm_CreateObject(void)
{
    try {
        return ToHandle(new CDeviceSocket());
    } catch (...) {
        return nullptr;
    }
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
    return RunOperation(obj, [&](CDeviceSocket& s) { return s.Connect(host); });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetPacketSizeMax(VexaCommObject* obj, uint16_t* size)
{
    // The negotiation's truth value is dropped: only a recorded reason counts.
    return RunOperation(obj, [&](CDeviceSocket& s) {
        s.NegotiatePacketSize(*size);
        return TRUE;
    });
}

VEXACOMM_API uint16_t VEXACOMM_CALL VexaComm_GetPacketSizeMax(VexaCommObject* obj)
{
    return obj != nullptr ? FromHandle(obj)->LoadPacketSizeMax() : 0;
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_GetAsdu10(VexaCommObject* obj, VexaCommFile* file,
                                                     const void* request)
{
    return RunOperation(obj, [&](CDeviceSocket& s) { return s.GetAsdu10(file, request); });
}

} // extern "C"
