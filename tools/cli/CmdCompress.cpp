// The compress and decompress commands: the library's LZHUF streams, from
// SRC into a replacement of DST.
#include <cstdio>
#include <string>
#include <vector>

#include "VexaCommLib.h"
#include "cli/Args.h"
#include "cli/Commands.h"
#include "cli/ErrorText.h"
#include "cli/Replacement.h"
#include "cli/SystemFile.h"

namespace {

const char kCompressUsage[] =
    "usage: vexacomm compress SRC DST [--force]\n"
    "\n"
    "LZHUF-compresses the regular file SRC (under 4 GiB) into DST.\n";

const char kDecompressUsage[] =
    "usage: vexacomm decompress SRC DST [--force]\n"
    "\n"
    "Restores the LZHUF-compressed file SRC into DST.\n";

const char kCommonUsage[] =
    "\n"
    "DST is written under a new name beside it and renamed over it only when\n"
    "complete, so a failure or Ctrl-C leaves an existing DST as it was. SRC\n"
    "and DST must be different files, and an existing DST a regular file.\n"
    "\n"
    "options:\n"
    "  -f, --force   replace DST even when it is read-only\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 bad command line, 130/143 after\n"
    "Ctrl-C/SIGTERM.\n";

struct Job {
    std::string src;
    std::string dst;
    bool force = false;
};

bool ReadJob(int argc, char** argv, const char* usage, Job* job)
{
    Args args(argc, argv, 2, {{"--force", false}, {"-f", false}});
    if (args.Help()) {
        std::fputs(usage, stdout);
        std::fputs(kCommonUsage, stdout);
        return false;
    }
    const std::vector<std::string>& paths = args.Positionals(2, 2);
    job->src = paths[0];
    job->dst = paths[1];
    job->force = args.Has("--force") || args.Has("-f");
    return true;
}

bool OpenSource(const std::string& path, SystemFile* file)
{
    if (int error = file->OpenRead(path)) {
        PrintSystemError(path, error);
        return false;
    }
    if (file->Kind() != FileKind::Regular) {
        std::fprintf(stderr, "error: %s: not a regular file\n", path.c_str());
        return false;
    }
    return true;
}

// The file whose system error ended the run, named as the user named it.
void PrintFileFailure(const Job& job, const SystemFile& src, const SystemFile& out)
{
    if (src.LastError() != 0)
        PrintSystemError("reading " + job.src, src.LastError());
    else if (out.LastError() != 0)
        PrintSystemError("writing " + job.dst, out.LastError());
    else
        std::fprintf(stderr, "error: %s: changed while it was being read\n", job.src.c_str());
}

// Any non-zero answer ends the stream; the file keeps the system's reason.
constexpr int32_t kFileFailed = CFileException::genericException;

int32_t VEXACOMM_CALL ReadSource(void* user, void* buffer, uint32_t size, uint32_t* got)
{
    try {
        *got = static_cast<SystemFile*>(user)->Read(buffer, size);
        return 0;
    } catch (CFileException* e) {
        e->Delete();
        return kFileFailed;
    }
}

int32_t VEXACOMM_CALL WriteTarget(void* user, const void* data, uint32_t size)
{
    try {
        static_cast<SystemFile*>(user)->Write(data, size);
        return 0;
    } catch (CFileException* e) {
        e->Delete();
        return kFileFailed;
    }
}

} // namespace

int CmdCompress(int argc, char** argv)
{
    Job job;
    if (!ReadJob(argc, argv, kCompressUsage, &job))
        return 0;
    SystemFile src;
    if (!OpenSource(job.src, &src))
        return 1;
    if (src.Size() > 0xFFFFFFFFu) {
        std::fprintf(stderr, "error: %s: 4 GiB or larger, more than the format's size field holds\n",
                     job.src.c_str());
        return 1;
    }
    CReplacement out;
    if (!out.Begin(job.dst, src, job.force))
        return 1;
    const int32_t rc = VexaComm_CompressStream(ReadSource, &src, static_cast<uint32_t>(src.Size()),
                                               WriteTarget, &out.File());
    if (rc != 0) {
        PrintFileFailure(job, src, out.File());
        return 1;
    }
    return out.Commit() ? 0 : 1;
}

int CmdDecompress(int argc, char** argv)
{
    Job job;
    if (!ReadJob(argc, argv, kDecompressUsage, &job))
        return 0;
    SystemFile src;
    if (!OpenSource(job.src, &src))
        return 1;
    CReplacement out;
    if (!out.Begin(job.dst, src, job.force))
        return 1;
    const int32_t rc = VexaComm_DecompressStream(ReadSource, &src, WriteTarget, &out.File());
    switch (rc) {
    case 0:
        return out.Commit() ? 0 : 1;
    case VEXACOMM_ERR_DATA_TRUNCATED:
    case VEXACOMM_ERR_DATA_CORRUPT:
        std::fprintf(stderr, "error: %s: %s\n", job.src.c_str(), LibraryErrorText(nullptr, rc).c_str());
        return 1;
    default:
        PrintFileFailure(job, src, out.File());
        return 1;
    }
}
