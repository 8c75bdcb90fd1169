// derived_host.cpp - the host of answering_host.c written as a C++ class
// derived from the library's connection class (VexaCommSocket.h): the same
// exchange with `vexacomm simulate --ask-files PATTERN`, the service
// operations called as members, and one of them replaced.
//
//   derived_host HOST [PORT]
//
// Deriving needs the library's C++ ABI (see VexaCommSocket.h); hosts built
// otherwise take the C functions, as answering_host.c does.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#ifdef _WIN32
#include <winsock2.h>
#endif

#include "VexaCommSocket.h"

namespace {

// The example's own commands; answering_host.c describes the exchange.
constexpr std::uint32_t kAskList = 0x7E000001;
constexpr std::uint32_t kAskFile = 0x7E000002;
constexpr std::uint32_t kFileData = 0x7E000003;
// Requests the device answers before it asks anything.
constexpr std::uint32_t kDeviceType = 0x1000024;
constexpr std::uint32_t kIdent = 58;

class CAnsweringHost : public CGLSocket {
public:
    // The library's OpenSendFile describes the file through the virtual
    // table, so it reaches this version.
    BOOL GetFileInfo(FileInfoRecord* record, const char* path) override
    {
        BOOL described = CGLSocket::GetFileInfo(record, path);
        std::printf("described %s\n", path);
        return described;
    }

    bool Send(std::uint32_t command, const void* payload, std::uint32_t length)
    {
        SetHeader(command, length);
        if (length != 0)
            std::memcpy(Payload(), payload, length);
        return SendPacket(m_packet, TRUE) != 0;
    }

    bool Ask(std::uint32_t command) { return Send(command, nullptr, 0) && ReceivePacket(m_packet, TRUE); }

    // Whole records per packet, then the listing's outcome.
    bool AnswerList(const std::string& request)
    {
        std::string name = ListDirectory(reinterpret_cast<const FileRequest*>(request.data()));
        std::int32_t outcome = m_nLastError;
        if (std::FILE* listing = name.empty() ? nullptr : std::fopen(name.c_str(), "rb")) {
            char chunk[(PACKET_PAYLOAD_MAX / sizeof(FileInfoRecord)) * sizeof(FileInfoRecord)];
            std::size_t n;
            while ((n = std::fread(chunk, 1, sizeof(chunk), listing)) > 0)
                Send(kAskList, chunk, static_cast<std::uint32_t>(n));
            std::fclose(listing);
            std::remove(name.c_str());
        }
        return SendReply(static_cast<std::uint32_t>(outcome)) != 0;
    }

    bool AnswerFile(const std::string& request)
    {
        FileInfoRecord record;
        CFile* file = OpenSendFile(&record, reinterpret_cast<const FileRequest*>(request.data()));
        std::int32_t outcome = m_nLastError;
        if (file != nullptr) {
            Send(kAskFile, &record, sizeof(record));
            char data[PACKET_PAYLOAD_MAX];
            std::uint32_t total = 0;
            try {
                while (std::uint32_t n = file->Read(data, sizeof(data))) {
                    Send(kFileData, data, n);
                    total += n;
                }
            } catch (CFileException* e) {
                outcome = e->m_cause;
                e->Delete();
            }
            CloseTransferFile(file, 0, 0);
            std::printf("sent %s: %lu bytes\n", record.path, static_cast<unsigned long>(total));
        }
        return SendReply(static_cast<std::uint32_t>(outcome)) != 0;
    }
};

} // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 1;
#endif
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: derived_host HOST [PORT]\n");
        return 2;
    }
    CAnsweringHost host;
    host.SetWaitLimit(WaitLimit{10, 0});
    std::uint16_t port = static_cast<std::uint16_t>(argc == 3 ? std::atoi(argv[2]) : 30282);
    // The connection, then what the device expects to be asked first.
    if (!host.ConnectHost(argv[1], port) || !host.Ask(kDeviceType) || !host.Ask(kIdent)) {
        std::fprintf(stderr, "error %d: no connection\n", host.LastError());
        return 1;
    }
    while (host.ReceivePacket(host.Packet(), TRUE)) {
        PacketHeader header = host.Header();
        std::string request(reinterpret_cast<const char*>(host.Payload()), header.length);
        request.push_back('\0');
        bool answered;
        if (header.command == kAskList && header.length >= sizeof(FileRequest))
            answered = host.AnswerList(request);
        else if (header.command == kAskFile && header.length >= sizeof(FileRequest))
            answered = host.AnswerFile(request);
        else
            answered = host.ReplyNotSupported(request.data()) != 0;
        if (!answered)
            break;
    }
    // The device hanging up ends the session.
    int rc = host.LastError() == VEXACOMM_ERR_PEER_CLOSED ? 0 : 1;
    if (rc != 0)
        std::fprintf(stderr, "error %d\n", host.LastError());
#ifdef _WIN32
    WSACleanup();
#endif
    return rc;
}
