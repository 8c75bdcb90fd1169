// Minimal argument reading for the vexacomm subcommands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Thrown for a malformed command line; main prints it and exits 2.
struct UsageError {
    std::string message;
};

class Args {
public:
    Args(int argc, char** argv, int first);

    // True (and consumed) when the flag is present.
    bool Flag(const char* name);
    // The value after `name`, or `fallback` when absent.
    std::string Option(const char* name, const std::string& fallback);
    bool HasOption(const char* name);
    std::uint64_t NumberOption(const char* name, std::uint64_t fallback, std::uint64_t min,
                               std::uint64_t max);
    // Remaining positional arguments; fails on a leftover option.
    std::vector<std::string> Positionals(std::size_t min, std::size_t max);

private:
    std::vector<std::string> m_args;
    std::vector<bool> m_used;
};

std::uint64_t ParseNumber(const std::string& text, const char* what, std::uint64_t min,
                          std::uint64_t max);
