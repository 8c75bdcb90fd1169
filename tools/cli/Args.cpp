// Declared options, "--name=value", repeats and decimal numbers.
#include "cli/Args.h"


Args::Args(int argc, char** argv, int first, std::initializer_list<OptionDecl> options)
{
    std::vector<std::string> args(argv + first, argv + argc);
    for (const std::string& a : args) {
        if (a == "--")
            break;
        if (a == "-h" || a == "--help")
            m_help = true;
    }
    if (m_help)
        return;
    bool operandsOnly = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (operandsOnly || a.size() < 2 || a[0] != '-') {
            m_positionals.push_back(a);
            continue;
        }
        if (a == "--") {
            operandsOnly = true;
            continue;
        }
        const std::size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        const OptionDecl* known = nullptr;
        for (const OptionDecl& o : options) {
            if (name == o.name)
                known = &o;
        }
        if (known == nullptr)
            throw UsageError{"unknown option " + name};
        if (m_values.count(name) != 0)
            throw UsageError{name + " is given more than once"};
        if (!known->takesValue) {
            if (eq != std::string::npos)
                throw UsageError{name + " takes no value"};
            m_values[name] = "";
        } else if (eq != std::string::npos) {
            m_values[name] = a.substr(eq + 1);
        } else if (known->valueOptional) {
            m_values[name] = "";
        } else if (i + 1 < args.size()) {
            m_values[name] = args[++i];
        } else {
            throw UsageError{name + " needs a value"};
        }
    }
}

std::string Args::Value(const char* name, const std::string& fallback) const
{
    auto it = m_values.find(name);
    return it == m_values.end() ? fallback : it->second;
}

std::uint64_t Args::Number(const char* name, std::uint64_t fallback, std::uint64_t min,
                           std::uint64_t max) const
{
    auto it = m_values.find(name);
    return it == m_values.end() ? fallback : ParseNumber(it->second, name, min, max);
}

const std::vector<std::string>& Args::Positionals(std::size_t min, std::size_t max) const
{
    if (m_positionals.size() < min)
        throw UsageError{"missing argument"};
    if (m_positionals.size() > max)
        throw UsageError{"unexpected argument '" + m_positionals[max] + "'"};
    return m_positionals;
}

std::uint64_t ParseNumber(const std::string& text, const char* what, std::uint64_t min,
                          std::uint64_t max)
{
    std::uint64_t value = 0;
    bool ok = !text.empty() && text.size() <= 20;
    for (char c : text) {
        if (c < '0' || c > '9' || value > (UINT64_MAX - 9) / 10) {
            ok = false;
            break;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (!ok || value < min || value > max)
        throw UsageError{std::string(what) + ": expected a decimal number from " +
                         std::to_string(min) + " to " + std::to_string(max) + ", got '" + text +
                         "'"};
    return value;
}
