// Fuzz target: the LZHUF decoder on arbitrary input. It must end in a
// status, never read or write outside its buffers, never produce more than
// the header promises (nor more than 480 bytes per input byte), and give
// the same answer whatever the object decoded before.
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "lzh/LzhufDecoder.h"
#include "lzh/LzhufEncoder.h"
#include "vexacomm/Protocol.h"
#include "doubles/MemoryFile.h"

namespace {

// The decoder's work grows with what it produces: promises beyond this
// add time, not paths (the size checks are the same at any size).
constexpr std::uint32_t kMaxPromise = 1u << 14;

// An image that fills the whole ring (4096 bytes) with bytes no fresh
// object holds; a short period, so that it decodes in few long matches.
const std::string& Scribble()
{
    static const std::string image = [] {
        std::string data(4160, '\0');
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<char>(0xA5 ^ ((i % 61) * 7));
        CMemoryFile source(data);
        CMemoryFile packed;
        std::unique_ptr<CLzhufEncoder> encoder(new CLzhufEncoder);
        encoder->Encode(&source, &packed);
        return packed.Data();
    }();
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // One decoder for the whole run, so that each input meets the state an
    // earlier one left behind.
    static const std::unique_ptr<CLzhufDecoder> decoder(new CLzhufDecoder);
    std::string bounded(reinterpret_cast<const char*>(data), size);
    if (size >= 4 && ReadU32(data) > kMaxPromise)
        WriteU32(reinterpret_cast<std::uint8_t*>(&bounded[0]), ReadU32(data) % (kMaxPromise + 1));
    data = reinterpret_cast<const std::uint8_t*>(bounded.data());
    std::string out;
    const LzhufStatus status = decoder->DecodeBuffer(data, size, &out);
    FUZZ_CHECK(status == LzhufStatus::Ok || status == LzhufStatus::Truncated ||
               status == LzhufStatus::Corrupt);
    if (size < 4) {
        FUZZ_CHECK(status == LzhufStatus::Truncated);
        FUZZ_CHECK(out.empty());
        return 0;
    }
    const std::uint32_t promised = ReadU32(data);
    FUZZ_CHECK(out.size() <= promised);
    FUZZ_CHECK(out.size() <= 480 * (size - 4));
    if (status == LzhufStatus::Ok)
        FUZZ_CHECK(out.size() == promised);

    std::string scribbled;
    FUZZ_CHECK(decoder->DecodeBuffer(Scribble().data(), Scribble().size(), &scribbled) == LzhufStatus::Ok);
    std::string again;
    FUZZ_CHECK(decoder->DecodeBuffer(data, size, &again) == status);
    FUZZ_CHECK(again == out);
    return 0;
}
