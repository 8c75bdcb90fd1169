// The objects the exports have handed out, and the calls in progress on
// each: what lets a host destroy an object another thread still uses, wait
// for a fetch to have let go of it, and be refused when a callback calls
// back into the operation that runs it.
#pragma once

#include <cstdint>

#include "VexaCommLib.h"
#include "device/DeviceSocket.h"

// Makes a new object known to the exports.
void RegisterObject(CDeviceSocket* socket);

// Ends the object: later calls are refused with 71006; a call in progress
// on another thread is asked to stop (a cancel request, repeated). From a
// thread outside any call the destroy waits for it and deletes the object;
// from inside one (a callback of any object) it returns at once and the
// last call on the object to end deletes it, since waiting there could
// meet a callback that waits for this thread. False, with nothing done,
// when the calling thread is inside a call on the object (a callback of
// its own). Unknown handles and a second, concurrent destroy are accepted
// and ignored.
bool RetireObject(VexaCommObject* obj);

// The cancel request of VexaComm_CancelTransfer; false for an unknown object.
bool RequestCancel(VexaCommObject* obj);

// Waits up to `milliseconds` (negative: no limit) until no fetch holds the
// object; true when none does (also for an unknown object). Inside a call
// (a callback) it only looks.
bool AwaitNoFetch(VexaCommObject* obj, long milliseconds);

// A call of an export on one object, from entry to return. While it lives
// the object is not deleted, and the calling thread counts as inside a call
// on it. `fetch`: the call is a transfer, as VexaComm_WaitTransferDone sees.
// Diagnostic lines logged meanwhile reach the host's hook when the
// outermost call on the thread ends, after every lock is released.
class CObjectCall {
public:
    // `inside`: the thread counts as inside a call on the object meanwhile.
    CObjectCall(VexaCommObject* obj, bool fetch = false, bool inside = true);
    ~CObjectCall();
    CObjectCall(const CObjectCall&) = delete;
    CObjectCall& operator=(const CObjectCall&) = delete;

    // Null when the object is unknown or being destroyed.
    CDeviceSocket* Socket() const { return m_socket; }
    // The thread was inside a call on this object already: this call comes
    // from one of the object's own callbacks.
    bool ReEntered() const { return m_reEntered; }
    // The thread was inside a call on any object, or in the diagnostic
    // hook: this call comes from a callback and must not wait for another
    // thread's operation.
    bool FromCallback() const { return m_fromCallback; }
    // The object has been destroyed since the call began.
    bool Retired() const;

private:
    CDeviceSocket* m_socket = nullptr;
    bool m_fetch;
    bool m_inside;
    bool m_reEntered = false;
    bool m_fromCallback = false;
};

// True when the calling thread is inside a call on `obj`.
bool InsideCallOn(VexaCommObject* obj);
// True when the calling thread is inside a call on any object or in the
// diagnostic hook.
bool InsideAnyCall();
