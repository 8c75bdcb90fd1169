// A host's own life cycle through the shipped library: calls back into the
// object from its callbacks, destroy and WaitTransferDone across threads, a
// diagnostic hook that calls the library, and devices that keep streaming.
// Each row ends with its documented code or exact data, never 0 with wrong
// bytes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "VexaCommLib.h"
#include "device/SimulatedDevice.h"
#include "vexacomm/Event.h"
#include "vexacomm/Protocol.h"

namespace {

// How long a thread waits for another one (CEvent: one-shot flags).
constexpr long kSignalWaitMs = 10000;

enum class Hook { None, Write, Progress, Trace, Diagnostic };

// The host's side of one fetch: its data, its progress, and one call it
// makes from inside one of its callbacks (on the fetching thread only: the
// simulator runs in this process and logs too).
struct Host {
    std::string data;
    bool failWrite = false; // 13 from the second packet on
    std::int32_t range = 0, last = -1, highest = -1;
    std::uint64_t bytesDone = 0, bytesTotal = 0;
    int bytesCalls = 0;
    bool bytesOverTotal = false;
    Hook hook = Hook::None;
    std::function<std::int32_t()> call;
    std::int32_t called = -1;
    std::thread::id thread = std::this_thread::get_id();
    void Fire(Hook at)
    {
        if (at == hook && std::this_thread::get_id() == thread) {
            hook = Hook::None;
            called = call();
        }
    }
};
int32_t VEXACOMM_CALL OnWrite(void* user, const void* data, uint32_t size)
{
    auto* h = static_cast<Host*>(user);
    if (h->data.size() >= 16376) {
        h->Fire(Hook::Write);
        if (h->failWrite)
            return 13; // nothing of this packet kept
    }
    h->data.append(static_cast<const char*>(data), size);
    return 0;
}
void VEXACOMM_CALL OnProgress(void* user, uint32_t wParam, int32_t lParam)
{
    auto* h = static_cast<Host*>(user);
    if (wParam == 1 && lParam != 0)
        h->range = lParam;
    if (wParam == 0) {
        h->last = lParam;
        h->highest = lParam > h->highest ? lParam : h->highest;
        if (lParam > 0)
            h->Fire(Hook::Progress);
    }
}
void VEXACOMM_CALL OnBytes(void* user, uint64_t done, uint64_t total)
{
    auto* h = static_cast<Host*>(user);
    h->bytesDone = done;
    h->bytesTotal = total;
    ++h->bytesCalls;
    h->bytesOverTotal = h->bytesOverTotal || done > total;
}
void VEXACOMM_CALL OnTrace(void* user, int32_t direction, uint32_t command, uint32_t length, int32_t, const void*)
{
    if (direction == VEXACOMM_TRACE_RECEIVED && command == CMD_ASDU10 && length > 4)
        static_cast<Host*>(user)->Fire(Hook::Trace);
}
void VEXACOMM_CALL OnLine(void* user, const char*) { static_cast<Host*>(user)->Fire(Hook::Diagnostic); }

std::int32_t Fetch(VexaCommObject* obj, Host& h)
{
    VexaComm_SetProgressCallback(obj, OnProgress, &h, 0);
    VexaComm_SetTransferCallback(obj, OnBytes, &h);
    VexaComm_SetTraceCallback(obj, OnTrace, &h);
    VexaComm_SetDiagnosticCallback(OnLine, &h);
    std::int32_t result = VexaComm_GetAsdu10ToCallback(obj, OnWrite, &h, AllEntries().data());
    VexaComm_SetDiagnosticCallback(nullptr, nullptr);
    VexaComm_SetTraceCallback(obj, nullptr, nullptr);
    VexaComm_SetTransferCallback(obj, nullptr, nullptr);
    VexaComm_SetProgressCallback(obj, nullptr, nullptr, 0);
    return result;
}

TEST(ReentryFromCallbacks, RefusedWithBusyAndTheOuterCallUntouched)
{
    SimulatorOptions o;
    o.generatedBytes = 200000;
    SimulatedDevice dev(o);
    // A diagnostic line mid-call: the device ends its stream with its own
    // code, which the outer call must keep.
    o.fault = SimFault::ReplyCode;
    o.faultAfterPackets = 2;
    o.faultCode = VEXACOMM_ERR_USER_VERIFY;
    SimulatedDevice failing(o);
    std::uint16_t size = 1024;
    Host inner;
    using Call = std::function<std::int32_t(VexaCommObject*)>;
    Call packetSize = [&](VexaCommObject* x) { return VexaComm_SetPacketSizeMax(x, &size); };
    Call fetch = [&](VexaCommObject* x) { return Fetch(x, inner); };
    Call connect = [&](VexaCommObject* x) { return VexaComm_Connect(x, dev.address()); };
    Call waitSelf = [](VexaCommObject* x) { return VexaComm_WaitTransferDone(x, 0xFFFFFFFFu); };
    struct Row {
        Hook hook;
        Call call;
        std::int32_t expected;
    } rows[] = {
        {Hook::Write, packetSize, VEXACOMM_ERR_BUSY},      {Hook::Write, fetch, VEXACOMM_ERR_BUSY},
        {Hook::Write, VexaComm_DestroyObject, VEXACOMM_ERR_BUSY},
        {Hook::Progress, packetSize, VEXACOMM_ERR_BUSY},   {Hook::Progress, VexaComm_DestroyObject, VEXACOMM_ERR_BUSY},
        {Hook::Progress, waitSelf, 0},                     {Hook::Trace, connect, VEXACOMM_ERR_BUSY},
        {Hook::Trace, VexaComm_IsConnected, 1},            {Hook::Diagnostic, connect, VEXACOMM_ERR_BUSY},
        {Hook::Diagnostic, VexaComm_DestroyObject, VEXACOMM_ERR_BUSY},
        {Hook::Diagnostic, VexaComm_IsConnected, 1},
    };
    for (const Row& r : rows) {
        const bool line = r.hook == Hook::Diagnostic;
        SCOPED_TRACE(std::to_string(static_cast<int>(r.hook)) + " / " + std::to_string(r.expected));
        Object obj = NewObject();
        ASSERT_EQ(VexaComm_Connect(obj.get(), line ? failing.address() : dev.address()), 0);
        Host h;
        h.hook = r.hook;
        h.call = [&] { return r.call(obj.get()); };
        std::int32_t outer = Fetch(obj.get(), h);
        EXPECT_EQ(h.called, r.expected);
        EXPECT_EQ(outer, line ? VEXACOMM_ERR_USER_VERIFY : 0);
        EXPECT_TRUE(h.data == Generated(line ? 2 * 16376 : o.generatedBytes));
        EXPECT_EQ(VexaComm_IsConnected(obj.get()), 1);
    }
}

TEST(LifeCycleThreads, WaitTransferDoneAndDestroyWhileAnotherThreadFetches)
{
    SimulatorOptions o;
    o.generatedBytes = 4u << 20;
    SimulatedDevice dev(o);
    for (bool destroyAtOnce : {false, true}) {
        VexaCommObject* obj = VexaComm_CreateObject();
        ASSERT_EQ(VexaComm_Connect(obj, dev.address()), 0);
        // The fetch is held in its first write until this thread has acted.
        CEvent entered, release;
        Host h;
        std::int32_t result = -1;
        std::thread fetcher([&] {
            h.thread = std::this_thread::get_id();
            h.hook = Hook::Write;
            h.call = [&] { entered.SetEvent(); return release.Lock(kSignalWaitMs) ? 0 : -1; };
            result = VexaComm_GetAsdu10ToCallback(obj, OnWrite, &h, AllEntries().data());
        });
        ASSERT_TRUE(entered.Lock(kSignalWaitMs));
        EXPECT_EQ(VexaComm_WaitTransferDone(obj, 0), 0);
        EXPECT_EQ(VexaComm_CancelTransfer(obj), 0);
        release.SetEvent();
        if (!destroyAtOnce) {
            EXPECT_EQ(VexaComm_WaitTransferDone(obj, 0xFFFFFFFFu), 1);
        }
        // Freed only once the fetch has let go of it (the sanitizers watch).
        EXPECT_EQ(VexaComm_DestroyObject(obj), 0);
        fetcher.join();
        EXPECT_TRUE(result == 0 || result == VEXACOMM_ERR_CANCELLED) << result;
        EXPECT_TRUE(h.data == Generated(h.data.size()));
        EXPECT_EQ(VexaComm_IsConnected(obj), 0) << "a destroyed handle is refused";
    }
}

// Thread B's hook calls a getter on A's object while A's transfer sits in
// its write function until the getter has answered: the getter does not
// wait for the transfer.
TEST(LifeCycleThreads, DiagnosticHookCallsTheObjectOfAnotherThreadsTransfer)
{
    SimulatorOptions o;
    o.generatedBytes = 1u << 20;
    SimulatedDevice dev(o);
    Object a = NewObject();
    ASSERT_EQ(VexaComm_Connect(a.get(), dev.address()), 0);
    CEvent aStreaming, bInHook;
    Host ha, hb;
    ha.failWrite = true;
    ha.hook = Hook::Write;
    ha.call = [&] { aStreaming.SetEvent(); return bInHook.Lock(kSignalWaitMs) ? 0 : -1; };
    hb.hook = Hook::Diagnostic;
    hb.call = [&] {
        std::int32_t connected = VexaComm_IsConnected(a.get());
        bInHook.SetEvent();
        return connected;
    };
    std::int32_t fetch = -1;
    std::thread threadA([&] {
        ha.thread = std::this_thread::get_id();
        fetch = VexaComm_GetAsdu10ToCallback(a.get(), OnWrite, &ha, AllEntries().data());
    });
    ASSERT_TRUE(aStreaming.Lock(kSignalWaitMs));
    VexaComm_SetDiagnosticCallback(OnLine, &hb);
    // B's connect logs (nothing listens there), and its hook meets A's lock.
    Object b = NewObject(2000);
    std::string refused = dev.address();
    refused = refused.substr(0, refused.rfind('.')) + ".251";
    EXPECT_NE(VexaComm_Connect(b.get(), refused.c_str()), 0);
    threadA.join();
    VexaComm_SetDiagnosticCallback(nullptr, nullptr);
    EXPECT_EQ(fetch, 13);
    EXPECT_EQ(ha.called, 0) << "A waited in vain for B's getter";
    EXPECT_EQ(hb.called, 1) << "answered while A's transfer held its connection";
    EXPECT_EQ(VexaComm_IsConnected(a.get()), 0) << "A's stream, left early, closed its connection";
}

TEST(StreamNeverInherited, DevicesThatKeepStreamingAndHostsThatRetry)
{
    const std::uint32_t kBytes = 2u << 20;
    struct Row {
        const char* name;
        SimFault fault;
        std::uint16_t ackMode;
        std::int64_t promised;
        std::uint32_t waitMs;     // of the first fetch
        bool failWrite;           // its write function fails at packet 2
        std::int32_t first;       // its result
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
        Host f;
        f.failWrite = r.failWrite;
        EXPECT_EQ(Fetch(obj.get(), f), r.first);
        EXPECT_TRUE(f.data == Generated(r.first == 0 ? r.firstBytes : f.data.size()));
        EXPECT_LE(f.highest, f.range) << "progress never passes its range";
        // Bytes: never past the total, the last call on what arrived, and
        // thinned (about 100 steps and 10 a second at most).
        EXPECT_FALSE(f.bytesOverTotal);
        EXPECT_EQ(f.bytesDone, f.data.size());
        if (r.first == 0) {
            EXPECT_EQ(f.bytesTotal, f.data.size());
        }
        EXPECT_LE(f.bytesCalls, 120);
        if (r.first == 0 && r.promised > 0 && r.promised <= kBytes) {
            EXPECT_EQ(f.last, f.range) << "and ends on it";
        }
        EXPECT_EQ(VexaComm_IsConnected(obj.get()), r.first == 0 ? 1 : 0) << "a stream left early takes its connection";

        // The retry: at worst one refusal of a packet of the earlier stream,
        // then the host reconnects and gets the whole set (or, from a device
        // that answers a new connection's first request with 0, nothing).
        VexaComm_SetWaitLimit(obj.get(), 5000);
        std::int32_t result = -1;
        bool reconnected = false;
        Host g;
        for (int attempt = 0; attempt < 3 && result != 0; ++attempt) {
            if (VexaComm_IsConnected(obj.get()) == 0) {
                ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
                reconnected = true;
            }
            g = Host();
            result = Fetch(obj.get(), g);
            EXPECT_TRUE(result == 0 || result == VEXACOMM_ERR_PROTOCOL) << result;
        }
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(g.data == Generated(reconnected && r.promised == 0 ? 0 : kBytes)) << g.data.size() << " bytes";
    }
}

} // namespace
