// A recorded session read back from a pcap file (this library's captures,
// tcpdump's): the packets of one TCP connection, both directions in the
// order they completed, each as framed on the wire.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RecordedPacket {
    bool fromDevice;
    std::string framed;         // the bytes on the wire, envelope included
    std::int64_t microseconds;  // when its last byte was captured
};

// Reads `path` and returns the packets of the first TCP connection with
// data whose device end is `device` ("ADDR:PORT"; empty: port 30282, else
// the end that sent first). False with the reason in *error.
bool ReadRecordedSession(const std::string& path, const std::string& device, std::vector<RecordedPacket>* packets,
                         std::string* error);
