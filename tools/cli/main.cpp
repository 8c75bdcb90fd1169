// vexacomm: fetch data from a device, simulate one, compress files.
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <exception>

#include "VexaCommLib.h"
#include "cli/Args.h"
#include "cli/Commands.h"
#include "cli/ErrorText.h"
#include "cli/Interrupt.h"
#include "cli/Platform.h"

namespace {

struct Command {
    const char* name;
    int (*run)(int argc, char** argv);
    const char* summary;
};

const Command kCommands[] = {
    {"demo", CmdDemo, "demo                  fetch from a built-in simulated device and verify"},
    {"fetch", CmdFetch, "fetch HOST ...        fetch ASDU 10 data from a device into a file"},
    {"fetch-all", CmdFetchAll, "fetch-all LIST ...    fetch from every device in a list, many at once"},
    {"simulate", CmdSimulate, "simulate [options]    run a simulated device on a loopback address"},
    {"conform", CmdConform, "conform HOST[:PORT]   check a device against the protocol's transcripts"},
    {"compress", CmdCompress, "compress SRC DST      LZHUF-compress a file"},
    {"decompress", CmdDecompress, "decompress SRC DST    restore a compressed file"},
};

void PrintUsage(FILE* out)
{
    std::fprintf(out, "usage: vexacomm COMMAND [options]   (vexacomm COMMAND --help)\n"
                      "       vexacomm --version\n\ncommands:\n");
    for (const Command& c : kCommands)
        std::fprintf(out, "  %s\n", c.summary);
    std::fprintf(out, "\nExit status: 0 success, 1 failure, 2 bad command line, 130/143 after\n"
                      "Ctrl-C/SIGTERM.\n");
}

// A lost line of standard output (a closed pipe, a full disk) fails the
// command however it ended: the reader would take what it got for all.
// Closing tells of a write the system deferred; a descriptor closed before
// the start (>&-) with nothing written to it is no failure.
int FinishStandardOutput(int rc)
{
    errno = 0;
    bool failed = std::ferror(stdout) != 0;
    int error = 0;
    if (std::fflush(stdout) != 0) {
        failed = true;
        error = errno;
    }
    if (!failed) {
        errno = 0;
        if (std::fclose(stdout) != 0 && errno != EBADF) {
            failed = true;
            error = errno;
        }
    }
    if (!failed)
        return rc;
    PrintStdoutError(error != 0 ? std::strerror(error) : StreamFailure(stdout));
    return rc != 0 ? rc : 1;
}

} // namespace

int main(int argc, char** argv)
{
    // Before any thread exists, so that every thread inherits the signal mask.
    InstallInterruptHandler();
    std::setlocale(LC_CTYPE, "");
    if (!StartSockets()) {
        std::fprintf(stderr, "vexacomm: Windows Sockets could not be started\n");
        return 1;
    }
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        PrintUsage(stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        // The library may be another build than the program's.
        std::printf("vexacomm %s, library %s\n", VEXACOMM_VERSION, VexaComm_GetVersion());
        return 0;
    }
    for (const Command& c : kCommands) {
        if (std::strcmp(argv[1], c.name) != 0)
            continue;
        SetCommandName(c.name);
        try {
            return FinishStandardOutput(c.run(argc, argv));
        } catch (const UsageError& e) {
            std::fprintf(stderr, "vexacomm %s: %s (see --help)\n", c.name, e.message.c_str());
            return 2;
        } catch (const std::exception& e) {
            // Nothing is meant to arrive here; if it does, it ends with a
            // message rather than an abort.
            std::fprintf(stderr, "error: %s\n", e.what());
            return 1;
        }
    }
    std::fprintf(stderr, "vexacomm: unknown command '%s' (see --help)\n", argv[1]);
    return 2;
}
