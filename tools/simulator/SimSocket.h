// What the simulator needs of sockets beyond the library's connection
// class: a listening socket, accepting from it, and waking a blocked
// connection. Windows Sockets must have been started by the program.
#pragma once

#include <cstdint>
#include <string>

#include "vexacomm/Types.h"

namespace sim {

// Dotted IPv4 text -> address in network byte order; kNoAddress if not one.
std::uint32_t ParseIPv4(const std::string& text);
// A listening TCP socket on address:port (port 0 picks one, reported in
// *boundPort); kInvalidSocket with the reason in *error.
SocketHandle Listen(std::uint32_t address, std::uint16_t port, std::uint16_t* boundPort, std::string* error);
// The next connection, or kInvalidSocket when none came within timeoutMs.
SocketHandle Accept(SocketHandle listener, int timeoutMs);
// Ends both directions, so that a thread blocked on `s` wakes up.
void Shutdown(SocketHandle s);
void Close(SocketHandle s);
// Whether bytes wait to be read on `s`.
bool InputWaiting(SocketHandle s);

} // namespace sim
