// Library and system failure lines, with the library's GBK texts converted
// for the terminal.
#include "cli/ErrorText.h"

#include <atomic>
#include <cstdio>

#include "cli/Platform.h"
#include "cli/SystemFile.h"

namespace {

bool IsAscii(const std::string& text)
{
    for (unsigned char c : text) {
        if (c >= 0x80)
            return false;
    }
    return true;
}

} // namespace

std::string LibraryErrorText(VexaCommObject* obj, int32_t code)
{
    char buffer[512];
    VexaComm_GetErrorText(obj, code, buffer, sizeof(buffer));
    std::string text(buffer);
    const std::string prefix = "CONN-" + std::to_string(code) + " : ";
    if (text.compare(0, prefix.size(), prefix) == 0)
        text.erase(0, prefix.size());
    if (text.empty())
        return "no text for this code";
    std::string shown;
    if (IsAscii(text))
        return text;
    if (TerminalTextFromGbk(text, &shown))
        return shown;
    return "no text for this code in this terminal's character set";
}

void PrintLibraryError(VexaCommObject* obj, int32_t code)
{
    std::fprintf(stderr, "error %d: %s\n", code, LibraryErrorText(obj, code).c_str());
}

bool IsConnectionError(int32_t code)
{
    return (code >= 10000 && code <= 11999) || code == VEXACOMM_ERR_PEER_CLOSED ||
           code == VEXACOMM_ERR_CONNECT_REFUSED || code == VEXACOMM_ERR_NO_GREETING;
}

void PrintConnectionError(VexaCommObject* obj, const std::string& host, unsigned port, int32_t code)
{
    std::fprintf(stderr, "vexacomm: %s:%u: %s (%d)\n", host.c_str(), port, LibraryErrorText(obj, code).c_str(),
                 code);
}

void PrintSystemError(const std::string& what, int error)
{
    std::fprintf(stderr, "error: %s: %s\n", what.c_str(), SystemErrorText(error).c_str());
}

namespace {
const char* g_command = "";
std::atomic<bool> g_stdoutReported{false};
} // namespace

void SetCommandName(const char* name) { g_command = name; }

bool PrintStdoutError(const std::string& reason)
{
    if (g_stdoutReported.exchange(true))
        return false;
    std::fprintf(stderr, "vexacomm %s: standard output: %s\n", g_command, reason.c_str());
    return true;
}
