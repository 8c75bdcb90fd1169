// A host's own life cycle through the shipped library: calls back into the
// object from inside its callbacks, destroy and WaitTransferDone across
// threads, a diagnostic hook that calls the library, and devices that keep
// streaming. Each row ends with its documented code or exact data, never 0
// with wrong bytes.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "VexaCommLib.h"
#include "device/SimulatedDevice.h"
#include "vexacomm/Protocol.h"

namespace {

// One-shot flag that threads wait for, bounded.
class Signal {
public:
    void Set()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_set = true;
        m_cv.notify_all();
    }
    bool Wait()
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        return m_cv.wait_for(guard, std::chrono::seconds(10), [this] { return m_set; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_set = false;
};

enum class Hook { Write, Progress, Trace, Diagnostic };

// What a callback does, once, to the object whose call runs it.
struct Reentry {
    VexaCommObject* obj = nullptr;
    std::function<std::int32_t(VexaCommObject*)> call;
    std::int32_t result = -1;
    bool done = false;
    std::string data;
    std::thread::id thread = std::this_thread::get_id();
    void Fire()
    {
        if (!done) {
            done = true;
            result = call(obj);
        }
    }
};

int32_t VEXACOMM_CALL WriteAndFire(void* user, const void* data, uint32_t size)
{
    auto* r = static_cast<Reentry*>(user);
    r->data.append(static_cast<const char*>(data), size);
    if (r->data.size() > 16376)
        r->Fire();
    return 0;
}
int32_t VEXACOMM_CALL WriteOnly(void* user, const void* data, uint32_t size)
{
    static_cast<Reentry*>(user)->data.append(static_cast<const char*>(data), size);
    return 0;
}
void VEXACOMM_CALL ProgressAndFire(void* user, uint32_t wParam, int32_t lParam)
{
    if (wParam == 0 && lParam > 0)
        static_cast<Reentry*>(user)->Fire();
}
void VEXACOMM_CALL TraceAndFire(void* user, int32_t direction, uint32_t command, uint32_t length, int32_t,
                                const void*)
{
    if (direction == VEXACOMM_TRACE_RECEIVED && command == CMD_ASDU10 && length > 4)
        static_cast<Reentry*>(user)->Fire();
}
// The simulator runs in this process and logs too: only the fetching
// thread's lines count.
void VEXACOMM_CALL DiagnosticAndFire(void* user, const char*)
{
    auto* r = static_cast<Reentry*>(user);
    if (std::this_thread::get_id() == r->thread)
        r->Fire();
}

std::int32_t SecondFetch(VexaCommObject* obj)
{
    Reentry inner;
    return VexaComm_GetAsdu10ToCallback(obj, WriteOnly, &inner, AllEntries().data());
}

TEST(ReentryFromCallbacks, RefusedWithBusyAndTheOuterCallUntouched)
{
    SimulatorOptions o;
    o.generatedBytes = 200000;
    SimulatedDevice dev(o);
    // The diagnostic rows need a line mid-call: the device ends its stream
    // with its own code, which the outer call must keep.
    SimulatorOptions failing = o;
    failing.fault = SimFault::ReplyCode;
    failing.faultAfterPackets = 2;
    failing.faultCode = VEXACOMM_ERR_USER_VERIFY;
    SimulatedDevice failingDev(failing);
    std::uint16_t size = 1024;
    struct Row {
        const char* name;
        Hook hook;
        std::function<std::int32_t(VexaCommObject*)> call;
        std::int32_t expected;
    } rows[] = {
        {"write: packet size", Hook::Write, [&](VexaCommObject* x) { return VexaComm_SetPacketSizeMax(x, &size); },
         VEXACOMM_ERR_BUSY},
        {"write: second fetch", Hook::Write, SecondFetch, VEXACOMM_ERR_BUSY},
        {"write: destroy", Hook::Write, VexaComm_DestroyObject, VEXACOMM_ERR_BUSY},
        {"progress: packet size", Hook::Progress,
         [&](VexaCommObject* x) { return VexaComm_SetPacketSizeMax(x, &size); }, VEXACOMM_ERR_BUSY},
        {"progress: destroy", Hook::Progress, VexaComm_DestroyObject, VEXACOMM_ERR_BUSY},
        {"progress: wait for itself", Hook::Progress,
         [](VexaCommObject* x) { return VexaComm_WaitTransferDone(x, 0xFFFFFFFFu); }, 0},
        {"trace: connect", Hook::Trace, [&](VexaCommObject* x) { return VexaComm_Connect(x, dev.address()); },
         VEXACOMM_ERR_BUSY},
        {"trace: destroy", Hook::Trace, VexaComm_DestroyObject, VEXACOMM_ERR_BUSY},
        {"trace: getter", Hook::Trace, VexaComm_IsConnected, 1},
        {"diagnostic: connect", Hook::Diagnostic,
         [&](VexaCommObject* x) { return VexaComm_Connect(x, dev.address()); }, VEXACOMM_ERR_BUSY},
        {"diagnostic: destroy", Hook::Diagnostic, VexaComm_DestroyObject, VEXACOMM_ERR_BUSY},
        {"diagnostic: getter", Hook::Diagnostic, VexaComm_IsConnected, 1},
    };
    for (const Row& r : rows) {
        const bool diagnostic = r.hook == Hook::Diagnostic;
        Object obj = NewObject();
        ASSERT_EQ(VexaComm_Connect(obj.get(), diagnostic ? failingDev.address() : dev.address()), 0) << r.name;
        Reentry re;
        re.obj = obj.get();
        re.call = r.call;
        if (r.hook == Hook::Progress)
            VexaComm_SetProgressCallback(obj.get(), ProgressAndFire, &re, 0);
        if (r.hook == Hook::Trace)
            VexaComm_SetTraceCallback(obj.get(), TraceAndFire, &re);
        if (diagnostic)
            VexaComm_SetDiagnosticCallback(DiagnosticAndFire, &re);
        std::int32_t outer = VexaComm_GetAsdu10ToCallback(
            obj.get(), r.hook == Hook::Write ? WriteAndFire : WriteOnly, &re, AllEntries().data());
        VexaComm_SetDiagnosticCallback(nullptr, nullptr);
        EXPECT_TRUE(re.done) << r.name;
        EXPECT_EQ(re.result, r.expected) << r.name;
        if (diagnostic) {
            EXPECT_EQ(outer, VEXACOMM_ERR_USER_VERIFY) << r.name;
            EXPECT_TRUE(re.data == Generated(2 * 16376)) << r.name;
        } else {
            EXPECT_EQ(outer, 0) << r.name;
            EXPECT_TRUE(re.data == Generated(o.generatedBytes)) << r.name;
        }
        EXPECT_EQ(VexaComm_IsConnected(obj.get()), 1) << r.name;
    }
}

// The fetch thread is held inside its call (in the trace of its request)
// until the main thread has acted; then it runs to its end.
struct HeldFetch {
    Signal entered;
    Signal release;
    std::int32_t result = -1;
    static void VEXACOMM_CALL Trace(void* user, int32_t direction, uint32_t command, uint32_t, int32_t,
                                    const void*)
    {
        auto* h = static_cast<HeldFetch*>(user);
        if (direction == VEXACOMM_TRACE_SENT && command == CMD_ASDU10) {
            h->entered.Set();
            h->release.Wait();
        }
    }
};

TEST(LifeCycleThreads, WaitTransferDoneAndDestroyWhileAnotherThreadFetches)
{
    SimulatorOptions o;
    o.generatedBytes = 4u << 20;
    SimulatedDevice dev(o);
    for (bool destroyAtOnce : {false, true}) {
        VexaCommObject* obj = VexaComm_CreateObject();
        ASSERT_EQ(VexaComm_Connect(obj, dev.address()), 0);
        HeldFetch held;
        VexaComm_SetTraceCallback(obj, &HeldFetch::Trace, &held);
        Reentry sink;
        std::thread fetcher([&] { held.result = VexaComm_GetAsdu10ToCallback(obj, WriteOnly, &sink, AllEntries().data()); });
        ASSERT_TRUE(held.entered.Wait());
        // Running from the moment the fetch took the object.
        EXPECT_EQ(VexaComm_WaitTransferDone(obj, 0), 0);
        EXPECT_EQ(VexaComm_CancelTransfer(obj), 0);
        held.release.Set();
        if (!destroyAtOnce) {
            EXPECT_EQ(VexaComm_WaitTransferDone(obj, 0xFFFFFFFFu), 1);
        }
        // Freed only once the fetch has let go of it (sanitizers watch).
        EXPECT_EQ(VexaComm_DestroyObject(obj), 0);
        fetcher.join();
        EXPECT_EQ(held.result, VEXACOMM_ERR_CANCELLED) << destroyAtOnce;
        EXPECT_EQ(VexaComm_IsConnected(obj), 0) << "a destroyed handle is refused";
    }
}

// Thread B's hook calls a getter on A's object while A's transfer is about
// to log a line: neither waits for the other.
struct CrossedHooks {
    VexaCommObject* a = nullptr;
    Signal aStreaming;
    Signal bInHook;
    std::int32_t getter = -1;
    bool fired = false;
    std::thread::id b = std::this_thread::get_id();
};
CrossedHooks* g_crossed = nullptr;

void VEXACOMM_CALL CrossedDiagnostic(void*, const char*)
{
    // Only thread B's line, once: A's own line comes after its call, and
    // the simulator's threads log too.
    if (g_crossed->fired || std::this_thread::get_id() != g_crossed->b)
        return;
    g_crossed->fired = true;
    g_crossed->bInHook.Set();
    g_crossed->getter = VexaComm_IsConnected(g_crossed->a);
}
int32_t VEXACOMM_CALL FailAfterBInHook(void* user, const void*, uint32_t)
{
    auto* c = static_cast<CrossedHooks*>(user);
    c->aStreaming.Set();
    return c->bInHook.Wait() ? 13 : 14;
}

TEST(LifeCycleThreads, DiagnosticHookCallsTheObjectOfAnotherThreadsTransfer)
{
    SimulatorOptions o;
    o.generatedBytes = 1u << 20;
    SimulatedDevice dev(o);
    Object a = NewObject();
    ASSERT_EQ(VexaComm_Connect(a.get(), dev.address()), 0);
    CrossedHooks crossed;
    crossed.a = a.get();
    g_crossed = &crossed;
    std::int32_t fetch = -1;
    std::thread threadA([&] { fetch = VexaComm_GetAsdu10ToCallback(a.get(), FailAfterBInHook, &crossed, AllEntries().data()); });
    ASSERT_TRUE(crossed.aStreaming.Wait());
    VexaComm_SetDiagnosticCallback(CrossedDiagnostic, nullptr);
    // B logs (nothing listens there) and its hook meets A's lock.
    Object b = NewObject(2000);
    std::string refused = std::string(dev.address()).substr(0, std::string(dev.address()).rfind('.')) + ".251";
    EXPECT_NE(VexaComm_Connect(b.get(), refused.c_str()), 0);
    threadA.join();
    VexaComm_SetDiagnosticCallback(nullptr, nullptr);
    g_crossed = nullptr;
    EXPECT_EQ(fetch, 13);
    EXPECT_EQ(crossed.getter, 0) << "A's failed stream closed its connection";
}

// A host that fetches, and on failure retries as a careful host does
// (reconnecting when the connection closed), from devices that keep
// streaming. Every 0 comes with exact data.
struct Fetched {
    std::int32_t result = -1;
    std::string data;
    std::int32_t range = 0;
    std::int32_t last = -1;
    std::int32_t highest = -1;
    int failAtWrite = 0;
};
int32_t VEXACOMM_CALL FetchWrite(void* user, const void* data, uint32_t size)
{
    auto* f = static_cast<Fetched*>(user);
    f->data.append(static_cast<const char*>(data), size);
    return f->data.size() > 16376 && f->failAtWrite != 0 ? 13 : 0;
}
void VEXACOMM_CALL FetchProgress(void* user, uint32_t wParam, int32_t lParam)
{
    auto* f = static_cast<Fetched*>(user);
    if (wParam == 1 && lParam != 0)
        f->range = lParam;
    if (wParam == 0) {
        f->last = lParam;
        f->highest = lParam > f->highest ? lParam : f->highest;
    }
}
Fetched FetchOnce(VexaCommObject* obj, bool failWrite)
{
    Fetched f;
    f.failAtWrite = failWrite ? 1 : 0;
    VexaComm_SetProgressCallback(obj, FetchProgress, &f, 0);
    f.result = VexaComm_GetAsdu10ToCallback(obj, FetchWrite, &f, AllEntries().data());
    VexaComm_SetProgressCallback(obj, nullptr, nullptr, 0);
    return f;
}

TEST(StreamNeverInherited, DevicesThatKeepStreamingAndHostsThatRetry)
{
    const std::uint32_t kBytes = 2u << 20;
    struct Row {
        const char* name;
        SimFault fault;
        std::uint16_t ackMode;
        std::int64_t promised;
        std::uint32_t waitMs;   // for the first fetch
        bool failWrite;         // the first fetch's write function fails at packet 2
        std::int32_t first;     // its result
        std::uint32_t firstBytes; // its data, when it succeeds
    } rows[] = {
        {"write fails, acks off", SimFault::None, 0, -1, 5000, true, 13, 0},
        {"write fails, acks on, device floods", SimFault::Flood, 1, -1, 5000, true, 13, 0},
        {"device pauses past the wait limit", SimFault::Pause, 0, -1, 300, false, 10060, 0},
        {"device pauses past the wait limit, acks on", SimFault::Pause, 1, -1, 300, false, 10060, 0},
        {"answers 0 then streams", SimFault::None, 0, 0, 5000, false, 0, 0},
        {"answers 0 then streams, acks on", SimFault::None, 1, 0, 5000, false, 0, 0},
        {"promises 1000, sends more", SimFault::None, 0, 1000, 5000, false, 0, kBytes},
        {"promises more than it sends", SimFault::None, 0, 3 * kBytes, 5000, false, 0, kBytes},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        SimulatorOptions o;
        o.generatedBytes = kBytes;
        o.ackMode = r.ackMode;
        o.fault = r.fault;
        o.faultAfterPackets = 3;
        o.pauseMs = 1000;
        o.promisedBytes = r.promised;
        SimulatedDevice dev(o);
        Object obj = NewObject(r.waitMs);
        ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
        Fetched f = FetchOnce(obj.get(), r.failWrite);
        EXPECT_EQ(f.result, r.first);
        EXPECT_TRUE(f.data == Generated(f.data.size())) << "what arrived is the device's data, in order";
        if (f.result == 0) {
            EXPECT_EQ(f.data.size(), r.firstBytes);
        }
        EXPECT_LE(f.highest, f.range) << "progress never passes its range";
        if (f.result == 0 && r.promised != 0 && r.promised <= kBytes) {
            EXPECT_EQ(f.last, f.range) << "and ends on it";
        }
        if (f.result != 0) {
            EXPECT_EQ(VexaComm_IsConnected(obj.get()), 0) << "a stream left early takes its connection";
        }

        // The retry: never 0 with wrong bytes; at worst one refusal, after
        // which the host reconnects and gets the whole set.
        VexaComm_SetWaitLimit(obj.get(), 5000);
        Fetched g;
        for (int attempt = 0; attempt < 3 && g.result != 0; ++attempt) {
            if (VexaComm_IsConnected(obj.get()) == 0) {
                ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
            }
            g = FetchOnce(obj.get(), false);
            if (g.result != 0) {
                EXPECT_EQ(g.result, VEXACOMM_ERR_PROTOCOL) << "a packet of the earlier stream, refused";
            }
        }
        EXPECT_EQ(g.result, 0);
        EXPECT_TRUE(g.data == Generated(kBytes)) << g.data.size() << " bytes";
    }
}

} // namespace
