// Fuzz target: sequences of the exports over three objects and two host
// threads, against three simulated devices with faults, with callbacks that
// call back into the library on their own and on other objects.
//
// Each input (layout: ApiSequence.h) starts three simulators on
// 127.58.0.1-3, runs its operations on host threads A and B at once, then
// destroys every object and stops the devices. A run aborts (libFuzzer
// reports the input) when:
//  - a sanitizer fires;
//  - a call, less the time it spent in calls made from its callbacks and
//    (for calls that may wait for another thread's call) the time the other
//    thread spent in calls on the same object, took longer than its wait
//    limit allows: a device wait once, a fetch twice (the cancel grace),
//    others none, each plus a margin;
//  - no export call started or ended for 3 wait limits + 2 s while one was
//    under way (the watchdog: a deadlock);
//  - a fetch that returned 0 delivered other bytes than the device's data
//    set, or a failed one bytes that are not its beginning; the result is
//    not what the write function answered or the file threw;
//  - a call from the object's own callback was not refused with 71014, or
//    one from outside every callback was; a NULL object got other than its
//    documented answer; a getter gave a value no device has;
//  - a replaced diagnostic function was called after its replacement returned;
//  - descriptors or threads differ from before the input.
//
// Environment: VEXACOMM_FUZZ_MARGIN_MS overrides the margin (750 ms, 1500
// under TSan); VEXACOMM_FUZZ_TRACE prints every input's calls. A libFuzzer
// build with TSan needs TSAN_OPTIONS=suppressions=fuzz/tsan-libfuzzer.supp.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <type_traits>
#include <unistd.h>
#include <vector>

#include "ApiSequence.h"
#include "DeviceSimulator.h"
#include "FuzzSupport.h"
#include "VexaCommFile.h"
#include "VexaCommLib.h"
#include "VexaCommService.h"
#include "doubles/TempDir.h"
#include "vexacomm/Protocol.h"

namespace {

using namespace apiseq;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr unsigned kMaxOps = 48;
constexpr unsigned kActionBudget = 64;  // callback actions per input
constexpr unsigned kBlockingBudget = 3; // of them, ones that may wait for a device
// No new operation starts after this, so that an input ends well inside
// libFuzzer's time-out.
constexpr auto kSequenceBudget = std::chrono::seconds(6);
constexpr int32_t kBusy = VEXACOMM_ERR_BUSY;
constexpr int32_t kNoObject = VEXACOMM_ERR_NOT_CONNECTED;
constexpr int32_t kInvalidParameter = 87;

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define APISEQ_TSAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(APISEQ_TSAN)
constexpr long kDefaultMarginMs = 1500;
#else
constexpr long kDefaultMarginMs = 750;
#endif

long MarginMs()
{
    static const long margin = [] {
        const char* text = std::getenv("VEXACOMM_FUZZ_MARGIN_MS");
        return text != nullptr ? std::atol(text) : kDefaultMarginMs;
    }();
    return margin;
}

const char* const kDeviceAddress[3] = {"127.58.0.1", "127.58.0.2", "127.58.0.3"};
// Types the library knows (others it reports as 42).
constexpr std::uint16_t kDeviceTypes[3] = {769, 946, 962};
// Hosts no device answers on: nothing listening, shorthand and reserved
// forms, NULL, empty and IPv6 text (neither is sent to a name server).
const char* const kOddHosts[8] = {"127.58.0.9", "127.51", "255.255.255.255", "224.0.0.1",
                                  nullptr,      "",       "::1",             "127.58.0.1 x"};

// ---- the calls of an input, timed ------------------------------------------

enum class Bound {
    None,         // never waits
    Limit,        // one device wait
    TwiceLimit,   // a device wait and the cancel grace
    BehindObject, // waits only for the other thread's calls on the object
    BehindAny,    // waits only for the other thread
    WaitDone,     // its own time-out
};

struct CallRec {
    const char* name;
    VexaCommObject* object;
    int thread;
    Bound bound;
    std::uint32_t waitMs;
    bool inCallback;
    bool holds; // holds the object's operation: its callbacks run inside it
    Clock::time_point start;
    Clock::time_point end;
    bool ended = false;
    Clock::duration nested{};
    long long result = 0;
};

std::mutex g_callsMutex;
std::deque<CallRec> g_calls; // this input's; addresses stay put
std::atomic<long long> g_lastProgress{0};
std::atomic<int> g_inFlight{0};
std::atomic<bool> g_armed{false};
std::atomic<std::uint32_t> g_maxLimit{1};

thread_local int t_thread = -1; // 0 main, 1 A, 2 B, -1 anyone else (the devices)
thread_local std::vector<CallRec*> t_calls;
thread_local bool t_inDiagnostic = false;

long long Now() { return Clock::now().time_since_epoch().count(); }

void PrintCalls(std::FILE* out)
{
    const auto origin = g_calls.empty() ? Clock::now() : g_calls.front().start;
    for (const CallRec& r : g_calls) {
        const auto at = std::chrono::duration_cast<Ms>(r.start - origin).count();
        const auto took = std::chrono::duration_cast<Ms>((r.ended ? r.end : Clock::now()) - r.start).count();
        static const char* const kThreads[4] = {"dev ", "main", "A   ", "B   "};
        std::fprintf(out, "  %s %-22s obj %-14p at %5lld ms took %5lld ms -> %lld%s%s\n", kThreads[r.thread + 1],
                     r.name, static_cast<void*>(r.object), static_cast<long long>(at), static_cast<long long>(took),
                     r.result, r.inCallback ? " (from a callback)" : "", r.ended ? "" : " STILL RUNNING");
    }
}

[[noreturn]] void Violated(const std::string& what)
{
    std::fprintf(stderr, "api_sequence: invariant violated: %s\ncalls of this input:\n", what.c_str());
    {
        std::unique_lock<std::mutex> guard(g_callsMutex, std::try_to_lock);
        PrintCalls(stderr);
    }
    std::fflush(stderr);
    std::abort();
}

#define APISEQ_CHECK(cond, what) ((cond) ? (void)0 : Violated(std::string(what) + ": " #cond))

bool InsideCallback()
{
    if (t_inDiagnostic)
        return true;
    for (const CallRec* r : t_calls)
        if (r->holds)
            return true;
    return false;
}

// The calling thread runs a callback of obj's own operation.
bool InsideOperationOn(VexaCommObject* obj)
{
    for (const CallRec* r : t_calls)
        if (r->holds && r->object == obj && obj != nullptr)
            return true;
    return false;
}

bool InsideDispatch()
{
    for (const CallRec* r : t_calls)
        if (std::strcmp(r->name, "DispatchProgress") == 0)
            return true;
    return false;
}

class Timed {
public:
    Timed(const char* name, VexaCommObject* obj, Bound bound, bool holds = false, std::uint32_t waitMs = 0)
    {
        std::lock_guard<std::mutex> guard(g_callsMutex);
        g_calls.push_back(
            CallRec{name, obj, t_thread, bound, waitMs, InsideCallback(), holds, Clock::now(), {}, false, {}});
        m_rec = &g_calls.back();
        t_calls.push_back(m_rec);
        ++g_inFlight;
        g_lastProgress = Now();
    }
    ~Timed()
    {
        std::lock_guard<std::mutex> guard(g_callsMutex);
        m_rec->end = Clock::now();
        m_rec->ended = true;
        t_calls.pop_back();
        if (!t_calls.empty())
            t_calls.back()->nested += m_rec->end - m_rec->start;
        --g_inFlight;
        g_lastProgress = Now();
    }
    Timed(const Timed&) = delete;
    Timed& operator=(const Timed&) = delete;
    void Result(long long r) { m_rec->result = r; }

private:
    CallRec* m_rec;
};

template <class F>
auto Call(F call, const char* name, VexaCommObject* obj, Bound bound, bool holds = false, std::uint32_t waitMs = 0)
{
    Timed t(name, obj, bound, holds, waitMs);
    auto result = call();
    if constexpr (std::is_pointer_v<decltype(result)>)
        t.Result(result != nullptr);
    else
        t.Result(static_cast<long long>(result));
    return result;
}

// How long other threads' calls (on `obj`, or on anything when obj is
// NULL) overlapped r.
Clock::duration OverlapOfOthers(const CallRec& r, bool anyObject)
{
    std::vector<std::pair<Clock::time_point, Clock::time_point>> spans;
    for (const CallRec& o : g_calls) {
        if (o.thread == r.thread || (!anyObject && o.object != r.object))
            continue;
        const auto from = std::max(o.start, r.start);
        const auto to = std::min(o.end, r.end);
        if (from < to)
            spans.emplace_back(from, to);
    }
    std::sort(spans.begin(), spans.end());
    Clock::duration total{};
    Clock::time_point covered = r.start;
    for (const auto& [from, to] : spans) {
        const auto begin = std::max(from, covered);
        if (to > begin) {
            total += to - begin;
            covered = to;
        }
    }
    return total;
}

void CheckTimes()
{
    const Ms margin(MarginMs());
    const Ms limit(g_maxLimit.load());
    for (const CallRec& r : g_calls) {
        Clock::duration own = r.end - r.start - r.nested;
        Clock::duration allowed = margin;
        switch (r.bound) {
        case Bound::None:
            break;
        case Bound::Limit:
            own -= OverlapOfOthers(r, false);
            allowed += limit;
            break;
        case Bound::TwiceLimit:
            own -= OverlapOfOthers(r, false);
            allowed += 2 * limit;
            break;
        case Bound::BehindObject:
            own -= OverlapOfOthers(r, false);
            break;
        case Bound::BehindAny:
            own -= OverlapOfOthers(r, true);
            break;
        case Bound::WaitDone:
            if (r.inCallback)
                break;
            if (r.waitMs == 0xFFFFFFFFu)
                own -= OverlapOfOthers(r, false);
            else
                allowed += Ms(r.waitMs);
            break;
        }
        if (own > allowed)
            Violated(std::string("no wait past the limits: ") + r.name + " took " +
                     std::to_string(std::chrono::duration_cast<Ms>(own).count()) + " ms of its own, allowed " +
                     std::to_string(std::chrono::duration_cast<Ms>(allowed).count()) + " ms (largest wait limit " +
                     std::to_string(limit.count()) + " ms)");
    }
}

// Aborts when no call has started or ended for longer than any call may
// take while one is under way.
void Watchdog()
{
    std::mutex idle;
    std::condition_variable never;
    std::unique_lock<std::mutex> guard(idle);
    for (;;) {
        never.wait_for(guard, Ms(100));
        if (!g_armed || g_inFlight == 0)
            continue;
        const auto bound = Ms(3 * g_maxLimit.load() + 2000 + MarginMs());
        if (Clock::duration(Now() - g_lastProgress.load()) > bound)
            Violated("no call may hang (deadlock watchdog): nothing started or returned for " +
                     std::to_string(bound.count()) + " ms");
    }
}

// ---- the input's world -------------------------------------------------------

struct Action {
    Op op;
    std::uint8_t object;
    std::uint16_t arg;
};

// A callback's own object.
struct Registration {
    VexaCommObject* object;
    bool queued;
};

// One fetch on this thread: what its callbacks saw.
struct Frame {
    VexaCommObject* object = nullptr;
    std::string data;
    int32_t answer = 0;     // the write function's non-zero answer
    int32_t thrownCause = 0; // what the file threw: its cause, or 71011 for anything else
    std::vector<std::pair<std::uint32_t, std::int32_t>> progress;
    bool transferSeen = false;
    std::uint64_t done = 0;
    std::uint64_t total = 0;
};
thread_local std::vector<Frame*> t_frames;

Frame* FrameFor(VexaCommObject* obj)
{
    for (auto it = t_frames.rbegin(); it != t_frames.rend(); ++it)
        if ((*it)->object == obj)
            return *it;
    return nullptr;
}

struct World {
    std::unique_ptr<CDeviceSimulator> devices[3];
    std::string idents[3];
    std::string expected; // the data set every device serves
    std::vector<Action> actions;
    std::atomic<unsigned> nextAction{0};
    std::atomic<unsigned> blockingLeft{kBlockingBudget};
    std::atomic<VexaCommObject*> live[3] = {};
    std::atomic<VexaCommObject*> stale[3] = {};
    std::atomic<unsigned> serial{0};
    std::mutex registrationsMutex;
    std::deque<Registration> registrations;
    Clock::time_point deadline;
};
World* g_world = nullptr;

// Diagnostic functions installed this input: index = user pointer.
constexpr unsigned kDiagnosticSlots = 64;
std::atomic<bool> g_diagnosticReplaced[kDiagnosticSlots];
std::atomic<unsigned> g_diagnosticNext{0};
std::mutex g_diagnosticMutex; // host threads' replacements, one at a time
unsigned g_diagnosticCurrent = kDiagnosticSlots; // none

const TempDir& Scratch()
{
    static TempDir dir;
    return dir;
}

std::string ScratchFile(const std::string& name) { return Scratch().path() + "/" + name; }

Registration* Register(VexaCommObject* obj, bool queued)
{
    std::lock_guard<std::mutex> guard(g_world->registrationsMutex);
    g_world->registrations.push_back(Registration{obj, queued});
    return &g_world->registrations.back();
}

void NoteLimit(std::uint32_t ms)
{
    std::uint32_t seen = g_maxLimit.load();
    while (ms > seen && !g_maxLimit.compare_exchange_weak(seen, ms)) {
    }
}

bool IsPrefixOfData(const std::string& bytes)
{
    return bytes.size() <= g_world->expected.size() && g_world->expected.compare(0, bytes.size(), bytes) == 0;
}

void Execute(const Action& a, VexaCommObject* own);

// The next callback action, while the input's budget lasts.
const Action* TakeAction()
{
    World& w = *g_world;
    // The devices' threads log too; only host threads act.
    if (w.actions.empty() || (t_thread != 1 && t_thread != 2))
        return nullptr;
    const unsigned i = w.nextAction++;
    if (i >= kActionBudget)
        return nullptr;
    return &w.actions[i % w.actions.size()];
}

// Runs a callback's action; a FailWrite action is handed back to the caller.
const Action* Reenter(VexaCommObject* own)
{
    const Action* a = TakeAction();
    if (a == nullptr)
        return nullptr;
    if (a->op == FailWrite)
        return a;
    Execute(*a, own);
    return nullptr;
}

constexpr int32_t kWriteAnswers[5] = {1, 13, 70000, -1, 0x7FFFFFFF};

int32_t VEXACOMM_CALL WriteData(void* user, const void* data, uint32_t size)
{
    auto* f = static_cast<Frame*>(user);
    APISEQ_CHECK(f->answer == 0, "the write function is not called after it failed the transfer");
    APISEQ_CHECK(FrameFor(f->object) == f, "the write function runs on the fetching thread");
    APISEQ_CHECK(size == 0 || data != nullptr, "write function data");
    f->data.append(static_cast<const char*>(data), size);
    if (const Action* a = Reenter(f->object))
        f->answer = kWriteAnswers[a->arg % 5];
    return f->answer;
}

class HostFile : public CFile {
public:
    HostFile(Frame* frame, std::uint32_t start) : m_frame(frame), m_start(start) {}
    void Write(const void* buffer, uint32_t count) override
    {
        APISEQ_CHECK(m_frame->thrownCause == 0, "the file is not written after it threw");
        m_frame->data.append(static_cast<const char*>(buffer), count);
        if (const Action* a = Reenter(m_frame->object)) {
            const int cause = a->arg % 15;
            if (cause == 14) {
                m_frame->thrownCause = VEXACOMM_ERR_EXCEPTION;
                throw 42;
            }
            m_frame->thrownCause = cause + 1;
            throw new CFileException(cause + 1);
        }
    }
    uint32_t GetPosition() const override { return m_start; }
    uint32_t GetLength() const override { return m_start; }

private:
    Frame* m_frame;
    std::uint32_t m_start;
};

void VEXACOMM_CALL Progress(void* user, uint32_t wParam, int32_t lParam)
{
    auto* r = static_cast<Registration*>(user);
    APISEQ_CHECK(wParam <= 1, "progress message");
    APISEQ_CHECK(lParam >= 0 && lParam <= 10000, "progress message");
    // Messages queued before a switch to immediate delivery may still come
    // through DispatchProgress; only a transfer's own are in its order.
    Frame* f = r->queued || InsideDispatch() ? nullptr : FrameFor(r->object);
    if (f != nullptr)
        f->progress.emplace_back(wParam, lParam);
    Reenter(r->object);
}

void VEXACOMM_CALL Transfer(void* user, uint64_t done, uint64_t total)
{
    auto* r = static_cast<Registration*>(user);
    Frame* f = FrameFor(r->object);
    APISEQ_CHECK(f != nullptr, "the transfer callback runs on the fetching thread");
    APISEQ_CHECK(done <= total && total == g_world->expected.size(), "transfer progress within the announced size");
    f->transferSeen = true;
    f->done = done;
    f->total = total;
    Reenter(r->object);
}

void VEXACOMM_CALL Trace(void* user, int32_t direction, uint32_t, uint32_t length, int32_t enveloped,
                         const void* payload)
{
    APISEQ_CHECK(direction == VEXACOMM_TRACE_SENT || direction == VEXACOMM_TRACE_RECEIVED, "trace direction");
    APISEQ_CHECK(length <= PACKET_PAYLOAD_MAX && (length == 0 || payload != nullptr), "traced packet");
    APISEQ_CHECK(enveloped == 0 || enveloped == 1, "trace envelope flag");
    Reenter(static_cast<Registration*>(user)->object);
}

void VEXACOMM_CALL Diagnostic(void* user, const char* line)
{
    const auto slot = reinterpret_cast<std::uintptr_t>(user);
    APISEQ_CHECK(!g_diagnosticReplaced[slot], "no line reaches a diagnostic function after its replacement returned");
    const std::size_t n = line != nullptr ? std::strlen(line) : 0;
    APISEQ_CHECK(n > 0 && line[n - 1] == '\n', "a diagnostic line ends in a line feed");
    if (t_inDiagnostic)
        return;
    t_inDiagnostic = true;
    Reenter(nullptr);
    t_inDiagnostic = false;
}

// ---- one operation -------------------------------------------------------

VexaCommObject* Resolve(std::uint8_t selector, VexaCommObject* own)
{
    World& w = *g_world;
    const unsigned s = selector % 8;
    if (s < 3)
        return w.live[s];
    if (s == 3)
        return own != nullptr ? own : w.live[0].load();
    if (s == 4)
        return nullptr;
    return w.stale[s - 5];
}

bool Blocking(Op op)
{
    switch (op) {
    case Connect:
    case ConnectPort:
    case SetPacketSizeMax:
    case GetAsdu10:
    case GetAsdu10ToCallback:
    case GetAsdu10ToPath:
    case SendPacket:
    case ReceivePacket:
    case SendReply:
        return true;
    default:
        return false;
    }
}

// Objects that were sent a request of the host's own this input: their
// fetches and packet-size requests may be refused as busy until its answer
// is read.
std::mutex g_rawMutex;
std::set<VexaCommObject*> g_rawRequested;

bool RawRequested(VexaCommObject* obj)
{
    std::lock_guard<std::mutex> guard(g_rawMutex);
    return g_rawRequested.count(obj) != 0;
}

// Result-code calls refused from the object's own callbacks.
void CheckRefusal(int32_t result, bool ownOperation, bool topLevel, VexaCommObject* obj, const char* name)
{
    const std::string what = std::string(name) + " gave " + std::to_string(result);
    if (obj == nullptr)
        APISEQ_CHECK(result == kNoObject, what + " on a NULL object");
    else if (ownOperation)
        APISEQ_CHECK(result == kBusy || result == kNoObject, what + " from the object's own callback is refused");
    else if (topLevel)
        APISEQ_CHECK(result != kBusy, what + " outside every callback is never refused as busy");
}

void MakeRequest(std::uint16_t arg, std::vector<std::uint8_t>& block)
{
    static const std::int16_t counts[8] = {-1, 0, 1, 2, 2046, 2047, -2, 300};
    block.assign(8 + 8 * 2047, 0);
    const std::int16_t n = counts[arg & 7];
    block[6] = static_cast<std::uint8_t>(n & 0xFF);
    block[7] = static_cast<std::uint8_t>((n >> 8) & 0xFF);
    for (std::size_t i = 8; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(i * 7 + arg);
}

void CheckFetch(const Frame& f, int32_t result, const char* name)
{
    std::size_t same = 0;
    const std::string& data = g_world->expected;
    while (same < f.data.size() && same < data.size() && f.data[same] == data[same])
        ++same;
    const std::string what = std::string(name) + " gave " + std::to_string(result) + " with " +
                             std::to_string(f.data.size()) + " of " + std::to_string(data.size()) +
                             " bytes, the first " + std::to_string(same) + " right";
    APISEQ_CHECK(IsPrefixOfData(f.data), what + ": delivered bytes are the device's data");
    if (result == 0)
        APISEQ_CHECK(f.data.size() == g_world->expected.size(), what + " returned 0: every byte arrived");
    if (f.answer != 0)
        APISEQ_CHECK(result == f.answer, what + ": the write function's answer is the result");
    if (f.thrownCause != 0)
        APISEQ_CHECK(result == f.thrownCause, what + ": the file's exception gives the result");
    if (!f.progress.empty()) {
        APISEQ_CHECK(f.progress.front().first == 1 && f.progress.front().second >= 1,
                     what + ": progress starts with (1, range)");
        APISEQ_CHECK(f.progress.back() == std::make_pair(1u, 0), what + ": progress ends with (1, 0)");
        std::int32_t range = 0;
        for (const auto& [w, l] : f.progress) {
            if (w == 1 && l != 0)
                range = l;
            else if (w == 0)
                APISEQ_CHECK(l <= range, what + ": progress never above its range");
        }
    }
    if (result == 0 && f.transferSeen)
        APISEQ_CHECK(f.done == f.total && f.done == g_world->expected.size(),
                     what + " returned 0: the last transfer report has every byte");
}

void Execute(const Action& a, VexaCommObject* own)
{
    World& w = *g_world;
    const bool topLevel = t_calls.empty() && !t_inDiagnostic;
    const bool fromCallback = InsideCallback();
    Op op = a.op;
    if (fromCallback && (op == SetDiagnosticCallback || op == SetLogPath))
        op = GetVersion;
    if (fromCallback && Blocking(op)) {
        unsigned left = w.blockingLeft.load();
        do {
            if (left == 0)
                return;
        } while (!w.blockingLeft.compare_exchange_weak(left, left - 1));
    }
    VexaCommObject* obj = Resolve(a.object, own);
    const bool ownOperation = InsideOperationOn(obj);
    const std::uint16_t arg = a.arg;
    const unsigned slot = a.object % 3;

    switch (op) {
    case Create: {
        if (w.live[slot] != nullptr)
            break;
        VexaCommObject* made;
        made = Call([&] { return VexaComm_CreateObject(); }, "CreateObject", nullptr, Bound::None);
        APISEQ_CHECK(made != nullptr, "CreateObject");
        const std::uint32_t limit = arg % 500 + 1;
        NoteLimit(limit);
        // Published only with a short limit: the default would stall an input for 30 s.
        APISEQ_CHECK(Call([&] { return VexaComm_SetWaitLimit(made, limit); }, "SetWaitLimit", made, Bound::None) == 0,
                     "SetWaitLimit on a new object");
        VexaCommObject* empty = nullptr;
        if (!w.live[slot].compare_exchange_strong(empty, made))
            APISEQ_CHECK(Call([&] { return VexaComm_DestroyObject(made); }, "DestroyObject", made, Bound::BehindObject) == 0,
                         "DestroyObject of an unshared object");
        break;
    }
    case Destroy: {
        int32_t r;
        r = Call([&] { return VexaComm_DestroyObject(obj); }, "DestroyObject", obj, Bound::BehindObject);
        if (ownOperation)
            APISEQ_CHECK(r == kBusy || r == 0, "DestroyObject from the object's own callback");
        else
            APISEQ_CHECK(r == 0, "DestroyObject");
        if (r == 0 && obj != nullptr) {
            for (unsigned i = 0; i < 3; ++i) {
                VexaCommObject* expected = obj;
                if (w.live[i].compare_exchange_strong(expected, nullptr))
                    w.stale[i] = obj;
            }
        }
        break;
    }
    case Connect:
    case ConnectPort: {
        const unsigned pick = arg % 16;
        const int device = pick < 8 ? static_cast<int>(pick % 3) : -1;
        const char* host = device >= 0 ? kDeviceAddress[device] : kOddHosts[pick - 8];
        static const std::uint16_t kPorts[4] = {0, 0, 1, 65535};
        std::uint16_t port = kPorts[(arg >> 8) % 4];
        if ((arg >> 8) % 4 == 0)
            port = w.devices[device >= 0 ? device : 0]->Port();
        int32_t r;
        r = Call([&] { return op == Connect ? VexaComm_Connect(obj, host) : VexaComm_ConnectPort(obj, host, port); }, op == Connect ? "Connect" : "ConnectPort", obj, Bound::Limit, true);
        CheckRefusal(r, ownOperation, topLevel, obj, op == Connect ? "Connect" : "ConnectPort");
        if (obj != nullptr && !ownOperation && r != kBusy && r != kNoObject) {
            // Results that need no device; an open connection answers 0 first.
            if (host == nullptr)
                APISEQ_CHECK(r == kInvalidParameter || r == 0, "Connect to NULL");
            else if (pick == 9 || pick == 15)
                APISEQ_CHECK(r == 11001 || r == 0, "Connect to a shorthand address");
            else if (pick == 10 || pick == 11)
                APISEQ_CHECK(r == VEXACOMM_ERR_NOT_DEVICE_ADDRESS || r == 0, "Connect to a reserved address");
        }
        break;
    }
    case SetPacketSizeMax: {
        static const std::uint16_t kSizes[8] = {0xFFFF, 248, 247, 16376, 16377, 1000, 0, 4096};
        const std::uint16_t asked = kSizes[arg % 8];
        std::uint16_t size = asked;
        const bool null = (arg & 0x100) != 0;
        int32_t r;
        r = Call([&] { return VexaComm_SetPacketSizeMax(obj, null ? nullptr : &size); }, "SetPacketSizeMax", obj, Bound::Limit, true);
        if (null) {
            APISEQ_CHECK(r == kInvalidParameter || r == kNoObject || r == kBusy, "SetPacketSizeMax(NULL size)");
            break;
        }
        CheckRefusal(r, ownOperation, topLevel && !RawRequested(obj), obj, "SetPacketSizeMax");
        const bool refused = asked != 0xFFFF && (asked < 248 || asked > 16376);
        if (refused || r == kBusy || r == kNoObject)
            APISEQ_CHECK(size == asked, "a refused SetPacketSizeMax leaves *size as it was");
        else
            APISEQ_CHECK(size >= 248 && size <= 16376, "SetPacketSizeMax gives a packet size");
        break;
    }
    case GetPacketSizeMax: {
        std::uint16_t size;
        size = Call([&] { return VexaComm_GetPacketSizeMax(obj); }, "GetPacketSizeMax", obj, Bound::None);
        APISEQ_CHECK(size == 0 || (size >= 248 && size <= 16376), "GetPacketSizeMax");
        if (obj == nullptr)
            APISEQ_CHECK(size == 0, "GetPacketSizeMax(NULL)");
        break;
    }
    case GetAsdu10:
    case GetAsdu10ToCallback:
    case GetAsdu10ToPath: {
        std::vector<std::uint8_t> block;
        MakeRequest(arg, block);
        const bool nullRequest = (arg & 8) != 0;
        const void* request = nullRequest ? nullptr : block.data();
        Frame frame;
        frame.object = obj;
        t_frames.push_back(&frame);
        int32_t r = 0;
        const char* name = op == GetAsdu10 ? "GetAsdu10" : op == GetAsdu10ToCallback ? "GetAsdu10ToCallback"
                                                                                       : "GetAsdu10ToPath";
        std::string path;
        const char* pathArg = nullptr;
        const std::string junk = "junk!";
        const unsigned pathKind = (arg >> 4) % 8;
        if (op == GetAsdu10) {
            static const std::uint32_t kStarts[8] = {0, 0, 1, 100, 65536, 0x7FFFFFFF, 0xFFFFFFFF, 5000};
            HostFile file(&frame, kStarts[(arg >> 5) & 7]);
            const bool nullFile = (arg & 0x10) != 0;
            r = Call([&] { return VexaComm_GetAsdu10(obj, nullFile ? nullptr : &file, request); }, name, obj,
                     Bound::TwiceLimit, true);
        } else if (op == GetAsdu10ToCallback) {
            const bool nullWrite = (arg & 0x10) != 0;
            r = Call([&] { return VexaComm_GetAsdu10ToCallback(obj, nullWrite ? nullptr : &WriteData, &frame, request); }, name, obj, Bound::TwiceLimit, true);
            if (nullWrite && obj != nullptr)
                APISEQ_CHECK(r == VEXACOMM_ERR_FILE_CREATE, "a NULL write function");
        } else {
            // Each call its own file, so that concurrent fetches never share one.
            static const std::string fifo = ScratchFile("fifo");
            path = ScratchFile("out-" + std::to_string(w.serial++));
            switch (pathKind) {
            case 1: {
                std::FILE* f = std::fopen(path.c_str(), "wb");
                APISEQ_CHECK(f != nullptr, "scratch file");
                std::fputs(junk.c_str(), f);
                std::fclose(f);
                pathArg = path.c_str();
                break;
            }
            case 2: pathArg = Scratch().path().c_str(); break;
            case 3: pathArg = fifo.c_str(); break;
            case 4: pathArg = "/dev/null"; break;
            case 5: pathArg = nullptr; break;
            case 6: pathArg = ""; break;
            case 7: path = ScratchFile("missing/out"); pathArg = path.c_str(); break;
            default: pathArg = path.c_str(); break;
            }
            r = Call([&] { return VexaComm_GetAsdu10ToPath(obj, pathArg, request); }, name, obj, Bound::TwiceLimit, true);
            if (pathKind <= 1) {
                std::FILE* f = std::fopen(path.c_str(), "rb");
                if (f != nullptr) {
                    char buffer[4096];
                    std::size_t n;
                    while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0)
                        frame.data.append(buffer, n);
                    std::fclose(f);
                    ::unlink(path.c_str());
                }
                if (frame.data == junk && r != 0)
                    frame.data.clear(); // left untouched, as a refused call leaves it
            } else if (pathKind == 3) {
                struct stat st;
                APISEQ_CHECK(::lstat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode), "a FIFO is left as it is");
            }
            if (pathKind >= 2 && pathKind <= 6 && obj != nullptr && !fromCallback && !nullRequest)
                APISEQ_CHECK(r == VEXACOMM_ERR_FILE_CREATE || r == kNoObject, "GetAsdu10ToPath to no regular file");
        }
        t_frames.pop_back();
        if (nullRequest) {
            APISEQ_CHECK(r != 0, std::string(name) + " with a NULL request");
            break;
        }
        if (!(op == GetAsdu10ToCallback && (arg & 0x10) != 0))
            CheckRefusal(r, ownOperation, topLevel && !RawRequested(obj), obj, name);
        CheckFetch(frame, r, name);
        break;
    }
    case GetIdent: {
        static const std::int32_t kSizes[6] = {64, 0, 1, 4, 400, -1};
        const bool null = arg % 6 == 0;
        const std::int32_t size = kSizes[arg % 6];
        char buffer[400];
        std::memset(buffer, 'z', sizeof(buffer));
        int32_t n;
        n = Call([&] { return VexaComm_GetIdent(obj, null ? nullptr : buffer, size); }, "GetIdent", obj, Bound::None);
        bool known = n == 0;
        for (const std::string& ident : w.idents)
            known = known || static_cast<std::size_t>(n) == ident.size();
        APISEQ_CHECK(known, "GetIdent gives a device's identification");
        if (!null && size > 0) {
            const std::size_t copied = std::min<std::size_t>(n, size - 1);
            APISEQ_CHECK(buffer[copied] == '\0' && std::strlen(buffer) == copied,
                         "GetIdent's copy is zero-terminated (size " + std::to_string(size) + ", length " +
                             std::to_string(n) + (buffer[0] == 'z' ? ", buffer untouched)" : ")"));
            bool prefix = copied == 0;
            for (const std::string& ident : w.idents)
                prefix = prefix || (ident.size() == static_cast<std::size_t>(n) && ident.compare(0, copied, buffer) == 0);
            APISEQ_CHECK(prefix, "GetIdent's text is the device's");
        }
        if (obj == nullptr)
            APISEQ_CHECK(n == 0, "GetIdent(NULL)");
        break;
    }
    case GetDeviceType: {
        std::uint16_t type;
        type = Call([&] { return VexaComm_GetDeviceType(obj); }, "GetDeviceType", obj, Bound::None);
        APISEQ_CHECK(type == 0 || type == kDeviceTypes[0] || type == kDeviceTypes[1] || type == kDeviceTypes[2],
                     "GetDeviceType gave " + std::to_string(type));
        break;
    }
    case GetErrorText: {
        static const std::int32_t kCodes[12] = {0, 71000, 71005, 71014, 71015, 10060, 11001, 13, 1, 75001, -1, 123456};
        static const std::int32_t kSizes[6] = {300, 0, 1, 8, 300, -5};
        const std::int32_t code = kCodes[arg % 12];
        const unsigned s = (arg >> 4) % 6;
        char buffer[300];
        std::memset(buffer, 'z', sizeof(buffer));
        int32_t n;
        n = Call([&] { return VexaComm_GetErrorText(obj, code, s == 0 ? nullptr : buffer, kSizes[s]); }, "GetErrorText", obj, Bound::None);
        APISEQ_CHECK(code == 0 ? n == 0 : n > 0, "GetErrorText's length");
        if (s != 0 && kSizes[s] > 0)
            APISEQ_CHECK(std::strlen(buffer) == std::min<std::size_t>(n, kSizes[s] - 1), "GetErrorText's copy");
        break;
    }
    case IsConnected: {
        int32_t c;
        c = Call([&] { return VexaComm_IsConnected(obj); }, "IsConnected", obj, Bound::None);
        APISEQ_CHECK(c == 0 || (c == 1 && obj != nullptr), "IsConnected");
        break;
    }
    case SetWaitLimit: {
        const std::uint32_t limit = arg % 500 + 1;
        NoteLimit(limit);
        int32_t r;
        r = Call([&] { return VexaComm_SetWaitLimit(obj, limit); }, "SetWaitLimit", obj, Bound::None);
        APISEQ_CHECK(obj == nullptr ? r == kNoObject : r == 0 || r == kNoObject, "SetWaitLimit");
        break;
    }
    case GetWaitLimit: {
        std::uint32_t limit;
        limit = Call([&] { return VexaComm_GetWaitLimit(obj); }, "GetWaitLimit", obj, Bound::None);
        APISEQ_CHECK(limit <= g_maxLimit || limit == 30030, "GetWaitLimit gives a limit that was set");
        if (obj == nullptr)
            APISEQ_CHECK(limit == 0, "GetWaitLimit(NULL)");
        break;
    }
    case SetProgressCallback: {
        const unsigned kind = arg % 3;
        Registration* r = Register(obj, kind == 1);
        int32_t result;
        result = Call([&] { return VexaComm_SetProgressCallback(obj, kind == 2 ? nullptr : &Progress, r, kind == 1 ? 1 : 0); }, "SetProgressCallback", obj, Bound::BehindObject);
        CheckRefusal(result, ownOperation, topLevel, obj, "SetProgressCallback");
        break;
    }
    case DispatchProgress: {
        int32_t n;
        n = Call([&] { return VexaComm_DispatchProgress(obj); }, "DispatchProgress", obj, Bound::None);
        APISEQ_CHECK(n >= 0 && (obj != nullptr || n == 0), "DispatchProgress");
        break;
    }
    case CancelTransfer: {
        int32_t r;
        r = Call([&] { return VexaComm_CancelTransfer(obj); }, "CancelTransfer", obj, Bound::None);
        if (obj == nullptr)
            APISEQ_CHECK(r == kNoObject, "CancelTransfer(NULL)");
        break;
    }
    case WaitTransferDone: {
        static const std::uint32_t kWaits[4] = {0, 1, 200, 0xFFFFFFFF};
        const std::uint32_t wait = kWaits[arg % 4];
        int32_t r;
        r = Call([&] { return VexaComm_WaitTransferDone(obj, wait); }, "WaitTransferDone", obj, Bound::WaitDone, false, wait);
        APISEQ_CHECK(r == 0 || r == 1, "WaitTransferDone");
        if (obj == nullptr)
            APISEQ_CHECK(r == 0, "WaitTransferDone(NULL)");
        if (ownOperation && FrameFor(obj) != nullptr)
            APISEQ_CHECK(r == 0, "WaitTransferDone from the object's own transfer");
        if (topLevel && wait == 0xFFFFFFFF && obj != nullptr)
            APISEQ_CHECK(r == 1, "WaitTransferDone without a limit");
        break;
    }
    case SetProgressWindow: {
        static int window;
        int32_t r;
        r = Call([&] { return VexaComm_SetProgressWindow(obj, (arg & 1) ? &window : nullptr, (arg >> 1) & 1); }, "SetProgressWindow", obj, Bound::BehindObject);
        CheckRefusal(r, ownOperation, topLevel, obj, "SetProgressWindow");
        break;
    }
    case SetTraceCallback:
    case SetTransferCallback: {
        Registration* reg = Register(obj, false);
        const bool remove = (arg & 1) != 0;
        int32_t r;
        r = Call([&] { return op == SetTraceCallback ? VexaComm_SetTraceCallback(obj, remove ? nullptr : &Trace, reg) : VexaComm_SetTransferCallback(obj, remove ? nullptr : &Transfer, reg); }, op == SetTraceCallback ? "SetTraceCallback" : "SetTransferCallback", obj, Bound::BehindObject);
        // "Callbacks" lets a callback change its own object's trace.
        CheckRefusal(r, ownOperation && op == SetTransferCallback, topLevel, obj,
                     op == SetTraceCallback ? "SetTraceCallback" : "SetTransferCallback");
        break;
    }
    case SetDiagnosticCallback: {
        std::lock_guard<std::mutex> guard(g_diagnosticMutex);
        const unsigned next = (arg & 1) ? kDiagnosticSlots : g_diagnosticNext++ % kDiagnosticSlots;
        int32_t r;
        r = Call([&] { return VexaComm_SetDiagnosticCallback(next == kDiagnosticSlots ? nullptr : &Diagnostic, reinterpret_cast<void*>(static_cast<std::uintptr_t>(next))); }, "SetDiagnosticCallback", nullptr, Bound::BehindAny);
        APISEQ_CHECK(r == 0, "SetDiagnosticCallback");
        if (g_diagnosticCurrent != kDiagnosticSlots && g_diagnosticCurrent != next)
            g_diagnosticReplaced[g_diagnosticCurrent] = true;
        g_diagnosticCurrent = next;
        break;
    }
    case SetLogPath: {
        static const std::string log = ScratchFile("log.txt");
        const unsigned kind = arg % 3;
        Call([&] { return VexaComm_SetLogPath(kind == 0 ? log.c_str() : kind == 1 ? nullptr : ""); }, "SetLogPath",
             nullptr, Bound::BehindAny);
        break;
    }
    case SetCaptureFile: {
        static const std::string paths[3] = {ScratchFile("a.pcap"), ScratchFile("b.pcap"), Scratch().path() + "/./a.pcap"};
        static const std::string missing = ScratchFile("missing/c.pcap");
        const unsigned kind = arg % 6;
        const char* path = kind < 3 ? paths[kind].c_str() : kind == 3 ? nullptr : kind == 4 ? "" : missing.c_str();
        int32_t r;
        r = Call([&] { return VexaComm_SetCaptureFile(obj, path); }, "SetCaptureFile", obj, Bound::BehindObject);
        if (obj == nullptr)
            APISEQ_CHECK(r == kNoObject, "SetCaptureFile(NULL)");
        else if (kind == 5)
            APISEQ_CHECK(r == VEXACOMM_ERR_FILE_CREATE || r == kNoObject || r == kBusy, "SetCaptureFile where none can be");
        break;
    }
    case SendPacket: {
        static const std::uint32_t kCommands[5] = {CMD_DEVICE_TYPE, CMD_IDENT, 0x7777, CMD_REPLY, CMD_ASDU10};
        static const std::uint32_t kLengths[4] = {0, 4, 16376, 16377};
        static std::vector<std::uint8_t> payload(16400, 0);
        const std::uint32_t length = kLengths[(arg >> 4) % 4];
        const std::uint32_t command = kCommands[arg % 5];
        int32_t r;
        r = Call([&] { return VexaComm_SendPacket(obj, command, payload.data(), length); }, "SendPacket", obj, Bound::Limit, true);
        CheckRefusal(r, ownOperation, topLevel, obj, "SendPacket");
        if (r == 0 && command != CMD_REPLY) {
            std::lock_guard<std::mutex> guard(g_rawMutex);
            g_rawRequested.insert(obj);
        }
        if (length > 16376 && obj != nullptr && !ownOperation)
            APISEQ_CHECK(r != 0, "SendPacket of a payload too long");
        break;
    }
    case ReceivePacket: {
        static const std::uint32_t kCapacities[3] = {0, 8, 400};
        std::uint8_t buffer[400];
        std::uint32_t command = 0;
        std::uint32_t length = 0;
        const bool nulls = (arg & 4) != 0;
        int32_t r;
        r = Call([&] { return VexaComm_ReceivePacket(obj, nulls ? nullptr : &command, nulls ? nullptr : &length, buffer, kCapacities[arg % 3]); }, "ReceivePacket", obj, Bound::Limit, true);
        CheckRefusal(r, ownOperation, topLevel, obj, "ReceivePacket");
        if (r == 0 && !nulls)
            APISEQ_CHECK(length <= PACKET_PAYLOAD_MAX, "ReceivePacket's length");
        break;
    }
    case SendReply: {
        static const std::uint32_t kCodes[3] = {0, 71005, 13};
        int32_t r;
        r = Call([&] { return VexaComm_SendReply(obj, kCodes[arg % 3]); }, "SendReply", obj, Bound::Limit, true);
        CheckRefusal(r, ownOperation, topLevel, obj, "SendReply");
        break;
    }
    case FailWrite:
    case GetVersion:
    case kOpCount: {
        const char* version;
        version = Call([&] { return VexaComm_GetVersion(); }, "GetVersion", nullptr, Bound::None);
        APISEQ_CHECK(version != nullptr && std::strcmp(version, VEXACOMM_VERSION_STRING) == 0, "GetVersion");
        break;
    }
    }
}

// ---- host threads ------------------------------------------------------------

class Worker {
public:
    explicit Worker(int role) : m_thread([this, role] { Loop(role); }) {}
    void Run(std::function<void()> job)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_job = std::move(job);
        m_cv.notify_all();
    }
    void Wait()
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        m_cv.wait(guard, [this] { return !m_job; });
    }

private:
    void Loop(int role)
    {
        t_thread = role;
        std::unique_lock<std::mutex> guard(m_mutex);
        for (;;) {
            m_cv.wait(guard, [this] { return static_cast<bool>(m_job); });
            guard.unlock();
            m_job();
            guard.lock();
            m_job = nullptr;
            m_cv.notify_all();
        }
    }
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::function<void()> m_job;
    std::thread m_thread; // last: runs Loop on the members above
};

Worker* g_workers[2];

long Entries(const char* directory, std::string* list)
{
    DIR* d = ::opendir(directory);
    if (d == nullptr)
        return -1;
    long n = 0;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        ++n;
        if (list != nullptr) {
            char target[256] = "";
            const std::string entry = std::string(directory) + "/" + e->d_name;
            const ssize_t k = ::readlink(entry.c_str(), target, sizeof(target) - 1);
            *list += std::string("  ") + e->d_name + " -> " + (k > 0 ? std::string(target, k) : "?") + "\n";
        }
    }
    ::closedir(d);
    return n;
}

SimulatorOptions DeviceOptions(unsigned index, std::uint8_t a, std::uint8_t b, std::uint8_t c, unsigned size)
{
    static const std::uint16_t kPacketSizes[4] = {16376, 248, 1000, 4096};
    static const std::int32_t kFaultCodes[8] = {1, 13, 10054, 71003, 71005, 75001, 123456, -7};
    static const unsigned kPauses[8] = {0, 20, 100, 300, 600, 50, 200, 450};
    SimulatorOptions o;
    o.bindAddress = kDeviceAddress[index];
    o.port = 0;
    o.generatedBytes = size;
    o.faultAfterPackets = (a >> 4) & 3;
    o.ackMode = (a & 0x40) != 0 ? 1 : 0;
    o.envelope = (a & 0x80) == 0;
    o.packetSize = kPacketSizes[b & 3];
    o.faultCode = kFaultCodes[(b >> 2) & 7];
    o.pauseMs = kPauses[b >> 5];
    o.maxConnections = c % 4;
    o.deviceType = kDeviceTypes[index];
    o.ident = "apiseq device " + std::to_string(index) + std::string(index * 150, '.');
    o.ioTimeoutMs = 1000;
    switch ((a & 0x0F) % kDeviceKinds) {
    case CloseAt: o.fault = SimFault::Close; break;
    case CancelAt: o.fault = SimFault::Cancel; break;
    case ReplyCodeAt: o.fault = SimFault::ReplyCode; break;
    case BadChecksumAt: o.fault = SimFault::BadChecksum; break;
    case StallAt: o.fault = SimFault::Stall; break;
    case Flood: o.fault = SimFault::Flood; break;
    case PauseAt: o.fault = SimFault::Pause; break;
    case Silent: o.silent = true; break;
    case RefuseGreeting: o.refuseGreeting = true; break;
    default: break;
    }
    return o;
}

void RunInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::InputReader in(data, size);
    World world;
    g_world = &world;
    const unsigned dataSize = kDataSizes[in.Byte() % 10];
    world.expected.resize(dataSize);
    FillGenerated(0, reinterpret_cast<std::uint8_t*>(&world.expected[0]), dataSize);
    for (unsigned i = 0; i < 3; ++i) {
        const std::uint8_t a = in.Byte();
        const std::uint8_t b = in.Byte();
        const std::uint8_t c = in.Byte();
        world.devices[i].reset(new CDeviceSimulator(DeviceOptions(i, a, b, c, dataSize)));
        world.idents[i] = world.devices[i]->Options().ident;
        std::string error;
        FUZZ_CHECK(world.devices[i]->Start(&error));
    }
    const unsigned actions = in.Byte() % (kMaxActions + 1);
    for (unsigned i = 0; i < actions; ++i) {
        const std::uint8_t op = in.Byte();
        const std::uint8_t object = in.Byte();
        world.actions.push_back(Action{static_cast<Op>(op % kOpCount), object, in.Byte()});
    }
    std::vector<Action> ops[2];
    const std::size_t head = 11 + 3 * actions;
    const std::size_t count = std::min<std::size_t>(kMaxOps, size > head ? (size - head) / 4 : 0);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t op = in.Byte();
        const std::uint8_t object = in.Byte();
        ops[op >> 7].push_back(Action{static_cast<Op>((op & 0x7F) % kOpCount), object, in.U16()});
    }

    g_maxLimit = 1;
    world.deadline = Clock::now() + kSequenceBudget;
    g_lastProgress = Now();
    g_armed = true;
    for (int t = 0; t < 2; ++t) {
        g_workers[t]->Run([&world, &list = ops[t]] {
            for (const Action& a : list) {
                if (Clock::now() > world.deadline)
                    break;
                Execute(a, nullptr);
            }
        });
    }
    g_workers[0]->Wait();
    g_workers[1]->Wait();
    g_armed = false;

    // Every object goes, then the process-wide settings, then the devices.
    for (auto& live : world.live) {
        if (VexaCommObject* obj = live.exchange(nullptr))
            APISEQ_CHECK(Call([&] { return VexaComm_DestroyObject(obj); }, "DestroyObject", obj, Bound::BehindObject) == 0,
                         "DestroyObject at the end");
    }
    {
        std::lock_guard<std::mutex> guard(g_diagnosticMutex);
        VexaComm_SetDiagnosticCallback(nullptr, nullptr);
        for (auto& replaced : g_diagnosticReplaced)
            replaced = false;
        g_diagnosticCurrent = kDiagnosticSlots;
    }
    VexaComm_SetLogPath(nullptr);
    {
        std::lock_guard<std::mutex> guard(g_rawMutex);
        g_rawRequested.clear();
    }
    g_workers[0]->Run([&world] { world.devices[1]->Stop(); });
    g_workers[1]->Run([&world] { world.devices[2]->Stop(); });
    world.devices[0]->Stop();
    g_workers[0]->Wait();
    g_workers[1]->Wait();

    // Every thread that records calls is idle now.
    if (std::getenv("VEXACOMM_FUZZ_TRACE") != nullptr)
        PrintCalls(stdout);
    CheckTimes();
    {
        std::lock_guard<std::mutex> guard(g_callsMutex);
        g_calls.clear();
    }
    g_world = nullptr;
}

void RemoveOutputs()
{
    for (const char* name : {"a.pcap", "b.pcap", "log.txt"})
        ::unlink(ScratchFile(name).c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool ready = [] {
        t_thread = 0;
        ::mkfifo(ScratchFile("fifo").c_str(), 0600);
        g_workers[0] = new Worker(1);
        g_workers[1] = new Worker(2);
        std::thread(Watchdog).detach();
        // Once through the paths that set up process-wide state on first use
        // (name look-ups, the log), so that the counts below see none of it.
        Encoder warm(4);
        warm.Do(false, Create, 0, 100).Do(false, SetDiagnosticCallback, 0).Do(false, SetLogPath, 0, 0);
        for (std::uint16_t host = 15; host > 0; --host)
            warm.Do(false, ConnectPort, 0, host % 16);
        warm.Do(false, SetCaptureFile, 0, 0).Do(false, GetAsdu10ToPath, 0).Do(false, GetErrorText, 0, 1);
        const std::string bytes = warm.Bytes();
        RunInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        RemoveOutputs();
        return true;
    }();
    (void)ready;

    std::string fdsBefore;
    const long fds = Entries("/proc/self/fd", &fdsBefore);
    const long threads = Entries("/proc/self/task", nullptr);
    RunInput(data, size);
    RemoveOutputs();

    std::string fdsAfter;
    if (Entries("/proc/self/fd", &fdsAfter) != fds)
        Violated("every descriptor is back: before\n" + fdsBefore + "after\n" + fdsAfter);
    // A joined thread leaves the task list a moment after its join returns,
    // and nothing signals that moment: look again for a bounded while.
    const auto until = Clock::now() + std::chrono::seconds(2);
    long now;
    while ((now = Entries("/proc/self/task", nullptr)) != threads && Clock::now() < until)
        std::this_thread::yield();
    if (now != threads)
        Violated("every thread is back: " + std::to_string(threads) + " before, " + std::to_string(now) + " after");
    return 0;
}
