#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

#include "VexaCommFile.h"
#include "VexaCommLib.h"
#include "vexacomm/Args.h"
#include "vexacomm/Commands.h"
#include "vexacomm/HostFiles.h"
#include "vexacomm/Interrupt.h"
#include "vexacomm/ProgressBar.h"
#include "vexacomm/Session.h"

namespace {

const char kUsage[] =
    "usage: vexacomm fetch HOST --request FILE --out FILE [options]\n"
    "\n"
    "Connects to the device HOST (name or dotted IPv4 address), prints its type\n"
    "and identification, sends the ASDU 10 request block from FILE and streams\n"
    "the answer into the output file. Ctrl-C asks the device to cancel; the\n"
    "file keeps what arrived.\n"
    "\n"
    "options:\n"
    "  --request FILE     request block (8 + 8*N bytes, N at byte 6)\n"
    "  --out FILE         output file (created or emptied)\n"
    "  --packet-size N    ask the device for packets of N bytes (248..16376)\n"
    "  --port P           TCP port (default 30282)\n"
    "  --timeout S        wait limit in seconds (default 30.03)\n"
    "  --log FILE         append diagnostic lines to FILE\n";

} // namespace

int CmdFetch(int argc, char** argv)
{
    Args args(argc, argv, 2);
    if (args.Flag("--help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::string requestPath = args.Option("--request", "");
    std::string outPath = args.Option("--out", "");
    bool haveSize = args.HasOption("--packet-size");
    uint16_t packetSize = static_cast<uint16_t>(args.NumberOption("--packet-size", 16376, 248, 16376));
    uint16_t port = static_cast<uint16_t>(args.NumberOption("--port", 30282, 1, 65535));
    std::string timeout = args.Option("--timeout", "");
    std::string logPath = args.Option("--log", "");
    std::string host = args.Positionals(1, 1)[0];
    if (requestPath.empty())
        throw UsageError{"--request FILE is required"};
    if (outPath.empty())
        throw UsageError{"--out FILE is required"};
    uint32_t waitMs = 0;
    if (!timeout.empty()) {
        char* end = nullptr;
        double seconds = std::strtod(timeout.c_str(), &end);
        if (*end != '\0' || !(seconds > 0) || seconds > 2000000)
            throw UsageError{"--timeout: expected seconds above 0, got '" + timeout + "'"};
        waitMs = static_cast<uint32_t>(seconds * 1000 + 0.5);
    }

    std::ifstream in(requestPath, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "error: cannot read the request file %s\n", requestPath.c_str());
        return 1;
    }
    std::string request((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string problem = CheckRequest(request);
    if (!problem.empty()) {
        std::fprintf(stderr, "error: %s: %s\n", requestPath.c_str(), problem.c_str());
        return 1;
    }

    if (!logPath.empty())
        VexaComm_SetLogPath(logPath.c_str());
    InstallInterruptHandler();
    ObjectPtr obj(VexaComm_CreateObject());
    if (!obj) {
        std::fprintf(stderr, "error: cannot create a connection object\n");
        return 1;
    }
    if (waitMs != 0)
        VexaComm_SetWaitLimit(obj.get(), waitMs);

    int32_t rc = VexaComm_ConnectPort(obj.get(), host.c_str(), port);
    if (rc == 0 && !VexaComm_IsConnected(obj.get()))
        rc = 71006;
    if (rc != 0) {
        PrintError(obj.get(), rc);
        return 1;
    }
    PrintDevice(obj.get());
    if (haveSize) {
        uint16_t agreed = packetSize;
        rc = VexaComm_SetPacketSizeMax(obj.get(), &agreed);
        if (rc != 0) {
            PrintError(obj.get(), rc);
            return 1;
        }
        std::printf("packet size %u\n", agreed);
    }

    std::FILE* out = std::fopen(outPath.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "error: cannot create %s\n", outPath.c_str());
        return 1;
    }
    ProgressBar bar;
    StdioFile file(out, &bar);
    VexaComm_SetProgressCallback(obj.get(), &ProgressBar::Callback, &bar, 0);
    rc = FetchWithInterrupt(obj.get(), &file, request);
    bar.Finish();
    bool closed = std::fclose(out) == 0;
    if (rc == 0 && !closed) {
        std::fprintf(stderr, "error: writing %s failed\n", outPath.c_str());
        return 1;
    }
    if (rc != 0) {
        PrintError(obj.get(), rc);
        std::fprintf(stderr, "%llu bytes kept in %s\n",
                     static_cast<unsigned long long>(file.Written()), outPath.c_str());
        return 1;
    }
    std::printf("%llu bytes written to %s\n", static_cast<unsigned long long>(file.Written()),
                outPath.c_str());
    return 0;
}
