// Thin socket layer: blocking IPv4 TCP sockets with Windows Sockets error
// numbers. Each call that fails leaves its number for SocketLastError().
#pragma once

#include <cstdint>
#include <string>

#include "vexacomm/Types.h"

namespace plat {

// Number of the last failed socket call on this thread (WSAGetLastError).
int SocketLastError();

SocketHandle SocketOpenTcp();
// A connect that a wait can bound: starts it without blocking and returns
// 0 when it already stands, 1 when it is under way (wait with
// SocketWaitConnected, then ask SocketConnectResult), -1 on failure.
int SocketConnectStart(SocketHandle s, const SocketAddress& addr);
// 1 the attempt has ended, either way; 0 limit reached; -1 failure.
int SocketWaitConnected(SocketHandle s, WaitLimit limit);
// Outcome of an ended attempt, 0 or -1; the socket is blocking again.
int SocketConnectResult(SocketHandle s);
// Bytes accepted or received, or -1. A send never raises SIGPIPE.
long SocketSend(SocketHandle s, const void* data, int length);
// One send from several buffers in order (sendmsg, WSASend): a packet and
// its envelope leave in one segment instead of three small writes that
// the Nagle algorithm would hold back behind a delayed acknowledgement.
// The gathering send and receive take 1 to kMaxSocketBuffers buffers;
// another count fails with invalid-argument.
constexpr int kMaxSocketBuffers = 4;
struct SendBuffer {
    const void* data;
    int length;
};
long SocketSendGather(SocketHandle s, const SendBuffer* buffers, int count);
// One receive into several buffers in order (recvmsg, WSARecv). With
// `noBlock` it fails with would-block instead of blocking when nothing is
// waiting.
struct RecvBuffer {
    void* data;
    int length;
};
long SocketRecvGather(SocketHandle s, const RecvBuffer* buffers, int count, bool noBlock);
// 1 ready, 0 limit reached, -1 failure. A signal neither ends nor
// restarts the wait: it goes on with the time that remains.
int SocketWaitReadable(SocketHandle s, WaitLimit limit);
int SocketWaitWritable(SocketHandle s, WaitLimit limit);
// Bytes waiting to be read (FIONREAD); 0 on success, -1 on failure.
int SocketPendingBytes(SocketHandle s, unsigned long* count);
void SocketClose(SocketHandle s);
// Both ends of a connected socket (getsockname, getpeername); 0 on success,
// -1 on failure.
int SocketEnds(SocketHandle s, SocketAddress* local, SocketAddress* peer);

// Dotted IPv4 text -> address in network byte order, 0xFFFFFFFF when the
// text is no address (inet_pton's strict four parts; "255.255.255.255" is
// 0xFFFFFFFF too). The connect parses hosts itself (socket/Connect.cpp).
std::uint32_t ParseIPv4(const char* text);
// Address in network byte order -> dotted text (inet_ntoa).
std::string FormatIPv4(std::uint32_t address);
// Thread-safe name look-up, IPv4 only; true and the first address, or false
// with SocketLastError() set (11001 host not found, ...).
bool ResolveIPv4(const char* host, std::uint32_t* address);

std::uint16_t HostToNet16(std::uint16_t value);

} // namespace plat
