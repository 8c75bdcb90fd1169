// The fetch command: one ASDU 10 transfer from a device into a file or
// standard output.
#include <chrono>
#include <cstdio>
#include <memory>

#include "VexaCommFile.h"
#include "VexaCommLib.h"
#include "cli/Args.h"
#include "cli/Commands.h"
#include "cli/ErrorText.h"
#include "cli/FetchOptions.h"
#include "cli/Interrupt.h"
#include "cli/PacketTrace.h"
#include "cli/Platform.h"
#include "cli/ProgressBar.h"
#include "cli/Session.h"
#include "cli/SystemFile.h"
#include "vexacomm/Protocol.h"

namespace {

const char kUsage[] =
    "usage: vexacomm fetch HOST --out FILE [options]\n"
    "\n"
    "Connects to the device HOST (name or dotted IPv4 address), prints its type\n"
    "and identification, sends an ASDU 10 request block and streams the answer\n"
    "into FILE. Without --request it asks for everything (the block with\n"
    "N = -1). Ctrl-C asks the device to cancel and keeps what arrived; a second\n"
    "Ctrl-C ends at once.\n"
    "\n"
    "options:\n"
    "  --out FILE         output file, emptied when the transfer starts: a regular\n"
    "                     file or a new one (a FIFO, device or socket is refused);\n"
    "                     - for standard output, the only way to stream (--out - >\n"
    "                     FIFO, --out - | program; every other line then goes to\n"
    "                     stderr), refused when that is a terminal unless --force\n"
    "  --force            write the data to standard output even on a terminal\n"
    "  --request FILE     request block: 8 + 8*N bytes, N at byte 6 (-1..2046)\n"
    "  --packet-size N    ask the device for packets of N bytes (248..16376)\n"
    "  --port P           TCP port (default 30282)\n"
    "  --timeout S        wait limit in seconds, 0.001..2147483.647 (default 30.03)\n"
    "  --log FILE         append diagnostic lines to FILE\n"
    "  --trace[=hex]      one line per packet on stderr (=hex: and its first\n"
    "                     64 bytes)\n"
    "  --pcap FILE        write every byte of the session to FILE, a pcap\n"
    "                     capture the packet analysers open\n"
    "  --verbose          at the end, the packets and bytes sent and received\n"
    "                     and the time taken, on stderr\n"
    "\n"
    "On a terminal, stderr shows a progress bar: bytes, percentage, rate and\n"
    "time left, then a line with size, time and rate.\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 bad command line, 130/143 after\n"
    "Ctrl-C/SIGTERM.\n";

// The output as it will be written: "-" is standard output, a file is
// opened (created if missing) but emptied only when the transfer starts.
struct Output {
    std::shared_ptr<SystemFile> file = std::make_shared<SystemFile>();
    std::string name;
    bool created = false;
    std::FILE* info = stdout; // where the other lines go

    bool Open(const std::string& path)
    {
        SystemFile console;
        console.UseStdout();
        if (path == "-") {
            file->UseStdout();
            name = "standard output";
            info = stderr;
            return true;
        }
        name = path;
        // Only "-" streams: opening a FIFO would wait for its reader, and
        // a device is no place for a file that is emptied first.
        if (int error = file->OpenOutput(path, &created, true)) {
            if (error == kErrorNotRegularFile)
                std::fprintf(stderr, "error: output file %s: %s; to stream, use --out - and a shell redirection "
                                     "(--out - > %s)\n",
                             path.c_str(), SystemErrorText(error).c_str(), path.c_str());
            else
                PrintSystemError("output file " + path, error);
            return false;
        }
        if (created)
            DiscardOnExit(path);
        const FileIdentity id = file->Identity();
        if (id.index != 0 && id == console.Identity())
            info = stderr;
        return true;
    }

    // Before anything arrived: a file this run created goes again.
    void Abandon()
    {
        file->Close();
        if (created)
            RemoveFile(name);
        DiscardOnExit("");
    }
};

} // namespace

int CmdFetch(int argc, char** argv)
{
    Args args(argc, argv, 2,
              {{"--request", true}, {"--out", true}, {"--packet-size", true}, {"--port", true},
               {"--timeout", true}, {"--log", true}, {"--trace", true, true}, {"--force", false},
               {"--verbose", false}, {"--pcap", true}});
    if (args.Help()) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const std::string host = args.Positionals(1, 1)[0];
    if (host.empty())
        throw UsageError{"HOST is empty"};
    if (!args.Has("--out") || args.Value("--out", "").empty())
        throw UsageError{"--out FILE is required (- for standard output)"};
    const bool haveSize = args.Has("--packet-size");
    const auto packetSize = static_cast<uint16_t>(args.Number("--packet-size", 16376, 248, 16376));
    const auto port = static_cast<uint16_t>(args.Number("--port", 30282, 1, 65535));
    const uint32_t waitMs = args.Has("--timeout") ? ParseTimeout(args.Value("--timeout", "")) : 0;
    const std::string requestPath = args.Value("--request", "");
    const std::string logPath = args.Value("--log", "");
    if (args.Has("--request") && requestPath.empty())
        throw UsageError{"--request needs a file name"};
    const std::string pcapPath = args.Value("--pcap", "");
    if (args.Has("--pcap") && pcapPath.empty())
        throw UsageError{"--pcap needs a file name"};
    if (args.Value("--out", "") == "-" && IsTerminal(stdout) && !args.Has("--force"))
        throw UsageError{"standard output is a terminal: binary data is not written there; redirect it, "
                         "or add --force"};

    std::string request = DefaultRequest();
    if (!requestPath.empty() && !ReadRequest(requestPath, &request))
        return 1;
    if (!logPath.empty()) {
        SystemFile log;
        bool created = false;
        if (int error = log.OpenOutput(logPath, &created)) {
            PrintSystemError("log file " + logPath, error);
            return 1;
        }
        VexaComm_SetLogPath(logPath.c_str());
    }
    Output out;
    if (!out.Open(args.Value("--out", "")))
        return 1;

    const bool verbose = args.Has("--verbose");
    CPacketTrace trace(args.Has("--trace") ? stderr : nullptr, TraceWantsHex(args.Value("--trace", "")));
    ObjectPtr obj(VexaComm_CreateObject());
    if (!obj) {
        std::fprintf(stderr, "error: cannot create a connection object\n");
        out.Abandon();
        return 1;
    }
    if (!pcapPath.empty() && VexaComm_SetCaptureFile(obj.get(), pcapPath.c_str()) != 0) {
        std::fprintf(stderr, "error: capture file %s: cannot be created, or another writer holds it\n", pcapPath.c_str());
        out.Abandon();
        return 1;
    }
    if (args.Has("--trace") || verbose)
        VexaComm_SetTraceCallback(obj.get(), CPacketTrace::Callback, &trace);
    if (waitMs != 0)
        VexaComm_SetWaitLimit(obj.get(), waitMs);
    const auto start = std::chrono::steady_clock::now();
    const auto summary = [&] {
        if (verbose)
            trace.PrintSummary(stderr, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    };
    int32_t rc = VexaComm_ConnectPort(obj.get(), host.c_str(), port);
    if (rc == 0 && !VexaComm_IsConnected(obj.get()))
        rc = VEXACOMM_ERR_NOT_CONNECTED;
    if (rc == 0) {
        PrintDevice(obj.get(), out.info);
        if (haveSize) {
            uint16_t agreed = packetSize;
            rc = VexaComm_SetPacketSizeMax(obj.get(), &agreed);
            if (rc == 0)
                std::fprintf(out.info, "packet size %u\n", agreed);
        }
    }
    if (rc != 0) {
        out.Abandon();
        PrintConnectionError(obj.get(), host, port, rc);
        summary();
        return 1;
    }
    if (int error = out.file->Truncate()) {
        PrintSystemError("output file " + out.name, error);
        out.Abandon();
        return 1;
    }
    DiscardOnExit("");

    ProgressBar bar;
    VexaComm_SetTransferCallback(obj.get(), &ProgressBar::Callback, &bar);
    std::shared_ptr<SystemFile> file = out.file;
    const std::string name = out.name;
    rc = FetchWithInterrupt(obj.get(), file.get(), request, [file, name] {
        std::fprintf(stderr, "%llu bytes kept in %s\n", static_cast<unsigned long long>(file->Written()),
                     name.c_str());
    });
    bar.Finish(rc == 0);
    const int closeError = file->CloseChecked();
    const unsigned long long written = file->Written();
    if (rc == 0 && closeError == 0) {
        std::fprintf(out.info, "%llu bytes written to %s\n", written, name.c_str());
        std::fflush(out.info);
        summary();
        return 0;
    }
    const bool toStdout = args.Value("--out", "") == "-";
    if (toStdout && (file->LastError() != 0 || rc == 0)) {
        // A closed pipe: its reader has gone, so no count is worth a line.
        PrintStdoutError(SystemErrorText(file->LastError() != 0 ? file->LastError() : closeError));
        summary();
        return Interrupted() ? InterruptExitCode() : 1;
    }
    if (file->LastError() != 0 || rc == 0)
        PrintSystemError("writing " + name, file->LastError() != 0 ? file->LastError() : closeError);
    else if (IsConnectionError(rc))
        PrintConnectionError(obj.get(), host, port, rc);
    else
        PrintLibraryError(obj.get(), rc);
    std::fprintf(stderr, "%llu bytes kept in %s\n", written, name.c_str());
    summary();
    return Interrupted() ? InterruptExitCode() : 1;
}
