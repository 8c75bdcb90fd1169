#include "vexacomm/Args.h"

#include <cerrno>
#include <cstdlib>

Args::Args(int argc, char** argv, int first)
{
    for (int i = first; i < argc; ++i)
        m_args.emplace_back(argv[i]);
    m_used.assign(m_args.size(), false);
}

bool Args::Flag(const char* name)
{
    for (std::size_t i = 0; i < m_args.size(); ++i) {
        if (!m_used[i] && m_args[i] == name) {
            m_used[i] = true;
            return true;
        }
    }
    return false;
}

bool Args::HasOption(const char* name)
{
    for (std::size_t i = 0; i < m_args.size(); ++i) {
        if (!m_used[i] && m_args[i] == name)
            return true;
    }
    return false;
}

std::string Args::Option(const char* name, const std::string& fallback)
{
    for (std::size_t i = 0; i < m_args.size(); ++i) {
        if (m_used[i] || m_args[i] != name)
            continue;
        if (i + 1 >= m_args.size())
            throw UsageError{std::string(name) + " needs a value"};
        m_used[i] = m_used[i + 1] = true;
        return m_args[i + 1];
    }
    return fallback;
}

std::uint64_t Args::NumberOption(const char* name, std::uint64_t fallback, std::uint64_t min,
                                 std::uint64_t max)
{
    if (!HasOption(name))
        return fallback;
    return ParseNumber(Option(name, ""), name, min, max);
}

std::vector<std::string> Args::Positionals(std::size_t min, std::size_t max)
{
    std::vector<std::string> out;
    for (std::size_t i = 0; i < m_args.size(); ++i) {
        if (m_used[i])
            continue;
        if (m_args[i].size() > 1 && m_args[i][0] == '-')
            throw UsageError{"unknown option " + m_args[i]};
        out.push_back(m_args[i]);
    }
    if (out.size() < min)
        throw UsageError{"missing argument"};
    if (out.size() > max)
        throw UsageError{"unexpected argument " + out[max]};
    return out;
}

std::uint64_t ParseNumber(const std::string& text, const char* what, std::uint64_t min,
                          std::uint64_t max)
{
    errno = 0;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (text.empty() || text[0] == '-' || *end != '\0' || errno != 0 || value < min || value > max)
        throw UsageError{std::string(what) + ": expected a number from " + std::to_string(min) +
                         " to " + std::to_string(max) + ", got '" + text + "'"};
    return value;
}
