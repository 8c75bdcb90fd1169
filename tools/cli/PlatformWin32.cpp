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

std::string StreamFailure(std::FILE*) { return "write error"; }

bool TerminalSize(std::FILE* stream, int* rows, int* columns)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    if (!::GetConsoleScreenBufferInfo(h, &info))
        return false;
    *rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    *columns = info.srWindow.Right - info.srWindow.Left + 1;
    return *rows > 0 && *columns > 0;
}

// Consoles before Windows 10 show the sequences as text; they refuse the mode.
bool EnableTerminalControl(std::FILE* stream)
{
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
    const DWORD ENABLE_VIRTUAL_TERMINAL_PROCESSING = 0x0004;
#endif
    HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD mode = 0;
    return ::GetConsoleMode(h, &mode) && ::SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

// Sockets are not descriptors here and files have no small limit.
unsigned RaiseDescriptorLimit(unsigned wanted) { return wanted; }

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
