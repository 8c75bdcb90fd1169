// Basic types shared by the library and its platform layer.
#pragma once

#include <cstdint>

#ifndef _WINDEF_
typedef int BOOL;
#endif
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// A socket handle as the host sees it: an unsigned value whose all-ones
// pattern means "no socket" (printed as 4294967295 in file names).
using SocketHandle = std::uintptr_t;
constexpr SocketHandle kInvalidSocket = ~static_cast<SocketHandle>(0);

// Time limit of a wait: seconds and microseconds, as a struct timeval.
struct WaitLimit {
    std::int32_t tv_sec;
    std::int32_t tv_usec;
};

// IPv4 socket address with the wire layout of struct sockaddr_in.
struct SocketAddress {
    std::uint16_t family;  // kAddressFamilyInet
    std::uint16_t port;    // network byte order
    std::uint32_t address; // network byte order
    std::uint8_t zero[8];
};
static_assert(sizeof(SocketAddress) == 16, "IPv4 socket address is 16 bytes");
// AF_INET as Windows numbers it, and so the field holds on every platform.
constexpr std::uint16_t kAddressFamilyInet = 2;
// What an IPv4 address parse or look-up gives for "no address".
constexpr std::uint32_t kNoAddress = 0xFFFFFFFFu;
