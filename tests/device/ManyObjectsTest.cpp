// 256 objects on 256 threads at once (POSIX builds: under wine every new
// thread and socket wait goes through one server, and the simulator's 256
// connection threads alone outlast the wait limit).
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "SimulatedDevice.h"

namespace {

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

} // namespace
