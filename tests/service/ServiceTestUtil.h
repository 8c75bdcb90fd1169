// Shared pieces of the service tests: a connection whose socket is one end
// of a socket pair, the exact bytes of the replies it sends, and files.
#pragma once

#include <chrono>
#include <string>
#include <thread>

#include "vexacomm/GLSocket.h"
#include "doubles/SocketPair.h"
#include "doubles/TempDir.h"
#include "doubles/TestFs.h"
#include "doubles/Exposed.h"

// GBK "unknown error type": the fallback error text without a companion
// library.
const std::string kUnknownErrorGbk = "\xCE\xB4\xD6\xAA\xB4\xED\xCE\xF3\xC0\xE0\xD0\xCD";

inline std::string U32(std::uint32_t v)
{
    std::string b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return b;
}

inline std::string U16(std::uint16_t v)
{
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

// A file information record's bytes, its time that of 1700000000 in
// CST-8: 2023-11-15 06:13:20.
inline std::string RecordBytes(std::uint32_t size, std::uint32_t attributes, std::uint32_t start,
                               std::uint32_t count, const std::string& path)
{
    std::string bytes = U32(0) + U16(2023) + U16(11) + U16(15) + U16(6) + U16(13) + U16(20) + U32(0) +
                        U32(size) + U32(attributes) + U32(start) + U32(count) + path;
    bytes.resize(292, '\0');
    return bytes;
}

// A bare CMD_REPLY as the connection sends it for `code`.
inline std::string ReplyBytes(std::uint32_t code)
{
    if (code == 0)
        return U32(1) + U32(0);
    std::string text = "CONN-" + std::to_string(code) + " : " + kUnknownErrorGbk;
    return U32(1) + U32(static_cast<std::uint32_t>(text.size() + 9)) + U32(code) + U32(0) + text +
           std::string(1, '\0');
}

struct ServiceConnection {
    ServiceConnection() { socket.m_hSocket = pair.TakeLocal(); }

    // One whole bare packet from the peer end, or what arrived in time.
    std::string ReadPacket(int timeoutMs = 10000)
    {
        std::string header = pair.ReadPeer(8, timeoutMs);
        if (header.size() < 8)
            return header;
        std::uint32_t length = ReadU32(reinterpret_cast<const std::uint8_t*>(header.data()) + 4);
        return header + pair.ReadPeer(length, timeoutMs);
    }

    SocketPair pair;
    Exposed<CGLSocket> socket;
};

// A program's output file appears before its text is written: wait for
// the text, bounded.
inline bool WaitForContent(const std::string& path, int timeoutMs = 20000)
{
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (PathExists(path) && !ReadWholeFile(path).empty())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return PathExists(path) && !ReadWholeFile(path).empty();
}

inline bool WaitForPath(const std::string& path, int timeoutMs = 20000)
{
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (PathExists(path))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return PathExists(path);
}
