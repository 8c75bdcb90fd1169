/*
 * VexaCommLib.h - the public interface of the VexaComm communication library.
 *
 * A host creates one connection object per device, connects it to the
 * device (TCP port 30282), may negotiate the packet size, and fetches ASDU 10
 * data into a file object. Every function has C linkage and the C calling
 * convention; the header compiles as C and as C++.
 *
 * Result codes: functions that talk to the device return the object's last
 * error code, a signed 32-bit integer; 0 means no error was recorded. The
 * library's own codes have names below (VEXACOMM_ERR_...); besides them:
 *   10035..11004   Windows Sockets numbers, on every platform
 *                  (10053 aborted, 10054 reset, 10060 timed out,
 *                   10061 refused, 10065 unreachable, 11001 host not found)
 *   1..14          file exception causes (13 = disk full), and a write
 *                  function's own non-zero answer
 *   other          codes sent by the device are passed through
 * VexaComm_GetErrorText gives each code's text.
 *
 * NULL object: every function that takes an object accepts NULL without
 * touching memory; result-code functions then return VEXACOMM_ERR_NOT_CONNECTED
 * (71006), value functions 0, VexaComm_DestroyObject 0.
 *
 * NULL arguments: every other pointer a function needs (a host, a size, a
 * request block, a record, a buffer to read from or into) is checked after
 * the object and before anything else: NULL gives
 * VEXACOMM_ERR_INVALID_PARAMETER (87), with nothing sent, nothing created
 * on disk and the connection as it was. A NULL file, path or write or read
 * function that data should go to or come from gives
 * VEXACOMM_ERR_FILE_CREATE (71200) the same way. Where NULL means
 * something (an optional callback, a `user` value, a buffer only the
 * length is wanted for, "no capture"), the function's comment says so.
 *
 * Exceptions: no C++ exception leaves a function of this library. A
 * CFileException* thrown by a host's file object ends the transfer with its
 * cause; anything else a host's object or callback throws ends it with
 * VEXACOMM_ERR_EXCEPTION and closes the connection (the exception object is
 * destroyed by the run-time as the library catches it).
 *
 * Waits: every wait for the device, the TCP connect included, ends at the
 * object's wait limit (VexaComm_SetWaitLimit; 30.03 s by default), measured
 * on a monotonic clock. A signal delivered to the process neither ends nor
 * restarts a wait.
 *
 * Thread safety: different objects are independent and may be used on
 * different threads at once. Calls on one object from several threads are
 * served one at a time (each call holds the object's operation from
 * clearing the last error to reading it); a thread outside every callback
 * waits for the operation in progress. The getters (GetIdent,
 * GetDeviceType, IsConnected, GetWaitLimit, GetPacketSizeMax),
 * SetWaitLimit, CancelTransfer and DispatchProgress never wait for one:
 * the getters report the state the last operation or close left.
 *
 * Lifetime: an object lives from VexaComm_CreateObject to
 * VexaComm_DestroyObject; a lost connection is closed by the library and a
 * later VexaComm_Connect opens a new one. VexaComm_DestroyObject may run
 * while another thread is inside a call on the object: calls that start
 * after it return 71006, the call in progress is asked to stop (as by
 * VexaComm_CancelTransfer) and DestroyObject waits until it has returned,
 * then frees the object. Called from inside a callback (of another object's
 * call), it does not wait: it returns 0 at once and the object is freed as
 * the call in progress returns. Either way the handle is invalid from the
 * moment DestroyObject is called.
 *
 * No stream outlives its call: a request whose answer did not arrive whole
 * (a time-out, a failing write function or file, a packet that failed its
 * checks, a cancel the device did not answer) leaves the connection closed,
 * with the cause as the result; VexaComm_Connect opens a new one. A packet of
 * an earlier answer is never taken for the answer to a new request.
 *
 * Callbacks: the write function, a file object's Write, the progress,
 * trace and diagnostic callbacks may call these on the object whose
 * operation runs them: the getters (GetIdent, GetDeviceType, GetErrorText,
 * IsConnected, GetPacketSizeMax, GetWaitLimit), SetWaitLimit,
 * SetTraceCallback, CancelTransfer, DispatchProgress, WaitTransferDone
 * (which then returns 0 at once), and anything on other objects. Every
 * other call on that object (Connect, ConnectPort, SetPacketSizeMax, the
 * fetches, SetProgressCallback, SetProgressWindow, DestroyObject, the
 * packet and service functions of VexaCommService.h) returns
 * VEXACOMM_ERR_BUSY and changes nothing, not even the running call's result.
 * A callback never waits for an operation that another thread runs (it may
 * itself sit in a callback that calls back here): on another object whose
 * operation runs on another thread, the getters listed above, SetWaitLimit
 * (then in force from that object's next operation), CancelTransfer and
 * DispatchProgress work as anywhere; DestroyObject returns 0 at once (see
 * "Lifetime"); WaitTransferDone does not wait; every other call returns
 * VEXACOMM_ERR_BUSY and changes nothing. So two objects whose callbacks
 * call each other always finish. A callback runs while its own object's
 * operation is held, and while no lock is held that a call from another
 * callback waits for.
 *
 * Windows hosts must start Windows Sockets (WSAStartup) before the first
 * connect; the library never does.
 */
#ifndef VEXACOMM_LIB_H
#define VEXACOMM_LIB_H

#include <stdint.h>

#include "vexacomm/Version.h"

/* A host that links a static build of the library defines VEXACOMM_STATIC. */
#if defined(_WIN32)
#define VEXACOMM_CALL __cdecl
#if defined(VEXACOMM_BUILDING_LIBRARY)
#define VEXACOMM_API __declspec(dllexport)
#elif defined(VEXACOMM_STATIC)
#define VEXACOMM_API
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
#if defined(__AFX_H__)
/* An application framework with a CFile class of its own is in scope
 * (its header guard __AFX_H__ is defined). Its objects would reach the
 * library with a virtual table that is not the library's and crash there;
 * this type is one they do not convert to, so passing one to
 * VexaComm_GetAsdu10 does not compile. Such hosts fetch into their file
 * with VexaCommBridge.h. Include the framework's headers first. */
class VexaCommLibraryFile;
typedef VexaCommLibraryFile VexaCommFile;
#else
class CFile;
typedef CFile VexaCommFile;
#endif
extern "C" {
#else
/* Opaque to C: a C host uses VexaComm_GetAsdu10ToCallback or
 * VexaComm_GetAsdu10ToPath instead. */
typedef struct VexaCommFile VexaCommFile;
#endif

/* Opaque connection object. */
typedef struct VexaCommObject VexaCommObject;

/* The library's own result codes. */
#define VEXACOMM_OK 0
#define VEXACOMM_ERR_PEER_CLOSED 71000       /* the device closed the connection */
#define VEXACOMM_ERR_CONNECT_REFUSED 71001   /* the device's greeting refused the connection */
#define VEXACOMM_ERR_NO_GREETING 71002       /* no valid greeting after the TCP connect */
#define VEXACOMM_ERR_UNEXPECTED_REPLY 71003  /* the device answered with another command */
#define VEXACOMM_ERR_PEER_CANCELLED 71004    /* the device cancelled the transfer */
#define VEXACOMM_ERR_CANCELLED 71005         /* cancelled at the host's request (transfer or connect) */
#define VEXACOMM_ERR_NOT_CONNECTED 71006     /* no connection is open, or a NULL object */
#define VEXACOMM_ERR_EXEC_FAILED 71007       /* service side: starting a program failed */
#define VEXACOMM_ERR_EXEC_BAD_COMMAND 71008  /* service side: malformed command or missing program */
#define VEXACOMM_ERR_EXEC_TIMEOUT 71009      /* service side: a program did not end in time */
#define VEXACOMM_ERR_PROTOCOL 71010          /* a packet failed its checks, or a request did not fit */
#define VEXACOMM_ERR_EXCEPTION 71011         /* a host's object threw an unknown exception, or memory
                                                ran out; the connection is closed */
#define VEXACOMM_ERR_DATA_TRUNCATED 71012  /* compressed data ends before the size its header gives */
#define VEXACOMM_ERR_DATA_CORRUPT 71013    /* compressed data is damaged */
#define VEXACOMM_ERR_BUSY 71014            /* called from inside one of the object's own callbacks,
                                                or from any callback while another thread's call
                                                runs on the object (see "Callbacks" above); or a
                                                fetch or packet-size request while the host's own
                                                request (VexaComm_SendPacket) awaits its answer;
                                                nothing was changed */
#define VEXACOMM_ERR_NOT_DEVICE_ADDRESS 71015 /* the host is 0.0.0.0/8, multicast, reserved or
                                                 broadcast (224..255.x.x.x): no device is there */
#define VEXACOMM_ERR_FILE_CREATE 71200       /* a file (or write function) could not be had */
#define VEXACOMM_ERR_FILE_UNRECOGNISED 71201 /* VexaComm_GetAsdu10: the file object is of no kind the
                                                library can drive safely; nothing was called or sent */
#define VEXACOMM_ERR_NOT_SUPPORTED 71305     /* the operation is not supported */
#define VEXACOMM_ERR_INVALID_PARAMETER 87    /* a pointer the function needs is NULL (the system's
                                                "invalid parameter"); nothing was read, written,
                                                sent or created, and a connection is left as it was */
#define VEXACOMM_ERR_USER_VERIFY 75001       /* the device refused the user's verification */

/* How long a cancelled transfer waits for the device to answer the cancel
 * before it closes the connection. */
#define VEXACOMM_CANCEL_GRACE_MS 800

/* Ordinal 1. Creates an unconnected object (packet size 16376,
 * acknowledgements off, wait limit 30.03 s). Returns NULL when memory or a
 * platform object cannot be had. */
VEXACOMM_API VexaCommObject* VEXACOMM_CALL VexaComm_CreateObject(void);

/* Ordinal 2. Closes the connection and frees the object (see "Lifetime"
 * for a call in progress on another thread). NULL is accepted and ignored.
 * Returns 0; VEXACOMM_ERR_BUSY, with the object kept, from inside one of
 * its own callbacks. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_DestroyObject(VexaCommObject* obj);

/* Ordinal 3. Connects to the device `host` (host name or dotted IPv4
 * address) on TCP port 30282: greeting, envelope probe, packet-size and
 * acknowledgement negotiation, device type and identification. A dotted
 * address is exactly four decimal parts 0..255 without leading zeros
 * ("127.0.0.51"); any other text is a host name, looked up for an IPv4
 * address. The shorthand numeric forms ("127.51", "0x7f.0.0.51",
 * "2130706483", an address with text after a space) are neither: 11001
 * (host not found) without a look-up. IPv6 text ("::1") is looked up as a
 * name and fails with the look-up's code (11001 or 11004). An address that
 * no device can have (0.x.x.x, 224.0.0.0 and up, 255.255.255.255 among
 * them), given or looked up, is VEXACOMM_ERR_NOT_DEVICE_ADDRESS (71015),
 * with no traffic. Does nothing
 * and returns 0 when the object is already connected. On failure the object
 * is left closed and the result is the reason: a Windows Sockets number for
 * name look-up or connect failures (10060 when the TCP connect does not
 * stand within the wait limit), 71001/71002 for a refused, missing or
 * damaged greeting, 71005 when VexaComm_CancelTransfer ended it, a device
 * code, or 71010 for a device-type or identification answer that failed its
 * checks. NULL host: 87. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_Connect(VexaCommObject* obj, const char* host);

/* Ordinal 4. Negotiates the packet size with the device on the host's own
 * variable *size: a request outside 248..16376 that is not 0xFFFF (query)
 * is refused without traffic and leaves *size unchanged. Otherwise *size is
 * set to 16376 before the exchange and receives the device's answer when
 * one arrives; without a connection it stays 16376 and the result is 0.
 * The object's own packet size (VexaComm_GetPacketSizeMax) does not change.
 * NULL size: 87, nothing sent. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetPacketSizeMax(VexaCommObject* obj, uint16_t* size);

/* Ordinal 5. The packet size agreed while connecting (16376 on a new
 * object). Takes no lock and does not touch the last error; safe while a
 * connect runs on another thread. */
VEXACOMM_API uint16_t VEXACOMM_CALL VexaComm_GetPacketSizeMax(VexaCommObject* obj);

/* Ordinal 6. Sends the ASDU 10 request block `request` (8 + 8*N bytes, N =
 * signed 16-bit count at byte 6, -1..2046) and streams the device's data
 * into `file`, starting at its current position, one Write() per packet.
 * Data written before a failure stays in the file. Returns 0 when the whole
 * answer arrived; 71006 when no connection is open; 71010 when the request
 * block does not fit a packet or a packet failed its checks; otherwise the
 * reason (71003/71004/71005, a socket number, a file exception cause, a
 * device code, 71011). The library neither opens, seeks nor closes the file.
 * `file` is a C++ object (VexaCommFile.h) and works only when host and
 * library share a C++ ABI; other hosts use VexaComm_GetAsdu10ToCallback,
 * or, for a C++ file object of their own, VexaCommBridge.h.
 * Windows: the object is sorted by the module that holds its virtual table
 * before anything is called or sent. Our own CFile (a table in this DLL or
 * in an image that imports it, of our compiler's shape) is driven as above.
 * 32-bit DLL: a CFile of the platform framework's shared DLL (release or
 * debug, the table in MFC42[U][D].DLL or in an image importing one) is
 * driven through that framework's own interface; a CFileException* its
 * Write throws ends the transfer with m_cause and is deleted as
 * CException::Delete does; any other exception gives 71011. The 64-bit DLL
 * refuses framework objects. Anything else, a host with the framework linked
 * statically included, is refused with 71201 (VEXACOMM_ERR_FILE_UNRECOGNISED)
 * and the connection is left as it was (docs/platform-windows.md).
 * NULL file: 71200; NULL request: 87; either before the connection is
 * looked at. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_GetAsdu10(VexaCommObject* obj, VexaCommFile* file,
                                                     const void* request);

/* ---- Host extensions (ordinals 7 and up) ------------------------------ */

/* Ordinal 7. Copies the connected device's identification text into
 * buffer (size bytes, always zero-terminated when size > 0, cut if needed)
 * and returns the text's full length; "" and 0 when not connected. A
 * NULL buffer (or size 0) gets nothing; the length is still returned. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_GetIdent(VexaCommObject* obj, char* buffer, int32_t size);

/* Ordinal 8. The connected device's type code; 0 when not connected. */
VEXACOMM_API uint16_t VEXACOMM_CALL VexaComm_GetDeviceType(VexaCommObject* obj);

/* Ordinal 9. The text for an error code, copied like VexaComm_GetIdent:
 * the text of CONNERROR.DLL beside the host executable when it supplies
 * one (as it formats it, usually "CONN-<code> : ..."), otherwise a readable
 * English meaning: for every code named in this header, the Windows Sockets
 * numbers, the file exception causes 1..14, and "device error <code>" for
 * any other code (the device's own). The diagnostic log keeps its fixed
 * format. Returns the full length; "" and 0 for code 0. obj is not used
 * (NULL is fine); a NULL buffer as in VexaComm_GetIdent. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_GetErrorText(VexaCommObject* obj, int32_t code,
                                                        char* buffer, int32_t size);

/* Ordinal 10. 1 while a connection is established, else 0. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_IsConnected(VexaCommObject* obj);

/* Ordinal 11. Process-wide: every diagnostic line is also appended to this
 * text file, numbered and time-stamped. NULL or "" stops file logging. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetLogPath(const char* path);

/* Ordinal 12. Limit of every wait for the device, in milliseconds
 * (default 30030): the TCP connect, the greeting, each reply and each data
 * packet. 0 restores the default. Takes effect at the next wait; while
 * another thread's call runs on the object, as the next call starts (this
 * one never waits for it). */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetWaitLimit(VexaCommObject* obj, uint32_t milliseconds);

/* Ordinal 13. The wait limit in milliseconds. */
VEXACOMM_API uint32_t VEXACOMM_CALL VexaComm_GetWaitLimit(VexaCommObject* obj);

/* Ordinal 14. VexaComm_Connect on another TCP port (port-forwarded
 * set-ups); port 0 means 30282. Same results (NULL host: 87). */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ConnectPort(VexaCommObject* obj, const char* host,
                                                       uint16_t port);

/* Progress of a transfer: (1, range) when it starts, range 1..10000;
 * (0, position) as it goes, position = packets so far * range / packets
 * announced (the file's data before the transfer counted in), sent when it
 * changes, never above range, and range exactly when the announced packets
 * have arrived; (1, 0) when it has ended, successfully or not. */
typedef void(VEXACOMM_CALL* VexaCommProgressFn)(void* user, uint32_t wParam, int32_t lParam);

/* Ordinal 15. Sets (or with fn NULL removes) the object's progress
 * observer. queued 0: fn runs on the transferring thread before the
 * transfer goes on. queued 1: messages wait until the host calls
 * VexaComm_DispatchProgress, which runs fn on the host's thread. Waits for a
 * running transfer on the object to end (from a callback: VEXACOMM_ERR_BUSY
 * instead, see "Callbacks"). Removing drops queued messages. fn follows the
 * rules of "Callbacks"; run by VexaComm_DispatchProgress it is inside no
 * call and may make any. `user` goes to fn as it is, NULL too. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetProgressCallback(VexaCommObject* obj,
                                                               VexaCommProgressFn fn, void* user,
                                                               int32_t queued);

/* Ordinal 16. Delivers queued progress messages on the calling thread;
 * returns how many. Safe while a transfer runs on another thread. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_DispatchProgress(VexaCommObject* obj);

/* Ordinal 17. Asks the operation running on the object to stop. Callable
 * from any thread; does not wait.
 * - A transfer, from its request on. While the request waits for the
 *   device's first answer it ends within 100 ms with 71005 and the
 *   connection closed (a late answer would be taken for the next
 *   request's). Once data flows, the device is asked to stop at once, after
 *   the packet being written or, when the transfer waits for the next
 *   packet, within 100 ms.
 *   Packets still in flight are kept. The transfer then ends with 71005 when
 *   the device answers the cancel (the connection stays open), 0 if it had
 *   already sent everything, and 71005 with the connection closed if the
 *   device stays silent for VEXACOMM_CANCEL_GRACE_MS (or for the wait
 *   limit, when that is shorter).
 * - A connect (VexaComm_Connect, VexaComm_ConnectPort): it ends within
 *   100 ms with 71005 and the object closed (a host-name look-up in
 *   progress is not interrupted; it ends first).
 * A request made while nothing runs is dropped when the next connect or
 * transfer starts. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_CancelTransfer(VexaCommObject* obj);

/* Ordinal 18. Waits up to timeoutMs (0xFFFFFFFF: no limit) until no
 * transfer runs on the object. A transfer runs from the moment a fetch
 * (VexaComm_GetAsdu10 and the two below) is called on the object until it
 * has stopped touching it, so after 1 the host may destroy the object at
 * once. 1 when none runs, 0 on time-out and from inside a callback of the
 * object's own transfer. From inside any other callback it does not wait
 * (as with timeoutMs 0). */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_WaitTransferDone(VexaCommObject* obj, uint32_t timeoutMs);

/* Ordinal 19. VexaComm_GetAsdu10 into a file by path, for hosts without a
 * file class: the file is created (or emptied), written and closed.
 * Only a regular file, or a new one, is written: a FIFO, device or socket
 * at `path` (or a directory) gives 71200 at once, without waiting for a
 * reader, and is left as it is; a host that streams uses
 * VexaComm_GetAsdu10ToCallback. 71200 when it cannot be created; 71006
 * without a connection, the file
 * left untouched; otherwise the results of VexaComm_GetAsdu10, and a
 * failed close of the file (a network file system's deferred write) is a
 * failed write: its file exception cause, never 0. What arrived before a
 * failure stays in the file. NULL path: 71200; NULL request: 87; either
 * before the connection is looked at, and no file is created. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_GetAsdu10ToPath(VexaCommObject* obj, const char* path,
                                                           const void* request);

/* Ordinal 20. Windows: progress messages go to the window `window` (an
 * HWND) as message 0x0A00 with the same (wParam, lParam) pairs as
 * VexaComm_SetProgressCallback describes. post 1: PostMessage, the transfer
 * goes on at once; post 0: SendMessage, the transfer waits until the
 * window's thread has handled each message (so that thread must not wait
 * for this object meanwhile). Messages stop when the window is destroyed.
 * Replaces a progress callback (and a callback replaces the window); NULL
 * removes it. Waits for a running transfer on the object to end (from a
 * callback: VEXACOMM_ERR_BUSY instead). Other platforms have no windows:
 * nothing is sent. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetProgressWindow(VexaCommObject* obj, void* window,
                                                             int32_t post);

/* Receives the data of VexaComm_GetAsdu10ToCallback: each packet's payload
 * in order. 0 goes on; any other value ends the transfer with that value as
 * the result. Runs on the fetching thread; it may make the calls
 * "Callbacks" lists, on this object and on others. */
typedef int32_t(VEXACOMM_CALL* VexaCommWriteFn)(void* user, const void* data, uint32_t size);

/* Ordinal 21. VexaComm_GetAsdu10 into a function instead of a C++ file
 * object, for hosts in C or built by another compiler. What was delivered
 * before a failure stays delivered. Results as VexaComm_GetAsdu10, plus the
 * write function's own non-zero answer and 71200 when `write` is NULL;
 * NULL request: 87. `user` goes to write as it is, NULL too. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_GetAsdu10ToCallback(VexaCommObject* obj, VexaCommWriteFn write,
                                                               void* user, const void* request);

/* Receives every diagnostic line (zero-terminated, ending in a line feed). */
typedef void(VEXACOMM_CALL* VexaCommDiagnosticFn)(void* user, const char* line);

/* Ordinal 22. Process-wide: hands every diagnostic line to fn as well (the
 * debugger output, VEXACOMM_DEBUG on POSIX, and the log file go on as
 * before); NULL removes it. Lines arrive one at a time, on the thread that
 * logs them, with no lock of the library held that another call waits
 * for: fn may call any function on any object, under the rules of
 * "Callbacks" (it counts as a callback, and of the object whose call
 * logged). Lines logged during a call on an object reach fn as that call
 * returns. Returns 0; after it returns, no line reaches a replaced fn.
 * `user` goes to fn as it is, NULL too. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetDiagnosticCallback(VexaCommDiagnosticFn fn, void* user);

/* A packet as it crosses the wire: VEXACOMM_TRACE_SENT as it goes out,
 * VEXACOMM_TRACE_RECEIVED once it arrived whole and passed its checks;
 * `enveloped` 1 when it travels in a checksummed envelope; `payload` holds
 * `length` bytes and is valid only during the call. */
#define VEXACOMM_TRACE_SENT 0
#define VEXACOMM_TRACE_RECEIVED 1
typedef void(VEXACOMM_CALL* VexaCommTraceFn)(void* user, int32_t direction, uint32_t command, uint32_t length,
                                            int32_t enveloped, const void* payload);

/* Ordinal 47. Sets (or with fn NULL removes) the object's packet trace: fn
 * sees every packet the object sends and receives, on the thread that moves
 * it, while the object's operation is held: fn may make the calls
 * "Callbacks" lists, on this object and on others. Costs nothing while
 * unset. Takes effect at the next packet; waits for a running call on the
 * object by another thread (from a callback of another object:
 * VEXACOMM_ERR_BUSY instead; from this object's own callbacks it is set at
 * once, as "Callbacks" lists). `user` goes to fn as it is, NULL too. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetTraceCallback(VexaCommObject* obj, VexaCommTraceFn fn, void* user);

/* Progress of a fetch in bytes: `done` of `total`, where total is the size
 * the device announced. Called on the fetching thread while the object's
 * operation is held (see "Callbacks"), at most once per 1 % of total or per
 * 100 ms, and once at the end of every transfer that got an announcement:
 * after a complete one with done = total = the bytes received; after a
 * failure with what arrived and the announced total. */
typedef void(VEXACOMM_CALL* VexaCommTransferFn)(void* user, uint64_t done, uint64_t total);

/* Ordinal 48. Sets (or with fn NULL removes) the object's byte progress,
 * beside the progress callback or window. Waits for a running transfer on
 * the object to end; refused with VEXACOMM_ERR_BUSY from its callbacks, and
 * from any callback while another thread's transfer runs on the object.
 * `user` goes to fn as it is, NULL too. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetTransferCallback(VexaCommObject* obj, VexaCommTransferFn fn,
                                                               void* user);

/* Ordinal 49. The version of the library actually loaded, "major.minor.patch"
 * (compare VEXACOMM_VERSION_STRING, the version of the header). */
VEXACOMM_API const char* VEXACOMM_CALL VexaComm_GetVersion(void);

/* Ordinal 50. Writes every byte the object sends and receives from now on
 * to `path`, a classic pcap file (link type 101, raw IPv4) that packet
 * analysers open: each send and each receive is one TCP segment between the
 * connection's real addresses and ports, with sequence numbers that advance
 * with the bytes (a handshake opens each connection, this side's FIN closes
 * it; TCP checksums are left 0). The file is created or emptied, unless
 * another object already captures into the same path: they then share it.
 * A file has one writer: it is locked (all its names alike) while captured
 * into, so the same file under another name (a link, "./cap.pcap" beside
 * "cap.pcap") or one that another process captures into is refused with
 * 71200 and a diagnostic line, and left as it is.
 * Records are held back briefly and are on disk when a call on the object
 * returns. NULL or "" stops the capture and closes the file once no object
 * writes it; so does VexaComm_DestroyObject. A failing capture file (a full
 * disk) never fails a call: the capture stops, with one diagnostic line.
 * Returns 0, 71006 for a NULL object, 71200 when the file cannot be
 * created or is captured into by another writer (the object then captures
 * nothing). */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetCaptureFile(VexaCommObject* obj, const char* path);

/* Fills buffer with up to size bytes of the source and sets *got (0 only
 * at the source's end). 0 goes on; any other value ends the operation with
 * that value as the result. */
typedef int32_t(VEXACOMM_CALL* VexaCommReadFn)(void* user, void* buffer, uint32_t size, uint32_t* got);

/* Ordinal 45. LZHUF-compresses the `length` bytes that `read` delivers into
 * `write` (the stream the service side sends as a compressed copy, and
 * VexaComm_DecompressStream restores). Needs no object. Returns 0; the read
 * or write function's own non-zero answer; 14 (end of file) when the
 * source ends before `length` bytes; 71011 when memory ran out. What was
 * written before a failure stays written: write to a temporary file and
 * keep it only on 0. NULL read or write: 71200, nothing called; readUser
 * and writeUser go to them as they are, NULL too. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_CompressStream(VexaCommReadFn read, void* readUser, uint32_t length,
                                                          VexaCommWriteFn write, void* writeUser);

/* Ordinal 46. Restores an LZHUF stream that `read` delivers into `write`.
 * Returns 0; the read or write function's own non-zero answer;
 * VEXACOMM_ERR_DATA_TRUNCATED or VEXACOMM_ERR_DATA_CORRUPT; 71011 when
 * memory ran out. Bytes restored before a failure have been written.
 * NULL read or write, readUser, writeUser: as VexaComm_CompressStream. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_DecompressStream(VexaCommReadFn read, void* readUser,
                                                            VexaCommWriteFn write, void* writeUser);

#ifdef __cplusplus
}
#endif

#endif /* VEXACOMM_LIB_H */
