// A host built with the framework of FrameworkStandIn.h: its CFile cannot
// go to VexaComm_GetAsdu10, and reaches the device through the bridge.
//   bridge_host HOST OUTFILE
// Fetches everything into a CFile and writes it to OUTFILE (the caller
// compares it with what the device served), then fetches into a file that
// fails with "disk full" and expects that cause as the result.
#include "FrameworkStandIn.h" // first, as a framework host's precompiled header is

#include <cstdio>
#include <type_traits>
#ifdef _WIN32
#include <winsock2.h>
#endif

#include "VexaCommBridge.h"

template <class File>
constexpr bool kGetAsdu10Takes =
    std::is_invocable_v<decltype(VexaComm_GetAsdu10)&, VexaCommObject*, File*, const void*>;
static_assert(!kGetAsdu10Takes<CFile>, "the framework's CFile must not reach VexaComm_GetAsdu10");
static_assert(kGetAsdu10Takes<VexaCommFile>, "the detector sees a call that compiles");

class CFullDisk : public CFile {
public:
    void Write(const void*, unsigned) override { throw new CFileException(13); }
};
static_assert(!kGetAsdu10Takes<CFullDisk>, "nor a class derived from it");

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s HOST OUTFILE\n", argv[0]);
        return 2;
    }
#ifdef _WIN32
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 1;
#endif
    const unsigned char request[8] = {0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    VexaCommObject* dev = VexaComm_CreateObject();
    CFile file;
    int32_t rc = VexaComm_Connect(dev, argv[1]);
    if (rc == 0)
        rc = VexaComm::GetAsdu10ToObject(dev, &file, request);
    if (rc != 0) {
        std::fprintf(stderr, "fetch into CFile: %d\n", static_cast<int>(rc));
        return 1;
    }
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr || std::fwrite(file.m_data.data(), 1, file.m_data.size(), out) != file.m_data.size() ||
        std::fclose(out) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    CFullDisk full;
    rc = VexaComm::GetAsdu10ToObject(dev, &full, request);
    if (rc != 13 || CFileException::Live() != 0) {
        std::fprintf(stderr, "fetch into a full disk: %d (13 expected), %d exception(s) not deleted\n",
                     static_cast<int>(rc), CFileException::Live());
        return 1;
    }
    VexaComm_DestroyObject(dev);
    return 0;
}
