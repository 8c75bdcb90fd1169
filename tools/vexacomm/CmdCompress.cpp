#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "lzh/LzhufDecoder.h"
#include "lzh/LzhufEncoder.h"
#include "platform/SystemErrors.h"
#include "support/File.h"
#include "vexacomm/Args.h"
#include "vexacomm/Commands.h"

namespace {

const char* SystemErrorText(int code)
{
    switch (code) {
    case kErrorFileNotFound: return "file not found";
    case kErrorPathNotFound: return "path not found";
    case kErrorAccessDenied: return "access denied";
    case kErrorSharingViolation: return "file is in use";
    case kErrorDiskFull: return "disk full";
    case kErrorFilenameTooLong: return "file name too long";
    case kErrorFileTooLarge: return "file is 4 GiB or larger";
    default: return "system error";
    }
}

const char* FileCauseText(int cause)
{
    switch (cause) {
    case CFileException::fileNotFound: return "file not found";
    case CFileException::accessDenied: return "access denied";
    case CFileException::hardIO: return "I/O error";
    case CFileException::diskFull: return "disk full";
    case CFileException::endOfFile: return "source ended early";
    default: return "file error";
    }
}

} // namespace

int CmdCompress(int argc, char** argv)
{
    Args args(argc, argv, 2);
    if (args.Flag("--help") || args.Flag("-h")) {
        std::printf("usage: vexacomm compress SRC DST\n\n"
                    "LZHUF-compresses SRC into DST (written as DST.z!! and then renamed).\n"
                    "DST is deleted first. Exit status 0 on success, 1 on failure.\n");
        return 0;
    }
    const std::vector<std::string> paths = args.Positionals(2, 2);
    const std::string& src = paths[0];
    const std::string& dst = paths[1];

    auto encoder = std::make_unique<CLzhufEncoder>();
    try {
        if (!encoder->CompressFile(src.c_str(), dst.c_str())) {
            const int error = plat::LastSystemError();
            std::fprintf(stderr, "error: cannot compress %s into %s: %s (%d)\n", src.c_str(),
                         dst.c_str(), SystemErrorText(error), error);
            return 1;
        }
    } catch (CFileException* e) {
        const int cause = e->m_cause;
        e->Delete();
        std::fprintf(stderr, "error: compressing %s failed: %s (cause %d); %s.z!! is incomplete\n",
                     src.c_str(), FileCauseText(cause), cause, dst.c_str());
        return 1;
    }
    return 0;
}

int CmdDecompress(int argc, char** argv)
{
    Args args(argc, argv, 2);
    if (args.Flag("--help") || args.Flag("-h")) {
        std::printf("usage: vexacomm decompress SRC DST\n\n"
                    "Restores the LZHUF-compressed file SRC into DST (created or replaced).\n"
                    "DST is removed again if SRC turns out damaged. Exit status 0 on success,\n"
                    "1 on failure.\n");
        return 0;
    }
    const std::vector<std::string> paths = args.Positionals(2, 2);
    const std::string& src = paths[0];
    const std::string& dst = paths[1];

    auto decoder = std::make_unique<CLzhufDecoder>();
    const LzhufStatus status = decoder->DecompressFile(src.c_str(), dst.c_str());
    switch (status) {
    case LzhufStatus::Ok:
        return 0;
    case LzhufStatus::SourceOpenFailed:
    case LzhufStatus::TargetOpenFailed:
        std::fprintf(stderr, "error: %s %s: %s (%d)\n", LzhufStatusText(status),
                     status == LzhufStatus::SourceOpenFailed ? src.c_str() : dst.c_str(),
                     SystemErrorText(decoder->GetFileError()), decoder->GetFileError());
        return 1;
    case LzhufStatus::ReadFailed:
    case LzhufStatus::WriteFailed:
        std::fprintf(stderr, "error: %s: %s (cause %d)\n", LzhufStatusText(status),
                     FileCauseText(decoder->GetFileError()), decoder->GetFileError());
        return 1;
    default:
        std::fprintf(stderr, "error: %s: %s\n", src.c_str(), LzhufStatusText(status));
        return 1;
    }
}
