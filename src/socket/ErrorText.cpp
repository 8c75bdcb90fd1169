// Texts of error codes: the companion library's where it has one, else the
// fixed fallback format.
#include <cstdio>

#include "platform/DynamicLibrary.h"
#include "platform/HostProcess.h"
#include "vexacomm/GLSocket.h"

namespace {

// "CONN-%lu : " followed by the GBK text for "unknown error type".
const char kFallbackFormat[] = "CONN-%lu : \xCE\xB4\xD6\xAA\xB4\xED\xCE\xF3\xC0\xE0\xD0\xCD";
const char kCompanionName[] = "CONNERROR.DLL";
const char kCompanionExport[] = "GetErrorString";
const char kCompanionPrefix[] = "CONN-%lu : ";

typedef const char* (*CompanionGetErrorString)(unsigned long code, const char* prefixFormat);

// The companion lies beside the host executable: its real path (a host
// started through PATH has no directory in its first argument), else the
// first argument, cut after the last separator; or the bare name for the
// ordinary search.
std::string CompanionPath()
{
    std::string host = plat::HostExecutablePath();
    if (host.empty())
        host = plat::HostFirstArgument();
    std::string::size_type cut = host.find_last_of(plat::kPathSeparator);
    std::string path = cut == std::string::npos ? std::string() : host.substr(0, cut + 1);
    return path + kCompanionName;
}

// Loaded and released on every call: nothing about it is cached.
std::string CompanionText(std::uint32_t code)
{
    std::string text;
    plat::LibraryHandle library = plat::OpenLibrary(CompanionPath().c_str());
    if (library == nullptr)
        return text;
    auto fn = reinterpret_cast<CompanionGetErrorString>(
        plat::LibrarySymbol(library, kCompanionExport));
    if (fn != nullptr) {
        const char* answer = fn(code, kCompanionPrefix);
        if (answer != nullptr)
            text = answer;
    }
    plat::CloseLibrary(library);
    return text;
}

} // namespace

std::string CPacketSocket::ErrorTextFor(std::int32_t code)
{
    if (code == 0)
        return std::string();
    std::uint32_t unsignedCode = static_cast<std::uint32_t>(code);
    std::string text = CompanionText(unsignedCode);
    return text.empty() ? FallbackErrorText(code) : text;
}

std::string CPacketSocket::FallbackErrorText(std::int32_t code)
{
    char buf[64];
    std::snprintf(buf, sizeof(buf), kFallbackFormat,
                  static_cast<unsigned long>(static_cast<std::uint32_t>(code)));
    return buf;
}

std::string CPacketSocket::GetErrorString() { return ErrorTextFor(m_nLastError); }
