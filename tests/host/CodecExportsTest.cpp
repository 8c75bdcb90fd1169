// The LZHUF streams as a host meets them: through the shipped library's C
// functions only.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "VexaCommLib.h"

namespace {

struct Source {
    std::string bytes;
    std::size_t pos = 0;
    int32_t failWith = 0; // answer of every read, when non-zero
    uint32_t overclaim = 0; // bytes each read claims beyond what it gave
};
struct Sink {
    std::string bytes;
    int32_t failWith = 0;
};

int32_t VEXACOMM_CALL Read(void* user, void* buffer, uint32_t size, uint32_t* got)
{
    Source* s = static_cast<Source*>(user);
    if (s->failWith != 0)
        return s->failWith;
    *got = static_cast<uint32_t>(std::min<std::size_t>(size, s->bytes.size() - s->pos));
    s->bytes.copy(static_cast<char*>(buffer), *got, s->pos);
    s->pos += *got;
    *got += s->overclaim;
    return 0;
}

int32_t VEXACOMM_CALL Write(void* user, const void* data, uint32_t size)
{
    Sink* s = static_cast<Sink*>(user);
    if (s->failWith != 0)
        return s->failWith;
    s->bytes.append(static_cast<const char*>(data), size);
    return 0;
}

std::string Compressed(const std::string& text)
{
    Source in{text};
    Sink out;
    EXPECT_EQ(VexaComm_CompressStream(Read, &in, static_cast<uint32_t>(text.size()), Write, &out), 0);
    return out.bytes;
}

TEST(CodecExports, RoundTripAndEveryFailure)
{
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "line " + std::to_string(i % 97) + "\n";
    const std::string packed = Compressed(text);
    ASSERT_LT(packed.size(), text.size() / 4);

    Source in{packed};
    Sink out;
    ASSERT_EQ(VexaComm_DecompressStream(Read, &in, Write, &out), 0);
    EXPECT_EQ(out.bytes, text);

    struct Case {
        const char* name;
        std::string input;
        int32_t readFails, writeFails, expected;
    } cases[] = {
        {"cut short", packed.substr(0, packed.size() / 2), 0, 0, VEXACOMM_ERR_DATA_TRUNCATED},
        {"trailing garbage", packed + "xyz", 0, 0, VEXACOMM_ERR_DATA_CORRUPT},
        {"read answers 9", packed, 9, 0, 9},
        {"write answers 13", packed, 0, 13, 13},
    };
    for (const Case& c : cases) {
        Source src{c.input, 0, c.readFails};
        Sink dst{std::string(), c.writeFails};
        EXPECT_EQ(VexaComm_DecompressStream(Read, &src, Write, &dst), c.expected) << c.name;
    }
    // A read function that claims more than it was asked for is held to
    // what it was asked for.
    Source boasting{text, 0, 0, 7};
    Sink packedAgain;
    ASSERT_EQ(VexaComm_CompressStream(Read, &boasting, static_cast<uint32_t>(text.size()), Write, &packedAgain), 0);
    EXPECT_EQ(packedAgain.bytes, packed);
    // A source shorter than it was said to be ends with "end of file".
    Source shortSource{text.substr(0, 100)};
    Sink sink;
    EXPECT_EQ(VexaComm_CompressStream(Read, &shortSource, 200, Write, &sink), 14);
    // Without either function nothing runs.
    Source source{text};
    EXPECT_EQ(VexaComm_CompressStream(nullptr, nullptr, 0, Write, &sink), VEXACOMM_ERR_FILE_CREATE);
    EXPECT_EQ(VexaComm_CompressStream(Read, &source, 200, nullptr, nullptr), VEXACOMM_ERR_FILE_CREATE);
    EXPECT_EQ(VexaComm_DecompressStream(nullptr, nullptr, Write, &sink), VEXACOMM_ERR_FILE_CREATE);
    EXPECT_EQ(VexaComm_DecompressStream(Read, &source, nullptr, nullptr), VEXACOMM_ERR_FILE_CREATE);
}

} // namespace
