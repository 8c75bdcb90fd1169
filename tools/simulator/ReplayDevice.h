// A device that replays a recorded session: it answers one connection with
// the device's recorded packets, byte for byte and in order, and checks
// each packet the library sends against the recorded one. The first
// difference ends the replay and is reported with both packets.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CaptureReader.h"
#include "vexacomm/Types.h"

struct ReplayOptions {
    std::string bindAddress = "127.0.0.1";
    std::uint16_t port = 30282; // 0 picks a free port
    // Keep the recorded pauses before each of the device's packets.
    bool timing = false;
    // Limit of every wait for the library, in milliseconds.
    unsigned ioTimeoutMs = 30000;
    // Sees every packet as it goes out or comes in, framed as on the wire.
    std::function<void(bool fromDevice, const std::string& framed)> trace;
};

struct ReplayOutcome {
    bool connected = false;
    std::size_t replayed = 0; // recorded packets sent or matched
    bool diverged = false;
    std::size_t at = 0;     // index of the recorded packet where it diverged
    std::string expected;   // that packet, framed
    std::string received;   // what the library sent instead ("" if nothing)
    std::string reason;     // why, in words
};

class CReplayDevice {
public:
    CReplayDevice(std::vector<RecordedPacket> packets, ReplayOptions options);
    ~CReplayDevice();
    CReplayDevice(const CReplayDevice&) = delete;
    CReplayDevice& operator=(const CReplayDevice&) = delete;

    bool Start(std::string* error);
    std::uint16_t Port() const { return m_port; }
    // Serves one connection; `stop` is asked every 50 ms while waiting.
    ReplayOutcome ServeOne(const std::function<bool()>& stop);

private:
    std::vector<RecordedPacket> m_packets;
    ReplayOptions m_options;
    SocketHandle m_listener = kInvalidSocket;
    std::uint16_t m_port = 0;
};
