/* A host in C (or any language with C calls) that takes the data itself:
 * each packet's payload reaches a write function, progress a callback.
 *   callback_sink HOST OUTFILE [PORT] */
#include <stdio.h>
#include <stdlib.h>
#ifdef _WIN32
#include <winsock2.h> /* the host starts Windows Sockets; the library never does */
#endif

#include "VexaCommLib.h"

static int32_t VEXACOMM_CALL WriteOut(void* user, const void* data, uint32_t size)
{
    /* A non-zero answer ends the transfer with that code. */
    return fwrite(data, 1, size, (FILE*)user) == size ? 0 : 13;
}

static void VEXACOMM_CALL Progress(void* user, uint32_t start, int32_t value)
{
    (void)user;
    if (start && value != 0)
        fprintf(stderr, "transfer of %d steps\n", (int)value);
    else if (start)
        fprintf(stderr, "transfer ended\n");
}

int main(int argc, char** argv)
{
    unsigned char request[8] = {0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    char text[256];
    VexaCommObject* dev;
    FILE* out;
    int32_t rc;
#ifdef _WIN32
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 1;
#endif

    if (argc < 3 || argc > 4) {
        fprintf(stderr, "usage: %s HOST OUTFILE [PORT]\n", argv[0]);
        return 2;
    }
    out = fopen(argv[2], "wb");
    if (out == NULL) {
        perror(argv[2]);
        return 1;
    }
    dev = VexaComm_CreateObject();
    VexaComm_SetWaitLimit(dev, 10000);
    VexaComm_SetProgressCallback(dev, Progress, NULL, 0);
    rc = VexaComm_ConnectPort(dev, argv[1], (uint16_t)(argc == 4 ? atoi(argv[3]) : 0));
    if (rc == 0) {
        VexaComm_GetIdent(dev, text, sizeof text);
        printf("device type %u, ident \"%s\"\n", (unsigned)VexaComm_GetDeviceType(dev), text);
        rc = VexaComm_GetAsdu10ToCallback(dev, WriteOut, out, request);
    }
    if (fclose(out) != 0 && rc == 0)
        rc = 13;
    if (rc != 0) {
        VexaComm_GetErrorText(dev, rc, text, sizeof text);
        fprintf(stderr, "error %d: %s\n", (int)rc, text);
    }
    VexaComm_DestroyObject(dev);
#ifdef _WIN32
    WSACleanup();
#endif
    return rc == 0 ? 0 : 1;
}
