// The compress and decompress commands: LZHUF through the encoder's and
// decoder's stream interface, into a replacement of DST.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "lzh/LzhufDecoder.h"
#include "lzh/LzhufEncoder.h"
#include "vexacomm/Args.h"
#include "vexacomm/Commands.h"
#include "vexacomm/ErrorText.h"
#include "vexacomm/Replacement.h"
#include "vexacomm/SystemFile.h"

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
    auto encoder = std::make_unique<CLzhufEncoder>();
    try {
        encoder->Encode(&src, &out.File());
    } catch (CFileException* e) {
        e->Delete();
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
    auto decoder = std::make_unique<CLzhufDecoder>();
    const LzhufStatus status = decoder->Decode(&src, &out.File());
    switch (status) {
    case LzhufStatus::Ok:
        return out.Commit() ? 0 : 1;
    case LzhufStatus::ReadFailed:
    case LzhufStatus::WriteFailed:
        PrintFileFailure(job, src, out.File());
        return 1;
    default:
        std::fprintf(stderr, "error: %s: %s\n", job.src.c_str(), LzhufStatusText(status));
        return 1;
    }
}
