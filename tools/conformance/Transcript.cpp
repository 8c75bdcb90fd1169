#include "Transcript.h"

#include <cctype>
#include <cstdio>
#include <sstream>

namespace conform {
namespace {

std::string Trim(const std::string& s)
{
    std::size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos)
        return std::string();
    std::size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

// A line without its comment; a '#' inside double quotes is text.
std::string StripComment(const std::string& line)
{
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == '#' && !quoted)
            return line.substr(0, i);
    }
    return line;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Blank-separated tokens of two hex digits; with `patterns`, ".." is any
// byte (-1) and a final "*" the rest of the packet (-2).
bool ParseBytes(const std::string& text, bool patterns, std::vector<int>* out, std::string* why)
{
    std::istringstream in(text);
    std::string token;
    while (in >> token) {
        if (!out->empty() && out->back() == -2) {
            *why = "'*' must come last";
            return false;
        }
        if (patterns && token == "..") {
            out->push_back(-1);
            continue;
        }
        if (patterns && token == "*") {
            out->push_back(-2);
            continue;
        }
        if (token.size() != 2 || HexDigit(token[0]) < 0 || HexDigit(token[1]) < 0) {
            *why = "not a hex byte: '" + token + "'";
            return false;
        }
        out->push_back(HexDigit(token[0]) * 16 + HexDigit(token[1]));
    }
    return true;
}

bool ParseHex(const std::string& text, std::vector<std::uint8_t>* out, std::string* why)
{
    std::vector<int> values;
    if (!ParseBytes(text, false, &values, why))
        return false;
    out->assign(values.begin(), values.end());
    return true;
}

class Parser {
public:
    Parser(const std::string& file, std::vector<Fragment>* fragments, std::vector<Case>* cases)
        : m_file(file), m_fragments(fragments), m_cases(cases)
    {
    }

    bool Line(int number, const std::string& raw, std::string* error)
    {
        m_line = number;
        std::string line = Trim(StripComment(raw));
        if (line.empty())
            return true;
        std::size_t space = line.find_first_of(" \t");
        std::string word = line.substr(0, space);
        std::string rest = space == std::string::npos ? std::string() : Trim(line.substr(space));
        std::string why;
        if (!Directive(word, rest, &why)) {
            *error = m_file + ":" + std::to_string(number) + ": " + why;
            return false;
        }
        return true;
    }

    bool Finish(std::string* error)
    {
        if (m_case || m_fragment) {
            *error = m_file + ": '" + (m_case ? m_current.id : m_currentFragment.name) + "' has no 'end'";
            return false;
        }
        return true;
    }

private:
    bool Directive(const std::string& word, const std::string& rest, std::string* why)
    {
        if (word == "case" || word == "fragment")
            return Open(word, rest, why);
        if (!m_case && !m_fragment) {
            *why = "'" + word + "' outside a case";
            return false;
        }
        if (word == "end")
            return Close(why);
        if (m_case && (word == "part" || word == "cites" || word == "runs" || word == "sim" || word == "sim-data"))
            return Header(word, rest, why);
        if (word == "use")
            return Use(rest, why);
        Step step;
        step.kind = StepKind::Host;
        step.line = m_line;
        if (!ParseStep(word, rest, &step, why))
            return false;
        Steps().push_back(step);
        return true;
    }

    bool Open(const std::string& word, const std::string& rest, std::string* why)
    {
        if (m_case || m_fragment) {
            *why = "'" + word + "' before the previous 'end'";
            return false;
        }
        bool named = !rest.empty();
        for (char c : rest)
            named = named && (std::islower(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) || c == '-');
        if (!named) {
            *why = "a name is [a-z0-9-]+, got '" + rest + "'";
            return false;
        }
        if (word == "case") {
            for (const Case& c : *m_cases) {
                if (c.id == rest) {
                    *why = "case '" + rest + "' again (first at " + c.file + ":" + std::to_string(c.line) + ")";
                    return false;
                }
            }
            m_case = true;
            m_current = Case{};
            m_current.id = rest;
            m_current.file = m_file;
            m_current.line = m_line;
        } else {
            m_fragment = true;
            m_currentFragment = Fragment{};
            m_currentFragment.name = rest;
        }
        return true;
    }

    bool Close(std::string* why)
    {
        if (m_fragment) {
            m_fragments->push_back(m_currentFragment);
            m_fragment = false;
            return true;
        }
        if (m_current.part.empty() || m_current.cites.empty() || m_current.runs == 0) {
            *why = "case '" + m_current.id + "' needs part, cites and runs";
            return false;
        }
        if (!Playable(why))
            return false;
        m_cases->push_back(m_current);
        m_case = false;
        return true;
    }

    // Which steps each run can play.
    bool Playable(std::string* why) const
    {
        for (const Step& s : m_current.steps) {
            bool hostOnly = s.kind == StepKind::DevMatch || s.kind == StepKind::DevStream;
            if (hostOnly && (m_current.runs & kRunLibrary) != 0) {
                *why = "line " + std::to_string(s.line) + ": dev? and dev stream cannot be played to the library";
                return false;
            }
            bool libraryOnly = s.kind == StepKind::DevReset;
            if (libraryOnly && (m_current.runs & ~kRunLibrary) != 0) {
                *why = "line " + std::to_string(s.line) + ": dev reset is played to the library only";
                return false;
            }
        }
        if ((m_current.runs & kRunSimulator) != 0 && m_current.simOptions.empty() &&
            m_current.simData.empty() && (m_current.runs & kRunDevice) == 0) {
            *why = "a simulator run needs its 'sim' options";
            return false;
        }
        return true;
    }

    bool Header(const std::string& word, const std::string& rest, std::string* why)
    {
        if (word == "part") {
            m_current.part = rest;
        } else if (word == "cites") {
            if (rest.size() < 2 || rest.front() != '"' || rest.back() != '"') {
                *why = "cites takes a quoted text";
                return false;
            }
            m_current.cites = rest.substr(1, rest.size() - 2);
        } else if (word == "runs") {
            std::istringstream in(rest);
            std::string run;
            while (in >> run) {
                unsigned bit = 0;
                if (run == "library")
                    bit = kRunLibrary;
                else if (run == "simulator")
                    bit = kRunSimulator;
                else if (run == "device")
                    bit = kRunDevice;
                if (bit == 0) {
                    *why = "runs: library, simulator or device, got '" + run + "'";
                    return false;
                }
                m_current.runs |= bit;
            }
        } else if (word == "sim") {
            m_current.simOptions = rest;
        } else {
            return ParseHex(rest, &m_current.simData, why);
        }
        return true;
    }

    bool Use(const std::string& name, std::string* why)
    {
        for (const Fragment& f : *m_fragments) {
            if (f.name == name) {
                for (Step s : f.steps) {
                    s.line = m_line;
                    Steps().push_back(s);
                }
                return true;
            }
        }
        *why = "no fragment '" + name + "' defined before";
        return false;
    }

    bool ParseStep(const std::string& word, const std::string& rest, Step* step, std::string* why)
    {
        if (word == "host" || word == "expect") {
            step->kind = word == "host" ? StepKind::Host : StepKind::Expect;
            std::size_t space = rest.find_first_of(" \t");
            step->word = rest.substr(0, space);
            step->argument = space == std::string::npos ? std::string() : Trim(rest.substr(space));
            if (step->kind == StepKind::Host && step->word == "fetch")
                return ParseHex(step->argument, &step->bytes, why);
            return !step->word.empty() || (*why = word + " needs what", false);
        }
        if (word == "dev" || word == "lib") {
            if (rest == "close") {
                step->kind = word == "dev" ? StepKind::DevClose : StepKind::LibClose;
                return true;
            }
            if (word == "dev" && rest == "reset") {
                step->kind = StepKind::DevReset;
                return true;
            }
            if (word == "dev" && rest.compare(0, 7, "stream ") == 0)
                return ParseStream(rest.substr(7), step, why);
            step->kind = word == "dev" ? StepKind::Dev : StepKind::Lib;
            if (!ParseHex(rest, &step->bytes, why))
                return false;
            return !step->bytes.empty() || (*why = word + " needs bytes", false);
        }
        if (word == "dev?") {
            step->kind = StepKind::DevMatch;
            if (!ParseBytes(rest, true, &step->pattern, why))
                return false;
            return step->pattern.size() >= 4 || (*why = "a pattern covers at least the command", false);
        }
        *why = "unknown directive '" + word + "'";
        return false;
    }

    bool ParseStream(const std::string& rest, Step* step, std::string* why)
    {
        step->kind = StepKind::DevStream;
        std::istringstream in(rest);
        std::string token;
        std::string command;
        for (int i = 0; i < 4 && in >> token; ++i)
            command += token + " ";
        if (!ParseHex(command, &step->bytes, why) || step->bytes.size() != 4) {
            *why = "dev stream takes the command's 4 bytes";
            return false;
        }
        while (in >> token) {
            if (token == "ack") {
                step->ack = true;
            } else if (token == "cancel" && in >> step->cancelAfter && step->cancelAfter >= 1) {
            } else {
                *why = "dev stream: 'ack' or 'cancel K' (K >= 1) after the command";
                return false;
            }
        }
        return true;
    }

    std::vector<Step>& Steps() { return m_case ? m_current.steps : m_currentFragment.steps; }

    std::string m_file;
    std::vector<Fragment>* m_fragments;
    std::vector<Case>* m_cases;
    int m_line = 0;
    bool m_case = false;
    bool m_fragment = false;
    Case m_current;
    Fragment m_currentFragment;
};

} // namespace

bool ParseTranscript(const std::string& file, const std::string& text, std::vector<Fragment>* fragments,
                     std::vector<Case>* cases, std::string* error)
{
    Parser parser(file, fragments, cases);
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!parser.Line(number, line, error))
            return false;
    }
    return parser.Finish(error);
}

std::string Hex(const std::vector<std::uint8_t>& bytes, std::size_t limit)
{
    std::string text;
    char digits[4];
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
        std::snprintf(digits, sizeof(digits), i == 0 ? "%02x" : " %02x", bytes[i]);
        text += digits;
    }
    if (bytes.size() > limit)
        text += " ... (" + std::to_string(bytes.size()) + " bytes)";
    return text.empty() ? "nothing" : text;
}

} // namespace conform
