// A stand-in for the optional error-text companion library: texts for a few
// codes, a null answer for one and an empty answer for another.
#include <cstdio>
#include <cstring>
#include <string>

#ifdef _WIN32
#define COMPANION_EXPORT __declspec(dllexport)
#else
#define COMPANION_EXPORT __attribute__((visibility("default")))
#endif

namespace {
char g_text[512];
int g_calls = 0;

const char* Format(unsigned long code, const char* prefixFormat, const char* words)
{
    int n = std::snprintf(g_text, sizeof(g_text), prefixFormat, code);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof(g_text))
        return nullptr;
    std::snprintf(g_text + n, sizeof(g_text) - static_cast<std::size_t>(n), "%s", words);
    return g_text;
}
} // namespace

extern "C" {

COMPANION_EXPORT const char* GetErrorString(unsigned long code,
                                                                   const char* prefixFormat)
{
    ++g_calls;
    static const std::string kLong(300, 'E');
    switch (code) {
    case 71002: return Format(code, prefixFormat, "no greeting from the peer");
    case 71003: return nullptr;
    case 71004: return "";
    case 71009: return Format(code, prefixFormat, kLong.c_str());
    case 10054: return Format(code, prefixFormat, "connection reset");
    default: return nullptr;
    }
}

// Lets a test that holds the library loaded see whether it was asked.
COMPANION_EXPORT int CompanionCallCount() { return g_calls; }
}
