// A one-line progress meter on stderr from the library's byte progress:
// bytes done of total, percentage, rate and time left, redrawn at most ten
// times a second, and a final line with size, time and rate. Nothing is
// drawn when stderr is not a terminal.
#pragma once

#include <chrono>
#include <cstdint>

#include "VexaCommLib.h"

class ProgressBar {
public:
    ProgressBar();
    void Update(std::uint64_t done, std::uint64_t total);
    // The final line, at 100 % only when `complete` and every announced
    // byte arrived; nothing when no total was ever announced.
    void Finish(bool complete);

    // For VexaComm_SetTransferCallback, with the bar as `user`.
    static void VEXACOMM_CALL Callback(void* user, std::uint64_t done, std::uint64_t total);

private:
    using Clock = std::chrono::steady_clock;
    void Draw(bool final, bool complete);
    double Seconds() const;

    bool m_enabled;
    Clock::time_point m_start;
    Clock::time_point m_lastDraw;
    std::uint64_t m_draws = 0;
    std::uint64_t m_done = 0;
    std::uint64_t m_total = 0;
    int m_width = 0; // of the line last drawn, to blank a longer one
};
