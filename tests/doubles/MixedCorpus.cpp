#include "doubles/MixedCorpus.h"

#include <algorithm>

namespace {

const char* const kWords[] = {
    "the", "of", "and", "to", "in", "is", "that", "for", "it", "as", "was", "with", "be", "by",
    "on", "not", "he", "this", "are", "or", "his", "from", "at", "which", "but", "have", "an",
    "had", "they", "you", "were", "their", "one", "all", "we", "can", "her", "has", "there",
    "been", "if", "more", "when", "will", "would", "who", "so", "no", "device", "connection",
    "packet", "transfer", "file", "record", "station", "protection", "relay", "event",
    "measurement", "channel", "voltage", "current", "breaker", "status", "value", "report",
    "configuration", "sequence", "timestamp", "disturbance", "analogue", "digital", "setting",
    "group", "interval", "sample", "frequency", "phase", "feeder", "line", "transformer",
};
constexpr std::size_t kWordCount = sizeof kWords / sizeof kWords[0];

void AppendText(std::string& out, std::size_t size, CTestRandom& rng)
{
    const std::size_t end = out.size() + size;
    std::size_t column = 0;
    bool sentenceStart = true;
    while (out.size() < end) {
        std::string word = kWords[rng.Below(kWordCount)];
        if (rng.Below(16) == 0)
            word = std::to_string(rng.Below(100000));
        if (sentenceStart && word[0] >= 'a' && word[0] <= 'z')
            word[0] = static_cast<char>(word[0] - 'a' + 'A');
        out += word;
        column += word.size();
        sentenceStart = false;
        const std::uint32_t roll = rng.Below(20);
        if (roll == 0) {
            out += '.';
            sentenceStart = true;
        } else if (roll == 1) {
            out += ',';
        }
        if (column > 64) {
            out += "\r\n";
            column = 0;
        } else {
            out += ' ';
            ++column;
        }
    }
    out.resize(end);
}

// Fixed-layout records as a device log might hold them: a counter, a type
// from a small set, a slowly moving measurement and a few noisy bytes.
void AppendRecords(std::string& out, std::size_t size, CTestRandom& rng)
{
    const std::size_t end = out.size() + size;
    std::uint32_t counter = rng.Below(1000);
    std::uint32_t value = rng.Below(1u << 20);
    while (out.size() < end) {
        unsigned char rec[24] = {};
        for (int i = 0; i < 4; ++i)
            rec[i] = static_cast<unsigned char>(counter >> (8 * i));
        rec[4] = static_cast<unsigned char>(rng.Below(6));
        rec[6] = 0x01;
        value += rng.Below(64) - 32;
        for (int i = 0; i < 4; ++i)
            rec[8 + i] = static_cast<unsigned char>(value >> (8 * i));
        const std::uint64_t noise = rng.Next();
        for (int i = 0; i < 4; ++i)
            rec[12 + i] = static_cast<unsigned char>(noise >> (8 * i));
        rec[20] = 0xAA;
        rec[21] = 0x55;
        out.append(reinterpret_cast<const char*>(rec), sizeof rec);
        ++counter;
    }
    out.resize(end);
}

void AppendRandom(std::string& out, std::size_t size, CTestRandom& rng)
{
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t v = rng.Next();
        for (std::size_t k = 0; k < 8 && i + k < size; ++k)
            out += static_cast<char>(v >> (8 * k));
    }
}

} // namespace

std::uint64_t CTestRandom::Next()
{
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::string MakeMixedCorpus(std::size_t size, std::uint64_t seed)
{
    CTestRandom rng(seed);
    std::string out;
    out.reserve(size);
    while (out.size() < size) {
        const std::size_t block = std::min<std::size_t>(512 + rng.Below(32768), size - out.size());
        const std::uint32_t kind = rng.Below(20);
        if (kind < 9)
            AppendText(out, block, rng);
        else if (kind < 14)
            AppendRecords(out, block, rng);
        else if (kind < 17)
            AppendRandom(out, block, rng);
        else
            out.append(block, '\0');
    }
    return out;
}

std::string MakeText(std::size_t size, std::uint64_t seed)
{
    CTestRandom rng(seed);
    std::string out;
    out.reserve(size);
    AppendText(out, size, rng);
    return out;
}

std::string MakeRandomBytes(std::size_t size, std::uint64_t seed)
{
    CTestRandom rng(seed);
    std::string out;
    out.reserve(size);
    AppendRandom(out, size, rng);
    return out;
}
