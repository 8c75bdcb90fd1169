// The POSIX socket calls' failures in Windows Sockets numbers. Winsock
// reports those itself, so the Win32 backend has no counterpart.
#pragma once

#include "platform/SocketErrors.h"

namespace plat {

// errno value of a failed socket call -> Windows Sockets number.
int WsaErrorFromErrno(int err);

// getaddrinfo() result code -> Windows Sockets number.
int WsaErrorFromResolver(int eaiCode, int savedErrno);

} // namespace plat
