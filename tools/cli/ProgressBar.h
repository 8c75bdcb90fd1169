// A one-line progress bar on stderr, drawn only when stderr is a terminal.
#pragma once

#include <cstdint>

class ProgressBar {
public:
    ProgressBar();
    // Receives the library's progress messages (wParam, lParam).
    void OnMessage(std::uint32_t wParam, std::int32_t lParam);
    void SetBytes(std::uint64_t bytes) { m_bytes = bytes; }
    // Ends the line if anything was drawn.
    void Finish();

    static void Callback(void* user, std::uint32_t wParam, std::int32_t lParam);

private:
    void Draw();
    bool m_enabled;
    bool m_drawn = false;
    std::int32_t m_range = 0;
    std::int32_t m_position = 0;
    std::uint64_t m_bytes = 0;
};
