// Fuzz target: request blocks of any bytes into the service operations, on
// files in a directory of the run's own.
//
// Input: an operation byte, the request's head (12 bytes for a file
// request, the first 36 of a record for a file to receive), then name
// bytes. Names are mapped onto a small alphabet ("ab/.*?" and a few more)
// below the run's directory, with every ".." broken, so that no input
// reaches a path outside it; flags, offsets, record fields and whether a
// record's path ends within it are as the input gives them. Each input
// meets the same tree: two files, a directory, a FIFO and a link.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "FuzzSupport.h"
#include "VexaCommFile.h"
#include "VexaCommService.h"
#include "vexacomm/GLSocket.h"
#include "service/TempDir.h"
#include "support/FileSystemHelpers.h"
#include "doubles/Exposed.h"

namespace {

const std::string& Root()
{
    static const std::string root = [] {
        char pattern[] = "/tmp/vexacomm-fuzz-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        FUZZ_CHECK(made != nullptr);
        SetTempDir((std::string(made) + "/").c_str());
        return std::string(made) + "/t";
    }();
    return root;
}

void WriteFile(const std::string& path, std::size_t size)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    for (std::size_t i = 0; i < size; ++i)
        std::fputc(static_cast<int>('a' + i % 26), f);
    std::fclose(f);
}

// The tree every input starts from.
void ResetTree()
{
    const std::string& root = Root();
    DeleteDirectoryTree(root.c_str(), TRUE);
    FUZZ_CHECK(::mkdir(root.c_str(), 0755) == 0);
    WriteFile(root + "/a", 300);
    WriteFile(root + "/b", 0);
    FUZZ_CHECK(::mkdir((root + "/d").c_str(), 0755) == 0);
    WriteFile(root + "/d/c", 5);
    FUZZ_CHECK(::mkfifo((root + "/f").c_str(), 0644) == 0);
    FUZZ_CHECK(::symlink("a", (root + "/l").c_str()) == 0);
}

// Name bytes as a path below the root; never outside it.
std::string PathFrom(const std::string& bytes)
{
    static const char kAlphabet[] = "abdcfl/.*?";
    std::string name;
    for (char c : bytes.substr(0, 40))
        name += kAlphabet[static_cast<unsigned char>(c) % (sizeof(kAlphabet) - 1)];
    for (std::size_t at; (at = name.find("..")) != std::string::npos;)
        name[at + 1] = '_';
    return Root() + "/" + name;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ResetTree();
    fuzz::InputReader in(data, size);
    const unsigned op = in.Byte() % 6;
    Exposed<CGLSocket> s;
    FileInfoRecord record;
    std::memset(&record, 0, sizeof(record));

    if (op == 0 || op == 1 || op == 2) {
        // A file request: head as given, then the path and its zero.
        std::string block;
        for (int i = 0; i < 12; ++i)
            block += static_cast<char>(in.Byte());
        const std::string path = PathFrom(in.Rest());
        block += path;
        block += '\0';
        const auto* request = reinterpret_cast<const FileRequest*>(block.data());
        if (op == 0) {
            const std::string name = s.ListDirectory(request);
            if (!name.empty()) {
                struct stat st;
                FUZZ_CHECK(::stat(name.c_str(), &st) == 0);
                FUZZ_CHECK(st.st_size % sizeof(FileInfoRecord) == 0);
                ::unlink(name.c_str());
            }
        } else {
            CFile* file = s.OpenSendFile(&record, request);
            if (file != nullptr) {
                FUZZ_CHECK(file->GetLength() == record.size);
                FUZZ_CHECK(record.startOffset == request->startOffset);
                s.CloseTransferFile(file, 0, 0);
            }
        }
    } else if (op == 3) {
        // A record to receive: its first 36 bytes as given, the path field
        // ended within it or not.
        auto* head = reinterpret_cast<std::uint8_t*>(&record);
        for (int i = 0; i < 36; ++i)
            head[i] = in.Byte();
        const bool unterminated = in.Byte() & 1;
        const std::string path = PathFrom(in.Rest());
        std::memset(record.path, unterminated ? 'a' : 0, sizeof(record.path));
        if (!unterminated)
            std::memcpy(record.path, path.data(), std::min(path.size(), sizeof(record.path) - 1));
        CFile* file = s.CreateReceiveFile(&record);
        if (unterminated)
            FUZZ_CHECK(file == nullptr);
        if (file != nullptr) {
            file->Write("xyz", 3);
            s.CloseTransferFile(file, 0, 0);
            FUZZ_CHECK(Exists(record.path));
        }
    } else if (op == 4) {
        const std::string path = PathFrom(in.Rest());
        if (s.GetFileInfo(&record, path.c_str())) {
            struct stat st;
            FUZZ_CHECK(::stat(path.c_str(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)));
            if (S_ISREG(st.st_mode))
                FUZZ_CHECK(record.size == static_cast<std::uint32_t>(st.st_size));
        }
    } else {
        const bool make = in.Byte() & 1;
        const std::string path = PathFrom(in.Rest());
        if (make) {
            s.MakeDirectory(path.c_str());
        } else {
            // A plain name below the root names one entry. Unless it is a
            // directory (a tree goes only when named with a separator at
            // its end), it is gone afterwards.
            const std::string name = path.substr(Root().size() + 1);
            struct stat st;
            const bool plainEntry = !name.empty() && name.find_first_of("/.*?") == std::string::npos &&
                                    ::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
            s.DeletePath(path.c_str());
            if (plainEntry)
                FUZZ_CHECK(!Exists(path));
        }
    }
    return 0;
}
