// The exports' copy of a text into a host's buffer: cut to fit and always
// zero-terminated when size > 0; returns the text's full length.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

inline std::int32_t CopyText(const std::string& text, char* buffer, std::int32_t size)
{
    if (buffer != nullptr && size > 0) {
        std::size_t n = text.size() < static_cast<std::size_t>(size) ? text.size() : static_cast<std::size_t>(size) - 1;
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<std::int32_t>(text.size());
}
