// Library and system failure lines, with the library's GBK texts converted
// for the terminal.
#include "vexacomm/ErrorText.h"

#include <cstdio>
#include <vector>

#ifdef _WIN32
#include "platform/win32/WinApi.h"
#else
#include <iconv.h>
#include <langinfo.h>
#endif

#include "vexacomm/SystemFile.h"

namespace {

bool IsAscii(const std::string& text)
{
    for (unsigned char c : text) {
        if (c >= 0x80)
            return false;
    }
    return true;
}

#ifdef _WIN32
// GBK is code page 936; the console shows its own output code page.
bool FromGbk(const std::string& text, std::string* out)
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
#else
bool FromGbk(const std::string& text, std::string* out)
{
    iconv_t cd = ::iconv_open(nl_langinfo(CODESET), "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    std::vector<char> buffer(text.size() * 4 + 4);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* outPtr = buffer.data();
    size_t outLeft = buffer.size();
    size_t rc = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    ::iconv_close(cd);
    if (rc == static_cast<size_t>(-1))
        return false;
    out->assign(buffer.data(), buffer.size() - outLeft);
    return true;
}
#endif

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
    if (FromGbk(text, &shown))
        return shown;
    return "no text for this code in this terminal's character set";
}

void PrintLibraryError(VexaCommObject* obj, int32_t code)
{
    std::fprintf(stderr, "error %d: %s\n", code, LibraryErrorText(obj, code).c_str());
}

void PrintSystemError(const std::string& what, int error)
{
    std::fprintf(stderr, "error: %s: %s\n", what.c_str(), SystemErrorText(error).c_str());
}
