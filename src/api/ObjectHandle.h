// The opaque handle the host holds is a CDeviceSocket.
#pragma once

#include "VexaCommLib.h"
#include "device/DeviceSocket.h"

inline CDeviceSocket* FromHandle(VexaCommObject* obj) { return reinterpret_cast<CDeviceSocket*>(obj); }
inline VexaCommObject* ToHandle(CDeviceSocket* socket) { return reinterpret_cast<VexaCommObject*>(socket); }

// Result of an export whose operation failed: the recorded reason, or, when
// none was recorded, whether the connection is still open.
inline std::int32_t FailureCode(CDeviceSocket* socket, BOOL succeeded)
{
    if (succeeded || socket->m_nLastError != 0)
        return socket->m_nLastError;
    return socket->m_hSocket == kInvalidSocket ? COMM_ERR_NOT_CONNECTED : COMM_ERR_PROTOCOL;
}
