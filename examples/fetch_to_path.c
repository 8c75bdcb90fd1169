/* The smallest host: connect to a device and fetch all its ASDU 10 data
 * into a file by name.
 *   fetch_to_path HOST OUTFILE */
#include <stdio.h>
#ifdef _WIN32
#include <winsock2.h> /* the host starts Windows Sockets; the library never does */
#endif

#include "VexaCommLib.h"

int main(int argc, char** argv)
{
    unsigned char request[8] = {0, 0, 0, 0, 0, 0, 0xFF, 0xFF}; /* N = -1: everything */
    char text[256];
    VexaCommObject* dev;
    int32_t rc;
#ifdef _WIN32
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 1;
#endif

    if (argc != 3) {
        fprintf(stderr, "usage: %s HOST OUTFILE\n", argv[0]);
        return 2;
    }
    dev = VexaComm_CreateObject();
    rc = VexaComm_Connect(dev, argv[1]);
    if (rc == 0)
        rc = VexaComm_GetAsdu10ToPath(dev, argv[2], request);
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
