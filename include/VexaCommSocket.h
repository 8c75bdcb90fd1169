/*
 * VexaCommSocket.h - the connection class itself, for C++ hosts that derive
 * from it: a host that answers a peer's requests with its own versions of
 * the service operations (GetFileInfo, OpenSendFile, ...), or that builds a
 * peer of its own (examples/derived_host.cpp is such a host).
 *
 * The virtual operations keep their order (vexacomm/GLSocket.h lists it):
 * it is part of the interface, as is the class's layout. The class, its
 * members and its virtual table are exported from the shared library.
 *
 * ABI condition: deriving from a C++ class across a library boundary works
 * only when host and library share a C++ ABI: the same compiler family and
 * standard library (g++ with libstdc++ on Linux; mingw-w64 g++ with
 * -posix threads for the DLLs), since the class holds std::string,
 * std::mutex and std::condition_variable members and its virtual table
 * layout is the compiler's. Any other host uses the C functions of
 * VexaCommLib.h and VexaCommService.h, which carry the same operations.
 * On 32-bit Windows no exception may pass from host code into the library
 * (see VexaCommFile.h).
 *
 * Thread safety and lifetimes as for the C functions: one lock per object
 * (m_lock, recursive) serialises every exchange; the service operations
 * take none of their own.
 */
#ifndef VEXACOMM_SOCKET_H
#define VEXACOMM_SOCKET_H

#ifndef __cplusplus
#error "VexaCommSocket.h is C++ only; C hosts use VexaCommService.h"
#endif

#include "VexaCommFile.h"
#include "VexaCommLib.h"
#include "VexaCommService.h"
#include "vexacomm/GLSocket.h"

#endif /* VEXACOMM_SOCKET_H */
