// Host extensions: the connected device's data, error texts, wait limit,
// another port, progress observers and windows, cancel, fetching into a
// path or a function, and the diagnostic hook.
#include <cstring>

#include "api/CallbackFile.h"
#include "api/ErrorMeaning.h"
#include "api/NullArgument.h"
#include "api/ObjectHandle.h"
#include "api/HostObject.h"
#include "api/TextCopy.h"
#include "platform/DiskFile.h"
#include "support/DebugLog.h"

namespace {

constexpr uint32_t kDefaultWaitMs =
    static_cast<uint32_t>(kDefaultWaitLimit.tv_sec) * 1000 + static_cast<uint32_t>(kDefaultWaitLimit.tv_usec) / 1000;
static_assert(kDefaultWaitMs == 30030, "the documented default");

// Setters: 0, 71006 for a NULL object, 71011 when memory ran out, 71014
// from a callback while another thread's operation runs on the object; with
// `refuseInCallback`, 71014 from inside one of the object's own callbacks.
template <class Op>
int32_t ChangeObject(VexaCommObject* obj, Op&& op, bool refuseInCallback = false)
{
    if (refuseInCallback && obj != nullptr && InsideCallOn(obj))
        return COMM_ERR_BUSY;
    return ChangeUnderOperation(obj, [&](CDeviceSocket& s) {
        op(s);
        return 0;
    });
}

} // namespace

extern "C" {

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_GetIdent(VexaCommObject* obj, char* buffer, int32_t size)
{
    // An unknown or destroyed object has no identification: the buffer
    // still holds a text afterwards, the empty one.
    CopyText(std::string(), buffer, size);
    if (obj == nullptr)
        return 0;
    return ReadState<int32_t>(obj, 0, [&](const CHostObject::State& s) { return CopyText(s.ident, buffer, size); });
}

VEXACOMM_API uint16_t VEXACOMM_CALL VexaComm_GetDeviceType(VexaCommObject* obj)
{
    return ReadState<uint16_t>(obj, 0, [](const CHostObject::State& s) { return s.deviceType; });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_GetErrorText(VexaCommObject*, int32_t code, char* buffer,
                                                        int32_t size)
{
    try {
        if (code == 0)
            return CopyText(std::string(), buffer, size);
        // The companion library's text where it has one; otherwise the
        // meaning in English, not the log's fixed text.
        std::string text = CGLSocket::ErrorTextFor(code);
        if (text == CGLSocket::FallbackErrorText(code))
            text = ErrorMeaning(code);
        return CopyText(text, buffer, size);
    } catch (...) {
        return CopyText(std::string(), buffer, size);
    }
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_IsConnected(VexaCommObject* obj)
{
    return ReadState<int32_t>(obj, 0, [](const CHostObject::State& s) { return s.established ? 1 : 0; });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetLogPath(const char* path)
{
    return RunProcessWide([&] { SetLogPath(path); });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetWaitLimit(VexaCommObject* obj, uint32_t milliseconds)
{
    WaitLimit limit = kDefaultWaitLimit;
    if (milliseconds != 0) {
        uint32_t ms = milliseconds > 0x7FFFFFFFu ? 0x7FFFFFFFu : milliseconds;
        limit = WaitLimit{static_cast<int32_t>(ms / 1000), static_cast<int32_t>(ms % 1000) * 1000};
    }
    // Never waits: an operation running on another thread keeps its limit
    // and the next one takes this.
    CObjectCall call(obj);
    if (call.Socket() == nullptr)
        return COMM_ERR_NOT_CONNECTED;
    HostObject(*call.Socket())->RequestWaitLimit(limit);
    return 0;
}

VEXACOMM_API uint32_t VEXACOMM_CALL VexaComm_GetWaitLimit(VexaCommObject* obj)
{
    return ReadState<uint32_t>(obj, 0, [](const CHostObject::State& s) {
        const WaitLimit t = s.waitLimit;
        if (t.tv_sec == kDefaultWaitLimit.tv_sec && t.tv_usec == kDefaultWaitLimit.tv_usec)
            return kDefaultWaitMs;
        return static_cast<uint32_t>(t.tv_sec) * 1000u + static_cast<uint32_t>(t.tv_usec) / 1000u;
    });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ConnectPort(VexaCommObject* obj, const char* host,
                                                       uint16_t port)
{
    return RunOperation(obj, [&](CDeviceSocket& s) {
        return host != nullptr ? s.ConnectPort(host, port != 0 ? port : DEVICE_PORT) : RefuseNull(s);
    });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetProgressCallback(VexaCommObject* obj,
                                                               VexaCommProgressFn fn, void* user,
                                                               int32_t queued)
{
    return ChangeObject(obj, [&](CDeviceSocket& s) { HostObject(s)->BindCallback(fn, user, queued != 0); }, true);
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetProgressWindow(VexaCommObject* obj, void* window,
                                                             int32_t post)
{
    return ChangeObject(obj, [&](CDeviceSocket& s) { HostObject(s)->BindWindow(window, post != 0); }, true);
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_DispatchProgress(VexaCommObject* obj)
{
    // Keeps the object alive, but is no call that the callbacks it runs
    // could re-enter: they may fetch on the object like any other thread.
    CObjectCall call(obj, false, false);
    if (call.Socket() == nullptr)
        return 0;
    try {
        return HostObject(*call.Socket())->DispatchQueued();
    } catch (...) {
        return 0;
    }
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_CancelTransfer(VexaCommObject* obj)
{
    return RequestCancel(obj) ? 0 : COMM_ERR_NOT_CONNECTED;
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_WaitTransferDone(VexaCommObject* obj, uint32_t timeoutMs)
{
    // From inside its own callback the transfer cannot end while it waits;
    // from any other callback AwaitNoFetch only looks.
    if (obj == nullptr || InsideCallOn(obj))
        return 0;
    long wait = timeoutMs == 0xFFFFFFFFu ? -1 : static_cast<long>(timeoutMs);
    return AwaitNoFetch(obj, wait) ? 1 : 0;
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_GetAsdu10ToPath(VexaCommObject* obj, const char* path,
                                                           const void* request)
{
    return RunOperation(obj, [&](CDeviceSocket& s) {
        if (path == nullptr) {
            s.StoreError(COMM_ERR_FILE_CREATE);
            return FALSE;
        }
        if (request == nullptr)
            return RefuseNull(s);
        // Nothing to fetch: the host's file stays as it is.
        s.IsLost();
        if (!s.IsOpen()) {
            s.StoreError(COMM_ERR_NOT_CONNECTED);
            return FALSE;
        }
        // Opened without waiting: a FIFO without a reader would hold the
        // object's lock, and no cancel or destroy could end that open.
        CDiskFile file(CDiskFile::Accept::kRegularFile);
        if (!file.Open(path, CFile::modeCreate | CFile::modeWrite | CFile::shareDenyWrite)) {
            s.StoreError(COMM_ERR_FILE_CREATE);
            return FALSE;
        }
        BOOL ok = s.GetAsdu10(&file, request);
        try {
            file.CloseWritten();
        } catch (CFileException* e) {
            // The transfer's own failure, if any, stays the result.
            const std::int32_t cause = TakeCause(e);
            if (ok) {
                s.StoreError(cause);
                ok = FALSE;
            }
        }
        return ok;
    }, true);
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_GetAsdu10ToCallback(VexaCommObject* obj, VexaCommWriteFn write,
                                                               void* user, const void* request)
{
    if (write == nullptr)
        return obj == nullptr ? COMM_ERR_NOT_CONNECTED : COMM_ERR_FILE_CREATE;
    return RunOperation(obj, [&](CDeviceSocket& s) {
        if (request == nullptr)
            return RefuseNull(s);
        CCallbackFile file(write, user);
        return s.GetAsdu10(&file, request);
    }, true);
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetTraceCallback(VexaCommObject* obj, VexaCommTraceFn fn, void* user)
{
    return ChangeObject(obj, [&](CDeviceSocket& s) {
        s.SetTrace(fn, user);
    });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetCaptureFile(VexaCommObject* obj, const char* path)
{
    return ChangeUnderOperation(obj, [&](CDeviceSocket& s) { return s.SetCaptureFile(path); });
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetTransferCallback(VexaCommObject* obj, VexaCommTransferFn fn,
                                                               void* user)
{
    return ChangeObject(obj, [&](CDeviceSocket& s) { HostObject(s)->BindTransfer(fn, user); }, true);
}

VEXACOMM_API const char* VEXACOMM_CALL VexaComm_GetVersion(void) { return VEXACOMM_VERSION_STRING; }

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetDiagnosticCallback(VexaCommDiagnosticFn fn, void* user)
{
    SetDiagnosticHook(fn, user);
    return 0;
}

} // extern "C"
