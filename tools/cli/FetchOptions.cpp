// Reading the wait limit and request block files.
#include "cli/FetchOptions.h"

#include <cstdio>

#include "cli/Args.h"
#include "cli/ErrorText.h"
#include "cli/SystemFile.h"
#include "vexacomm/Protocol.h"

namespace {

constexpr std::size_t kRequestMax = PACKET_PAYLOAD_MAX;
// The library keeps at most 0x7FFFFFFF ms.
constexpr std::uint64_t kWaitMaxMs = 0x7FFFFFFF;

} // namespace

uint32_t ParseTimeout(const std::string& text, const char* option)
{
    const std::size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    // Digits past the millisecond are dropped.
    bool ok = !(whole.empty() && fraction.empty()) && fraction.find_first_not_of("0123456789") == std::string::npos;
    std::uint64_t ms = 0;
    try {
        fraction = (fraction + "000").substr(0, 3);
        ms = (whole.empty() ? 0 : ParseNumber(whole, option, 0, kWaitMaxMs / 1000)) * 1000 +
             ParseNumber(fraction, option, 0, 999);
    } catch (const UsageError&) {
        ok = false;
    }
    if (!ok || ms < 1 || ms > kWaitMaxMs)
        throw UsageError{std::string(option) + ": expected seconds from 0.001 to 2147483.647, got '" + text + "'"};
    return static_cast<uint32_t>(ms);
}

bool ReadRequest(const std::string& path, std::string* request, const std::string& where)
{
    SystemFile file;
    if (int error = file.OpenRead(path)) {
        PrintSystemError(where + "request file " + path, error);
        return false;
    }
    if (file.Kind() != FileKind::Regular) {
        std::fprintf(stderr, "error: %srequest file %s: not a regular file\n", where.c_str(), path.c_str());
        return false;
    }
    request->assign(kRequestMax + 1, '\0');
    uint32_t got = 0;
    try {
        got = file.Read(&(*request)[0], static_cast<uint32_t>(request->size()));
    } catch (CFileException* e) {
        e->Delete();
        PrintSystemError(where + "reading request file " + path, file.LastError());
        return false;
    }
    request->resize(got);
    std::string problem;
    const int count =
        got < ASDU10_HEAD_SIZE
            ? 0
            : static_cast<int16_t>(ReadU16(reinterpret_cast<const uint8_t*>(request->data()) + ASDU10_COUNT_OFFSET));
    const std::size_t needed = Asdu10BlockSize(count);
    if (got > kRequestMax)
        problem = "more than " + std::to_string(kRequestMax) + " bytes";
    else if (got < ASDU10_HEAD_SIZE)
        problem = "a request block has at least 8 bytes, this one " + std::to_string(got);
    else if (count < ASDU10_ALL_ENTRIES || count > ASDU10_MAX_ENTRIES)
        problem = "the entry count " + std::to_string(count) + " at byte 6 is outside -1..2046";
    else if (got != needed)
        problem = "the entry count " + std::to_string(count) + " needs " + std::to_string(needed) +
                  " bytes, the file has " + std::to_string(got);
    if (!problem.empty()) {
        std::fprintf(stderr, "error: %srequest file %s: %s\n", where.c_str(), path.c_str(), problem.c_str());
        return false;
    }
    return true;
}
