// Fetches through the link proxy: torn segments, delay and a capped line
// must leave the data exact.
#include <gtest/gtest.h>

#include <chrono>

#include "SimulatedDevice.h"
#include "doubles/LinkProxy.h"

namespace {

using Clock = std::chrono::steady_clock;

struct LinkCase {
    const char* name;
    bool acks;
    bool envelope;
    std::size_t minSegment;
    std::size_t maxSegment;
    int delayMs;
    std::uint64_t bytesPerSecond;
};

// Test names and failure messages show the row by its name.
void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.name; }

// Small enough that a line of 1-byte segments moves it in well under a
// second; packets of 1000 bytes so that acknowledgements go many times.
constexpr std::uint32_t kBytes = 24000;
constexpr std::uint16_t kPacket = 1000;

class LinkFetch : public ::testing::TestWithParam<LinkCase> {};

// The proxy's own address, from the test's name as SimulatedDevice does.
std::string ProxyAddress()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    unsigned h = 2166136261u;
    for (const char* c = info->name(); *c != '\0'; ++c)
        h = (h ^ static_cast<unsigned char>(*c)) * 16777619u;
    unsigned slot = h % 60000u;
    return "127.11." + std::to_string(slot / 250 + 1) + "." + std::to_string(slot % 250 + 1);
}

TEST_P(LinkFetch, DataArrivesExact)
{
    const LinkCase& c = GetParam();
    SimulatorOptions o;
    o.envelope = c.envelope;
    o.ackMode = c.acks ? 1 : 0;
    o.packetSize = kPacket;
    o.generatedBytes = kBytes;
    SimulatedDevice dev(o);

    LinkOptions link;
    link.listenAddress = ProxyAddress();
    link.targetAddress = dev.address();
    link.targetPort = dev->Port();
    link.minSegment = c.minSegment;
    link.maxSegment = c.maxSegment;
    link.delay = std::chrono::milliseconds(c.delayMs);
    link.bytesPerSecond = c.bytesPerSecond;
    link.seed = 7;
    link.idleStop = std::chrono::seconds(20);
    LinkProxy proxy(link);
    ASSERT_TRUE(proxy.Listening()) << proxy.Error();

    Object obj = NewObject(10000);
    Clock::time_point started = Clock::now();
    ASSERT_EQ(VexaComm_ConnectPort(obj.get(), proxy.Address().c_str(), proxy.Port()), 0);
    Clock::duration connect = Clock::now() - started;
    EXPECT_EQ(VexaComm_GetPacketSizeMax(obj.get()), kPacket);

    const std::string expected = Generated(kBytes);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        CaptureFile file;
        started = Clock::now();
        EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()), 0);
        Clock::duration fetch = Clock::now() - started;
        EXPECT_TRUE(file.data == expected) << file.data.size() << " bytes";
        EXPECT_EQ(file.writes, static_cast<int>((kBytes + kPacket - 1) / kPacket));
        // A line can be slower than its figures, never faster.
        if (c.bytesPerSecond != 0) {
            EXPECT_GE(fetch, std::chrono::microseconds(kBytes * 1000000ull / c.bytesPerSecond));
        }
    }
    // Greeting one round trip after the connect, then five exchanges.
    EXPECT_GE(connect, std::chrono::milliseconds(12 * c.delayMs));
    EXPECT_EQ(proxy.Accepted(), 1u);
    EXPECT_EQ(dev->TransfersCompleted(), 2u);
}

const LinkCase kCases[] = {
    // name                    acks   envelope segments  delay  cap
    {"AcksOffBareSplit1", false, false, 1, 1, 0, 0},
    {"AcksOffEnvelopeSplit1", false, true, 1, 1, 0, 0},
    {"AcksOnBareSplit1", true, false, 1, 1, 0, 0},
    {"AcksOnEnvelopeSplit1", true, true, 1, 1, 0, 0},
    {"AcksOffBareSplit7", false, false, 1, 7, 0, 0},
    {"AcksOffEnvelopeSplit7", false, true, 1, 7, 0, 0},
    {"AcksOnBareSplit7", true, false, 1, 7, 0, 0},
    {"AcksOnEnvelopeSplit7", true, true, 1, 7, 0, 0},
    {"AcksOffBareSplit4096", false, false, 1, 4096, 0, 0},
    {"AcksOffEnvelopeSplit4096", false, true, 1, 4096, 0, 0},
    {"AcksOnBareSplit4096", true, false, 1, 4096, 0, 0},
    {"AcksOnEnvelopeSplit4096", true, true, 1, 4096, 0, 0},
    {"AcksOnEnvelopeDelay3ms", true, true, 1, 4096, 3, 0},
    {"AcksOffBareDelay3msCapped", false, false, 0, 0, 3, 200000},
};

INSTANTIATE_TEST_SUITE_P(Lines, LinkFetch, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<LinkCase>& info) { return std::string(info.param.name); });

} // namespace
