// The opaque handle the host holds is a CDeviceSocket (a CHostObject);
// every export runs its operation through one of the frames below, so that
// the NULL check, the locking, the cleared last error, the exception
// barrier and the guard against a failure without a recorded reason are
// written once.
#pragma once

#include "VexaCommFile.h"
#include "VexaCommLib.h"
#include "api/HostObject.h"
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

// The object's operation for one export: its claim (CHostObject::Claim),
// then m_lock, both held until the export returns; the getters' state is
// published as it ends. A call from a callback never waits for another
// thread's operation, which may itself sit in a callback that waits for
// this thread: Held() is false instead, and the export answers 71014.
class COperationClaim {
public:
    explicit COperationClaim(const CObjectCall& call) : m_host(*HostObject(*call.Socket()))
    {
        m_held = m_host.Claim(!call.FromCallback());
        if (m_held)
            m_host.ObjectLock().Lock();
    }
    ~COperationClaim()
    {
        if (!m_held)
            return;
        m_host.Publish();
        m_host.ObjectLock().Unlock();
        m_host.Unclaim();
    }
    COperationClaim(const COperationClaim&) = delete;
    COperationClaim& operator=(const COperationClaim&) = delete;

    bool Held() const { return m_held; }

private:
    CHostObject& m_host;
    bool m_held;
};

// An export that returns a result code: the object's operation is held
// from clearing the last error to reading it, so that threads sharing an
// object never see each other's codes. `op(CDeviceSocket&)` returns the
// operation's truth value; a failure without a recorded reason is mapped
// by FailureCode. From inside one of the object's own callbacks the call
// is refused with 71014 and changes nothing: it would take packets of the
// running exchange or change the connection under it; so is one from any
// callback while another thread's operation runs on the object. `fetch`: a
// transfer, which VexaComm_WaitTransferDone waits for.
template <class Op>
std::int32_t RunOperation(VexaCommObject* obj, Op&& op, bool fetch = false)
{
    CObjectCall call(obj, fetch);
    CDeviceSocket* socket = call.Socket();
    if (socket == nullptr)
        return COMM_ERR_NOT_CONNECTED;
    if (call.ReEntered())
        return COMM_ERR_BUSY;
    // Released before the call ends (and with it the held diagnostic
    // lines go out, and a deferred destroy deletes the object).
    COperationClaim claim(call);
    if (!claim.Held())
        return COMM_ERR_BUSY;
    // Destroyed while this call waited for the one before.
    if (call.Retired())
        return COMM_ERR_NOT_CONNECTED;
    CCaptureFlush flush(socket);
    socket->StoreError(0);
    try {
        BOOL ok = op(*socket);
        return FailureCode(socket, ok);
    } catch (...) {
        return ExceptionCode(socket);
    }
}

// An export that sets something of the object that its operation reads:
// under the operation's claim, with RunOperation's rules for waiting (a
// call from the object's own callbacks nests in its operation). `op`
// returns the result; 71006 for a NULL or unknown object, 71011 for an
// exception (out of memory).
template <class Op>
std::int32_t ChangeUnderOperation(VexaCommObject* obj, Op&& op)
{
    CObjectCall call(obj);
    if (call.Socket() == nullptr)
        return COMM_ERR_NOT_CONNECTED;
    COperationClaim claim(call);
    if (!claim.Held())
        return COMM_ERR_BUSY;
    try {
        return op(*call.Socket());
    } catch (...) {
        return COMM_ERR_EXCEPTION;
    }
}

// An export that reads what the getters report: never waits for the
// object's operation; `fallback` for a NULL or unknown object or an
// exception (out of memory).
template <class Result, class Op>
Result ReadState(VexaCommObject* obj, Result fallback, Op&& op)
{
    CObjectCall call(obj);
    if (call.Socket() == nullptr)
        return fallback;
    try {
        return op(HostObject(*call.Socket())->Snapshot());
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
