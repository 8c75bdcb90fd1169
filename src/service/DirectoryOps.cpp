// Directory creation and deletion on a peer's request. Both always answer
// success: the peer learns nothing of how far the file system went.
#include "platform/HostProcess.h"
#include "vexacomm/GLSocket.h"
#include "support/FileSystemHelpers.h"

BOOL CGLSocket::MakeDirectory(const char* path)
{
    CreateDirectoryPath(path);
    return SendReply(0);
}

// A trailing separator names a directory tree, removed with the directory
// itself; anything else names a file.
BOOL CGLSocket::DeletePath(const char* path)
{
    if (path != nullptr && path[0] != '\0') {
        std::string text(path);
        if (text.back() == plat::kPathSeparator)
            DeleteDirectoryTree(path, TRUE);
        else
            ForceDeleteFile(path);
    }
    return SendReply(0);
}
