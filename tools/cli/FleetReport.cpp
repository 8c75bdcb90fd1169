// The summary table and its JSON form.
#include "cli/FleetReport.h"
#include "cli/JsonText.h"

#include <algorithm>
#include <vector>

#include "cli/Units.h"

namespace {


struct Counts {
    std::size_t done = 0;
    std::size_t failed = 0;
    std::size_t cancelled = 0;
    std::size_t notStarted = 0;
    std::uint64_t bytes = 0;
};

Counts Count(CFleetRun& run, std::vector<DeviceReport>* reports)
{
    Counts c;
    for (std::size_t i = 0; i < run.Count(); ++i) {
        reports->push_back(run.Report(i));
        const DeviceReport& r = reports->back();
        c.done += r.result == DeviceResult::Done ? 1 : 0;
        c.failed += r.result == DeviceResult::Failed ? 1 : 0;
        c.cancelled += r.result == DeviceResult::Cancelled ? 1 : 0;
        c.notStarted += r.result == DeviceResult::NotStarted ? 1 : 0;
        c.bytes += r.bytes;
    }
    return c;
}

} // namespace

const char* ResultName(DeviceResult result)
{
    switch (result) {
    case DeviceResult::NotStarted: return "not started";
    case DeviceResult::Running: return "running";
    case DeviceResult::Done: return "done";
    case DeviceResult::Failed: return "failed";
    case DeviceResult::Cancelled: return "cancelled";
    }
    return "?";
}

void PrintSummary(CFleetRun& run, double seconds, std::FILE* out)
{
    std::vector<DeviceReport> reports;
    const Counts c = Count(run, &reports);
    std::vector<std::vector<std::string>> rows = {{"device", "result", "code", "text", "bytes", "seconds", "tries"}};
    for (std::size_t i = 0; i < reports.size(); ++i) {
        const DeviceReport& r = reports[i];
        char time[32];
        std::snprintf(time, sizeof(time), "%.2f", r.seconds);
        rows.push_back({run.Job(i).entry.name, ResultName(r.result), std::to_string(r.code),
                        r.text.empty() ? "-" : r.text, std::to_string(r.bytes), time, std::to_string(r.tries)});
    }
    std::vector<std::size_t> width(rows[0].size(), 0);
    for (const auto& row : rows) {
        for (std::size_t k = 0; k < row.size(); ++k)
            width[k] = std::max(width[k], row[k].size());
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t k = 0; k < row.size(); ++k) {
            // Numbers to the right, words to the left; the last without blanks.
            const bool number = k == 2 || k >= 4;
            const std::string pad(width[k] - row[k].size(), ' ');
            line += (k == 0 ? "" : "  ") + (number ? pad + row[k] : k + 1 == row.size() ? row[k] : row[k] + pad);
        }
        std::fprintf(out, "%s\n", line.c_str());
    }
    std::fprintf(out, "%zu devices: %zu done, %zu failed, %zu cancelled, %zu not started; %s in %.2f s\n",
                 reports.size(), c.done, c.failed, c.cancelled, c.notStarted,
                 Size(static_cast<double>(c.bytes)).c_str(), seconds);
    std::fflush(out);
}

std::string SummaryJson(CFleetRun& run, double seconds, bool interrupted)
{
    std::vector<DeviceReport> reports;
    const Counts c = Count(run, &reports);
    std::string json = "{\n  \"devices\": [";
    for (std::size_t i = 0; i < reports.size(); ++i) {
        const DeviceReport& r = reports[i];
        const DeviceEntry& e = run.Job(i).entry;
        char numbers[160];
        std::snprintf(numbers, sizeof(numbers), "\"code\": %d, \"bytes\": %llu, \"seconds\": %.3f, \"tries\": %u",
                      static_cast<int>(r.code), static_cast<unsigned long long>(r.bytes), r.seconds, r.tries);
        json += std::string(i == 0 ? "\n" : ",\n") + "    {\"device\": " + JsonQuoted(e.name) +
                ", \"host\": " + JsonQuoted(e.host) + ", \"port\": " + std::to_string(e.port) +
                ", \"result\": " + JsonQuoted(ResultName(r.result)) + ", " + numbers + ", \"text\": " + JsonQuoted(r.text) +
                "}";
    }
    char totals[256];
    std::snprintf(totals, sizeof(totals),
                  "\n  ],\n  \"done\": %zu,\n  \"failed\": %zu,\n  \"cancelled\": %zu,\n  \"not_started\": %zu,\n"
                  "  \"bytes\": %llu,\n  \"seconds\": %.3f,\n  \"interrupted\": %s\n}\n",
                  c.done, c.failed, c.cancelled, c.notStarted, static_cast<unsigned long long>(c.bytes), seconds,
                  interrupted ? "true" : "false");
    return json + totals;
}
