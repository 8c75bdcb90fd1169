// Sockets and the console on Windows: WSAStartup and code pages.
#include "cli/Platform.h"

#include <cstdio>
#include <io.h>
#include <vector>
#include <winsock2.h>
#include <windows.h>

bool StartSockets()
{
    WSADATA wsa;
    return ::WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
}

bool IsTerminal(std::FILE* stream) { return ::_isatty(::_fileno(stream)) != 0; }

// GBK is code page 936; the console shows its own output code page.
bool TerminalTextFromGbk(const std::string& text, std::string* out)
{
    const UINT kGbk = 936;
    UINT console = ::GetConsoleOutputCP();
    if (console == 0)
        console = ::GetACP();
    int wide = ::MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0);
    if (wide <= 0)
        return false;
    std::vector<wchar_t> buffer(static_cast<std::size_t>(wide));
    ::MultiByteToWideChar(kGbk, 0, text.data(), static_cast<int>(text.size()), buffer.data(), wide);
    BOOL lossy = FALSE;
    BOOL* lossyOut = console == CP_UTF8 ? nullptr : &lossy;
    int bytes = ::WideCharToMultiByte(console, 0, buffer.data(), wide, nullptr, 0, nullptr, lossyOut);
    if (bytes <= 0 || lossy)
        return false;
    out->assign(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(console, 0, buffer.data(), wide, &(*out)[0], bytes, nullptr, nullptr);
    return true;
}
