/*
 * answering_host.c - a host that answers a peer's file requests itself,
 * through the service functions of VexaCommService.h.
 *
 *   answering_host [--root DIR] [--allow PROGRAM]... HOST [PORT]
 *
 * It connects to HOST (the simulator of `vexacomm simulate --ask-files
 * PATTERN`), then waits for the peer's requests and answers each until the
 * peer hangs up. With --root the peer reaches nothing outside DIR (its
 * paths are taken beneath it, "/" being DIR itself); with --allow requests
 * may start the programs named and no other (none without --allow). The
 * exchange below is this example's own: the protocol leaves the commands
 * of such requests to the host and its peer.
 *
 *   ASK_LIST  0x7E000001  peer -> host: a FileRequest (pattern)
 *                         host -> peer: ASK_LIST packets holding the
 *                         listing's FileInfoRecords (whole records), then
 *                         CMD_REPLY with the listing's result code
 *   ASK_FILE  0x7E000002  peer -> host: a FileRequest (path)
 *                         host -> peer: ASK_FILE with the file's
 *                         FileInfoRecord, FILE_DATA 0x7E000003 packets
 *                         with its bytes, then CMD_REPLY with the result
 *   anything else         CMD_REPLY with VEXACOMM_ERR_NOT_SUPPORTED
 *
 * Exit status 0 when the peer ended the session, 1 on a failure.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <winsock2.h>
#endif

#include "VexaCommLib.h"
#include "VexaCommService.h"

#define ASK_LIST 0x7E000001u
#define ASK_FILE 0x7E000002u
#define FILE_DATA 0x7E000003u
#define PAYLOAD_MAX 16376u
#define ALLOW_MAX 16

static unsigned char g_request[PAYLOAD_MAX + 1];
static unsigned char g_data[PAYLOAD_MAX];

/* Sends the outcome; a reply with a code records that code as the
 * object's last error, which is no failure of the answer itself. */
static int32_t Reply(VexaCommObject* obj, int32_t code)
{
    int32_t rc = VexaComm_SendReply(obj, (uint32_t)code);
    return rc == code ? 0 : rc;
}

/* The listing file's records go out in packets of whole records. */
static int32_t AnswerList(VexaCommObject* obj, const FileRequest* request)
{
    char name[512];
    int32_t listed = VexaComm_ServiceListDirectory(obj, request, name, sizeof name);
    int32_t rc = 0;
    FILE* listing = name[0] != '\0' ? fopen(name, "rb") : NULL;
    if (listing != NULL) {
        size_t chunk = (PAYLOAD_MAX / sizeof(FileInfoRecord)) * sizeof(FileInfoRecord);
        size_t n;
        while (rc == 0 && (n = fread(g_data, 1, chunk, listing)) > 0)
            rc = VexaComm_SendPacket(obj, ASK_LIST, g_data, (uint32_t)n);
        fclose(listing);
        remove(name);
    }
    if (rc != 0)
        return rc;
    printf("listed %s\n", (const char*)request + sizeof(FileRequest));
    return Reply(obj, listed);
}

static int32_t AnswerFile(VexaCommObject* obj, const FileRequest* request)
{
    FileInfoRecord record;
    VexaCommTransfer* file = NULL;
    uint32_t total = 0;
    int32_t opened = VexaComm_ServiceOpenSendFile(obj, &record, request, &file);
    int32_t rc = 0;
    if (opened == 0) {
        uint32_t n = 0;
        rc = VexaComm_SendPacket(obj, ASK_FILE, &record, sizeof record);
        while (rc == 0 && (rc = VexaComm_TransferRead(file, g_data, sizeof g_data, &n)) == 0 && n > 0) {
            rc = VexaComm_SendPacket(obj, FILE_DATA, g_data, n);
            total += n;
        }
        VexaComm_ServiceCloseTransferFile(obj, file);
    }
    if (rc != 0)
        return rc;
    if (opened == 0)
        printf("sent %s: %lu bytes\n", record.path, (unsigned long)total);
    else
        printf("not sent %s: %ld\n", (const char*)request + sizeof(FileRequest), (long)opened);
    return Reply(obj, opened);
}

int main(int argc, char** argv)
{
    VexaCommObject* obj;
    int32_t rc;
    char text[256];
    const char* root = NULL;
    const char* allowed[ALLOW_MAX + 1] = {NULL};
    int nAllowed = 0;
    int at = 1;
#ifdef _WIN32
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 1;
#endif
    for (; at + 1 < argc && argv[at][0] == '-'; at += 2) {
        if (strcmp(argv[at], "--root") == 0)
            root = argv[at + 1];
        else if (strcmp(argv[at], "--allow") == 0 && nAllowed < ALLOW_MAX)
            allowed[nAllowed++] = argv[at + 1];
        else
            break;
    }
    if (argc - at < 1 || argc - at > 2 || argv[at][0] == '-') {
        fprintf(stderr, "usage: answering_host [--root DIR] [--allow PROGRAM]... HOST [PORT]\n");
        return 2;
    }
    obj = VexaComm_CreateObject();
    if (obj == NULL)
        return 1;
    VexaComm_SetWaitLimit(obj, 10000);
    /* Confined before the first request: the tree, and no program unless
     * allowed. */
    rc = root != NULL ? VexaComm_ServiceSetRoot(obj, root) : 0;
    if (rc == 0)
        rc = VexaComm_ServiceSetPrograms(obj, allowed);
    if (rc == 0)
        rc = VexaComm_ConnectPort(obj, argv[at], (uint16_t)(argc - at == 2 ? atoi(argv[at + 1]) : 0));
    while (rc == 0) {
        uint32_t command = 0;
        uint32_t length = 0;
        rc = VexaComm_ReceivePacket(obj, &command, &length, g_request, PAYLOAD_MAX);
        if (rc != 0)
            break;
        g_request[length < PAYLOAD_MAX ? length : PAYLOAD_MAX] = '\0';
        if (length < sizeof(FileRequest) && (command == ASK_LIST || command == ASK_FILE))
            rc = Reply(obj, VEXACOMM_ERR_PROTOCOL);
        else if (command == ASK_LIST)
            rc = AnswerList(obj, (const FileRequest*)g_request);
        else if (command == ASK_FILE)
            rc = AnswerFile(obj, (const FileRequest*)g_request);
        else
            rc = VexaComm_ServiceReplyNotSupported(obj, g_request);
        /* Telling the peer "not supported" is an answer, not a failure. */
        if (rc == VEXACOMM_ERR_NOT_SUPPORTED)
            rc = 0;
    }
    /* The peer hanging up ends the session. */
    if (rc == VEXACOMM_ERR_PEER_CLOSED)
        rc = 0;
    if (rc != 0) {
        VexaComm_GetErrorText(obj, rc, text, sizeof text);
        fprintf(stderr, "error %ld: %s\n", (long)rc, text);
    }
    VexaComm_DestroyObject(obj);
#ifdef _WIN32
    WSACleanup();
#endif
    return rc == 0 ? 0 : 1;
}
