// Ordinal 6 with a file object of the platform framework (FrameworkDouble.h)
// and with our own, through the shipped DLL. This program imports
// VexaCommLib.dll and the host module, never the framework DLL itself.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "FrameworkDouble.h"
#include "VexaCommFile.h"
#include "VexaCommLib.h"
#include "doubles/TestPeer.h"

#include <windows.h>

extern "C" {
__declspec(dllimport) void FwHostInitDerived(FwFile* file, int kind, std::uint32_t position);
__declspec(dllimport) void FwHostInitBase(FwFile* file, std::uint32_t position);
__declspec(dllimport) void FwHostInitPlainObject(FwFile* object);
__declspec(dllimport) int FwHostDeletedExceptions();
}

namespace {

const std::string kData = "Hello, framework";

// Serves the connect, then every ASDU 10 request with kData in two packets.
struct Device {
    explicit Device(const std::string& address)
        : peer(address, 0, [this](TestPeer& p) {
              p.ServeSetup();
              EXPECT_EQ(p.ExpectPacket().command, CMD_DEVICE_TYPE);
              p.SendPacket(CMD_DEVICE_TYPE, wire::U16(946));
              EXPECT_EQ(p.ExpectPacket().command, CMD_IDENT);
              p.SendPacket(CMD_IDENT, std::string("dev", 4));
              for (;;) {
                  PeerPacket request = p.NextPacket(p.Timeout());
                  if (!request.complete || request.command != CMD_ASDU10)
                      return;
                  ++requests;
                  p.SendPacket(CMD_ASDU10, wire::U32(static_cast<std::uint32_t>(kData.size())));
                  p.SendPacket(CMD_ASDU10, kData.substr(0, 7));
                  p.SendPacket(CMD_ASDU10, kData.substr(7));
                  p.SendPacket(CMD_ASDU10, std::string());
              }
          })
    {
    }
    std::atomic<int> requests{0};
    TestPeer peer;
};

class OwnFile : public CFile {
public:
    void Write(const void* buffer, uint32_t count) override { data.append(static_cast<const char*>(buffer), count); }
    uint32_t GetPosition() const override { return 0; }
    std::string data;
};

// Tables no module holds, or a module of neither kind holds: their slots
// count calls.
int g_foreignCalls = 0;
void FW_THISCALL CountCall(void*) { ++g_foreignCalls; }
void* g_heapTable[kFwSlots];

enum class Make { FrameworkBase, Derived, DiskFull, ThrowsInt, NotAFile, HeapTable, SystemTable, Own };

struct Row {
    const char* name;
    Make make;
    std::int32_t result;
    const char* written;  // what the file holds afterwards (nullptr: not checked)
    int getPositionCalls; // framework objects
    int baseWrites;
    int derivedWrites;
    int deleted;          // exceptions deleted by the call
    int requests;         // ASDU 10 requests the device saw
    bool connectedAfter;
};

const Row kRows[] = {
    {"framework CFile", Make::FrameworkBase, 0, "...Hello, framework", 1, 2, 0, 0, 1, true},
    {"derived Write override", Make::Derived, 0, "...Hello, framework", 1, 0, 2, 0, 1, true},
    {"CFileException 13", Make::DiskFull, 13, "...", 1, 0, 1, 1, 1, false},
    {"int thrown", Make::ThrowsInt, 71011, "...", 1, 0, 1, 0, 1, false},
    {"framework object, no CFile", Make::NotAFile, 71201, nullptr, 0, 0, 0, 0, 0, true},
    {"table on the heap", Make::HeapTable, 71201, nullptr, 0, 0, 0, 0, 0, true},
    {"table in a system DLL", Make::SystemTable, 71201, nullptr, 0, 0, 0, 0, 0, true},
    {"our own CFile", Make::Own, 0, "Hello, framework", 0, 0, 0, 0, 1, true},
};

TEST(FrameworkFile, Ordinal6SortsAndDrivesEachKind)
{
    const unsigned char request[8] = {0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    int row = 0;
    for (Row r : kRows) {
        SCOPED_TRACE(r.name);
#if !defined(__i386__)
        // The framework named is 32-bit only: the 64-bit DLL refuses its
        // objects, before any call, as it does any other unrecognised one.
        if (r.make != Make::Own && r.result != 71201)
            r = Row{r.name, r.make, 71201, nullptr, 0, 0, 0, 0, 0, true};
#endif
        ++row;
        Device dev("127.9.43." + std::to_string(row));
        VexaCommObject* obj = VexaComm_CreateObject();
        ASSERT_EQ(VexaComm_ConnectPort(obj, dev.peer.Address().c_str(), dev.peer.Port()), 0);

        FwFile fw;
        OwnFile own;
        struct {
            void* const* vtable;
        } foreign = {g_heapTable};
        void* file = &fw;
        const int deletedBefore = FwHostDeletedExceptions();
        g_foreignCalls = 0;
        switch (r.make) {
        case Make::FrameworkBase: FwHostInitBase(&fw, 3); break;
        case Make::Derived: FwHostInitDerived(&fw, 0, 3); break;
        case Make::DiskFull: FwHostInitDerived(&fw, 1, 3); break;
        case Make::ThrowsInt: FwHostInitDerived(&fw, 2, 3); break;
        case Make::NotAFile: FwHostInitPlainObject(&fw); break;
        case Make::HeapTable: {
            void** table = new void*[kFwSlots];
            for (int i = 0; i < kFwSlots; ++i)
                table[i] = reinterpret_cast<void*>(&CountCall);
            foreign.vtable = table;
            file = &foreign;
            break;
        }
        case Make::SystemTable:
            // Code bytes of a system DLL as the "table": never to be called.
            foreign.vtable = reinterpret_cast<void* const*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "Sleep"));
            file = &foreign;
            break;
        case Make::Own: file = &own; break;
        }

        EXPECT_EQ(VexaComm_GetAsdu10(obj, static_cast<CFile*>(file), request), r.result);
        if (r.written != nullptr) {
            const std::string got = r.make == Make::Own ? own.data
                                                        : std::string(reinterpret_cast<char*>(fw.data), fw.position);
            EXPECT_EQ(got, r.written);
        }
        if (r.make != Make::Own && r.make != Make::HeapTable && r.make != Make::SystemTable) {
            EXPECT_EQ(fw.getPositionCalls, r.getPositionCalls);
            EXPECT_EQ(fw.baseWrites, r.baseWrites);
            EXPECT_EQ(fw.derivedWrites, r.derivedWrites);
            EXPECT_EQ(fw.otherCalls, 0);
        }
        EXPECT_EQ(g_foreignCalls, 0);
        EXPECT_EQ(FwHostDeletedExceptions() - deletedBefore, r.deleted);
        EXPECT_EQ(VexaComm_IsConnected(obj) != 0, r.connectedAfter);
        if (r.connectedAfter) {
            // A refusal sent nothing: the connection still serves a fetch.
            OwnFile next;
            EXPECT_EQ(VexaComm_GetAsdu10(obj, &next, request), 0);
            EXPECT_EQ(next.data, kData);
            EXPECT_EQ(dev.requests.load(), r.requests + 1);
        } else {
            EXPECT_EQ(dev.requests.load(), r.requests);
        }
        VexaComm_DestroyObject(obj);
        if (r.make == Make::HeapTable)
            delete[] foreign.vtable;
    }
}

} // namespace
