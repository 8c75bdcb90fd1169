#include "platform/SocketErrors.h"

namespace plat {

// The socket layer reports Windows Sockets numbers itself (WSAGetLastError,
// getaddrinfo's result): nothing to translate on this platform.
int WsaErrorFromErrno(int err) { return err; }

int WsaErrorFromResolver(int eaiCode, int) { return eaiCode; }

} // namespace plat
