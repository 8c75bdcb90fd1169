#include "doubles/MixedCorpus.h"

#include <algorithm>
#include <cstdio>
#include <utility>

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

// Fixed-point text of a value in thousandths, as printf would not round it
// differently on another C library.
std::string Milli(std::int64_t v)
{
    const char* sign = v < 0 ? "-" : "";
    const std::uint64_t a = static_cast<std::uint64_t>(v < 0 ? -v : v);
    std::string frac = std::to_string(a % 1000);
    return sign + std::to_string(a / 1000) + "." + std::string(3 - frac.size(), '0') + frac;
}

// "hh:mm:ss.mmm" of a time in milliseconds since midnight.
std::string ClockText(std::uint64_t ms)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", static_cast<unsigned>(ms / 3600000 % 24),
                  static_cast<unsigned>(ms / 60000 % 60), static_cast<unsigned>(ms / 1000 % 60),
                  static_cast<unsigned>(ms % 1000));
    return text;
}

std::string Sized(std::string out, std::size_t size)
{
    out.resize(size);
    return out;
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

std::string MakeRecords(std::size_t size, std::uint64_t seed)
{
    CTestRandom rng(seed);
    std::string out;
    out.reserve(size);
    AppendRecords(out, size, rng);
    return out;
}

std::string MakeSortedNumbers(std::size_t size, std::uint64_t seed)
{
    CTestRandom rng(seed);
    std::string out;
    out.reserve(size + 24);
    for (std::uint64_t n = 1 + rng.Below(1000000); out.size() < size; ++n) {
        out += std::to_string(n);
        out += '\n';
    }
    return Sized(std::move(out), size);
}

// A time column at a fixed sampling interval and three channels that drift
// by a few units of their last digit.
std::string MakeSampleCsv(std::size_t size, std::uint64_t seed)
{
    CTestRandom rng(seed);
    std::string out = "time,ua,ub,f\r\n";
    out.reserve(size + 64);
    std::uint64_t ms = rng.Below(86400000);
    std::int64_t ua = 230000 + rng.Below(2000);
    std::int64_t ub = 229000 + rng.Below(2000);
    std::int64_t f = 50000;
    while (out.size() < size) {
        ua += static_cast<std::int64_t>(rng.Below(21)) - 10;
        ub += static_cast<std::int64_t>(rng.Below(21)) - 10;
        f += static_cast<std::int64_t>(rng.Below(3)) - 1;
        out += ClockText(ms) + "," + Milli(ua) + "," + Milli(ub) + "," + Milli(f) + "\r\n";
        ms += 10;
    }
    return Sized(std::move(out), size);
}

std::string MakeLogText(std::size_t size, std::uint64_t seed)
{
    static const char* const kLevels[] = {"INFO ", "INFO ", "INFO ", "DEBUG", "WARN ", "ERROR"};
    static const char* const kEvents[] = {
        "breaker closed", "breaker opened", "packet received", "transfer started",
        "transfer complete", "connection lost", "settings group changed", "sample buffer full",
    };
    CTestRandom rng(seed);
    std::string out;
    out.reserve(size + 128);
    std::uint64_t ms = rng.Below(86400000);
    std::uint32_t sequence = rng.Below(100000);
    while (out.size() < size) {
        ms += 1 + rng.Below(2000);
        out += "2024-05-17 " + ClockText(ms) + " " + kLevels[rng.Below(6)] + " [relay " +
               std::to_string(1 + rng.Below(12)) + "] #" + std::to_string(sequence++) + " " +
               kEvents[rng.Below(8)] + ", value " + Milli(rng.Below(500000)) + "\n";
    }
    return Sized(std::move(out), size);
}
