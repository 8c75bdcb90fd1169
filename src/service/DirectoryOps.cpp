// Directory creation and deletion on a peer's request. Both always answer
// success: the peer learns nothing of how far the file system went.
#include "platform/SystemErrors.h"
#include "service/PeerFiles.h"
#include "service/ServiceLimits.h"
#include "vexacomm/GLSocket.h"

namespace {
// Beneath a root, a path that would lead out is answered with access
// denied; every other failure still with success.
std::uint32_t Answer(const std::string& root, bool done)
{
    return !done && !root.empty() && plat::LastSystemError() == plat::kErrorAccessDenied
               ? static_cast<std::uint32_t>(plat::kErrorAccessDenied)
               : 0;
}
} // namespace

BOOL CGLSocket::MakeDirectory(const char* path)
{
    const std::string root = ServiceLimitsOf(this).root;
    return SendReply(Answer(root, PeerMakeDirectory(root, path)));
}

// A trailing separator names a directory tree, removed with the directory
// itself; anything else names a file.
BOOL CGLSocket::DeletePath(const char* path)
{
    const std::string root = ServiceLimitsOf(this).root;
    return SendReply(Answer(root, PeerDelete(root, path)));
}
