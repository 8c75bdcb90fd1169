#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "SimulatedDevice.h"

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

// Every object connects in the same instant: the simulators' accept queues
// and the library's connect path see 256 clients at once, 16 per address.
TEST(Concurrency, TwoHundredFiftySixObjectsConnectAndFetchAtOnce)
{
    const int kSimulators = 16;
    const int kObjects = 256;
    const std::uint32_t kBytes = 20000;
    std::vector<std::unique_ptr<CDeviceSimulator>> sims;
    for (int i = 0; i < kSimulators; ++i) {
        SimulatorOptions o;
        o.bindAddress = "127.8." + std::to_string(i + 1) + ".1";
        o.port = 0;
        o.generatedBytes = kBytes;
        o.envelope = i % 2 == 0;
        o.ackMode = static_cast<std::uint16_t>(i % 4 < 2 ? 1 : 0);
        sims.emplace_back(new CDeviceSimulator(o));
        std::string error;
        ASSERT_TRUE(sims.back()->Start(&error)) << error;
    }
    const std::string expected = Generated(kBytes);
    std::mutex mutex;
    std::condition_variable cv;
    int waiting = 0;
    std::atomic<int> exact{0};
    std::vector<int> results(kObjects, -1);
    std::vector<std::thread> threads;
    for (int i = 0; i < kObjects; ++i) {
        threads.emplace_back([&, i] {
            Object obj = NewObject(20000);
            {
                std::unique_lock<std::mutex> guard(mutex);
                ++waiting;
                cv.notify_all();
                cv.wait(guard, [&] { return waiting == kObjects; });
            }
            const CDeviceSimulator& sim = *sims[i % kSimulators];
            int rc = VexaComm_ConnectPort(obj.get(), sim.Options().bindAddress.c_str(), sim.Port());
            CaptureFile file;
            if (rc == 0)
                rc = VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data());
            results[i] = rc;
            if (rc == 0 && file.data == expected)
                ++exact;
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(exact.load(), kObjects);
    for (int i = 0; i < kObjects; ++i)
        EXPECT_EQ(results[i], 0) << "object " << i;
    unsigned served = 0;
    for (auto& sim : sims)
        served += sim->ConnectionsServed();
    EXPECT_EQ(served, static_cast<unsigned>(kObjects));
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

} // namespace
