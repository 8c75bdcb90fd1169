// The opaque handle the host holds is a CDeviceSocket; every export runs its
// operation through one of the two frames below, so that locking, the
// cleared last error and the result of a silent failure are decided once.
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

// An export that returns a result code: the lock is held from clearing the
// last error to reading it, so that threads sharing an object never see
// each other's codes. `op(CDeviceSocket&)` returns the operation's truth
// value; a failure without a recorded reason is mapped by FailureCode.
template <class Op>
std::int32_t RunOperation(VexaCommObject* obj, Op&& op)
{
    CDeviceSocket* socket = FromHandle(obj);
    CSingleLock lock(&socket->m_lock);
    socket->m_nLastError = 0;
    BOOL ok = op(*socket);
    return FailureCode(socket, ok);
}

// An export that reads or sets something of the object under its lock
// without touching the last error.
template <class Result, class Op>
Result WithObject(VexaCommObject* obj, Op&& op)
{
    CDeviceSocket* socket = FromHandle(obj);
    CSingleLock lock(&socket->m_lock);
    return op(*socket);
}
