/* The public header compiles as C and its exports are callable from C. */
#include <stdio.h>
#include <string.h>
#ifdef _WIN32
#include <winsock2.h>
#endif

#include "VexaCommLib.h"
#include "VexaCommService.h"

static int failures = 0;

#define CHECK(cond)                                                                     \
    do {                                                                                \
        if (!(cond)) {                                                                  \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);   \
            ++failures;                                                                 \
        }                                                                               \
    } while (0)

int main(void)
{
    VexaCommObject* obj;
    uint16_t size = 247;
#ifdef _WIN32
    /* The library leaves starting Windows Sockets to its host. */
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 1;
#endif
    obj = VexaComm_CreateObject();
    CHECK(obj != NULL);
    CHECK(VexaComm_GetPacketSizeMax(obj) == 16376);
    CHECK(VexaComm_SetPacketSizeMax(obj, &size) == 0);
    CHECK(size == 247);
    size = 0xFFFF;
    CHECK(VexaComm_SetPacketSizeMax(obj, &size) == 0);
    CHECK(size == 16376);
    CHECK(VexaComm_Connect(obj, "127.1.255.253") == 10061);
    CHECK(VexaComm_DestroyObject(obj) == 0);
    CHECK(VexaComm_DestroyObject(NULL) == 0);
    CHECK(strcmp(VexaComm_GetVersion(), VEXACOMM_VERSION_STRING) == 0);
    /* No object, no capture. */
    CHECK(VexaComm_SetCaptureFile(NULL, "c.pcap") == VEXACOMM_ERR_NOT_CONNECTED);
    CHECK(VexaComm_Connect(NULL, "127.1.255.253") == VEXACOMM_ERR_NOT_CONNECTED);
    CHECK(VexaComm_GetAsdu10ToCallback(NULL, NULL, NULL, NULL) == 71006);
    CHECK(VexaComm_ServiceDeletePath(NULL, "x") == VEXACOMM_ERR_NOT_CONNECTED);
    printf("%d passed, %d failed\n", failures == 0 ? 1 : 0, failures == 0 ? 0 : 1);
    return failures == 0 ? 0 : 1;
}
