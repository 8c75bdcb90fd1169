#include "vexacomm/Session.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <clocale>
#include <cstdio>
#include <thread>
#include <vector>

#ifdef _WIN32
#include "platform/win32/WinApi.h"
#else
#include <iconv.h>
#include <langinfo.h>
#endif

#include "vexacomm/Interrupt.h"

namespace {

#ifdef _WIN32
// The library's texts are GBK (code page 936); the console shows its own
// output code page.
std::string ForTerminal(const std::string& text)
{
    const UINT kGbk = 936;
    UINT console = ::GetConsoleOutputCP();
    if (console == 0 || console == kGbk || text.empty())
        return text;
    int wide = ::MultiByteToWideChar(kGbk, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (wide <= 0)
        return text;
    std::vector<wchar_t> buffer(static_cast<std::size_t>(wide));
    ::MultiByteToWideChar(kGbk, 0, text.data(), static_cast<int>(text.size()), buffer.data(), wide);
    int bytes = ::WideCharToMultiByte(console, 0, buffer.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return text;
    std::string out(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(console, 0, buffer.data(), wide, &out[0], bytes, nullptr, nullptr);
    return out;
}
#else
// The library's texts are GBK; a UTF-8 terminal needs them converted.
std::string ForTerminal(const std::string& text)
{
    std::setlocale(LC_CTYPE, "");
    std::string codeset = nl_langinfo(CODESET);
    if (codeset != "UTF-8")
        return text;
    iconv_t cd = iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return text;
    std::vector<char> out(text.size() * 4 + 4);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1))
        return text;
    return std::string(out.data(), out.size() - outLeft);
}
#endif

} // namespace

void PrintError(VexaCommObject* obj, int32_t code)
{
    char text[512];
    VexaComm_GetErrorText(obj, code, text, sizeof(text));
    std::fprintf(stderr, "error %d: %s\n", code, ForTerminal(text).c_str());
}

void PrintDevice(VexaCommObject* obj)
{
    char ident[1024];
    VexaComm_GetIdent(obj, ident, sizeof(ident));
    std::printf("device type %u, ident \"%s\"\n", VexaComm_GetDeviceType(obj),
                ForTerminal(ident).c_str());
    std::fflush(stdout);
}

int32_t FetchWithInterrupt(VexaCommObject* obj, VexaCommFile* file, const std::string& request)
{
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    // A cancel asked for before the transfer starts would be dropped when it
    // starts, so keep asking until the fetch returns.
    std::thread watcher([&] {
        std::unique_lock<std::mutex> lock(mutex);
        while (!cv.wait_for(lock, std::chrono::milliseconds(50), [&] { return done; })) {
            if (Interrupted())
                VexaComm_CancelTransfer(obj);
        }
    });
    int32_t rc = VexaComm_GetAsdu10(obj, file, request.data());
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    cv.notify_all();
    watcher.join();
    return rc;
}

std::string DefaultRequest()
{
    std::string request(8, '\0');
    request[6] = '\xFF';
    request[7] = '\xFF';
    return request;
}

std::string CheckRequest(const std::string& request)
{
    if (request.size() < 8)
        return "a request block has at least 8 bytes, this one " + std::to_string(request.size());
    int count = static_cast<int16_t>(static_cast<uint8_t>(request[6]) |
                                     (static_cast<uint8_t>(request[7]) << 8));
    if (count < -1 || count > 2046)
        return "the entry count " + std::to_string(count) + " at byte 6 is outside -1..2046";
    std::size_t needed = count < 0 ? 8 : 8 + 8 * static_cast<std::size_t>(count);
    if (request.size() < needed)
        return "the entry count " + std::to_string(count) + " needs " + std::to_string(needed) +
               " bytes, the file has " + std::to_string(request.size());
    return std::string();
}
