// A simulator on a loopback address of the test's own: derived from the test
// name, moved on to the next address when another test holds it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "DeviceSimulator.h"
#include "VexaCommFile.h"
#include "VexaCommLib.h"

class SimulatedDevice {
public:
    explicit SimulatedDevice(SimulatorOptions options)
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        unsigned h = 2166136261u;
        for (char c : name)
            h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
        std::string error;
        for (unsigned attempt = 0; attempt < 64; ++attempt) {
            unsigned slot = (h + attempt) % 60000u;
            options.bindAddress = "127.2." + std::to_string(slot / 250 + 1) + "." +
                                  std::to_string(slot % 250 + 1);
            m_sim.reset(new CDeviceSimulator(options));
            if (m_sim->Start(&error))
                return;
        }
        ADD_FAILURE() << "no loopback address for the simulator: " << error;
    }

    CDeviceSimulator& operator*() { return *m_sim; }
    CDeviceSimulator* operator->() { return m_sim.get(); }
    const char* address() const { return m_sim->Options().bindAddress.c_str(); }

private:
    std::unique_ptr<CDeviceSimulator> m_sim;
};

// Keeps every byte the library writes; can act after a given write.
class CaptureFile : public CFile {
public:
    void Write(const void* buffer, uint32_t count) override
    {
        data.append(static_cast<const char*>(buffer), count);
        ++writes;
        if (onWrite)
            onWrite(writes);
    }
    uint32_t GetPosition() const override { return static_cast<uint32_t>(data.size()); }

    std::string data;
    int writes = 0;
    std::function<void(int)> onWrite;
};

inline std::string Generated(std::uint64_t n)
{
    std::string s(n, '\0');
    FillGenerated(0, reinterpret_cast<std::uint8_t*>(&s[0]), n);
    return s;
}

struct ObjectDeleter {
    void operator()(VexaCommObject* o) const { VexaComm_DestroyObject(o); }
};
using Object = std::unique_ptr<VexaCommObject, ObjectDeleter>;

inline Object NewObject(std::uint32_t waitMs = 5000)
{
    Object obj(VexaComm_CreateObject());
    VexaComm_SetWaitLimit(obj.get(), waitMs);
    return obj;
}

// A request block asking for every entry (count -1).
inline std::string AllEntries()
{
    return std::string("\0\0\0\0\0\0\xFF\xFF", 8);
}
