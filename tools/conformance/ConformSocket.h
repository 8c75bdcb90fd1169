// Plain TCP for the scripts that play one side of a transcript. Kept apart
// from the library's transport, so that what is checked is not what checks.
// On Windows the program has started Windows Sockets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace conform {
namespace net {

using Handle = std::intptr_t;
constexpr Handle kNone = -1;

Handle Listen(const std::string& address, std::uint16_t port, std::string* error);
// The next connection, or kNone when none came within timeoutMs.
Handle Accept(Handle listener, unsigned timeoutMs);
Handle Connect(const std::string& address, std::uint16_t port, unsigned timeoutMs, std::string* error);
bool SendAll(Handle s, const std::uint8_t* data, std::size_t n);

constexpr long kTimedOut = -1;
constexpr long kBroken = -2;
// Up to n bytes within timeoutMs: the count, 0 when the peer closed in
// order, kTimedOut, or kBroken (a reset or another error).
long Receive(Handle s, std::uint8_t* buffer, std::size_t n, unsigned timeoutMs);
// Our side's orderly close; the peer reads an end of stream.
void ShutdownSend(Handle s);
// An abortive close: the peer sees the connection reset.
void Reset(Handle s);
void Close(Handle s);

} // namespace net
} // namespace conform
