// Shared by the fuzz targets: input layout, a byte source on a socket pair,
// and a check that stops the run (libFuzzer reports it as a crash).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Types.h"

#define FUZZ_CHECK(cond) ((cond) ? (void)0 : ::fuzz::Fail(#cond, __FILE__, __LINE__))

namespace fuzz {

[[noreturn]] void Fail(const char* what, const char* file, int line);

// Inputs larger than this are ignored: they fit the socket buffers, so the
// single-threaded harnesses never block on a write.
constexpr std::size_t kMaxStreamInput = 64 * 1024;

// Reads the input front to back; reads past the end give zeros.
class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    std::uint8_t Byte();
    std::uint16_t U16();
    std::uint32_t U32();
    std::string Rest();
    // The rest as segments: each a u16 little-endian length and that many
    // bytes; the last one may be shorter than its length says.
    std::vector<std::string> Segments();

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// The inverse of InputReader::Segments, for the seed maker.
std::string JoinSegments(const std::vector<std::string>& segments);

// A connected AF_UNIX stream pair standing in for the peer. The library's
// end goes into a connection object; the harness writes the peer's bytes
// and reads what the library sent.
class BytePipe {
public:
    BytePipe();
    ~BytePipe();
    BytePipe(const BytePipe&) = delete;
    BytePipe& operator=(const BytePipe&) = delete;

    // Ownership passes to the connection object, which closes it.
    SocketHandle TakeLocal();
    // Queues all of `bytes` for the library without blocking.
    void Feed(const std::string& bytes);
    // The peer's orderly close of its sending side: the library reads end
    // of stream once the queued bytes are gone. Its own sends still work.
    void CloseFeed();
    bool FeedClosed() const { return m_feedClosed; }
    // Everything the library has sent so far.
    std::string Sent();

private:
    int m_local = -1;
    int m_peer = -1;
    bool m_feedClosed = false;
};

} // namespace fuzz
