/* A stand-in for the optional error-text companion CONNERROR.DLL: texts for
 * a few codes, a null answer for one and an empty answer for another. */
#include <stdio.h>

static char g_text[512];

__declspec(dllexport) const char* __cdecl GetErrorString(unsigned long code, const char* prefixFormat)
{
    const char* words;
    int n;
    switch (code) {
    case 71002: words = "no greeting from the peer"; break;
    case 10054: words = "connection reset"; break;
    case 71004: return "";
    default: return NULL;
    }
    n = snprintf(g_text, sizeof(g_text), prefixFormat, code);
    if (n < 0 || (size_t)n >= sizeof(g_text))
        return NULL;
    snprintf(g_text + n, sizeof(g_text) - (size_t)n, "%s", words);
    return g_text;
}
