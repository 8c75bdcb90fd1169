// The simulator's listening side. The simulator is built on the public
// headers and the shipped library, which offer connections but no
// listener: this is the little it needs of the system besides.
#pragma once

#include <cstdint>
#include <string>

#include "VexaCommSocket.h"

namespace sim {

// Dotted IPv4 text -> address in network byte order; false when it is none.
bool ParseAddress(const std::string& text, std::uint32_t* address);
// Listens on address:port (0: any free port); the bound port, or
// kInvalidSocket and why not ("address already in use", ...).
SocketHandle Listen(std::uint32_t address, std::uint16_t port, std::uint16_t* bound, std::string* why);
// A connection within timeoutMs, else kInvalidSocket.
SocketHandle Accept(SocketHandle listener, int timeoutMs);
// Ends both directions so that a thread blocked on the socket wakes up.
void Shutdown(SocketHandle s);
void CloseSocket(SocketHandle s);

} // namespace sim
