#include "cli/JsonText.h"

#include <cstdio>

// A JSON string; bytes that are not UTF-8 become U+FFFD.
std::string JsonQuoted(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\u%04x", c);
            out += escape;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            const std::size_t length = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
            bool valid = length != 0 && i + length <= text.size();
            for (std::size_t k = 1; valid && k < length; ++k)
                valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
            if (valid) {
                out.append(text, i, length);
                i += length - 1;
            } else {
                out += "\xEF\xBF\xBD";
            }
        }
    }
    return out + "\"";
}
