// The live status of fetch-all.
#include "cli/FleetStatus.h"

#include <cstdio>

#include "cli/Platform.h"
#include "cli/Units.h"

namespace {

constexpr auto kRedrawGap = std::chrono::milliseconds(100);

std::string Clipped(const std::string& line, int columns)
{
    // A line that wraps would take two rows and the block's height be wrong.
    return columns > 1 && line.size() >= static_cast<std::size_t>(columns) ? line.substr(0, columns - 1) : line;
}

} // namespace

CFleetStatus::CFleetStatus(CFleetRun& run)
    : m_run(run),
      m_terminal(IsTerminal(stderr) && EnableTerminalControl(stderr)),
      m_start(Clock::now()),
      m_lastDraw(m_start - kRedrawGap)
{
}

std::string CFleetStatus::FinishedLine(const DeviceJob& job, const DeviceReport& report)
{
    char line[768];
    const char* verb = report.result == DeviceResult::Done       ? "done"
                       : report.result == DeviceResult::Cancelled ? "cancelled"
                                                                  : "failed";
    if (report.result == DeviceResult::Done)
        std::snprintf(line, sizeof(line), "%s: done, %s in %.2f s", job.entry.name.c_str(),
                      Size(static_cast<double>(report.bytes)).c_str(), report.seconds);
    else
        std::snprintf(line, sizeof(line), "%s: %s, error %d: %s (%u %s)", job.entry.name.c_str(), verb,
                      static_cast<int>(report.code), report.text.c_str(), report.tries,
                      report.tries == 1 ? "try" : "tries");
    return line;
}

void CFleetStatus::TakeFinished(std::string* out)
{
    out->swap(m_notes);
    for (std::size_t i : m_run.TakeFinished()) {
        const DeviceReport report = m_run.Report(i);
        if (report.result == DeviceResult::Done)
            ++m_done;
        else
            ++m_failed;
        m_bytes += report.bytes;
        *out += FinishedLine(m_run.Job(i), report) + "\n";
    }
}

std::string CFleetStatus::Block()
{
    int rows = 24;
    int columns = 80;
    TerminalSize(stderr, &rows, &columns);
    const std::vector<std::size_t> running = m_run.RunningNow();
    // Room for the overall line, a "more" line and the cursor's own.
    const std::size_t shown = std::min<std::size_t>(running.size(), rows > 4 ? rows - 3 : 1);
    std::string block;
    std::uint64_t bytes = m_bytes;
    for (std::size_t k = 0; k < running.size(); ++k) {
        std::uint64_t done = 0;
        std::uint64_t total = 0;
        double seconds = 0;
        m_run.Progress(running[k], &done, &total, &seconds);
        bytes += done;
        if (k >= shown)
            continue;
        std::string line = "  " + m_run.Job(running[k]).entry.name + "  " + Size(static_cast<double>(done));
        if (total != 0)
            line += " of " + Size(static_cast<double>(total));
        line += "  " + Rate(seconds > 0 ? static_cast<double>(done) / seconds : 0);
        block += Clipped(line, columns) + "\n";
    }
    if (shown < running.size())
        block += "  ... and " + std::to_string(running.size() - shown) + " more running\n";
    const double seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
    const std::size_t ended = m_done + m_failed;
    const std::size_t remaining = m_run.Count() - ended;
    std::string eta = "-:--";
    if (ended > 0)
        eta = Duration(seconds * static_cast<double>(remaining) / static_cast<double>(ended));
    char overall[256];
    std::snprintf(overall, sizeof(overall), "%zu done, %zu failed, %zu remaining (%zu running), %s, %s, ETA %s",
                  m_done, m_failed, remaining, running.size(), Size(static_cast<double>(bytes)).c_str(),
                  Rate(seconds > 0 ? static_cast<double>(bytes) / seconds : 0).c_str(), eta.c_str());
    return block + Clipped(overall, columns) + "\n";
}

void CFleetStatus::Show(const std::string& finished, bool final)
{
    if (!m_terminal) {
        std::fputs(finished.c_str(), stderr);
        std::fflush(stderr);
        return;
    }
    std::string out;
    // Back to the block's first line, and everything below it erased.
    if (m_blockLines > 0)
        out += "\r\x1b[" + std::to_string(m_blockLines) + "A\x1b[J";
    out += finished;
    const std::string block = final ? "" : Block();
    m_blockLines = 0;
    for (char c : block)
        m_blockLines += c == '\n' ? 1 : 0;
    out += block;
    std::fputs(out.c_str(), stderr);
    std::fflush(stderr);
    m_lastDraw = Clock::now();
}

void CFleetStatus::Update()
{
    if (m_terminal && Clock::now() - m_lastDraw < kRedrawGap)
        return; // the finished lines wait for the next redraw
    std::string finished;
    TakeFinished(&finished);
    Show(finished, false);
}

void CFleetStatus::Finish()
{
    std::string finished;
    TakeFinished(&finished);
    Show(finished, true);
}
