// What fetch-all shows while it runs, on stderr. On a terminal: a block of
// one line per running device (name, bytes, rate; as many as fit) and an
// overall line (done, failed, remaining, bytes, aggregate rate, ETA),
// redrawn at most 10 times a second, with each finished device's line
// printed above it. Elsewhere only the finished devices' lines.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "cli/FleetRun.h"

class CFleetStatus {
public:
    explicit CFleetStatus(CFleetRun& run);
    // Prints what finished and, when it is time, redraws the block.
    void Update();
    // The last lines; the block is cleared.
    void Finish();
    // A line of the program's own, shown above the block at its next redraw.
    void Note(const std::string& line) { m_notes += line + "\n"; }

    // "name: done, 1.2 MiB in 0.31 s" and the like.
    static std::string FinishedLine(const DeviceJob& job, const DeviceReport& report);

private:
    using Clock = std::chrono::steady_clock;
    void TakeFinished(std::string* out);
    std::string Block();
    // The finished lines, then the block unless `final`.
    void Show(const std::string& finished, bool final);

    CFleetRun& m_run;
    bool m_terminal;
    std::string m_notes;
    Clock::time_point m_start;
    Clock::time_point m_lastDraw;
    int m_blockLines = 0; // of the block on screen, to move back over it
    std::size_t m_done = 0;
    std::size_t m_failed = 0;
    std::uint64_t m_bytes = 0; // of the devices that ended
};
