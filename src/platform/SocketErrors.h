// Windows Sockets error numbers. The host sees these on every platform, so
// the POSIX backend translates errno and resolver codes into them
// (posix/SocketErrors.h).
#pragma once

namespace plat {

enum WsaError : int {
    kWsaInterrupted = 10004,      // WSAEINTR
    kWsaBadHandle = 10009,        // WSAEBADF
    kWsaAccessDenied = 10013,     // WSAEACCES
    kWsaFault = 10014,            // WSAEFAULT
    kWsaInvalidArgument = 10022,  // WSAEINVAL
    kWsaTooManySockets = 10024,   // WSAEMFILE
    kWsaWouldBlock = 10035,       // WSAEWOULDBLOCK
    kWsaInProgress = 10036,       // WSAEINPROGRESS
    kWsaAlready = 10037,          // WSAEALREADY
    kWsaNotSocket = 10038,        // WSAENOTSOCK
    kWsaMessageSize = 10040,      // WSAEMSGSIZE
    kWsaNoProtocol = 10043,       // WSAEPROTONOSUPPORT
    kWsaNotSupported = 10045,     // WSAEOPNOTSUPP
    kWsaFamilyNotSupported = 10047, // WSAEAFNOSUPPORT
    kWsaAddressInUse = 10048,     // WSAEADDRINUSE
    kWsaAddressNotAvailable = 10049, // WSAEADDRNOTAVAIL
    kWsaNetworkDown = 10050,      // WSAENETDOWN
    kWsaNetworkUnreachable = 10051, // WSAENETUNREACH
    kWsaNetworkReset = 10052,     // WSAENETRESET
    kWsaConnectionAborted = 10053, // WSAECONNABORTED
    kWsaConnectionReset = 10054,  // WSAECONNRESET
    kWsaNoBuffers = 10055,        // WSAENOBUFS
    kWsaAlreadyConnected = 10056, // WSAEISCONN
    kWsaNotConnected = 10057,     // WSAENOTCONN
    kWsaShutdown = 10058,         // WSAESHUTDOWN
    kWsaTimedOut = 10060,         // WSAETIMEDOUT
    kWsaConnectionRefused = 10061, // WSAECONNREFUSED
    kWsaHostDown = 10064,         // WSAEHOSTDOWN
    kWsaHostUnreachable = 10065,  // WSAEHOSTUNREACH
    kWsaHostNotFound = 11001,     // WSAHOST_NOT_FOUND
    kWsaTryAgain = 11002,         // WSATRY_AGAIN
    kWsaNoRecovery = 11003,       // WSANO_RECOVERY
    kWsaNoData = 11004,           // WSANO_DATA
};

} // namespace plat
