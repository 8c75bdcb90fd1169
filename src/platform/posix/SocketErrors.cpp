// POSIX socket failures (errno, resolver codes) in Windows Sockets numbers.
#include "platform/posix/SocketErrors.h"

#include <cerrno>
#include <netdb.h>

namespace plat {

int WsaErrorFromErrno(int err)
{
    switch (err) {
    case EINTR: return kWsaInterrupted;
    case EBADF: return kWsaBadHandle;
    case EACCES: return kWsaAccessDenied;
    case EFAULT: return kWsaFault;
    case EINVAL: return kWsaInvalidArgument;
    case EMFILE:
    case ENFILE: return kWsaTooManySockets;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK: return kWsaWouldBlock;
    case EINPROGRESS: return kWsaInProgress;
    case EALREADY: return kWsaAlready;
    case ENOTSOCK: return kWsaNotSocket;
    case EMSGSIZE: return kWsaMessageSize;
    case EPROTONOSUPPORT: return kWsaNoProtocol;
    case EOPNOTSUPP: return kWsaNotSupported;
    case EAFNOSUPPORT: return kWsaFamilyNotSupported;
    case EADDRINUSE: return kWsaAddressInUse;
    case EADDRNOTAVAIL: return kWsaAddressNotAvailable;
    case ENETDOWN: return kWsaNetworkDown;
    case ENETUNREACH: return kWsaNetworkUnreachable;
    case ENETRESET: return kWsaNetworkReset;
    case ECONNABORTED: return kWsaConnectionAborted;
    // A write after the peer has gone: Windows reports the connection as
    // aborted, and it must count as lost.
    case EPIPE: return kWsaConnectionAborted;
    case ECONNRESET: return kWsaConnectionReset;
    case ENOBUFS:
    case ENOMEM: return kWsaNoBuffers;
    case EISCONN: return kWsaAlreadyConnected;
    case ENOTCONN: return kWsaNotConnected;
    case ESHUTDOWN: return kWsaShutdown;
    case ETIMEDOUT: return kWsaTimedOut;
    case ECONNREFUSED: return kWsaConnectionRefused;
    case EHOSTDOWN: return kWsaHostDown;
    case EHOSTUNREACH: return kWsaHostUnreachable;
    default: return err == 0 ? 0 : kWsaNetworkDown;
    }
}

int WsaErrorFromResolver(int eaiCode, int savedErrno)
{
    switch (eaiCode) {
    case 0: return 0;
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
    case EAI_ADDRFAMILY: return kWsaHostNotFound;
    case EAI_AGAIN: return kWsaTryAgain;
    case EAI_FAIL: return kWsaNoRecovery;
    case EAI_MEMORY: return kWsaNoBuffers;
    case EAI_SYSTEM: return WsaErrorFromErrno(savedErrno);
    default: return kWsaNoRecovery;
    }
}

} // namespace plat
