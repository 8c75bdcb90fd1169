// Fuzz target: the service operations beneath a root, on request paths
// made of names that lead out ("..", links to the outside, a second hard
// link) as often as in. A victim tree beside the root is compared before
// and after every input: nothing outside the root ever changes.
//
// Input: an operation byte, a byte of flags (bit 0: the openat walk instead
// of openat2; the rest the request's flags), then one token per byte.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "FuzzSupport.h"
#include "VexaCommFile.h"
#include "VexaCommService.h"
#include "doubles/Exposed.h"
#include "doubles/TreeSnapshot.h"
#include "platform/Beneath.h"
#include "service/TempDir.h"
#include "support/FileSystemHelpers.h"
#include "vexacomm/GLSocket.h"

namespace {

const std::string& Base()
{
    static const std::string base = [] {
        char pattern[] = "/tmp/vexacomm-confined-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        FUZZ_CHECK(made != nullptr);
        return std::string(made);
    }();
    return base;
}

void WriteFile(const std::string& path, const char* text)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    std::fputs(text, f);
    std::fclose(f);
}

// The root every input starts from, and the victim made once.
const std::string& ResetTree()
{
    static const std::string root = [] {
        const std::string victim = Base() + "/victim";
        FUZZ_CHECK(::mkdir(victim.c_str(), 0755) == 0 && ::mkdir((victim + "/d").c_str(), 0755) == 0);
        WriteFile(victim + "/s", "secret");
        WriteFile(victim + "/d/s", "secret too");
        WriteFile(victim + "/h", "linked");
        return Base() + "/root";
    }();
    DeleteDirectoryTree(root.c_str(), TRUE);
    FUZZ_CHECK(::mkdir(root.c_str(), 0755) == 0 && ::mkdir((root + "/d").c_str(), 0755) == 0);
    WriteFile(root + "/a", "inside");
    WriteFile(root + "/d/a", "inside too");
    FUZZ_CHECK(::symlink("../victim", (root + "/out").c_str()) == 0);
    FUZZ_CHECK(::symlink("../victim/s", (root + "/f").c_str()) == 0);
    FUZZ_CHECK(::symlink("../../victim", (root + "/d/up").c_str()) == 0);
    FUZZ_CHECK(::link((Base() + "/victim/h").c_str(), (root + "/h").c_str()) == 0);
    return root;
}

std::string PathFrom(const std::string& bytes)
{
    static const char* const kTokens[] = {"a", "d", "s", "h", "f", "out", "up", "victim", "..", ".",
                                          "/", "/", "*", "?", "x", "root"};
    std::string path;
    for (char c : bytes.substr(0, 32))
        path += kTokens[static_cast<unsigned char>(c) % (sizeof(kTokens) / sizeof(kTokens[0]))];
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& root = ResetTree();
    // The victim tree and the names beside the root.
    static const std::string before = TreeSnapshot(Base(), "root");
    fuzz::InputReader in(data, size);
    const unsigned op = in.Byte() % 7;
    const std::uint8_t flags = in.Byte();
    const std::string path = PathFrom(in.Rest());
    plat::UseBeneathWalk(flags & 1);
    SetTempDir("/tmp/");
    Exposed<CGLSocket> s;
    FUZZ_CHECK(s.SetServiceRoot(root.c_str()));
    FileInfoRecord record;
    std::memset(&record, 0, sizeof(record));
    std::string block(12, '\0');
    block[2] = static_cast<char>(flags >> 1);
    block += path + '\0';
    const auto* request = reinterpret_cast<const FileRequest*>(block.data());

    switch (op) {
    case 0:
        s.ListDirectory(request);
        break;
    case 1:
        s.CloseTransferFile(s.OpenSendFile(&record, request), 0, 0);
        break;
    case 2: {
        std::memcpy(record.path, path.data(), std::min(path.size(), sizeof(record.path) - 1));
        CFile* file = s.CreateReceiveFile(&record);
        if (file != nullptr)
            file->Write("written", 7);
        s.CloseTransferFile(file, 0, 0);
        break;
    }
    case 3:
        s.GetFileInfo(&record, path.c_str());
        break;
    case 4:
        s.MakeDirectory(path.c_str());
        break;
    default:
        s.DeletePath(path.c_str());
        break;
    }
    plat::UseBeneathWalk(false);
    FUZZ_CHECK(TreeSnapshot(Base(), "root") == before);
    return 0;
}
