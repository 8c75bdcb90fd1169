// Captures the library's diagnostic lines for the lifetime of the object.
#pragma once

#include <mutex>
#include <string>
#include <vector>

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
