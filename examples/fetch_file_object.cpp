// A C++ host with a file class of its own: the library writes each data
// packet through Write(). Needs the library's C++ ABI (VexaCommFile.h).
//   fetch_file_object HOST OUTFILE
#include <cstdio>
#ifdef _WIN32
#include <winsock2.h> // the host starts Windows Sockets; the library never does
#endif

#include "VexaCommFile.h"
#include "VexaCommLib.h"

class Sink : public CFile {
public:
    explicit Sink(std::FILE* f) : m_f(f) {}
    void Write(const void* data, uint32_t n) override
    {
        if (std::fwrite(data, 1, n, m_f) != n)
            throw new CFileException(CFileException::diskFull);
        m_pos += n;
    }
    uint32_t GetPosition() const override { return m_pos; }

private:
    std::FILE* m_f;
    uint32_t m_pos = 0;
};

int Fetch(const char* host, std::FILE* out)
{
    const unsigned char request[8] = {0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    VexaCommObject* dev = VexaComm_CreateObject();
    Sink sink(out);
    int32_t rc = VexaComm_Connect(dev, host);
    if (rc == 0)
        rc = VexaComm_GetAsdu10(dev, &sink, request);
    VexaComm_DestroyObject(dev);
    return rc;
}

int main(int argc, char** argv)
{
#ifdef _WIN32
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 1;
#endif
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s HOST OUTFILE\n", argv[0]);
        return 2;
    }
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr) {
        std::perror(argv[2]);
        return 1;
    }
    int32_t rc = Fetch(argv[1], out);
#ifdef _WIN32
    WSACleanup();
#endif
    if (std::fclose(out) != 0 && rc == 0)
        rc = CFileException::diskFull;
    if (rc != 0) {
        char text[256];
        VexaComm_GetErrorText(nullptr, rc, text, sizeof text);
        std::fprintf(stderr, "error %d: %s\n", static_cast<int>(rc), text);
    }
    return rc == 0 ? 0 : 1;
}
