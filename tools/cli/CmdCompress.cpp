// The compress and decompress commands: the library's LZHUF streams, from
// SRC into a replacement of DST; "-" is standard input or output.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "VexaCommLib.h"
#include "cli/Args.h"
#include "cli/Commands.h"
#include "cli/ErrorText.h"
#include "cli/Platform.h"
#include "cli/Replacement.h"
#include "cli/SystemFile.h"

namespace {

const char kCompressUsage[] =
    "usage: vexacomm compress SRC DST [--force]\n"
    "\n"
    "LZHUF-compresses the regular file SRC (under 4 GiB) into DST. SRC - reads\n"
    "standard input (whole, before writing: the size leads the format); DST -\n"
    "writes standard output, refused when that is a terminal unless --force.\n";

const char kDecompressUsage[] =
    "usage: vexacomm decompress SRC DST [--force]\n"
    "\n"
    "Restores the LZHUF-compressed file SRC into DST. SRC - reads standard\n"
    "input, refused when that is a terminal unless --force; DST - writes\n"
    "standard output.\n";

const char kCommonUsage[] =
    "\n"
    "DST is written under a new name beside it and renamed over it only when\n"
    "complete, so a failure or Ctrl-C leaves an existing DST as it was. SRC\n"
    "and DST must be different files, and an existing DST a regular file.\n"
    "\n"
    "options:\n"
    "  -f, --force   replace DST even when it is read-only; compressed data\n"
    "                to or from a terminal\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 bad command line, 130/143 after\n"
    "Ctrl-C/SIGTERM.\n";

constexpr std::uint64_t kSizeMax = 0xFFFFFFFFu;

struct Job {
    std::string src;
    std::string dst;
    std::string srcName; // as messages name it
    std::string dstName;
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
    job->srcName = job->src == "-" ? "standard input" : job->src;
    job->dstName = job->dst == "-" ? "standard output" : job->dst;
    job->force = args.Has("--force") || args.Has("-f");
    return true;
}

// SRC as the codec reads it. It counts what it delivered and keeps the
// first bytes: the size header, when SRC is a compressed file.
struct Source {
    SystemFile file;
    std::string spool; // standard input read whole, for compress
    bool spooled = false;
    std::size_t spoolAt = 0;
    std::uint64_t delivered = 0;
    unsigned char head[4] = {};
};

bool OpenSource(const Job& job, Source* source)
{
    if (job.src == "-") {
        source->file.UseStdin();
        return true;
    }
    if (int error = source->file.OpenRead(job.src)) {
        PrintSystemError(job.src, error);
        return false;
    }
    if (source->file.Kind() != FileKind::Regular) {
        std::fprintf(stderr, "error: %s: not a regular file\n", job.src.c_str());
        return false;
    }
    return true;
}

bool SpoolStdin(Source* source)
{
    std::vector<char> buffer(1 << 20);
    try {
        while (std::uint32_t got = source->file.Read(buffer.data(), static_cast<uint32_t>(buffer.size()))) {
            source->spool.append(buffer.data(), got);
            if (source->spool.size() > kSizeMax) {
                std::fprintf(stderr, "error: standard input: 4 GiB or more, more than the format's size field holds\n");
                return false;
            }
        }
    } catch (CFileException* e) {
        e->Delete();
        PrintSystemError("reading standard input", source->file.LastError());
        return false;
    }
    source->spooled = true;
    return true;
}

// DST: a replacement of the file, or standard output as the data comes.
class Target {
public:
    bool Begin(const Job& job, const SystemFile& source)
    {
        if (job.dst != "-")
            return m_replacement.Begin(job.dst, source, job.force);
        m_stdout.UseStdout();
        m_toStdout = true;
        return true;
    }
    SystemFile& File() { return m_toStdout ? m_stdout : m_replacement.File(); }
    bool Commit() { return m_toStdout || m_replacement.Commit(); }

private:
    CReplacement m_replacement;
    SystemFile m_stdout;
    bool m_toStdout = false;
};

// The file whose system error ended the run, named as the user named it.
void PrintFileFailure(const Job& job, const Source& src, const SystemFile& out)
{
    if (src.file.LastError() != 0)
        PrintSystemError("reading " + job.srcName, src.file.LastError());
    else if (out.LastError() != 0 && job.dst == "-")
        PrintStdoutError(SystemErrorText(out.LastError()));
    else if (out.LastError() != 0)
        PrintSystemError("writing " + job.dstName, out.LastError());
    else
        std::fprintf(stderr, "error: %s: changed while it was being read\n", job.srcName.c_str());
}

// The format has no magic number, only the restored size up front, and
// no stream restores more than 48 bytes per byte (a 60-byte match costs at
// least 10 bits): a header asking for more marks a file of another kind.
std::string NotCompressed(const Source& src)
{
    if (src.delivered < sizeof(src.head))
        return "not a compressed file: shorter than the 4-byte size header";
    std::uint64_t size = 0;
    for (int i = 3; i >= 0; --i)
        size = size << 8 | src.head[i];
    const std::uint64_t data = src.delivered - sizeof(src.head);
    if (size <= data * 48)
        return "";
    return "not a compressed file: its header gives a size of " + std::to_string(size) + " bytes, more than " +
           std::to_string(data) + (data == 1 ? " byte" : " bytes") + " of compressed data can hold";
}

// Any non-zero answer ends the stream; the file keeps the system's reason.
constexpr int32_t kFileFailed = CFileException::genericException;

int32_t VEXACOMM_CALL ReadSource(void* user, void* buffer, uint32_t size, uint32_t* got)
{
    auto* src = static_cast<Source*>(user);
    uint32_t n = 0;
    if (src->spooled) {
        n = static_cast<uint32_t>(std::min<std::size_t>(size, src->spool.size() - src->spoolAt));
        std::memcpy(buffer, src->spool.data() + src->spoolAt, n);
        src->spoolAt += n;
    } else {
        try {
            n = src->file.Read(buffer, size);
        } catch (CFileException* e) {
            e->Delete();
            return kFileFailed;
        }
    }
    for (uint32_t i = 0; i < n && src->delivered + i < sizeof(src->head); ++i)
        src->head[src->delivered + i] = static_cast<const unsigned char*>(buffer)[i];
    src->delivered += n;
    *got = n;
    return 0;
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
    if (job.dst == "-" && !job.force && IsTerminal(stdout))
        throw UsageError{"standard output is a terminal: compressed data is not written there; redirect it, or "
                         "add --force"};
    Source src;
    if (!OpenSource(job, &src))
        return 1;
    if (job.src == "-" && !SpoolStdin(&src))
        return 1;
    const std::uint64_t size = src.spooled ? src.spool.size() : src.file.Size();
    if (size > kSizeMax) {
        std::fprintf(stderr, "error: %s: 4 GiB or larger, more than the format's size field holds\n",
                     job.src.c_str());
        return 1;
    }
    Target out;
    if (!out.Begin(job, src.file))
        return 1;
    const int32_t rc =
        VexaComm_CompressStream(ReadSource, &src, static_cast<uint32_t>(size), WriteTarget, &out.File());
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
    if (job.src == "-" && !job.force && IsTerminal(stdin))
        throw UsageError{"standard input is a terminal: compressed data is not read from there; redirect it, or "
                         "add --force"};
    Source src;
    if (!OpenSource(job, &src))
        return 1;
    Target out;
    if (!out.Begin(job, src.file))
        return 1;
    const int32_t rc = VexaComm_DecompressStream(ReadSource, &src, WriteTarget, &out.File());
    std::string why;
    switch (rc) {
    case 0:
        return out.Commit() ? 0 : 1;
    case VEXACOMM_ERR_DATA_TRUNCATED:
        why = NotCompressed(src);
        if (why.empty())
            why = LibraryErrorText(nullptr, rc);
        std::fprintf(stderr, "error: %s: %s\n", job.srcName.c_str(), why.c_str());
        return 1;
    case VEXACOMM_ERR_DATA_CORRUPT:
        std::fprintf(stderr, "error: %s: %s\n", job.srcName.c_str(), LibraryErrorText(nullptr, rc).c_str());
        return 1;
    default:
        PrintFileFailure(job, src, out.File());
        return 1;
    }
}
