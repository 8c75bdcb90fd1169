// Writes the seed corpus of the API-sequence target: one input per way the
// exports meet (ApiSequence.h gives the layout).
//
//   fuzz_make_api_sequence_seeds fuzz/corpus/api_sequence
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "ApiSequence.h"

using namespace apiseq;

namespace {

constexpr bool A = false;
constexpr bool B = true;
constexpr std::uint8_t kOwn = 3;
constexpr std::uint8_t kNull = 4;
constexpr std::uint8_t kStale0 = 5;

// Device byte a: kind, packets before the fault, acknowledgements, no envelopes.
constexpr std::uint8_t Dev(Device kind, unsigned after = 0, bool acks = false, bool plain = false)
{
    return static_cast<std::uint8_t>(kind | (after << 4) | (acks ? 0x40 : 0) | (plain ? 0x80 : 0));
}
// Device byte b: packet size 248, and the pause (index into the target's table).
constexpr std::uint8_t kSmallPackets = 1;
constexpr std::uint8_t Pause(unsigned index) { return static_cast<std::uint8_t>(index << 5); }

// Fetch arguments: the whole data set, into a new file for the path form.
constexpr std::uint16_t kAll = 0;
constexpr std::uint16_t kJunkFile = 1 << 4;

Encoder& Open(Encoder& e, bool thread, std::uint8_t slot, unsigned device, std::uint16_t limit = 300)
{
    return e.Do(thread, Create, slot, limit).Do(thread, ConnectPort, slot, HostDevice(device));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    std::vector<std::pair<std::string, Encoder>> seeds;
    auto add = [&](const char* name, const Encoder& e) { seeds.emplace_back(name, e); };

    add("seed-nothing", Encoder(0));
    {
        Encoder e(5);
        Open(e, A, 0, 0).Do(A, GetAsdu10ToCallback, 0, kAll).Do(A, GetIdent, 0, 1).Do(A, Destroy, 0);
        add("seed-fetch-callback", e);
    }
    {
        Encoder e(8);
        Open(e, A, 0, 1).Do(A, GetAsdu10, 0, 2 << 5).Do(A, GetAsdu10ToPath, 0, kAll).Do(A, GetAsdu10ToPath, 0, kJunkFile);
        add("seed-fetch-file-and-path", e);
    }
    const std::pair<const char*, std::uint8_t> faults[] = {
        {"seed-fault-close", Dev(CloseAt, 1)},          {"seed-fault-cancel", Dev(CancelAt, 2)},
        {"seed-fault-reply-code", Dev(ReplyCodeAt, 1)}, {"seed-fault-bad-checksum", Dev(BadChecksumAt, 0)},
        {"seed-fault-stall", Dev(StallAt, 1)},          {"seed-fault-flood", Dev(Flood, 0, true)},
        {"seed-fault-pause", Dev(PauseAt, 1)},          {"seed-fault-silent", Dev(Silent)},
        {"seed-fault-refuse", Dev(RefuseGreeting)},
    };
    for (const auto& [name, device] : faults) {
        Encoder e(9);
        e.Device(device, kSmallPackets | Pause(3));
        Open(e, A, 0, 0).Do(A, GetAsdu10ToCallback, 0).Do(A, IsConnected, 0).Do(A, ConnectPort, 0, HostDevice(0));
        e.Do(A, GetAsdu10, 0).Do(A, GetErrorText, 0, 1);
        add(name, e);
    }
    {
        Encoder e(9);
        e.Device(Dev(Healthy), kSmallPackets);
        Open(e, A, 0, 0).Do(A, GetAsdu10ToCallback, 0).Do(B, SetProgressCallback, 0, 0).Do(B, GetAsdu10ToCallback, 0);
        e.Do(B, WaitTransferDone, 0, 3).Do(A, GetAsdu10, 0);
        add("seed-two-threads-one-object", e);
    }
    {
        Encoder e(6);
        e.Device(Dev(StallAt, 1), kSmallPackets);
        Open(e, A, 0, 0, 500).Do(A, GetAsdu10ToCallback, 0);
        e.Do(B, Create, 1, 10).Do(B, GetVersion, 0).Do(B, WaitTransferDone, 0, 2).Do(B, Destroy, 0);
        add("seed-destroy-during-fetch", e);
    }
    {
        Encoder e(9);
        e.Device(Dev(Healthy), kSmallPackets).Action(CancelTransfer, kOwn, 0);
        Open(e, A, 0, 0).Do(A, SetProgressCallback, 0, 0).Do(A, GetAsdu10ToCallback, 0).Do(A, GetAsdu10ToCallback, 0);
        add("seed-callback-cancels-own", e);
    }
    {
        Encoder e(5);
        e.Device(Dev(Healthy), kSmallPackets).Device(Dev(Healthy), kSmallPackets);
        e.Action(GetAsdu10ToCallback, 1, 0).Action(GetIdent, 1, 4);
        Open(e, A, 0, 0).Do(A, Create, 1, 200).Do(A, ConnectPort, 1, HostDevice(1)).Do(A, GetAsdu10ToCallback, 0);
        add("seed-callback-fetches-other", e);
    }
    {
        // Each thread's callbacks reach into the object the other thread fetches on.
        Encoder e(9);
        e.Device(Dev(Healthy), kSmallPackets).Device(Dev(Healthy), kSmallPackets);
        e.Action(GetIdent, 1, 1).Action(CancelTransfer, 0, 0).Action(SetWaitLimit, 1, 50).Action(GetIdent, 0, 1);
        e.Action(Connect, 1, 0).Action(WaitTransferDone, 0, 1).Action(DispatchProgress, 1, 0).Action(Destroy, 1, 0);
        Open(e, A, 0, 0).Do(A, SetTransferCallback, 0, 0).Do(A, GetAsdu10ToCallback, 0).Do(A, GetAsdu10, 0);
        Open(e, B, 1, 1).Do(B, SetProgressCallback, 1, 0).Do(B, GetAsdu10ToCallback, 1).Do(B, GetAsdu10, 1);
        add("seed-cross-callbacks-two-threads", e);
    }
    {
        Encoder e(6);
        e.Device(Dev(Healthy), kSmallPackets);
        for (Op op : {Connect, SetPacketSizeMax, Destroy, SetProgressCallback, SetTraceCallback, SetTransferCallback,
                      GetAsdu10ToCallback, SendPacket, ReceivePacket, SetProgressWindow})
            e.Action(op, kOwn, 0);
        Open(e, A, 0, 0).Do(A, SetTransferCallback, 0, 0).Do(A, SetTraceCallback, 0, 0).Do(A, GetAsdu10ToCallback, 0);
        add("seed-callback-busy-calls", e);
    }
    {
        Encoder e(1);
        e.Do(A, Create, 0, 100);
        for (unsigned host = 0; host < 8; ++host)
            e.Do(A, Connect, 0, HostOdd(host)).Do(B, ConnectPort, 0, static_cast<std::uint16_t>(HostOdd(host) | (host % 4) << 8));
        add("seed-odd-hosts", e);
    }
    {
        Encoder e(1);
        e.Do(A, Create, 0, 100).Do(A, ConnectPort, 0, HostDevice(0));
        for (Op op : {Destroy, Connect, ConnectPort, SetPacketSizeMax, GetPacketSizeMax, GetAsdu10, GetAsdu10ToCallback,
                      GetAsdu10ToPath, GetIdent, GetDeviceType, IsConnected, SetWaitLimit, GetWaitLimit,
                      SetProgressCallback, DispatchProgress, CancelTransfer, WaitTransferDone, SetProgressWindow,
                      SetTraceCallback, SetTransferCallback, SetCaptureFile, SendPacket, ReceivePacket, SendReply})
            e.Do(A, op, kNull);
        e.Do(A, GetAsdu10, 0, 8).Do(A, GetAsdu10, 0, 16).Do(A, GetAsdu10ToCallback, 0, 16).Do(A, GetAsdu10ToPath, 0, 5 << 4);
        e.Do(A, SetPacketSizeMax, 0, 0x100).Do(A, GetIdent, 0, 0).Do(A, GetErrorText, 0, 0x03);
        add("seed-null-pointers", e);
    }
    {
        Encoder e(2);
        Open(e, A, 0, 0).Do(A, Destroy, 0);
        for (Op op : {Connect, GetAsdu10ToCallback, GetIdent, CancelTransfer, WaitTransferDone, Destroy, SetWaitLimit})
            e.Do(A, op, kStale0);
        e.Do(A, Create, 0, 100).Do(A, GetWaitLimit, kStale0);
        add("seed-stale-handles", e);
    }
    {
        Encoder e(7);
        Open(e, A, 0, 0);
        for (std::uint16_t size = 0; size < 8; ++size)
            e.Do(A, SetPacketSizeMax, 0, size).Do(A, GetPacketSizeMax, 0);
        e.Do(A, GetAsdu10ToCallback, 0);
        add("seed-packet-sizes", e);
    }
    {
        Encoder e(5);
        Open(e, A, 0, 0).Do(A, SendPacket, 0, 4).Do(A, GetAsdu10ToCallback, 0).Do(A, SendPacket, 0, 0);
        e.Do(A, ReceivePacket, 0, 2).Do(A, SendReply, 0, 1).Do(A, SendPacket, 0, 2 | 3 << 4).Do(A, GetAsdu10, 0);
        add("seed-raw-packets", e);
    }
    {
        Encoder e(4);
        e.Action(GetIdent, 0, 1).Action(CancelTransfer, 1, 0).Action(GetAsdu10ToCallback, 1, 0);
        e.Do(A, SetDiagnosticCallback, 0, 0).Do(A, Create, 0, 50).Do(A, Connect, 0, HostOdd(1));
        Open(e, B, 1, 0).Do(A, ConnectPort, 0, HostOdd(0)).Do(B, SetDiagnosticCallback, 0, 0);
        e.Do(A, SetDiagnosticCallback, 0, 1);
        add("seed-diagnostic-reentry", e);
    }
    {
        Encoder e(6);
        Open(e, A, 0, 0).Do(A, SetCaptureFile, 0, 0).Do(A, SetLogPath, 0, 0);
        Open(e, B, 1, 1).Do(B, SetCaptureFile, 1, 2).Do(B, SetCaptureFile, 1, 0).Do(B, GetAsdu10ToCallback, 1);
        e.Do(A, GetAsdu10ToCallback, 0).Do(A, SetCaptureFile, 0, 3).Do(A, SetCaptureFile, 0, 5).Do(A, SetLogPath, 0, 1);
        add("seed-capture-and-log", e);
    }
    {
        Encoder e(9);
        e.Device(Dev(Healthy), kSmallPackets).Action(GetVersion, 0, 0).Action(FailWrite, 0, 2).Action(FailWrite, 0, 14);
        Open(e, A, 0, 0).Do(A, GetAsdu10ToCallback, 0).Do(A, GetAsdu10, 0).Do(A, ConnectPort, 0, HostDevice(0));
        e.Do(A, GetAsdu10, 0);
        add("seed-write-fails", e);
    }
    {
        Encoder e(9);
        e.Device(Dev(Healthy), kSmallPackets);
        Open(e, A, 0, 0).Do(A, SetProgressCallback, 0, 1).Do(A, GetAsdu10ToCallback, 0);
        for (int i = 0; i < 6; ++i)
            e.Do(B, DispatchProgress, 0);
        e.Do(A, DispatchProgress, 0).Do(A, SetProgressCallback, 0, 0).Do(A, DispatchProgress, 0);
        add("seed-queued-progress", e);
    }
    {
        Encoder e(8);
        e.Device(Dev(StallAt, 2), kSmallPackets);
        Open(e, A, 0, 0, 400).Do(A, SetWaitLimit, 0, 0).Do(A, GetWaitLimit, 0).Do(A, GetAsdu10ToCallback, 0);
        e.Do(B, Create, 1, 2).Do(B, SetWaitLimit, 0, 499).Do(B, GetWaitLimit, 0);
        add("seed-wait-limits", e);
    }
    {
        Encoder e(9);
        e.Device(Dev(Healthy), kSmallPackets).Device(Dev(Healthy), kSmallPackets).Action(Destroy, 1, 0);
        Open(e, A, 0, 0).Do(A, GetAsdu10ToCallback, 0);
        Open(e, B, 1, 1).Do(B, GetAsdu10ToCallback, 1).Do(B, GetIdent, 1, 1);
        add("seed-destroy-other-from-callback", e);
    }
    {
        Encoder e(9);
        e.Device(Dev(PauseAt, 1), kSmallPackets | Pause(4)).Device(Dev(Healthy), 0, 1);
        Open(e, A, 0, 0, 500).Do(A, GetAsdu10ToCallback, 0);
        e.Do(B, Create, 1, 100).Do(B, ConnectPort, 1, HostDevice(1)).Do(B, CancelTransfer, 0).Do(B, ConnectPort, 1, HostDevice(1));
        e.Do(B, ConnectPort, 1, HostDevice(1)).Do(B, CancelTransfer, 0);
        add("seed-pause-and-cancel", e);
    }
    {
        Encoder e(3);
        e.Device(Dev(Healthy), 0, 1);
        Open(e, A, 0, 0, 100).Do(A, Destroy, 0);
        Open(e, A, 0, 0, 100).Do(A, IsConnected, 0);
        add("seed-connections-used-up", e);
    }
    {
        Encoder e(8);
        e.Device(Dev(Healthy, 0, true), kSmallPackets).Device(Dev(CancelAt, 3, false, true), 2).Device(Dev(Flood), 3);
        e.Action(GetDeviceType, 2, 0).Action(GetAsdu10ToPath, 2, 0).Action(CancelTransfer, 1, 0);
        Open(e, A, 0, 0).Do(A, Create, 2, 80).Do(A, ConnectPort, 2, HostDevice(2)).Do(A, SetTraceCallback, 0, 0);
        Open(e, B, 1, 1).Do(B, GetAsdu10ToCallback, 1).Do(A, GetAsdu10ToCallback, 0).Do(B, GetAsdu10ToCallback, 2);
        add("seed-three-devices", e);
    }

    for (const auto& [name, encoder] : seeds) {
        const std::string path = std::string(argv[1]) + "/" + name;
        std::ofstream out(path, std::ios::binary);
        const std::string bytes = encoder.Bytes();
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    std::printf("%zu seeds written to %s\n", seeds.size(), argv[1]);
    return 0;
}
