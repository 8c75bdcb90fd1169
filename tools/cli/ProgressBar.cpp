// The progress meter drawn from the library's byte progress.
#include "cli/ProgressBar.h"

#include <cstdio>
#include <string>

#include "cli/Platform.h"
#include "cli/Units.h"

namespace {

constexpr auto kRedrawGap = std::chrono::milliseconds(100);
constexpr int kBarWidth = 24;

} // namespace

ProgressBar::ProgressBar() : m_enabled(IsTerminal(stderr)), m_start(Clock::now()), m_lastDraw(m_start) {}

void VEXACOMM_CALL ProgressBar::Callback(void* user, std::uint64_t done, std::uint64_t total)
{
    static_cast<ProgressBar*>(user)->Update(done, total);
}

double ProgressBar::Seconds() const { return std::chrono::duration<double>(Clock::now() - m_start).count(); }

void ProgressBar::Update(std::uint64_t done, std::uint64_t total)
{
    m_done = done;
    m_total = total;
    if (!m_enabled || total == 0)
        return;
    const Clock::time_point now = Clock::now();
    // Ten redraws a second since the start, one of them kept for the final
    // line, and never two within a tenth of a second.
    if (now - m_lastDraw < kRedrawGap || (m_draws + 2) * kRedrawGap > now - m_start)
        return;
    Draw(false, false);
}

void ProgressBar::Finish(bool complete)
{
    if (!m_enabled || m_total == 0)
        return;
    Draw(true, complete);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void ProgressBar::Draw(bool final, bool complete)
{
    const double seconds = Seconds();
    const double done = static_cast<double>(m_done);
    const double total = static_cast<double>(m_total);
    const bool whole = final && complete && m_done == m_total;
    int percent = static_cast<int>(done * 100.0 / total);
    // While bytes may still come, or some never came, it is not 100 %.
    if (!whole && percent > 99)
        percent = 99;
    char bar[kBarWidth + 1];
    const int filled = percent * kBarWidth / 100;
    for (int i = 0; i < kBarWidth; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[kBarWidth] = '\0';

    const Unit unit = UnitFor(total);
    const double rate = seconds > 0 ? done / seconds : 0;
    char tail[160];
    if (whole) {
        std::snprintf(tail, sizeof(tail), "%s %s in %.2f s, %s", Amount(total, unit).c_str(), unit.name, seconds,
                      Rate(rate).c_str());
    } else if (final) {
        std::snprintf(tail, sizeof(tail), "%s of %s %s in %.2f s, %s", Amount(done, unit).c_str(),
                      Amount(total, unit).c_str(), unit.name, seconds, Rate(rate).c_str());
    } else {
        const std::string eta = rate > 0 ? Duration((total - done) / rate) : "-:--";
        std::snprintf(tail, sizeof(tail), "%s/%s %s  %s  ETA %s", Amount(done, unit).c_str(),
                      Amount(total, unit).c_str(), unit.name, Rate(rate).c_str(), eta.c_str());
    }
    char line[256];
    const int width = std::snprintf(line, sizeof(line), "[%s] %3d%%  %s", bar, percent, tail);
    std::string shown = "\r" + std::string(line);
    if (width < m_width)
        shown.append(static_cast<std::size_t>(m_width - width), ' ');
    m_width = width;
    std::fputs(shown.c_str(), stderr);
    std::fflush(stderr);
    m_lastDraw = Clock::now();
    ++m_draws;
}
