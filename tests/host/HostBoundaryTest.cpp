// The host boundary through the shipped library: NULL objects, host objects
// that throw, waits bounded by the limit and deaf to signals, cancel in
// every phase, the C write-function path and the packet-size read.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "VexaCommFile.h"
#include "VexaCommLib.h"
#include "VexaCommService.h"
#include "device/SimulatedDevice.h"
#include "platform/Socket.h"
#include "doubles/TestPeer.h"
#include "SimSocket.h"

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// An address whose connects hang: its listener never accepts and its
// backlog is full, so the system drops further connection requests.
class HangingAddress {
public:
    explicit HangingAddress(const char* address) : m_address(address)
    {
        m_listener = sim::Listen(plat::ParseIPv4(address), 0, &m_port, &m_reason);
        EXPECT_NE(m_listener, kInvalidSocket);
        SocketAddress to{};
        to.family = 2;
        to.port = plat::HostToNet16(m_port);
        to.address = plat::ParseIPv4(address);
        for (int i = 0; i < 300 && m_listener != kInvalidSocket; ++i) {
            SocketHandle s = plat::SocketOpenTcp();
            m_fillers.push_back(s);
            if (plat::SocketConnectStart(s, to) == 1 &&
                plat::SocketWaitConnected(s, WaitLimit{0, 200000}) == 0)
                return;
        }
        ADD_FAILURE() << "the backlog of " << address << " never filled";
    }
    ~HangingAddress()
    {
        for (SocketHandle s : m_fillers)
            plat::SocketClose(s);
        plat::SocketClose(m_listener);
    }
    const char* Address() const { return m_address; }
    std::uint16_t Port() const { return m_port; }

private:
    const char* m_address;
    SocketHandle m_listener = kInvalidSocket;
    std::uint16_t m_port = 0;
    std::string m_reason;
    std::vector<SocketHandle> m_fillers;
};

// Runs `action` on another thread every 10 ms until `call` has returned;
// the call's result and duration.
struct Timed {
    std::int32_t result;
    long long ms;
};
Timed WhileRepeating(const std::function<std::int32_t()>& call, const std::function<void()>& action)
{
    std::atomic<bool> done{false};
    std::thread helper([&] {
        for (int i = 0; i < 3000 && !done; ++i) {
            action();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    Clock::time_point start = Clock::now();
    std::int32_t result = call();
    long long ms = MsSince(start);
    done = true;
    helper.join();
    return Timed{result, ms};
}

#ifndef _WIN32
// A handler installed without SA_RESTART, as hosts do: every signal breaks
// the library's system calls with EINTR.
void OnSignal(int) {}

Timed UnderSignals(const std::function<std::int32_t()>& call)
{
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    struct sigaction old {};
    sigaction(SIGUSR1, &sa, &old);
    pthread_t target = pthread_self();
    Timed t = WhileRepeating(call, [target] { pthread_kill(target, SIGUSR1); });
    sigaction(SIGUSR1, &old, nullptr);
    return t;
}
#endif

std::vector<std::pair<std::uint32_t, std::int32_t>> g_progress;
void RecordProgress(void*, uint32_t wParam, int32_t lParam) { g_progress.emplace_back(wParam, lParam); }

TEST(HostBoundary, NullObjectIsRefusedWithoutTouchingMemory)
{
    std::uint16_t size = 1000;
    char text[8] = "x";
    CaptureFile file;
    const char* request = "\0\0\0\0\0\0\xFF\xFF";
    struct Row {
        const char* name;
        long long got;
        long long want;
    } rows[] = {
        {"DestroyObject", VexaComm_DestroyObject(nullptr), 0},
        {"Connect", VexaComm_Connect(nullptr, "127.9.0.1"), 71006},
        {"SetPacketSizeMax", VexaComm_SetPacketSizeMax(nullptr, &size), 71006},
        {"GetPacketSizeMax", VexaComm_GetPacketSizeMax(nullptr), 0},
        {"GetAsdu10", VexaComm_GetAsdu10(nullptr, &file, request), 71006},
        {"GetIdent", VexaComm_GetIdent(nullptr, text, sizeof(text)), 0},
        {"GetDeviceType", VexaComm_GetDeviceType(nullptr), 0},
        {"IsConnected", VexaComm_IsConnected(nullptr), 0},
        {"SetWaitLimit", VexaComm_SetWaitLimit(nullptr, 100), 71006},
        {"GetWaitLimit", VexaComm_GetWaitLimit(nullptr), 0},
        {"ConnectPort", VexaComm_ConnectPort(nullptr, "127.9.0.1", 1), 71006},
        {"SetProgressCallback", VexaComm_SetProgressCallback(nullptr, RecordProgress, nullptr, 0), 71006},
        {"DispatchProgress", VexaComm_DispatchProgress(nullptr), 0},
        {"CancelTransfer", VexaComm_CancelTransfer(nullptr), 71006},
        {"WaitTransferDone", VexaComm_WaitTransferDone(nullptr, 0), 0},
        {"GetAsdu10ToPath", VexaComm_GetAsdu10ToPath(nullptr, "unused", request), 71006},
        {"SetProgressWindow", VexaComm_SetProgressWindow(nullptr, nullptr, 0), 71006},
        {"GetAsdu10ToCallback", VexaComm_GetAsdu10ToCallback(nullptr, nullptr, nullptr, request), 71006},
        {"ServiceGetFileInfo", VexaComm_ServiceGetFileInfo(nullptr, nullptr, "x"), 71006},
        {"ServiceListDirectory",
         (text[0] = 'x', VexaComm_ServiceListDirectory(nullptr, nullptr, text, sizeof(text))), 71006},
        {"ServiceDeletePath", VexaComm_ServiceDeletePath(nullptr, "x"), 71006},
        {"ReceivePacket", VexaComm_ReceivePacket(nullptr, nullptr, nullptr, nullptr, 0), 71006},
        {"SendReply", VexaComm_SendReply(nullptr, 0), 71006},
        {"TransferLength", VexaComm_TransferLength(nullptr), 0},
        {"TransferRead", VexaComm_TransferRead(nullptr, text, 1, nullptr), 6},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.got, r.want) << r.name;
    EXPECT_EQ(size, 1000);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(file.writes, 0);
}

// Counts its live copies: an exception object the library leaked or freed
// twice shows as a count other than zero (or as a sanitizer report).
struct Tracked {
    static int live;
    Tracked() { ++live; }
    Tracked(const Tracked&) { ++live; }
    ~Tracked() { --live; }
};
int Tracked::live = 0;

TEST(HostBoundary, AThrowingHostObjectEndsTheTransferCleanly)
{
#if defined(_WIN32) && defined(__i386__)
    // i686 MinGW unwinds with DWARF tables, and host and DLL each link
    // libgcc statically: each unwinder knows its own module's frames only.
    GTEST_SKIP() << "32-bit Windows: an exception thrown in the host cannot pass the DLL's frames "
                    "(std::terminate); 32-bit hosts use VexaComm_GetAsdu10ToCallback";
#endif
    SimulatorOptions o;
    o.generatedBytes = 200000;
    SimulatedDevice dev(o);
    struct Row {
        const char* name;
        std::function<void()> raise;
        bool fromObserver;
        std::int32_t result;
    } rows[] = {
        {"CFileException*", [] { throw new CFileException(CFileException::diskFull); }, false, 13},
        {"std::runtime_error", [] { throw std::runtime_error("host"); }, false, 71011},
        {"int", [] { throw 7; }, false, 71011},
        {"std::bad_alloc", [] { throw std::bad_alloc(); }, false, 71011},
        {"tracked object", [] { throw Tracked(); }, false, 71011},
        {"from the progress observer", [] { throw Tracked(); }, true, 71011},
    };
    // Whatever ends the stream early leaves the rest of it unread: the
    // connection closes, the cause stays the result.
    for (const Row& r : rows) {
        Object obj = NewObject();
        ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0) << r.name;
        g_progress.clear();
        VexaCommProgressFn observer = RecordProgress;
        static std::function<void()> s_raise;
        s_raise = r.raise;
        if (r.fromObserver) {
            observer = [](void*, uint32_t wParam, int32_t lParam) {
                g_progress.emplace_back(wParam, lParam);
                if (wParam == 0 && lParam == 2)
                    s_raise();
            };
        }
        VexaComm_SetProgressCallback(obj.get(), observer, nullptr, 0);
        CaptureFile file;
        file.onWrite = [&](int writes) {
            if (!r.fromObserver && writes == 2)
                r.raise();
        };
        EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()), r.result) << r.name;
        EXPECT_EQ(VexaComm_IsConnected(obj.get()), 0) << r.name;
        EXPECT_EQ(VexaComm_WaitTransferDone(obj.get(), 0), 1) << r.name;
        ASSERT_FALSE(g_progress.empty()) << r.name;
        EXPECT_EQ(g_progress.back(), (std::pair<std::uint32_t, std::int32_t>{1, 0})) << r.name;
        EXPECT_TRUE(file.data == Generated(file.data.size())) << r.name;
        EXPECT_EQ(Tracked::live, 0) << r.name;
    }
    // Outside a stream (the trace callback on the identification's answer,
    // the connect's last packet) the export's own barrier takes it: the
    // connection is not trusted again.
    Object obj = NewObject();
    VexaComm_SetTraceCallback(
        obj.get(),
        [](void*, int32_t direction, uint32_t command, uint32_t, int32_t, const void*) {
            if (direction == VEXACOMM_TRACE_RECEIVED && command == 58)
                throw Tracked();
        },
        nullptr);
    EXPECT_EQ(VexaComm_Connect(obj.get(), dev.address()), 71011);
    EXPECT_EQ(VexaComm_IsConnected(obj.get()), 0);
    EXPECT_EQ(Tracked::live, 0);
}

// Every wait ends at the limit, whatever the process's signals do.
TEST(HostBoundary, WaitsEndAtTheLimit)
{
    HangingAddress hanging("127.9.1.1");
    SimulatorOptions o;
    o.fault = SimFault::Stall;
    o.faultAfterPackets = 1;
    o.generatedBytes = 100000;
    SimulatedDevice stalling(o);
    struct Row {
        const char* name;
        bool signals;
        bool stall; // else the connect itself hangs
    } rows[] = {
        {"connect", false, false},
        {"stall", false, true},
#ifndef _WIN32
        {"connect, periodic signal", true, false},
        {"stall, periodic signal", true, true},
#endif
    };
    for (const Row& r : rows) {
        Object obj = NewObject(300);
        CaptureFile file;
        if (r.stall) {
            ASSERT_EQ(VexaComm_Connect(obj.get(), stalling.address()), 0) << r.name;
        }
        auto call = [&]() -> std::int32_t {
            if (r.stall)
                return VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data());
            return VexaComm_ConnectPort(obj.get(), hanging.Address(), hanging.Port());
        };
#ifndef _WIN32
        Timed t = r.signals ? UnderSignals(call) : WhileRepeating(call, [] {});
#else
        Timed t = WhileRepeating(call, [] {});
#endif
        EXPECT_EQ(t.result, 10060) << r.name;
        EXPECT_GE(t.ms, 250) << r.name;
        EXPECT_LT(t.ms, 5000) << r.name;
        // A stalled stream is abandoned with its connection.
        EXPECT_EQ(VexaComm_IsConnected(obj.get()), 0) << r.name;
        if (r.stall) {
            EXPECT_TRUE(file.data == Generated(16376)) << r.name;
        }
    }
}

// A cancel ends the operation in progress long before the wait limit.
TEST(HostBoundary, CancelEndsEveryPhase)
{
    HangingAddress hanging("127.9.2.1");
    // Accepted: the client waits for the greeting, past its TCP connect.
    std::atomic<bool> accepted{false};
    TestPeer silent("127.9.2.2", 0, [&accepted](TestPeer&) { accepted = true; });
    // Connects, takes the request and never answers it.
    TestPeer mute("127.9.2.3", 0, [](TestPeer& p) {
        p.ServeSetup();
        EXPECT_EQ(p.ExpectPacket().command, CMD_DEVICE_TYPE);
        p.SendPacket(CMD_DEVICE_TYPE, wire::U16(769));
        EXPECT_EQ(p.ExpectPacket().command, CMD_IDENT);
        p.SendPacket(CMD_IDENT, std::string("mute", 5));
        // The cancel may come before the request has gone out at all.
        p.NextPacket(p.Timeout());
    });
    // Silent from the first reply on: a cancel, whenever it comes, meets a
    // device that never answers it.
    SimulatorOptions o;
    o.fault = SimFault::Stall;
    o.faultAfterPackets = 0;
    o.generatedBytes = 100000;
    SimulatedDevice stalling(o);
    struct Row {
        const char* name;
        const char* address;
        std::uint16_t port;
        bool transfer;
        std::uint32_t waitMs;
        long long withinMs; // a transfer gives the silent device its grace first
        const std::atomic<bool>* cancelOnce = nullptr; // the cancel waits for this
    } rows[] = {
        {"TCP connect", hanging.Address(), hanging.Port(), false, 20000, 2000},
        {"greeting", silent.Address().c_str(), silent.Port(), false, 20000, 2000, &accepted},
        // Before the transfer there is no grace: nothing was asked to stop.
        {"request awaiting its answer", mute.Address().c_str(), mute.Port(), true, 20000, VEXACOMM_CANCEL_GRACE_MS},
        {"stalled transfer", stalling.address(), 30282, true, 20000, 5000},
        // The wait limit ends the grace early: still a cancel, not a stall.
        {"stalled transfer, short wait limit", stalling.address(), 30282, true, 300, 5000},
    };
    for (const Row& r : rows) {
        Object obj = NewObject(r.waitMs);
        CaptureFile file;
        if (r.transfer) {
            ASSERT_EQ(VexaComm_ConnectPort(obj.get(), r.address, r.port), 0) << r.name;
        }
        VexaCommObject* raw = obj.get();
        Timed t = WhileRepeating(
            [&]() -> std::int32_t {
                if (r.transfer)
                    return VexaComm_GetAsdu10(raw, &file, AllEntries().data());
                return VexaComm_ConnectPort(raw, r.address, r.port);
            },
            [raw, &r] {
                if (r.cancelOnce == nullptr || *r.cancelOnce)
                    VexaComm_CancelTransfer(raw);
            });
        EXPECT_EQ(t.result, 71005) << r.name;
        EXPECT_LT(t.ms, r.withinMs) << r.name;
        EXPECT_EQ(VexaComm_IsConnected(raw), 0) << r.name;
        EXPECT_EQ(VexaComm_WaitTransferDone(raw, 0), 1) << r.name;
        EXPECT_TRUE(file.data == Generated(file.data.size())) << r.name;
    }
}

struct Sink {
    std::string data;
    int calls = 0;
    int failAt = 0;
    std::int32_t failWith = 0;
};

int32_t VEXACOMM_CALL SinkWrite(void* user, const void* data, uint32_t size)
{
    auto* sink = static_cast<Sink*>(user);
    if (++sink->calls == sink->failAt)
        return sink->failWith;
    sink->data.append(static_cast<const char*>(data), size);
    return 0;
}

TEST(HostBoundary, WriteFunctionReceivesTheDataOrEndsTheTransfer)
{
    SimulatorOptions o;
    o.generatedBytes = 100000;
    SimulatedDevice dev(o);
    struct Row {
        int failAt;
        std::int32_t failWith;
        std::size_t delivered;
    } rows[] = {{0, 0, 100000}, {3, 4242, 2 * 16376}, {1, -1, 0}};
    for (const Row& r : rows) {
        Object obj = NewObject();
        ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
        Sink sink;
        sink.failAt = r.failAt;
        sink.failWith = r.failWith;
        EXPECT_EQ(VexaComm_GetAsdu10ToCallback(obj.get(), SinkWrite, &sink, AllEntries().data()),
                  r.failWith);
        EXPECT_EQ(sink.data.size(), r.delivered);
        EXPECT_TRUE(sink.data == Generated(r.delivered));
    }
    Object obj = NewObject();
    EXPECT_EQ(VexaComm_GetAsdu10ToCallback(obj.get(), nullptr, nullptr, AllEntries().data()), 71200);
}

// Every packet of a connect and a fetch, in order, as the wire has them.
TEST(HostBoundary, TraceSeesEveryPacket)
{
    SimulatorOptions o;
    o.generatedBytes = 40000;
    SimulatedDevice dev(o);
    std::vector<std::string> seen;
    VexaCommTraceFn trace = [](void* user, int32_t direction, uint32_t command, uint32_t length, int32_t enveloped,
                               const void* payload) {
        std::string line = (direction == VEXACOMM_TRACE_SENT ? "> " : "< ") + std::to_string(command) + " " +
                           std::to_string(length) + (enveloped ? " env" : "");
        if (command == CMD_ASDU10 && length == 4)
            line += " total " + std::to_string(ReadU32(static_cast<const std::uint8_t*>(payload)));
        static_cast<std::vector<std::string>*>(user)->push_back(line);
    };
    Object obj = NewObject();
    ASSERT_EQ(VexaComm_SetTraceCallback(obj.get(), trace, &seen), 0);
    ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    Sink sink;
    ASSERT_EQ(VexaComm_GetAsdu10ToCallback(obj.get(), SinkWrite, &sink, AllEntries().data()), 0);
    const std::vector<std::string> expected = {
        "< 1 0", "> 1983084178 0", "< 1 39", "> 3 2 env", "< 3 2 env", "> 4 2 env", "< 4 2 env",
        "> 16777252 0 env", "< 16777252 2 env", "> 58 0 env", "< 58 12 env", "> 16789521 0 env",
        "< 16789521 4 env total 40000", "< 16789521 16376 env", "< 16789521 16376 env", "< 16789521 7248 env",
        "< 16789521 0 env"};
    EXPECT_EQ(seen, expected);
    // Removed, nothing more arrives.
    ASSERT_EQ(VexaComm_SetTraceCallback(obj.get(), nullptr, &seen), 0);
    ASSERT_EQ(VexaComm_GetAsdu10ToCallback(obj.get(), SinkWrite, &sink, AllEntries().data()), 0);
    EXPECT_EQ(seen.size(), expected.size());
}

std::vector<std::string> g_lines;
void VEXACOMM_CALL RecordLine(void*, const char* line) { g_lines.emplace_back(line); }

TEST(HostBoundary, DiagnosticLinesReachTheHostHook)
{
    VexaComm_SetDiagnosticCallback(RecordLine, nullptr);
    Object obj = NewObject(200);
    // Refused: nothing listens on port 1 of this address.
    EXPECT_EQ(VexaComm_ConnectPort(obj.get(), "127.9.3.2", 1), 10061);
    VexaComm_SetDiagnosticCallback(nullptr, nullptr);
    EXPECT_EQ(VexaComm_ConnectPort(obj.get(), "127.9.3.2", 1), 10061);
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_EQ(g_lines[0].rfind("CGLSocket::SetError(10061,", 0), 0u) << g_lines[0];
}

TEST(HostConcurrency, PacketSizeIsReadWhileAnotherThreadConnects)
{
    SimulatorOptions o;
    o.packetSize = 4096;
    SimulatedDevice dev(o);
    Object obj = NewObject();
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            std::uint16_t size = VexaComm_GetPacketSizeMax(obj.get());
            EXPECT_TRUE(size == 16376 || size == 0xFFFF || size == 4096) << size;
        }
    });
    EXPECT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    done = true;
    reader.join();
    EXPECT_EQ(VexaComm_GetPacketSizeMax(obj.get()), 4096);
}

} // namespace
