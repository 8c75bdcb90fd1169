#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "SimulatedDevice.h"
#include "VexaCommService.h"
#include "doubles/TempDir.h"
#include "doubles/TestFs.h"

namespace {

TEST(Concurrency, SixtyFourDevicesOnSixtyFourThreads)
{
    const int kDevices = 64;
    const std::uint32_t kBytes = 300000;
    std::vector<std::unique_ptr<CDeviceSimulator>> sims;
    for (int i = 0; i < kDevices; ++i) {
        SimulatorOptions o;
        o.bindAddress = "127.5." + std::to_string(i + 1) + ".1";
        o.generatedBytes = kBytes;
        o.envelope = i % 2 == 0;
        o.ackMode = static_cast<std::uint16_t>(i % 3 == 0 ? 1 : 0);
        sims.emplace_back(new CDeviceSimulator(o));
        std::string error;
        ASSERT_TRUE(sims.back()->Start(&error)) << error;
    }
    const std::string expected = Generated(kBytes);
    std::atomic<int> exact{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kDevices; ++i) {
        threads.emplace_back([&, i] {
            Object obj = NewObject(20000);
            std::string address = sims[i]->Options().bindAddress;
            if (VexaComm_Connect(obj.get(), address.c_str()) != 0)
                return;
            CaptureFile file;
            if (VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()) == 0 &&
                file.data == expected)
                ++exact;
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(exact.load(), kDevices);
}

TEST(Concurrency, EightThreadsShareOneObject)
{
    SimulatorOptions o;
    o.generatedBytes = 100000;
    o.ackMode = 1;
    SimulatedDevice dev(o);
    Object obj = NewObject(20000);
    const std::string expected = Generated(o.generatedBytes);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round) {
                if (VexaComm_Connect(obj.get(), dev.address()) != 0) {
                    ++failures;
                    continue;
                }
                std::uint16_t size = static_cast<std::uint16_t>(4096 + 1024 * t);
                if (VexaComm_SetPacketSizeMax(obj.get(), &size) != 0 ||
                    size != static_cast<std::uint16_t>(4096 + 1024 * t))
                    ++failures;
                CaptureFile file;
                if (VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()) != 0 ||
                    file.data != expected)
                    ++failures;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    // One connection served every thread.
    EXPECT_EQ(dev->ConnectionsServed(), 1u);
}


// What a host does on other threads while one connects and fetches: the
// getters and setters, dispatching queued progress, rebinding it, cancels
// and new objects, the process-wide temporary directory. Each is locked as
// documented; the thread sanitizer's run is what proves it.
TEST(Concurrency, SettingsAndGettersMeetARunningObject)
{
    SimulatorOptions o;
    o.generatedBytes = 300000;
    o.packetSize = 1000;
    SimulatedDevice dev(o);
    Object obj = NewObject(60000);
    Object idle = NewObject();
    TempDir tmp;
    const std::string dirs[2] = {tmp.path() + kSep, tmp.File("b") + kSep};
    std::string pattern(12, '\0');
    pattern += tmp.File("*.none");
    pattern += '\0';
    VexaCommProgressFn ignore = [](void*, uint32_t, int32_t) {};
    VexaCommTraceFn quiet = [](void*, int32_t, uint32_t, uint32_t, int32_t, const void*) {};
    ASSERT_EQ(VexaComm_SetProgressCallback(obj.get(), ignore, nullptr, 1), 0);
    std::atomic<bool> done{false};
    std::atomic<int> exact{0};
    std::atomic<std::size_t> running{0};
    auto untilDone = [&](auto step) {
        return std::thread([&, step] {
            ++running;
            // Yielding keeps the spinners from starving the worker where
            // threads take turns (valgrind runs one at a time).
            for (unsigned i = 0; !done && i < 1000000; ++i) {
                step(i);
                std::this_thread::yield();
            }
        });
    };
    std::vector<std::thread> others;
    others.push_back(untilDone([&](unsigned) {
        VexaComm_DispatchProgress(obj.get());
        VexaComm_DispatchProgress(idle.get());
    }));
    // Alone on its thread: no other call orders it with the registry's
    // writers below.
    others.push_back(untilDone([&](unsigned) { VexaComm_CancelTransfer(idle.get()); }));
    others.push_back(untilDone([&](unsigned) {
        char ident[64];
        VexaComm_GetIdent(obj.get(), ident, sizeof(ident));
        VexaComm_GetDeviceType(obj.get());
        VexaComm_IsConnected(obj.get());
        VexaComm_SetWaitLimit(obj.get(), 20000);
    }));
    others.push_back(untilDone([&](unsigned i) {
        VexaComm_SetTraceCallback(obj.get(), i % 2 != 0 ? quiet : nullptr, nullptr);
    }));
    // Rebinding the running object's progress: the transfer reads it on
    // every packet, under the one lock that orders the two.
    others.push_back(untilDone([&](unsigned i) {
        VexaComm_SetProgressCallback(obj.get(), ignore, nullptr, static_cast<int32_t>(i % 2));
        char name[300];
        VexaComm_ServiceListDirectory(idle.get(), reinterpret_cast<const FileRequest*>(pattern.data()), name,
                                      sizeof(name));
    }));
    others.push_back(untilDone([&](unsigned) { Object made = NewObject(); }));
    // Alone too: the object thread's registry lock would order it.
    others.push_back(untilDone([&](unsigned i) { VexaComm_SetTempDir(dirs[i % 2].c_str()); }));
    // The fetches start once every other thread runs, so that each meets
    // a transfer however the threads are scheduled.
    const std::size_t spinners = others.size();
    std::thread worker([&] {
        for (unsigned i = 0; running < spinners && i < 10000000; ++i)
            std::this_thread::yield();
        for (int round = 0; round < 3; ++round) {
            CaptureFile file;
            if (VexaComm_Connect(obj.get(), dev.address()) == 0 &&
                VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()) == 0 &&
                file.data == Generated(o.generatedBytes))
                ++exact;
        }
        done = true;
    });
    worker.join();
    for (auto& t : others)
        t.join();
    VexaComm_SetTempDir(nullptr);
    EXPECT_EQ(exact.load(), 3);
}

} // namespace
