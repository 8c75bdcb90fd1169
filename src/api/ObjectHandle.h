// The opaque handle the host holds is a CDeviceSocket; every export runs its
// operation through one of the frames below, so that the NULL check, the
// locking, the cleared last error, the exception barrier and the guard
// against a failure without a recorded reason are written once.
#pragma once

#include "VexaCommFile.h"
#include "VexaCommLib.h"
#include "api/ObjectRegistry.h"
#include "api/UnrecordedFailure.h"
#include "device/DeviceSocket.h"
#include "socket/WireCapture.h"
#include "support/FileCause.h"

inline CDeviceSocket* FromHandle(VexaCommObject* obj) { return reinterpret_cast<CDeviceSocket*>(obj); }
inline VexaCommObject* ToHandle(CDeviceSocket* socket) { return reinterpret_cast<VexaCommObject*>(socket); }

// Result of an export: the code its operation recorded. A failure records
// its reason where it happens; one without is a fault of ours, answered by
// whether the connection is still open.
inline std::int32_t FailureCode(CDeviceSocket* socket, BOOL succeeded)
{
    if (succeeded || socket->LastError() != 0)
        return socket->LastError();
    NoteUnrecordedFailure(socket->IsOpen());
    return !socket->IsOpen() ? COMM_ERR_NOT_CONNECTED : COMM_ERR_PROTOCOL;
}

// No exception crosses the C boundary. One that reaches an export was not
// expected where it was thrown, so the connection is not trusted again.
inline std::int32_t ExceptionCode(CDeviceSocket* socket)
{
    try {
        throw;
    } catch (CFileException* e) {
        socket->StoreError(TakeCause(e));
    } catch (...) {
        socket->StoreError(COMM_ERR_EXCEPTION);
        socket->Close();
    }
    return socket->LastError();
}

// A capture is on disk whenever a call returns.
class CCaptureFlush {
public:
    explicit CCaptureFlush(const CDeviceSocket* socket) : m_socket(socket) {}
    ~CCaptureFlush()
    {
        if (capture::Active())
            capture::Flush(m_socket);
    }
    CCaptureFlush(const CCaptureFlush&) = delete;
    CCaptureFlush& operator=(const CCaptureFlush&) = delete;

private:
    const CDeviceSocket* m_socket;
};

// An export that returns a result code: the lock is held from clearing the
// last error to reading it, so that threads sharing an object never see
// each other's codes. `op(CDeviceSocket&)` returns the operation's truth
// value; a failure without a recorded reason is mapped by FailureCode.
// From inside one of the object's own callbacks the call is refused with
// 71014 and changes nothing: it would take packets of the running exchange
// or change the connection under it. `fetch`: a transfer, which
// VexaComm_WaitTransferDone waits for.
template <class Op>
std::int32_t RunOperation(VexaCommObject* obj, Op&& op, bool fetch = false)
{
    CObjectCall call(obj, fetch);
    CDeviceSocket* socket = call.Socket();
    if (socket == nullptr)
        return COMM_ERR_NOT_CONNECTED;
    if (call.ReEntered())
        return COMM_ERR_BUSY;
    // The lock is released before the call ends (and with it the held
    // diagnostic lines go out).
    CSingleLock lock(&socket->ObjectLock());
    CCaptureFlush flush(socket);
    socket->StoreError(0);
    try {
        BOOL ok = op(*socket);
        return FailureCode(socket, ok);
    } catch (...) {
        return ExceptionCode(socket);
    }
}

// An export that reads or sets something of the object under its lock
// without touching the last error; `fallback` for a NULL or unknown object
// or an exception (out of memory).
template <class Result, class Op>
Result WithObject(VexaCommObject* obj, Result fallback, Op&& op)
{
    CObjectCall call(obj);
    CDeviceSocket* socket = call.Socket();
    if (socket == nullptr)
        return fallback;
    CSingleLock lock(&socket->ObjectLock());
    try {
        return op(*socket);
    } catch (...) {
        return fallback;
    }
}

// An export that changes process-wide state: 0, or 71011 when memory ran
// out on the way.
template <class Op>
std::int32_t RunProcessWide(Op&& op)
{
    try {
        op();
        return 0;
    } catch (...) {
        return COMM_ERR_EXCEPTION;
    }
}
