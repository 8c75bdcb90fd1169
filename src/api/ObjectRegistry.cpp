// The handle table behind CObjectCall. One process-wide lock, held only to
// count calls in and out: never across a call, a wait for the device or a
// host's callback.
#include "api/ObjectRegistry.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <unordered_map>

#include "api/HostObject.h"
#include "support/DebugLog.h"

namespace {

struct Uses {
    int calls = 0;
    int fetches = 0;
    bool retiring = false;
    // Destroyed from a callback: the last call to end deletes the object.
    bool deferred = false;
};

std::mutex g_mutex;
// Signalled whenever a call on any object ends.
std::condition_variable g_callEnded;
std::unordered_map<const void*, Uses>& Objects()
{
    static std::unordered_map<const void*, Uses> objects;
    return objects;
}

// The objects this thread is inside calls on, innermost last. Plain
// thread-local data: a destructor of one would run at thread exit, which a
// DLL unloaded earlier cannot serve. Only callbacks nest calls, so the
// calls beyond the array's depth are counted, not kept.
constexpr int kMaxNesting = 32;
thread_local const void* t_inside[kMaxNesting];
thread_local int t_depth = 0;

bool Inside(const void* obj)
{
    for (int i = 0; i < t_depth && i < kMaxNesting; ++i) {
        if (t_inside[i] == obj)
            return true;
    }
    return false;
}

CDeviceSocket* AsSocket(VexaCommObject* obj) { return reinterpret_cast<CDeviceSocket*>(obj); }

} // namespace

void RegisterObject(CDeviceSocket* socket)
{
    std::lock_guard<std::mutex> guard(g_mutex);
    Objects()[socket] = Uses{};
}

bool InsideCallOn(VexaCommObject* obj) { return Inside(obj); }

bool InsideAnyCall() { return t_depth > 0 || InsideDiagnosticHook(); }

CObjectCall::CObjectCall(VexaCommObject* obj, bool fetch, bool inside) : m_fetch(fetch), m_inside(inside)
{
    if (obj == nullptr)
        return;
    {
        std::lock_guard<std::mutex> guard(g_mutex);
        auto it = Objects().find(obj);
        if (it == Objects().end() || it->second.retiring)
            return;
        ++it->second.calls;
        if (fetch)
            ++it->second.fetches;
    }
    m_socket = AsSocket(obj);
    m_reEntered = Inside(obj);
    m_fromCallback = InsideAnyCall();
    if (!m_inside)
        return;
    if (t_depth < kMaxNesting)
        t_inside[t_depth] = obj;
    ++t_depth;
    HoldDiagnostics();
}

bool CObjectCall::Retired() const
{
    std::lock_guard<std::mutex> guard(g_mutex);
    return Objects()[m_socket].retiring;
}

CObjectCall::~CObjectCall()
{
    if (m_socket == nullptr)
        return;
    bool last = false;
    {
        std::lock_guard<std::mutex> guard(g_mutex);
        auto it = Objects().find(m_socket);
        Uses& uses = it->second;
        --uses.calls;
        if (m_fetch)
            --uses.fetches;
        last = uses.deferred && uses.calls == 0;
        if (last)
            Objects().erase(it);
    }
    g_callEnded.notify_all();
    // Its lines, if any, are held until the call has returned.
    if (last)
        delete m_socket;
    if (!m_inside)
        return;
    // The lines go out with no lock held, so the hook may call any export;
    // this thread still counts as inside the call, so that a call back into
    // this object is refused, even if another thread has deleted it by now.
    ReleaseDiagnostics();
    --t_depth;
}

bool RetireObject(VexaCommObject* obj)
{
    if (Inside(obj))
        return false;
    CDeviceSocket* socket = AsSocket(obj);
    std::unique_lock<std::mutex> guard(g_mutex);
    auto it = Objects().find(obj);
    if (it == Objects().end() || it->second.retiring)
        return true;
    it->second.retiring = true;
    static_cast<CHostObject*>(socket)->MarkRetired();
    if (it->second.calls != 0 && InsideAnyCall()) {
        it->second.deferred = true;
        socket->CancelRequest().SetEvent();
        return true;
    }
    // A call that began before it may reset the cancel request as it
    // starts a transfer: ask again until it has returned.
    while (Objects()[obj].calls != 0) {
        socket->CancelRequest().SetEvent();
        g_callEnded.wait_for(guard, std::chrono::milliseconds(CANCEL_POLL_MS));
    }
    Objects().erase(obj);
    guard.unlock();
    delete socket;
    return true;
}

bool RequestCancel(VexaCommObject* obj)
{
    std::lock_guard<std::mutex> guard(g_mutex);
    if (Objects().count(obj) == 0)
        return false;
    AsSocket(obj)->CancelRequest().SetEvent();
    return true;
}

bool AwaitNoFetch(VexaCommObject* obj, long milliseconds)
{
    if (InsideAnyCall())
        milliseconds = 0;
    auto idle = [obj] {
        auto it = Objects().find(obj);
        return it == Objects().end() || it->second.fetches == 0;
    };
    std::unique_lock<std::mutex> guard(g_mutex);
    if (milliseconds < 0) {
        g_callEnded.wait(guard, idle);
        return true;
    }
    return g_callEnded.wait_for(guard, std::chrono::milliseconds(milliseconds), idle);
}
