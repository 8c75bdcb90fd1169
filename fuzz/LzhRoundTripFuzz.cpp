// Fuzz target: encoder -> decoder round trips. Input: a byte that limits
// how much each Read of the source delivers (n * 257 bytes; 0 = no limit),
// then the data. The compressed image must promise exactly the data's size
// and decode to the same bytes.
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "lzh/LzhufDecoder.h"
#include "lzh/LzhufEncoder.h"
#include "vexacomm/Protocol.h"
#include "doubles/MemoryFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::unique_ptr<CLzhufEncoder> encoder(new CLzhufEncoder);
    static const std::unique_ptr<CLzhufDecoder> decoder(new CLzhufDecoder);
    fuzz::InputReader in(data, size);
    const std::uint32_t maxRead = in.Byte() * 257u;
    const std::string input = in.Rest();

    CMemoryFile source(input);
    source.SetMaxRead(maxRead);
    CMemoryFile packed;
    FUZZ_CHECK(encoder->Encode(&source, &packed) == TRUE);
    const std::string& image = packed.Data();
    FUZZ_CHECK(image.size() >= 4);
    FUZZ_CHECK(ReadU32(reinterpret_cast<const std::uint8_t*>(image.data())) == input.size());

    std::string out;
    FUZZ_CHECK(decoder->DecodeBuffer(image.data(), image.size(), &out) == LzhufStatus::Ok);
    FUZZ_CHECK(out == input);
    FUZZ_CHECK(decoder->GetLongCodeCount() == encoder->GetLongCodeCount());
    return 0;
}
