/*
 * VexaCommService.h - the answering side of the file and program service,
 * for a host that receives a peer's requests on a connection and dispatches
 * them itself. C and C++.
 *
 * The library never dispatches these operations on a peer's behalf: the
 * host decides which peers may read, write and delete files or start
 * programs on this computer. Unless the host confines them
 * (VexaComm_ServiceSetRoot, VexaComm_ServiceSetPrograms), paths and
 * commands are used as given; symbolic links at the library's own
 * temporary names are never followed, and command lines never pass through
 * a shell.
 *
 * Each VexaComm_Service* function clears the object's last error, runs the
 * operation through the object's virtual table (so a class derived from the
 * library's own still has its overrides applied), and returns the last error:
 * 0, a system error code (2 file not found, 3 path not found, 5 access
 * denied, 206 name too long...), a file exception cause (1..14), or one of
 * the VEXACOMM_ERR_ codes of VexaCommLib.h. Operations that answer the peer
 * send a CMD_REPLY (or CMD_STATUS) on the object's connection. A NULL object
 * gives VEXACOMM_ERR_NOT_CONNECTED, and so does an operation whose answer
 * could not be sent for want of a connection (its local effect stays).
 * Any other pointer an operation needs, given NULL, gives
 * VEXACOMM_ERR_INVALID_PARAMETER (87) before anything is read, created or
 * sent: the peer is not answered. Where NULL means something, the
 * function's comment says so.
 * Like every export, none lets a C++ exception out.
 *
 * Thread safety: each function holds the object's lock for its own call,
 * as every export does; a host that shares one connection between threads
 * still serialises its dispatching, so that a request and its answer are
 * not split by another thread's.
 */
#ifndef VEXACOMM_SERVICE_H
#define VEXACOMM_SERVICE_H

#include <stddef.h>
#include <stdint.h>

#include "VexaCommLib.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Record and request layouts: little-endian, packed, fixed offsets. -- */
#pragma pack(push, 1)

/* One file: local calendar time of its last change, size, attributes (the
 * Windows attribute bits), transfer range and path. 292 bytes. */
typedef struct FileInfoRecord {
    uint32_t reserved0;
    uint16_t year;
    uint16_t month;
    uint16_t day;
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint32_t reserved16;
    uint32_t size;
    uint32_t attributes;
    uint32_t startOffset;
    uint32_t count;
    char path[256];
} FileInfoRecord;

/* The file's version text (from its version resource), then its record.
 * 324 bytes. */
typedef struct FileInfoVersionRecord {
    char version[32];
    FileInfoRecord info;
} FileInfoVersionRecord;

/* A file to send, or the search pattern of a listing: this 12-byte head,
 * then the path from byte 12 to its zero. */
typedef struct FileRequest {
    uint16_t reserved0;
    uint8_t flags; /* VEXACOMM_FILE_REQ_COMPRESSED */
    uint8_t reserved3;
    uint32_t startOffset;
    uint32_t reserved8;
#ifdef __cplusplus
    const char* Path() const { return reinterpret_cast<const char*>(this) + 12; }
#endif
} FileRequest;

/* A program to start: this 34-byte head, then the command from byte 34 to
 * its zero. */
typedef struct ProgramRequest {
    uint16_t kind; /* VEXACOMM_PROGRAM_KIND_START; others are not supported */
    uint8_t flags; /* VEXACOMM_PROG_... */
    uint8_t reserved3;
    uint16_t show;
    uint32_t waitMs;
    uint32_t delayMs;
    uint32_t reserved14;
    char verb[16];
#ifdef __cplusplus
    const char* Command() const { return reinterpret_cast<const char*>(this) + 34; }
#endif
} ProgramRequest;

#pragma pack(pop)

#ifdef __cplusplus
#define VEXACOMM_LAYOUT_CHECK(cond, what) static_assert(cond, what)
#else
/* C99: an array of negative size stops the compiler. */
#define VEXACOMM_LAYOUT_JOIN2(a, b) a##b
#define VEXACOMM_LAYOUT_JOIN(a, b) VEXACOMM_LAYOUT_JOIN2(a, b)
#define VEXACOMM_LAYOUT_CHECK(cond, what) \
    typedef char VEXACOMM_LAYOUT_JOIN(vexacomm_layout_check_, __LINE__)[(cond) ? 1 : -1]
#endif
VEXACOMM_LAYOUT_CHECK(sizeof(FileInfoRecord) == 292, "file information record");
VEXACOMM_LAYOUT_CHECK(offsetof(FileInfoRecord, year) == 4, "year");
VEXACOMM_LAYOUT_CHECK(offsetof(FileInfoRecord, second) == 14, "second");
VEXACOMM_LAYOUT_CHECK(offsetof(FileInfoRecord, size) == 20, "size");
VEXACOMM_LAYOUT_CHECK(offsetof(FileInfoRecord, attributes) == 24, "attributes");
VEXACOMM_LAYOUT_CHECK(offsetof(FileInfoRecord, startOffset) == 28, "start offset");
VEXACOMM_LAYOUT_CHECK(offsetof(FileInfoRecord, count) == 32, "count");
VEXACOMM_LAYOUT_CHECK(offsetof(FileInfoRecord, path) == 36, "path");
VEXACOMM_LAYOUT_CHECK(sizeof(FileInfoVersionRecord) == 324, "file information with version");
VEXACOMM_LAYOUT_CHECK(offsetof(FileInfoVersionRecord, info) == 32, "info follows the version");
VEXACOMM_LAYOUT_CHECK(sizeof(FileRequest) == 12, "file request head");
VEXACOMM_LAYOUT_CHECK(offsetof(FileRequest, flags) == 2, "flags");
VEXACOMM_LAYOUT_CHECK(offsetof(FileRequest, startOffset) == 4, "start offset");
VEXACOMM_LAYOUT_CHECK(sizeof(ProgramRequest) == 34, "program request head");
VEXACOMM_LAYOUT_CHECK(offsetof(ProgramRequest, show) == 4, "show");
VEXACOMM_LAYOUT_CHECK(offsetof(ProgramRequest, waitMs) == 6, "wait time");
VEXACOMM_LAYOUT_CHECK(offsetof(ProgramRequest, delayMs) == 10, "delay");
VEXACOMM_LAYOUT_CHECK(offsetof(ProgramRequest, verb) == 18, "verb");

/* FileRequest.flags: send an LZHUF-compressed copy (".lrz", kept beside the
 * source) of a file of at least 256 KiB. */
#define VEXACOMM_FILE_REQ_COMPRESSED 1
/* ProgramRequest.kind and .flags. */
#define VEXACOMM_PROGRAM_KIND_START 0
#define VEXACOMM_PROG_NO_WAIT 1 /* answer at once, do not wait for the program */
#define VEXACOMM_PROG_DELAY 2   /* wait delayMs before starting */
#define VEXACOMM_PROG_SHELL 4   /* open the document with the desktop's opener */

/* Packet commands of the answers the service sends. */
#define VEXACOMM_CMD_REPLY 1
#define VEXACOMM_CMD_STATUS 768

/* ---- Transfer files ----------------------------------------------------- */

/* A file opened by VexaComm_ServiceCreateReceiveFile (for writing) or
 * VexaComm_ServiceOpenSendFile (for reading); ended by
 * VexaComm_ServiceCloseTransferFile or VexaComm_ServiceCloseFileOnStatus. */
typedef struct VexaCommTransfer VexaCommTransfer;

/* Reads up to `count` bytes into `buffer`; *done receives the number read
 * (0 at the end). Returns 0 or a file exception cause. NULL file: 6
 * (invalid file); NULL buffer: 87; done may be NULL. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_TransferRead(VexaCommTransfer* file, void* buffer, uint32_t count,
                                                        uint32_t* done);
/* Writes all `count` bytes. Returns 0 or a file exception cause (13 disk
 * full). NULL file: 6; NULL data: 87. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_TransferWrite(VexaCommTransfer* file, const void* data,
                                                         uint32_t count);
/* The file's length in bytes; 0 for NULL. */
VEXACOMM_API uint32_t VEXACOMM_CALL VexaComm_TransferLength(VexaCommTransfer* file);

/* ---- The operations ------------------------------------------------------ */

/* Fills *record for the file `path` (its size, attributes, time and path).
 * NULL record or path: 87. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceGetFileInfo(VexaCommObject* obj, FileInfoRecord* record,
                                                              const char* path);
/* The same with the file's version text in front; NULL as there. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceGetFileInfoVersion(VexaCommObject* obj,
                                                                     FileInfoVersionRecord* record,
                                                                     const char* path);
/* Creates (or empties) the file named by record->path for receiving it;
 * *file receives it, or NULL on failure. NULL record or file: 87, nothing
 * created. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceCreateReceiveFile(VexaCommObject* obj,
                                                                    const FileInfoRecord* record,
                                                                    VexaCommTransfer** file);
/* Opens the file of `request` for sending and fills *record; with
 * VEXACOMM_FILE_REQ_COMPRESSED a large file is sent as its compressed copy.
 * The copy "<path>.lrz" is reused only while its record "<path>.lrz.src"
 * names the source as it is now (the same file, size, modification and
 * status-change times to the system's resolution); otherwise, and for a
 * copy without a record, it is made again. *file receives it, or NULL on failure. A start offset past the end of the
 * file sent is refused with 87 (invalid parameter): nothing is opened and
 * *record describes the whole file (start offset 0, count its size); an
 * offset at its end gives count 0. NULL record, request or file: 87, nothing
 * opened and no compressed copy made. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceOpenSendFile(VexaCommObject* obj, FileInfoRecord* record,
                                                               const FileRequest* request,
                                                               VexaCommTransfer** file);
/* Closes and frees a transfer file (NULL is ignored). */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceCloseTransferFile(VexaCommObject* obj, VexaCommTransfer* file);
/* Closes and frees a transfer file after the peer's status: without
 * `check` always; with it only for the statuses 0, 1 and 3. A NULL status
 * or another value leaves the file open and the host's (result 0); a NULL
 * file is ignored. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceCloseFileOnStatus(VexaCommObject* obj, VexaCommTransfer* file,
                                                                    const uint16_t* status, int32_t check);
/* Writes one FileInfoRecord per entry matching request's pattern to a new
 * listing file in the temporary directory (VexaComm_SetTempDir) and copies
 * its name into `name` (size bytes, always zero-terminated when size > 0;
 * "" when it could not be created). The file is named "<socket>.dir.tmp"
 * after the object's socket handle as an unsigned number (4294967295
 * without a socket). The object holds its file until its next listing or
 * its destruction, which delete it. While another object's listing, of this
 * process or another, holds that name, or something other than a plain
 * file (left untouched) has it, the name is "<socket>-<k>.dir.tmp" with the
 * first k from 1 to 1000 that is free; a file nobody holds, left by an
 * ended process, is reused. NULL request or name: 87, no file created. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceListDirectory(VexaCommObject* obj, const FileRequest* request,
                                                                char* name, int32_t size);
/* Hands a program request to the operation of its kind (kind 0: start it);
 * the peer gets the answer. NULL request: 87, nothing started or answered. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceRunProgramRequest(VexaCommObject* obj,
                                                                    const ProgramRequest* request);
/* Starts the request's program and answers the peer with the outcome.
 * NULL request: 87, nothing started or answered. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceStartProgram(VexaCommObject* obj, const ProgramRequest* request);
/* Answers the peer with VEXACOMM_ERR_NOT_SUPPORTED; `request` is not read
 * (NULL is fine). */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceReplyNotSupported(VexaCommObject* obj, const void* request);
/* Sends the status flags to the peer (CMD_STATUS). */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceSendStatusFlags(VexaCommObject* obj);
/* Clears or sets status flags and answers the peer. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceClearStatusFlags(VexaCommObject* obj, uint32_t mask);
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceSetStatusFlags(VexaCommObject* obj, uint32_t mask);
/* Creates the directory `path` with every missing level, and answers the
 * peer. NULL path: 87, the peer not answered. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceMakeDirectory(VexaCommObject* obj, const char* path);
/* Deletes the file or the whole tree `path` (links are removed, never
 * followed), and answers the peer. NULL path: 87, the peer not answered. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceDeletePath(VexaCommObject* obj, const char* path);

/* ---- Confinement: opt-in, per object -------------------------------------- */

/* Confines every path of the operations above to the directory tree `root`,
 * as a chrooted file server confines its clients; NULL (the default) uses
 * paths as given. `root` is resolved now (links in it followed, made
 * absolute); 3 when it does not exist, 267 when it is no directory, 0 when
 * set. Any thread, any time: each operation takes the setting in force as
 * it starts.
 *
 * With a root, a peer's path is split at its separators ('/'; on Windows
 * '\' too) and taken beneath the root, level by level:
 * - a leading separator means the root: absolute paths are taken relative
 *   to it ("/data/f" is <root>/data/f), as a chrooted server takes them;
 * - "." is dropped; ".." takes back the name before it and never climbs
 *   above the root: a path that would is refused;
 * - refused as well, on Windows: a drive or stream ("C:\x", "f:s"), a UNC or device
 *   path ("\\server\share", "\\?\"), a device name (NUL, COM1,
 *   "CON.txt"), a name with a trailing dot or blank;
 * - no symbolic link (POSIX) or junction or other reparse point (Windows)
 *   is followed anywhere below the root, wherever it points, and no file
 *   with a second hard link is opened. This is enforced by the file-system
 *   calls themselves (on Linux openat2 with RESOLVE_BENEATH, else openat
 *   with O_NOFOLLOW level by level, then calls relative to the directory
 *   held open; on Windows each level held open against renaming and the
 *   final path checked): a link planted or swapped in during a request
 *   meets a refusal, never the outside.
 * Refusals give 5 (access denied) and touch nothing; MakeDirectory and
 * DeletePath answer the peer with 5 too. Other results are as without a
 * root, except that MakeDirectory makes every level below the root, the
 * listing's records carry the peer's view of the paths ("/sub/name", the
 * root a lone separator), and the temporary files stay inside the root:
 * the listing file's directory (VexaComm_SetTempDir) is taken beneath the
 * root like a peer's path (its name returned as a host path), and the
 * compressed copy and its temporary file lie beside the source. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceSetRoot(VexaCommObject* obj, const char* root);
/* Lets program requests start only the programs of `programs`, a list of
 * paths ended by NULL; an empty list (a NULL first entry) starts none, and
 * NULL (the default) any program. Each program is resolved now (links
 * followed, made absolute): 2 when one cannot be, and nothing changes. A
 * request's program is resolved the same way and started by its resolved
 * path only when that equals one listed; anything else, and every start
 * through the desktop's opener (VEXACOMM_PROG_SHELL), is answered with 5
 * (access denied), starts nothing and writes a diagnostic line. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ServiceSetPrograms(VexaCommObject* obj, const char* const* programs);

/* ---- Around them --------------------------------------------------------- */

/* Waits up to the wait limit for the peer's next packet: *command and
 * *length receive its header, `payload` (capacity bytes) its payload, cut
 * to the capacity. Returns 0, or the reason (10060 when nothing came,
 * 71010 for a packet that failed its checks, 71006 without a connection).
 * command, length and payload may each be NULL: that part is dropped. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_ReceivePacket(VexaCommObject* obj, uint32_t* command, uint32_t* length,
                                                         void* payload, uint32_t capacity);
/* Sends one packet of the host's own: `command` and `length` bytes of
 * `payload` (at most 16376), framed as the connection negotiated (in an
 * envelope when the peer uses them). 71010 for a payload too long; a NULL
 * payload only with length 0 (else 87, nothing sent). A packet other than
 * CMD_REPLY, CMD_CANCEL or CMD_STATUS is taken for a request: until the
 * host has received a packet (VexaComm_ReceivePacket) or the connection is
 * opened again, the library's own requests on the object (a fetch, a
 * packet-size request) are refused with 71014, since the answer still to
 * come would be taken for theirs. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SendPacket(VexaCommObject* obj, uint32_t command, const void* payload,
                                                      uint32_t length);
/* Answers the peer with CMD_REPLY: empty for 0, else the code and its text. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SendReply(VexaCommObject* obj, uint32_t code);
/* Process-wide: the directory (a plain prefix: end it with the separator)
 * where listing files are written. NULL or "" for the current directory. */
VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_SetTempDir(const char* dir);

#ifdef __cplusplus
}
#endif

#endif /* VEXACOMM_SERVICE_H */
