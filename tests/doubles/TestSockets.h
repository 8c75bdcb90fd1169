// A blocking connect for the test peers and socket pairs (the library's own
// connect is bounded by a wait; listening is the simulator's, SimSocket.h).
#pragma once

#include "vexacomm/Types.h"

namespace testsock {

// 0 on success.
int Connect(SocketHandle s, const SocketAddress& addr);

} // namespace testsock
