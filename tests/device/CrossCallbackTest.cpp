// Two objects fetching on two threads, each calling into the other from
// inside one of its own callbacks while the other sits in one of its own:
// the pair always finishes, every call with its documented result.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

#include "SimulatedDevice.h"

namespace {

struct Action {
    const char* name;
    std::function<std::int32_t(VexaCommObject*)> call;
    std::int32_t expected;
    bool stops; // the other's fetch may end with 71005
};

// Threads arrived at each point: both in callbacks (0), both done with
// their call (1), both fetches returned (2). Waits are bounded: a fetch
// that failed early never comes.
struct Meeting {
    std::mutex mutex;
    std::condition_variable cv;
    int arrived[3] = {0, 0, 0};
    bool Arrive(int point, int seconds, int count = 1)
    {
        std::unique_lock<std::mutex> lock(mutex);
        arrived[point] += count;
        cv.notify_all();
        return cv.wait_for(lock, std::chrono::seconds(seconds), [&] { return arrived[point] >= 2; });
    }
};

struct Side {
    Side(VexaCommObject* s, VexaCommObject* o, const Action* a, Meeting* m)
        : self(s), other(o), action(a), meeting(m) {}
    VexaCommObject *self, *other;
    const Action* action;
    Meeting* meeting;
    std::string data;
    bool acted = false;
    std::int32_t answer = -1, result = -1;
};
// From the second packet on, once: the call on the other object, between
// two meetings, so that both fetches sit in their callbacks meanwhile.
int32_t VEXACOMM_CALL OnWrite(void* user, const void* data, uint32_t size)
{
    auto* s = static_cast<Side*>(user);
    s->data.append(static_cast<const char*>(data), size);
    if (s->data.size() > 16376 && !s->acted) {
        s->acted = true;
        s->meeting->Arrive(0, 8);
        s->answer = s->action->call(s->other);
        s->meeting->Arrive(1, 8);
    }
    return 0;
}
int32_t VEXACOMM_CALL Discard(void*, const void*, uint32_t) { return 0; }

TEST(CrossCallbacks, TwoThreadsCallingEachOtherFromCallbacksAlwaysFinish)
{
    SimulatorOptions o;
    o.generatedBytes = 1u << 20;
    SimulatedDevice devA(o), devB(o);
    const std::string expected = Generated(o.generatedBytes);
    const Action ident{"GetIdent", [&](VexaCommObject* x) {
        char text[64];
        std::int32_t n = VexaComm_GetIdent(x, text, sizeof(text));
        return o.ident == text ? n : -n;
    }, static_cast<std::int32_t>(o.ident.size()), false};
    const Action type{"GetDeviceType", [](VexaCommObject* x) { return std::int32_t{VexaComm_GetDeviceType(x)}; },
                      o.deviceType, false};
    const Action connected{"IsConnected", VexaComm_IsConnected, 1, false};
    const Action limit{"SetWaitLimit", [](VexaCommObject* x) { return VexaComm_SetWaitLimit(x, 20000); }, 0, false};
    const Action cancel{"CancelTransfer", VexaComm_CancelTransfer, 0, true};
    const Action destroy{"DestroyObject", VexaComm_DestroyObject, 0, true};
    const Action fetch{"fetch", [](VexaCommObject* x) {
        return VexaComm_GetAsdu10ToCallback(x, Discard, nullptr, AllEntries().data());
    }, VEXACOMM_ERR_BUSY, false};
    const struct {
        const Action& a;
        const Action& b;
    } rows[] = {
        {ident, ident},     {type, type},   {connected, connected}, {limit, limit},     {cancel, cancel},
        {destroy, destroy}, {fetch, fetch}, {fetch, ident},         {destroy, fetch},   {limit, destroy},
        {cancel, connected},
    };
    for (const auto& r : rows) {
        const std::string name = std::string(r.a.name) + " / " + r.b.name;
        SCOPED_TRACE(name);
        Meeting meeting;
        VexaCommObject* a = VexaComm_CreateObject();
        VexaCommObject* b = VexaComm_CreateObject();
        Side sides[2] = {{a, b, &r.a, &meeting}, {b, a, &r.b, &meeting}};
        ASSERT_EQ(VexaComm_Connect(a, devA.address()), 0);
        ASSERT_EQ(VexaComm_Connect(b, devB.address()), 0);
        std::thread threads[2];
        for (int i = 0; i < 2; ++i) {
            Side& s = sides[i];
            threads[i] = std::thread([&s] {
                s.result = VexaComm_GetAsdu10ToCallback(s.self, OnWrite, &s, AllEntries().data());
                s.meeting->Arrive(2, 0);
            });
        }
        // A deadlock never ends and its threads cannot be joined.
        if (!meeting.Arrive(2, 20, 0)) {
            std::fprintf(stderr, "%s: the fetches are stuck\n", name.c_str());
            std::abort();
        }
        for (std::thread& t : threads)
            t.join();
        for (int i = 0; i < 2; ++i) {
            const Side& s = sides[i];
            const Action& by = *sides[1 - i].action;
            EXPECT_EQ(s.answer, s.action->expected) << s.action->name;
            EXPECT_TRUE(s.result == 0 || (by.stops && s.result == VEXACOMM_ERR_CANCELLED)) << s.result;
            EXPECT_TRUE(s.data == expected.substr(0, s.result == 0 ? expected.size() : s.data.size()));
            if (&by == &limit) {
                EXPECT_EQ(VexaComm_GetWaitLimit(s.self), 20000u);
            }
            if (&by == &destroy) {
                EXPECT_EQ(VexaComm_IsConnected(s.self), 0) << "a destroyed handle is refused";
            } else {
                VexaComm_DestroyObject(s.self);
            }
        }
    }
}

} // namespace
