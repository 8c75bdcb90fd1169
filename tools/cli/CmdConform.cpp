// The conform command: the transcripts a device can be asked without harm,
// played against a device, one line a case, a summary, and reports that a
// person and a CI can read.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "Players.h"
#include "cli/Args.h"
#include "cli/Commands.h"
#include "cli/ErrorText.h"
#include "cli/JsonText.h"
#include "cli/FetchOptions.h"
#include "cli/SystemFile.h"

namespace {

const char kUsage[] =
    "usage: vexacomm conform HOST[:PORT] [options]\n"
    "\n"
    "Checks a device against the protocol: every case opens a connection of its\n"
    "own, plays the host's side of a transcript (greeting, envelope probe,\n"
    "queries of the packet size and acknowledgement mode, device type,\n"
    "identification, ASDU 10 requests for everything with and without\n"
    "acknowledgements, a cancel) and holds each packet of the device against\n"
    "it. Nothing is sent that changes the device beyond that connection. One\n"
    "line a case: pass or FAIL, the protocol section, the case and, when it\n"
    "failed, the transcript line, what was expected and what came.\n"
    "\n"
    "options:\n"
    "  --case ID          only this case (repeatable as --case=A,B)\n"
    "  --list             list the cases and what each checks, and exit\n"
    "  --json             the report as JSON on standard output instead\n"
    "  --junit FILE       also write the report as JUnit XML to FILE\n"
    "  --timeout S        limit of every wait for the device, in seconds\n"
    "                     (default 10)\n"
    "\n"
    "Exit status: 0 every case passed, 1 a case failed, 2 bad command line.\n";

struct Result {
    const conform::Case* c;
    conform::Outcome outcome;
    double seconds;
};

std::string XmlText(const std::string& s)
{
    std::string out;
    for (char ch : s) {
        switch (ch) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += static_cast<unsigned char>(ch) < 0x20 && ch != '\n' ? ' ' : ch;
        }
    }
    return out;
}

std::string Where(const Result& r) { return r.c->file + ":" + std::to_string(r.outcome.line); }

void PrintJson(const std::string& device, const std::vector<Result>& results, unsigned failed)
{
    std::printf("{\"device\": %s, \"cases\": [", JsonQuoted(device).c_str());
    for (std::size_t i = 0; i < results.size(); ++i) {
        const Result& r = results[i];
        std::printf("%s\n  {\"id\": %s, \"part\": %s, \"cites\": %s, \"passed\": %s", i == 0 ? "" : ",",
                    JsonQuoted(r.c->id).c_str(), JsonQuoted(r.c->part).c_str(), JsonQuoted(r.c->cites).c_str(),
                    r.outcome.passed ? "true" : "false");
        if (!r.outcome.passed)
            std::printf(", \"at\": %s, \"expected\": %s, \"seen\": %s", JsonQuoted(Where(r)).c_str(),
                        JsonQuoted(r.outcome.expected).c_str(), JsonQuoted(r.outcome.seen).c_str());
        std::printf("}");
    }
    std::printf("\n], \"passed\": %zu, \"failed\": %u}\n", results.size() - failed, failed);
}

std::string JUnit(const std::string& device, const std::vector<Result>& results, unsigned failed)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n  <testsuite name=\"vexacomm conform " +
                      XmlText(device) + "\" tests=\"" + std::to_string(results.size()) + "\" failures=\"" +
                      std::to_string(failed) + "\" errors=\"0\">\n";
    for (const Result& r : results) {
        char seconds[32];
        std::snprintf(seconds, sizeof(seconds), "%.3f", r.seconds);
        xml += "    <testcase classname=\"Part " + XmlText(r.c->part) + "\" name=\"" + XmlText(r.c->id) + "\" time=\"" +
               seconds + "\">\n";
        if (!r.outcome.passed)
            xml += "      <failure message=\"expected " + XmlText(r.outcome.expected) + ", saw " +
                   XmlText(r.outcome.seen) + "\">" + XmlText(Where(r) + ": \"" + r.c->cites + "\"") + "</failure>\n";
        xml += "    </testcase>\n";
    }
    return xml + "  </testsuite>\n</testsuites>\n";
}

bool WriteReport(const std::string& path, const std::string& text)
{
    const int error = WriteWholeFile(path, text);
    if (error != 0)
        PrintSystemError("JUnit report " + path, error);
    return error == 0;
}

std::vector<std::string> Split(const std::string& text)
{
    std::vector<std::string> items;
    std::size_t start = 0;
    for (std::size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
        items.push_back(text.substr(start, comma - start));
    items.push_back(text.substr(start));
    return items;
}

} // namespace

int CmdConform(int argc, char** argv)
{
    Args args(argc, argv, 2,
              {{"--case", true}, {"--list", false}, {"--json", false}, {"--junit", true}, {"--timeout", true}});
    if (args.Help()) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::vector<conform::Case> all;
    std::string error;
    if (!conform::BuiltInCases(&all, &error)) {
        std::fprintf(stderr, "error: the built-in transcripts: %s\n", error.c_str());
        return 1;
    }
    std::vector<const conform::Case*> cases;
    const std::vector<std::string> wanted = args.Has("--case") ? Split(args.Value("--case", "")) : std::vector<std::string>{};
    for (const conform::Case& c : all) {
        bool chosen = wanted.empty();
        for (const std::string& id : wanted)
            chosen = chosen || id == c.id;
        if ((c.runs & conform::kRunDevice) != 0 && chosen)
            cases.push_back(&c);
    }
    for (const std::string& id : wanted) {
        bool known = false;
        for (const conform::Case* c : cases)
            known = known || c->id == id;
        if (!known)
            throw UsageError{"--case: no device case '" + id + "' (see --list)"};
    }
    if (args.Has("--list")) {
        for (const conform::Case* c : cases)
            std::printf("%-32s Part %-4s %s\n", c->id.c_str(), c->part.c_str(), c->cites.c_str());
        return 0;
    }
    const std::string target = args.Positionals(1, 1)[0];
    if (cases.empty()) {
        std::fprintf(stderr, "error: no device case is built in\n");
        return 1;
    }
    std::string host = target;
    std::uint16_t port = 30282;
    if (std::size_t colon = target.rfind(':'); colon != std::string::npos) {
        host = target.substr(0, colon);
        port = static_cast<std::uint16_t>(ParseNumber(target.substr(colon + 1), "PORT", 1, 65535));
    }
    if (host.empty())
        throw UsageError{"HOST is empty"};
    const std::uint32_t waitMs = args.Has("--timeout") ? ParseTimeout(args.Value("--timeout", "")) : 10000;
    const bool json = args.Has("--json");

    std::vector<Result> results;
    unsigned failed = 0;
    for (const conform::Case* c : cases) {
        auto started = std::chrono::steady_clock::now();
        conform::Outcome o = conform::PlayHost(*c, host, port, waitMs);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        results.push_back(Result{c, o, seconds});
        failed += o.passed ? 0 : 1;
        if (json)
            continue;
        if (o.passed) {
            std::printf("pass  Part %-4s %s\n", c->part.c_str(), c->id.c_str());
        } else {
            std::printf("FAIL  Part %-4s %s (%s)\n      expected %s\n      saw      %s\n", c->part.c_str(),
                        c->id.c_str(), Where(results.back()).c_str(), o.expected.c_str(), o.seen.c_str());
            std::printf("      \"%s\"\n", c->cites.c_str());
        }
        std::fflush(stdout);
    }
    if (json)
        PrintJson(target, results, failed);
    else
        std::printf("conform %s: %zu cases, %zu passed, %u failed\n", target.c_str(), results.size(),
                    results.size() - failed, failed);
    if (args.Has("--junit") && !WriteReport(args.Value("--junit", ""), JUnit(target, results, failed)))
        return 1;
    return failed == 0 ? 0 : 1;
}
