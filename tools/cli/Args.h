// Command-line reading for the vexacomm subcommands: every option a command
// takes is declared up front, so that unknown, repeated and malformed options
// are all refused the same way.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

// Thrown for a malformed command line; main prints it and exits 2.
struct UsageError {
    std::string message;
};

struct OptionDecl {
    const char* name;           // "--bytes"
    bool takesValue;            // "--bytes N" or "--bytes=N"
    bool valueOptional = false; // with takesValue: "--trace" or "--trace=hex" only
};

class Args {
public:
    // Reads argv[first..]. "-h"/"--help" anywhere (before "--") asks for help
    // and suspends every other check; otherwise throws UsageError.
    Args(int argc, char** argv, int first, std::initializer_list<OptionDecl> options);

    bool Help() const { return m_help; }
    bool Has(const char* name) const { return m_values.count(name) != 0; }
    std::string Value(const char* name, const std::string& fallback) const;
    std::uint64_t Number(const char* name, std::uint64_t fallback, std::uint64_t min,
                         std::uint64_t max) const;
    // The operands, checked for count.
    const std::vector<std::string>& Positionals(std::size_t min, std::size_t max) const;

private:
    bool m_help = false;
    std::map<std::string, std::string> m_values;
    std::vector<std::string> m_positionals;
};

// Decimal digits only: "0400" is 400, "0x10" and "+5" are refused.
std::uint64_t ParseNumber(const std::string& text, const char* what, std::uint64_t min,
                          std::uint64_t max);
