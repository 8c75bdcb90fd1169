// Shared by the benchmarks: raw socket helpers for the baselines, packet
// framing for scripted peers, and a reporter that keeps each benchmark's
// median so that a program can print ratios measured in the same run.
#pragma once

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include <benchmark/benchmark.h>

#include "vexacomm/Protocol.h"
#include "vexacomm/ByteSum.h"

namespace bench {

inline std::string Framed(std::uint32_t command, const std::string& payload, bool envelope)
{
    std::string bare(PACKET_HEADER_SIZE + payload.size(), '\0');
    auto* p = reinterpret_cast<std::uint8_t*>(&bare[0]);
    WriteU32(p, command);
    WriteU32(p + 4, static_cast<std::uint32_t>(payload.size()));
    if (!payload.empty())
        std::memcpy(p + PACKET_HEADER_SIZE, payload.data(), payload.size());
    if (!envelope)
        return bare;
    std::string out(ENVELOPE_HEAD_SIZE + bare.size() + sizeof(EnvelopeTrailer), '\0');
    auto* o = reinterpret_cast<std::uint8_t*>(&out[0]);
    WriteU32(o, ENVELOPE_HEAD_MAGIC);
    WriteU32(o + 4, ENVELOPE_HEAD_MAGIC);
    std::memcpy(o + ENVELOPE_HEAD_SIZE, bare.data(), bare.size());
    std::uint8_t* t = o + ENVELOPE_HEAD_SIZE + bare.size();
    WriteU32(t, ByteSum(p, bare.size()));
    WriteU32(t + 4, ENVELOPE_TAIL_MAGIC);
    WriteU32(t + 8, ENVELOPE_TAIL_MAGIC);
    return out;
}

inline std::string U16Payload(std::uint16_t v)
{
    std::string s(2, '\0');
    WriteU16(reinterpret_cast<std::uint8_t*>(&s[0]), v);
    return s;
}

inline bool SendWhole(int fd, const void* data, std::size_t n)
{
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

inline bool ReceiveWhole(int fd, void* data, std::size_t n)
{
    char* p = static_cast<char*>(data);
    while (n > 0) {
        ssize_t k = ::recv(fd, p, n, 0);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

// A listening socket on address:port (0: any free port, stored in *port).
inline int ListenOn(const char* address, std::uint16_t* port)
{
    sockaddr_in sin;
    std::memset(&sin, 0, sizeof(sin));
    sin.sin_family = AF_INET;
    sin.sin_port = htons(*port);
    ::inet_pton(AF_INET, address, &sin.sin_addr);
    socklen_t len = sizeof(sin);
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    if (fd >= 0)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sin), len) != 0 || ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
        std::perror("bench: listen");
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    *port = ntohs(sin.sin_port);
    return fd;
}

inline int ConnectTo(const char* address, std::uint16_t port)
{
    sockaddr_in sin;
    std::memset(&sin, 0, sizeof(sin));
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &sin.sin_addr);
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) != 0) {
        ::close(fd);
        fd = -1;
    }
    return fd;
}

// Console output, and per benchmark ("BM_X/args") the median of the
// repetitions (or the single run): real time per iteration in seconds and
// bytes per second.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal (a reporter of one's own ignores
    // --benchmark_color).
    MedianReporter() : ConsoleReporter(isatty(1) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (!(median || single) || run.error_occurred)
                continue;
            std::string name = run.run_name.function_name;
            if (!run.run_name.args.empty())
                name += "/" + run.run_name.args;
            m_seconds[name] = run.GetAdjustedRealTime() / Multiplier(run.time_unit);
            auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end())
                m_rates[name] = it->second;
        }
    }

    // 0 when the benchmark did not run or failed.
    double Seconds(const std::string& name) const { return Find(m_seconds, name); }
    double Rate(const std::string& name) const { return Find(m_rates, name); }

private:
    static double Multiplier(benchmark::TimeUnit unit)
    {
        switch (unit) {
        case benchmark::kNanosecond: return 1e9;
        case benchmark::kMicrosecond: return 1e6;
        case benchmark::kMillisecond: return 1e3;
        case benchmark::kSecond: return 1;
        }
        return 1e9;
    }
    static double Find(const std::map<std::string, double>& m, const std::string& name)
    {
        auto it = m.find(name);
        return it == m.end() ? 0.0 : it->second;
    }

    std::map<std::string, double> m_seconds;
    std::map<std::string, double> m_rates;
};

// Takes "--quick" out of the arguments (true when it was there); the rest
// stay, in `kept`, for the benchmark library.
inline bool TakeQuick(int argc, char** argv, std::vector<char*>* kept)
{
    bool quick = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            quick = true;
        else
            kept->push_back(argv[i]);
    }
    return quick;
}

// The arguments with the defaults that make ratios meaningful on a shared
// machine (repetitions, interleaved, medians) unless the caller set them.
// The returned pointers refer to argv and to `storage`.
inline std::vector<char*> WithDefaults(int argc, char** argv, std::vector<std::string>& storage,
                                       int repetitions)
{
    auto given = [&](const char* flag) {
        for (int i = 1; i < argc; ++i)
            if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0)
                return true;
        return false;
    };
    storage.clear();
    storage.reserve(3);
    if (!given("--benchmark_repetitions"))
        storage.push_back("--benchmark_repetitions=" + std::to_string(repetitions));
    if (!given("--benchmark_enable_random_interleaving"))
        storage.push_back("--benchmark_enable_random_interleaving=true");
    if (!given("--benchmark_report_aggregates_only"))
        storage.push_back("--benchmark_report_aggregates_only=true");
    std::vector<char*> args(argv, argv + argc);
    for (std::string& s : storage)
        args.push_back(&s[0]);
    return args;
}

} // namespace bench
