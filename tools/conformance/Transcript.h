// Conformance transcripts: cases of wire bytes in both directions, each
// traced to the sentence it encodes (docs/conformance.md has the format).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace conform {

enum class StepKind {
    Host,      // host ACTION args (library run)
    Dev,       // dev HEX: bytes the device sends
    Lib,       // lib HEX: bytes the library sends
    DevMatch,  // dev? PATTERN (device runs)
    DevStream, // dev stream CMD [ack] [cancel K] (device runs)
    DevClose,  // dev close
    DevReset,  // dev reset (library run)
    LibClose,  // lib close
    Expect,    // expect WHAT VALUE (library run)
};

struct Step {
    StepKind kind = StepKind::Host;
    int line = 0;            // in its file, for messages
    std::string word;        // Host: the action; Expect: what
    std::string argument;    // Host and Expect: the rest of the line, trimmed
    std::vector<std::uint8_t> bytes; // Dev, Lib, Host fetch; DevStream: the command's 4 bytes
    std::vector<int> pattern;        // DevMatch: a byte, or -1 for any; a final -2 for the rest
    bool ack = false;                // DevStream
    int cancelAfter = -1;            // DevStream: cancel after this many data packets
};

enum Run : unsigned { kRunLibrary = 1, kRunSimulator = 2, kRunDevice = 4 };

struct Case {
    std::string id;
    std::string part;
    std::string cites;
    unsigned runs = 0;
    std::string simOptions;
    std::vector<std::uint8_t> simData;
    std::vector<Step> steps;
    std::string file;
    int line = 0;
};

// Parses the text of one transcript file; fragments defined in earlier
// files (in `fragments`) may be used. False with "file:line: reason".
struct Fragment {
    std::string name;
    std::vector<Step> steps;
};
bool ParseTranscript(const std::string& file, const std::string& text, std::vector<Fragment>* fragments,
                     std::vector<Case>* cases, std::string* error);

// Every transcript that ships with the program, in file order.
bool BuiltInCases(std::vector<Case>* cases, std::string* error);

// Hex text of bytes, "01 00 00 00", at most `limit` bytes then "...".
std::string Hex(const std::vector<std::uint8_t>& bytes, std::size_t limit = 64);

} // namespace conform
