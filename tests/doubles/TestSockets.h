// Listening and blocking connects for the test peers and socket pairs: the
// library never listens (the simulator has its own), so these live here.
#pragma once

#include <cstdint>

#include "vexacomm/Types.h"

namespace testsock {

// Binds address:port (network byte order address, host byte order port; 0
// picks a free port), listens, and reports the bound port.
SocketHandle ListenTcp(std::uint32_t address, std::uint16_t port, std::uint16_t* boundPort);
// Waits up to timeoutMs for a connection; kInvalidSocket on time-out/failure.
SocketHandle Accept(SocketHandle listener, int timeoutMs);
// A blocking connect; 0 on success.
int Connect(SocketHandle s, const SocketAddress& addr);

} // namespace testsock
