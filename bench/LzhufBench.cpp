// Encoder throughput on a 16 MiB mixed corpus, in memory.
//
//   lzh_bench                         run the benchmarks
//   lzh_bench --write_corpus=PATH     also write the corpus to PATH, to feed
//                                     other encoders the same bytes
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "lzh/LzhufDecoder.h"
#include "lzh/LzhufEncoder.h"
#include "doubles/MemoryFile.h"
#include "doubles/MixedCorpus.h"

namespace {

constexpr std::size_t kCorpusSize = 16u << 20;

const std::string& Corpus()
{
    static const std::string corpus = MakeMixedCorpus(kCorpusSize, 1);
    return corpus;
}

void BM_Encode(benchmark::State& state, const std::string& input)
{
    auto encoder = std::make_unique<CLzhufEncoder>();
    CMemoryFile source(input);
    std::uint64_t outBytes = 0;
    for (auto _ : state) {
        CNullFile target;
        encoder->Encode(&source, &target);
        outBytes = target.Bytes();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
    state.counters["ratio"] = static_cast<double>(outBytes) / static_cast<double>(input.size());
}

void BM_EncodeMixed(benchmark::State& state) { BM_Encode(state, Corpus()); }

void BM_EncodeText(benchmark::State& state)
{
    static const std::string text = MakeText(4u << 20, 2);
    BM_Encode(state, text);
}

void BM_EncodeZeros(benchmark::State& state)
{
    static const std::string zeros(4u << 20, '\0');
    BM_Encode(state, zeros);
}

void BM_DecodeMixed(benchmark::State& state)
{
    auto encoder = std::make_unique<CLzhufEncoder>();
    CMemoryFile source(Corpus());
    CMemoryFile packed;
    encoder->Encode(&source, &packed);
    auto decoder = std::make_unique<CLzhufDecoder>();
    for (auto _ : state) {
        CMemoryFile in(packed.Data());
        CNullFile out;
        if (decoder->Decode(&in, &out) != LzhufStatus::Ok)
            state.SkipWithError("decode failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Corpus().size()));
}

} // namespace

BENCHMARK(BM_EncodeMixed)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_EncodeText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeZeros)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeMixed)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    const char* const flag = "--write_corpus=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], flag, std::strlen(flag)) != 0)
            continue;
        const char* path = argv[i] + std::strlen(flag);
        FILE* f = std::fopen(path, "wb");
        if (f == nullptr || std::fwrite(Corpus().data(), 1, Corpus().size(), f) != Corpus().size()) {
            std::fprintf(stderr, "cannot write %s\n", path);
            return 1;
        }
        std::fclose(f);
        for (int k = i; k + 1 < argc; ++k)
            argv[k] = argv[k + 1];
        --argc;
        --i;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
