// The fetch-all command: ASDU 10 data from every device of a list, many at
// once, each into a file of its own.
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>

#include "VexaCommLib.h"
#include "cli/Args.h"
#include "cli/Commands.h"
#include "cli/DeviceList.h"
#include "cli/ErrorText.h"
#include "cli/FetchOptions.h"
#include "cli/FleetReport.h"
#include "cli/FleetRun.h"
#include "cli/FleetStatus.h"
#include "cli/Interrupt.h"
#include "cli/Platform.h"
#include "cli/Session.h"
#include "cli/Shard.h"
#include "cli/SystemFile.h"

namespace {

const char kUsage[] =
    "usage: vexacomm fetch-all LIST --out-dir DIR [options]\n"
    "\n"
    "Fetches the ASDU 10 data of every device in LIST, several at once, each\n"
    "into DIR/<name>.bin. A file is written under a new name and gets its own\n"
    "only once its transfer ended without error; a failed device leaves no\n"
    "file under it (an earlier run's file stays as it was).\n"
    "\n"
    "LIST (- for standard input) holds one device a line:\n"
    "    host[:port] [name] [request-file]\n"
    "'#' starts a comment; blank lines are skipped. A name takes letters,\n"
    "digits, '.', '_' and '-' (default: the host, or host_port); request files\n"
    "are named from the current directory. A malformed line stops the run\n"
    "before it starts.\n"
    "\n"
    "options:\n"
    "  --out-dir DIR      where the files go (created when missing)\n"
    "  --jobs N           devices at once, 1..1024 (default 16)\n"
    "  --request FILE     request block for devices without their own\n"
    "                     (default: everything, N = -1)\n"
    "  --retries N        further tries after a connection failed, was refused\n"
    "                     or cut, or timed out (default 2; pauses of 0.5-1 s,\n"
    "                     doubling); never after a device's own error code or a\n"
    "                     failed write\n"
    "  --timeout S        wait limit in seconds, 0.001..2147483.647 (default 30.03)\n"
    "  --json FILE        the summary as JSON too (- for standard output, the\n"
    "                     table then on stderr)\n"
    "  --shard K/N        only the devices whose name hashes to K of N (0 <= K < N):\n"
    "                     N machines with the same list share it out\n"
    "  --keep-partial     keep what a failed transfer received as <name>.bin.part\n"
    "\n"
    "On a terminal, stderr shows a line per running device and an overall line;\n"
    "otherwise a line per device as it ends. Then a table of every device on\n"
    "stdout. Ctrl-C cancels the running transfers, keeps the finished files and\n"
    "prints the table; a second Ctrl-C ends at once.\n"
    "\n"
    "Exit status: 0 every device done, 1 any failed, 2 bad command line or list,\n"
    "130/143 after Ctrl-C/SIGTERM.\n";

constexpr std::uint64_t kListMax = 64u << 20;
// The library's cancel ends a wait within 100 ms, then grants the device
// its grace; past that and a loaded machine's second the run quits.
constexpr auto kCancelGiveUp = std::chrono::milliseconds(VEXACOMM_CANCEL_GRACE_MS + 1000);
constexpr int kTick = 50;
// A socket and a file per device, and some for the program itself.
constexpr unsigned kDescriptorsPerJob = 2;
constexpr unsigned kDescriptorsSpare = 64;

// The whole list; prints why not.
bool ReadList(const std::string& path, std::string* text)
{
    SystemFile file;
    if (path == "-") {
        file.UseStdin();
    } else if (int error = file.OpenRead(path)) {
        PrintSystemError("device list " + path, error);
        return false;
    } else if (file.Kind() != FileKind::Regular) {
        std::fprintf(stderr, "error: device list %s: not a regular file\n", path.c_str());
        return false;
    }
    char buffer[65536];
    try {
        while (uint32_t got = file.Read(buffer, sizeof(buffer))) {
            text->append(buffer, got);
            if (text->size() > kListMax) {
                std::fprintf(stderr, "error: device list %s: more than %llu bytes\n", path.c_str(),
                             static_cast<unsigned long long>(kListMax));
                return false;
            }
        }
    } catch (CFileException* e) {
        e->Delete();
        PrintSystemError("reading device list " + path, file.LastError());
        return false;
    }
    return true;
}

// Writes the JSON under a new name and renames it over `path`.
bool WriteJson(const std::string& path, const std::string& json)
{
    if (path == "-") {
        std::fputs(json.c_str(), stdout);
        return std::fflush(stdout) == 0;
    }
    SystemFile file;
    int error = file.CreateBeside(ResolveLinks(path), 0);
    if (error == 0) {
        try {
            file.Write(json.data(), static_cast<uint32_t>(json.size()));
        } catch (CFileException* e) {
            e->Delete();
            error = file.LastError();
        }
        const int closeError = file.CloseChecked();
        error = error != 0 ? error : closeError != 0 ? closeError : RenameOver(file.Path(), ResolveLinks(path));
        if (error != 0)
            RemoveFile(file.Path());
    }
    if (error != 0)
        PrintSystemError("JSON file " + path, error);
    return error == 0;
}

} // namespace

int CmdFetchAll(int argc, char** argv)
{
    Args args(argc, argv, 2,
              {{"--out-dir", true}, {"--jobs", true}, {"--request", true}, {"--retries", true}, {"--timeout", true},
               {"--json", true}, {"--shard", true}, {"--keep-partial", false}});
    if (args.Help()) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const std::string listPath = args.Positionals(1, 1)[0];
    FleetSettings settings;
    settings.outDir = args.Value("--out-dir", "");
    if (settings.outDir.empty())
        throw UsageError{"--out-dir DIR is required"};
    settings.jobs = static_cast<unsigned>(args.Number("--jobs", 16, 1, 1024));
    settings.retries = static_cast<unsigned>(args.Number("--retries", 2, 0, 100));
    settings.waitMs = args.Has("--timeout") ? ParseTimeout(args.Value("--timeout", "")) : 0;
    settings.keepPartial = args.Has("--keep-partial");
    const Shard shard = args.Has("--shard") ? ParseShard(args.Value("--shard", "")) : Shard();
    const std::string jsonPath = args.Value("--json", "");
    if (args.Has("--json") && jsonPath.empty())
        throw UsageError{"--json needs a file name (- for standard output)"};
    const std::string requestPath = args.Value("--request", "");
    if (args.Has("--request") && requestPath.empty())
        throw UsageError{"--request needs a file name"};
    if (listPath.empty())
        throw UsageError{"LIST is empty"};

    std::string text;
    if (!ReadList(listPath, &text))
        return 2;
    const std::string source = listPath == "-" ? "standard input" : listPath;
    std::vector<DeviceEntry> entries;
    std::string error;
    if (!ParseDeviceList(text, source, &entries, &error)) {
        std::fprintf(stderr, "vexacomm fetch-all: %s\n", error.c_str());
        return 2;
    }
    auto common = std::make_shared<std::string>(DefaultRequest());
    if (!requestPath.empty() && !ReadRequest(requestPath, common.get()))
        return 1;
    std::map<std::string, std::shared_ptr<const std::string>> requests;
    std::vector<DeviceJob> jobs;
    for (const DeviceEntry& e : entries) {
        if (!InShard(e.name, shard))
            continue;
        std::shared_ptr<const std::string> request = common;
        if (!e.requestPath.empty()) {
            auto& known = requests[e.requestPath];
            if (!known) {
                auto block = std::make_shared<std::string>();
                if (!ReadRequest(e.requestPath, block.get(), source + ":" + std::to_string(e.line) + ": "))
                    return 2;
                known = block;
            }
            request = known;
        }
        jobs.push_back(DeviceJob{e, request});
    }
    if (int mkdirError = MakeDirectory(settings.outDir)) {
        PrintSystemError("output directory " + settings.outDir, mkdirError);
        return 1;
    }
    const unsigned wanted = settings.jobs * kDescriptorsPerJob + kDescriptorsSpare;
    const unsigned limit = RaiseDescriptorLimit(wanted);
    if (limit < wanted) {
        settings.jobs = limit > kDescriptorsSpare + kDescriptorsPerJob ? (limit - kDescriptorsSpare) / kDescriptorsPerJob : 1;
        std::fprintf(stderr, "vexacomm fetch-all: %u open files allowed: %u devices at once\n", limit, settings.jobs);
    }

    const auto start = std::chrono::steady_clock::now();
    auto run = std::make_shared<CFleetRun>(std::move(jobs), settings);
    NotifyOnInterrupt(
        [run] { run->Stop(); },
        [run] { run->RemoveTemporaries(); });
    if (run->Count() != 0 && run->Start() == 0) {
        std::fprintf(stderr, "error: no thread could be started\n");
        QuitOnInterrupt();
        return 1;
    }
    CFleetStatus status(*run);
    const char* const kInterrupted = "interrupted: cancelling the running transfers (again to end at once)";
    std::chrono::steady_clock::time_point stopped;
    while (!run->Wait(kTick)) {
        status.Update();
        if (!run->Stopping())
            continue;
        const auto now = std::chrono::steady_clock::now();
        if (stopped == std::chrono::steady_clock::time_point()) {
            // Through the status: a line of its own would break the block.
            status.Note(kInterrupted);
            stopped = now;
        }
        run->CancelRunning();
        if (now - stopped > kCancelGiveUp)
            QuitNow();
    }
    if (run->Stopping() && stopped == std::chrono::steady_clock::time_point())
        status.Note(kInterrupted);
    status.Finish();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    PrintSummary(*run, seconds, jsonPath == "-" ? stderr : stdout);
    bool ok = true;
    for (std::size_t i = 0; i < run->Count(); ++i)
        ok = ok && run->Report(i).result == DeviceResult::Done;
    if (!jsonPath.empty() && !WriteJson(jsonPath, SummaryJson(*run, seconds, Interrupted())))
        ok = false;
    if (Interrupted())
        return InterruptExitCode();
    return ok ? 0 : 1;
}
