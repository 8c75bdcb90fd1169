// The capture of a connection's bytes into a pcap file: which objects
// capture, into which file, and the TCP stream each one's bytes make there.
// The transport hands over every byte it moves; a file failure stays here.
#pragma once

#include <atomic>
#include <cstdint>

#include "socket/PcapWriter.h"
#include "vexacomm/Types.h"

class CPacketSocket;

namespace capture {

// Objects that capture; while 0, the transport asks nothing more.
extern std::atomic<int> g_capturing;
inline bool Active() { return g_capturing.load(std::memory_order_relaxed) != 0; }

// `owner` captures into `path` from now on (a path another object captures
// into is shared, not emptied); a null or empty path ends its capture.
// 0, or 71200 when the file cannot be created or another writer has it:
// one of another process, or of this one under another name.
std::int32_t Start(const CPacketSocket* owner, const char* path);
// Bytes that `owner` just moved over socket `s`, in order: one segment.
void Record(const CPacketSocket* owner, SocketHandle s, bool sent, const pcap::Part* parts, int count);
// `owner` closes its socket: its side's FIN, and the file brought up to date.
void Closed(const CPacketSocket* owner);
// What `owner`'s file holds back goes to the system.
void Flush(const CPacketSocket* owner);

} // namespace capture
