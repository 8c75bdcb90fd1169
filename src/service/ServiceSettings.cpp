// The service side's settings on the class: its root and its programs.
#include "platform/Beneath.h"
#include "platform/SystemErrors.h"
#include "service/ListingFiles.h"
#include "service/ServiceLimits.h"
#include "vexacomm/GLSocket.h"

CGLSocket::~CGLSocket()
{
    DropListingOf(this);
    ForgetServiceLimits(this);
}

BOOL CGLSocket::SetServiceRoot(const char* root)
{
    if (root == nullptr) {
        SetServiceRootOf(this, std::string());
        return TRUE;
    }
    const std::string resolved = root[0] != '\0' ? plat::ResolvedPath(root) : std::string();
    plat::BeneathDir dir;
    if (resolved.empty() || !plat::OpenRootDir(resolved.c_str(), &dir)) {
        int error = plat::LastSystemError();
        SetError(resolved.empty() || error == plat::kErrorFileNotFound ? plat::kErrorPathNotFound
                 : error == plat::kErrorPathNotFound                   ? plat::kErrorDirectory
                                                                       : error);
        return FALSE;
    }
    SetServiceRootOf(this, resolved);
    return TRUE;
}

BOOL CGLSocket::SetServicePrograms(const char* const* programs)
{
    std::vector<std::string> resolved;
    for (const char* const* at = programs; at != nullptr && *at != nullptr; ++at) {
        resolved.push_back(plat::ResolvedPath(*at));
        if (resolved.back().empty()) {
            SetError(plat::kErrorFileNotFound);
            return FALSE;
        }
    }
    SetServiceProgramsOf(this, programs != nullptr, resolved);
    return TRUE;
}
