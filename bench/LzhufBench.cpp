// LZHUF encoder and decoder throughput, in memory: the 16 MiB mixed corpus
// with this encoder and with the one it replaced, and 4 MiB of each kind of
// data on its own. Ends with the lines for bench/run:
//   ratio lzh_encode_vs_previous            this encoder / the previous one, mixed
//   ratio lzh_encode_worst_class_vs_prose   the slowest kind / prose text
//
//   lzh_bench [--quick] [--previous] [benchmark flags]
//   --previous: the kinds of data through the previous encoder, for a
//               before-and-after (its worst-kind line is not a "ratio" line)
//   lzh_bench --write_corpus=PATH     only write the mixed corpus to PATH
//   lzh_bench --write_lha=PATH        only write it compressed as a one-member
//                                     -lh1- archive, for other decoders
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "lzh/LzhufDecoder.h"
#include "lzh/LzhufEncoder.h"
#include "doubles/LzhufPreviousEncoder.h"
#include "doubles/MemoryFile.h"
#include "doubles/MixedCorpus.h"

namespace {

constexpr std::size_t kCorpusSize = 16u << 20;
constexpr std::size_t kClassSize = 4u << 20;

const std::string& Corpus()
{
    static const std::string corpus = MakeMixedCorpus(kCorpusSize, 1);
    return corpus;
}

struct DataClass {
    const char* name;
    std::string (*make)(std::size_t, std::uint64_t);
};

std::string Zeros(std::size_t size, std::uint64_t) { return std::string(size, '\0'); }

// Prose first: the others are measured against it.
const DataClass kClasses[] = {
    {"prose", MakeText},          {"sorted_numbers", MakeSortedNumbers},
    {"sample_csv", MakeSampleCsv}, {"log", MakeLogText},
    {"records", MakeRecords},     {"random", MakeRandomBytes},
    {"zeros", Zeros},
};

bool g_bPrevious = false;

template <class Encoder>
void BM_Encode(benchmark::State& state, const std::string& input)
{
    auto encoder = std::make_unique<Encoder>();
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

void BM_EncodeMixed(benchmark::State& state) { BM_Encode<CLzhufEncoder>(state, Corpus()); }
void BM_EncodeMixedPrevious(benchmark::State& state)
{
    BM_Encode<CLzhufPreviousEncoder>(state, Corpus());
}

void BM_EncodeClass(benchmark::State& state)
{
    static std::string inputs[sizeof kClasses / sizeof kClasses[0]];
    const DataClass& c = kClasses[state.range(0)];
    std::string& input = inputs[state.range(0)];
    if (input.empty())
        input = c.make(kClassSize, 2);
    state.SetLabel(c.name);
    if (g_bPrevious)
        BM_Encode<CLzhufPreviousEncoder>(state, input);
    else
        BM_Encode<CLzhufEncoder>(state, input);
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

// CRC-16 (polynomial 0xA001, reflected, start 0) as LHA headers carry it.
std::uint16_t Crc16(const std::string& data)
{
    std::uint16_t crc = 0;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = static_cast<std::uint16_t>((crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1);
    }
    return crc;
}

// A level-0 LHA archive of one member "corpus" whose data is the stream
// without its 4-byte size (-lh1- is this bit stream; the header gives the
// sizes), then the end mark.
std::string LhaArchive(const std::string& original, const std::string& packed)
{
    auto u32 = [](std::string& s, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            s += static_cast<char>(v >> (8 * i));
    };
    const std::string name = "corpus";
    std::string h = "-lh1-";
    u32(h, static_cast<std::uint32_t>(packed.size() - 4));
    u32(h, static_cast<std::uint32_t>(original.size()));
    u32(h, 0x58210000); // 2024-01-01 00:00 as a DOS time stamp
    h += '\x20';        // attribute: archive
    h += '\0';          // header level
    h += static_cast<char>(name.size());
    h += name;
    const std::uint16_t crc = Crc16(original);
    h += static_cast<char>(crc & 0xFF);
    h += static_cast<char>(crc >> 8);
    unsigned sum = 0;
    for (unsigned char c : h)
        sum += c;
    return std::string(1, static_cast<char>(h.size())) + static_cast<char>(sum & 0xFF) + h +
           packed.substr(4) + std::string(1, '\0');
}

bool WriteAll(const char* path, const std::string& bytes)
{
    FILE* f = std::fopen(path, "wb");
    bool ok = f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (f != nullptr && std::fclose(f) != 0)
        ok = false;
    if (!ok)
        std::fprintf(stderr, "cannot write %s\n", path);
    return ok;
}

const char* Flag(int argc, char** argv, const char* flag)
{
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0)
            return argv[i] + std::strlen(flag);
    return nullptr;
}

} // namespace

BENCHMARK(BM_EncodeMixed)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_EncodeMixedPrevious)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_EncodeClass)->DenseRange(0, sizeof kClasses / sizeof kClasses[0] - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeMixed)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    if (const char* path = Flag(argc, argv, "--write_corpus="))
        return WriteAll(path, Corpus()) ? 0 : 1;
    if (const char* path = Flag(argc, argv, "--write_lha=")) {
        auto encoder = std::make_unique<CLzhufEncoder>();
        CMemoryFile source(Corpus());
        CMemoryFile packed;
        encoder->Encode(&source, &packed);
        return WriteAll(path, LhaArchive(Corpus(), packed.Data())) ? 0 : 1;
    }
    std::vector<char*> kept;
    const bool quick = bench::TakeQuick(argc, argv, &kept);
    for (std::size_t i = 1; i < kept.size(); ++i) {
        if (std::strcmp(kept[i], "--previous") == 0) {
            g_bPrevious = true;
            kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    }
    std::vector<std::string> storage;
    std::vector<char*> args =
        bench::WithDefaults(static_cast<int>(kept.size()), kept.data(), storage, quick ? 1 : 3);
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    if (benchmark::ReportUnrecognizedArguments(n, args.data()))
        return 1;
    bench::MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double now = reporter.Rate("BM_EncodeMixed");
    const double before = reporter.Rate("BM_EncodeMixedPrevious");
    if (now > 0 && before > 0)
        std::printf("ratio lzh_encode_vs_previous %.3f\n", now / before);
    const double prose = reporter.Rate("BM_EncodeClass/0");
    double worst = 0;
    const char* worstName = nullptr;
    for (std::size_t k = 1; k < sizeof kClasses / sizeof kClasses[0]; ++k) {
        const double rate = reporter.Rate("BM_EncodeClass/" + std::to_string(k));
        if (rate > 0 && (worstName == nullptr || rate < worst)) {
            worst = rate;
            worstName = kClasses[k].name;
        }
    }
    if (prose > 0 && worstName != nullptr) {
        std::printf("slowest kind of data: %s, %.1f MB/s; prose %.1f MB/s\n", worstName, worst / 1e6,
                    prose / 1e6);
        std::printf("%s %.3f\n",
                    g_bPrevious ? "previous encoder: worst_class_vs_prose"
                                : "ratio lzh_encode_worst_class_vs_prose",
                    worst / prose);
    }
    return 0;
}
