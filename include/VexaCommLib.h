/*
 * VexaCommLib.h - the public interface of the VexaComm communication library.
 *
 * A host creates one connection object per device, connects it to the
 * device (TCP port 30282), may negotiate the packet size, and fetches ASDU 10
 * data into a file object. Every function has C linkage and the C calling
 * convention; the header compiles as C and as C++.
 *
 * Result codes: functions that talk to the device return the object's last
 * error code, a signed 32-bit integer; 0 means no error was recorded.
 *   10035..11004   Windows Sockets numbers, on every platform
 *                  (10053 aborted, 10054 reset, 10060 timed out,
 *                   10061 refused, 10065 unreachable, 11001 host not found)
 *   1..14          file exception causes (13 = disk full)
 *   71000          the device closed the connection
 *   71001          the device refused the connection in its greeting
 *   71002          no valid greeting after the TCP connect
 *   71003          the device answered with an unexpected command
 *   71004          the device cancelled the transfer
 *   71005          the transfer was cancelled at the host's request
 *   71006          no connection is open (the operation failed without
 *                  another reason; see VexaComm_Connect/VexaComm_GetAsdu10)
 *   71010          protocol failure: a packet failed its length, trailer or
 *                  checksum test, or a request could not be framed
 *   75001          the device refused the user's verification
 *   other          codes sent by the device are passed through
 *
 * Thread safety: different objects are independent and may be used on
 * different threads at once. Calls on one object from several threads are
 * served one at a time (each call holds the object's lock from clearing the
 * last error to reading it). VexaComm_DestroyObject must not run while
 * another call on the same object is in progress.
 *
 * Lifetime: an object lives from VexaComm_CreateObject to
 * VexaComm_DestroyObject; a lost connection is closed by the library and a
 * later VexaComm_Connect opens a new one.
 *
 * Windows hosts must start Windows Sockets (WSAStartup) before the first
 * connect; the library never does.
 */
#ifndef VEXACOMM_LIB_H
#define VEXACOMM_LIB_H

#include <stdint.h>

#if defined(_WIN32)
#define VEXACOMM_CALL __cdecl
#if defined(VEXACOMM_BUILDING_LIBRARY)
#define VEXACOMM_API __declspec(dllexport)
#else
#define VEXACOMM_API __declspec(dllimport)
#endif
#else
#define VEXACOMM_CALL
#if defined(VEXACOMM_BUILDING_LIBRARY)
#define VEXACOMM_API __attribute__((visibility("default")))
#else
#define VEXACOMM_API
#endif
#endif

#ifdef __cplusplus
class CFile;
typedef CFile VexaCommFile;
extern "C" {
#else
/* Opaque to C: a C host uses VexaComm_GetAsdu10ToPath instead. */
typedef struct VexaCommFile VexaCommFile;
#endif

/* Opaque connection object. */
typedef struct VexaCommObject VexaCommObject;

/* Ordinal 1. Creates an unconnected object (packet size 16376,
 * acknowledgements off, wait limit 30.03 s). Returns NULL when memory or a
 * platform object cannot be had. */
VEXACOMM_API VexaCommObject* VEXACOMM_CALL VexaComm_CreateObject(void);

/* Ordinal 2. Closes the connection and frees the object. NULL is accepted
 * and ignored. Always returns 0. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_DestroyObject(VexaCommObject* obj);

/* Ordinal 3. Connects to the device `host` (host name or dotted IPv4
 * address) on TCP port 30282: greeting, envelope probe, packet-size and
 * acknowledgement negotiation, device type and identification. Does nothing
 * and returns 0 when the object is already connected. On failure the object
 * is left closed and the result is the reason: a Windows Sockets number for
 * name look-up or connect failures, 71001/71002 for a refused or missing
 * greeting, a device code, or 71006/71010 when no other reason exists. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_Connect(VexaCommObject* obj, const char* host);

/* Ordinal 4. Negotiates the packet size with the device on the host's own
 * variable *size: a request outside 248..16376 that is not 0xFFFF (query)
 * is refused without traffic and leaves *size unchanged. Otherwise *size is
 * set to 16376 before the exchange and receives the device's answer when
 * one arrives; without a connection it stays 16376 and the result is 0.
 * The object's own packet size (VexaComm_GetPacketSizeMax) does not change. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetPacketSizeMax(VexaCommObject* obj, uint16_t* size);

/* Ordinal 5. The packet size agreed while connecting (16376 on a new
 * object). Takes no lock and does not touch the last error. */
VEXACOMM_API uint16_t VEXACOMM_CALL VexaComm_GetPacketSizeMax(VexaCommObject* obj);

/* Ordinal 6. Sends the ASDU 10 request block `request` (8 + 8*N bytes, N =
 * signed 16-bit count at byte 6, -1..2046) and streams the device's data
 * into `file`, starting at its current position, one Write() per packet.
 * Data written before a failure stays in the file. Returns 0 when the whole
 * answer arrived; 71006 when no connection is open; 71010 when the request
 * block does not fit a packet or a packet failed its checks; otherwise the
 * reason (71003/71004/71005, a socket number, a file exception cause, a
 * device code). The library neither opens, seeks nor closes the file. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_GetAsdu10(VexaCommObject* obj, VexaCommFile* file,
                                                     const void* request);

#ifdef __cplusplus
}
#endif

#endif /* VEXACOMM_LIB_H */
