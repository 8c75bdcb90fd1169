// Captures the library's diagnostic lines for the lifetime of the object.
#pragma once

#include <mutex>
#include <string>
#include <vector>

// How a diagnostic line carries a text of the library's own (GBK): the
// same bytes on Windows, UTF-8 on POSIX systems.
inline std::string LogForm(std::string text)
{
#ifndef _WIN32
    const char* const kPairs[][2] = {
        {"\xCE\xB4\xD6\xAA\xB4\xED\xCE\xF3\xC0\xE0\xD0\xCD",
         "\xE6\x9C\xAA\xE7\x9F\xA5\xE9\x94\x99\xE8\xAF\xAF\xE7\xB1\xBB\xE5\x9E\x8B"},
        {"\xD3\xC3\xBB\xA7\xD1\xE9\xD6\xA4\xCA\xA7\xB0\xDC",
         "\xE7\x94\xA8\xE6\x88\xB7\xE9\xAA\x8C\xE8\xAF\x81\xE5\xA4\xB1\xE8\xB4\xA5"},
    };
    for (const auto& pair : kPairs) {
        const std::string gbk = pair[0];
        for (std::size_t at = text.find(gbk); at != std::string::npos; at = text.find(gbk))
            text.replace(at, gbk.size(), pair[1]);
    }
#endif
    return text;
}

class DebugCapture {
public:
    DebugCapture();
    ~DebugCapture();
    std::vector<std::string> Lines();

private:
    static void Hook(const char* text, void* user);
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};
