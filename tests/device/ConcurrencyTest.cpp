#include <gtest/gtest.h>

#include <atomic>
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
