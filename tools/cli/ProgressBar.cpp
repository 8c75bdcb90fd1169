// The progress bar drawn from the library's progress messages.
#include "cli/ProgressBar.h"

#include <cstdio>

#include "cli/Platform.h"

ProgressBar::ProgressBar() : m_enabled(IsTerminal(stderr)) {}

void ProgressBar::Callback(void* user, std::uint32_t wParam, std::int32_t lParam)
{
    static_cast<ProgressBar*>(user)->OnMessage(wParam, lParam);
}

void ProgressBar::OnMessage(std::uint32_t wParam, std::int32_t lParam)
{
    if (wParam == 1 && lParam != 0) {
        m_range = lParam;
        m_position = 0;
    } else if (wParam == 0) {
        m_position = lParam;
    } else {
        return; // the end message; Finish() closes the line
    }
    Draw();
}

void ProgressBar::Draw()
{
    if (!m_enabled || m_range <= 0)
        return;
    const int width = 40;
    // The library never passes the range; a guard all the same.
    int percent = static_cast<int>(static_cast<long long>(m_position) * 100 / m_range);
    if (percent > 100)
        percent = 100;
    int filled = percent * width / 100;
    char bar[width + 1];
    for (int i = 0; i < width; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[width] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%% %8.2f MiB", bar, percent,
                 static_cast<double>(m_bytes) / (1024.0 * 1024.0));
    std::fflush(stderr);
    m_drawn = true;
}

void ProgressBar::Finish()
{
    if (m_drawn) {
        std::fputc('\n', stderr);
        m_drawn = false;
    }
}
