// Every transcript of tests/conformance played against the library, as the
// device, and against `vexacomm simulate --strict`, as the host.
#include <gtest/gtest.h>

#include <cstdio>
#include <future>
#include <string>

#include "Players.h"
#include "VexaCommLib.h"
#include "api/UnrecordedFailure.h"
#include "doubles/MemoryFile.h"
#include "doubles/TestFs.h"

namespace {

constexpr std::uint16_t kDevicePort = 30282;

std::vector<conform::Case> Cases(unsigned run)
{
    std::vector<conform::Case> all, chosen;
    std::string error;
    if (!conform::BuiltInCases(&all, &error))
        ADD_FAILURE() << error;
    for (const conform::Case& c : all) {
        if ((c.runs & run) != 0)
            chosen.push_back(c);
    }
    return chosen;
}

bool Resets(const conform::Case& c)
{
    for (const conform::Step& step : c.steps) {
        if (step.kind == conform::StepKind::DevReset)
            return true;
    }
    return false;
}

// Its own loopback address for every case of a run.
std::string AddressOf(int second, std::size_t index)
{
    return "127." + std::to_string(second) + "." + std::to_string(index / 200) + "." + std::to_string(index % 200 + 1);
}

std::string Describe(const conform::Case& c, const conform::Outcome& o)
{
    return c.file + ":" + std::to_string(o.line) + ": " + c.id + " (" + c.part + ": \"" + c.cites + "\")\n  expected " +
           o.expected + "\n  saw      " + o.seen;
}

// The host's side through the exports, each action on a thread of its own.
class ExportsHost : public conform::HostDriver {
public:
    explicit ExportsHost(std::string address) : m_address(std::move(address))
    {
        m_object = VexaComm_CreateObject();
        // A case that goes wrong ends in seconds, not in the default 30.
        VexaComm_SetWaitLimit(m_object, 5000);
    }
    ~ExportsHost() override
    {
        Finish();
        VexaComm_DestroyObject(m_object);
    }

    std::string Act(const conform::Step& step) override
    {
        if (step.word == "cancel")
            return VexaComm_CancelTransfer(m_object) == 0 ? "" : "the cancel was refused";
        if (step.word == "wait-limit") {
            VexaComm_SetWaitLimit(m_object, static_cast<std::uint32_t>(std::stoul(step.argument)));
            return "";
        }
        Finish();
        if (step.word == "connect") {
            m_action = std::async(std::launch::async, [this] { return VexaComm_Connect(m_object, m_address.c_str()); });
        } else if (step.word == "fetch") {
            m_block = step.bytes;
            m_action = std::async(std::launch::async,
                                  [this] { return VexaComm_GetAsdu10(m_object, &m_file, m_block.data()); });
        } else if (step.word == "set-packet-size") {
            m_value = static_cast<std::uint16_t>(std::stoul(step.argument));
            m_action = std::async(std::launch::async, [this] { return VexaComm_SetPacketSizeMax(m_object, &m_value); });
        } else {
            return "no such host action";
        }
        return "";
    }

    std::string Check(const conform::Step& step) override
    {
        Finish();
        std::string seen;
        if (step.word == "result") {
            seen = std::to_string(m_result);
        } else if (step.word == "file") {
            std::vector<std::uint8_t> bytes(m_file.Data().begin(), m_file.Data().end());
            seen = bytes.empty() ? "empty" : conform::Hex(bytes, bytes.size());
        } else if (step.word == "connected") {
            seen = std::to_string(VexaComm_IsConnected(m_object));
        } else if (step.word == "type") {
            seen = std::to_string(VexaComm_GetDeviceType(m_object));
        } else if (step.word == "ident") {
            char text[256] = {};
            VexaComm_GetIdent(m_object, text, sizeof(text));
            seen = text;
        } else if (step.word == "packet-size") {
            seen = std::to_string(VexaComm_GetPacketSizeMax(m_object));
        } else if (step.word == "value") {
            seen = std::to_string(m_value);
        } else {
            return "no such expectation";
        }
        return seen == step.argument ? "" : seen;
    }

    std::string Finish() override
    {
        if (m_action.valid())
            m_result = m_action.get();
        return "";
    }

private:
    std::string m_address;
    VexaCommObject* m_object;
    MemoryFile m_file;
    std::vector<std::uint8_t> m_block;
    std::uint16_t m_value = 0;
    std::future<std::int32_t> m_action;
    std::int32_t m_result = 0;
};

TEST(Conformance, LibraryMeetsEveryTranscript)
{
    std::vector<conform::Case> cases = Cases(conform::kRunLibrary);
    ASSERT_FALSE(cases.empty());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        // wine reports a peer's reset to a receive as an orderly close.
        if (UnderWine() && Resets(cases[i]))
            continue;
        const std::string address = AddressOf(66, i);
        const unsigned long unrecorded = UnrecordedFailures();
        {
            ExportsHost host(address);
            conform::Outcome o = conform::PlayDevice(cases[i], address, kDevicePort, host);
            EXPECT_TRUE(o.passed) << Describe(cases[i], o);
        }
        EXPECT_EQ(UnrecordedFailures(), unrecorded) << cases[i].id << ": an export failed without a recorded reason";
    }
}

#ifndef _WIN32
// The simulator with --strict also holds the script's side to the rules.
TEST(Conformance, SimulatorMeetsEveryTranscript)
{
    std::vector<conform::Case> cases = Cases(conform::kRunSimulator);
    ASSERT_FALSE(cases.empty());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const conform::Case& c = cases[i];
        const std::string address = AddressOf(65, i);
        std::string options = c.simOptions;
        const std::string data = ::testing::TempDir() + "conformance-" + c.id + ".bin";
        if (std::size_t at = options.find("@DATA"); at != std::string::npos) {
            std::FILE* f = std::fopen(data.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            std::fwrite(c.simData.data(), 1, c.simData.size(), f);
            std::fclose(f);
            options.replace(at, 5, data);
        }
        const std::string command = std::string(VEXACOMM_CLI) + " simulate --bind " + address +
                                    " --once --strict --timeout 5 " + options + " 2>&1";
        std::FILE* sim = ::popen(command.c_str(), "r");
        ASSERT_NE(sim, nullptr);
        // It listens once it says so.
        std::string said;
        char line[512];
        while (said.find("simulating a device on") == std::string::npos && std::fgets(line, sizeof(line), sim))
            said += line;
        conform::Outcome o = conform::PlayHost(c, address, kDevicePort, 5000);
        while (std::fgets(line, sizeof(line), sim))
            said += line;
        int status = ::pclose(sim);
        EXPECT_TRUE(o.passed) << Describe(c, o) << "\n" << said;
        EXPECT_EQ(status, 0) << c.id << ": the simulator ended with " << status << "\n" << said;
    }
}
#endif

} // namespace
