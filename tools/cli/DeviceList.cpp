// Parsing and checking the device list of fetch-all.
#include "cli/DeviceList.h"

#include <map>
#include <sstream>

#include "cli/Args.h"

namespace {

constexpr std::size_t kNameMax = 128;

bool IsNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
}

// Why `name` cannot name a file in the output directory, or "".
std::string NameProblem(const std::string& name)
{
    if (name.size() > kNameMax)
        return "the name '" + name + "' is longer than " + std::to_string(kNameMax) + " bytes";
    if (name[0] == '.')
        return "the name '" + name + "' starts with '.'";
    for (char c : name) {
        if (!IsNameChar(c))
            return "the name '" + name + "' holds '" + std::string(1, c) + "'; names take letters, digits, '.', '_' and '-'";
    }
    return "";
}

std::string Folded(std::string name)
{
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return name;
}

// "host[:port]" into the entry; the reason when it is not one.
std::string ParseAddress(const std::string& text, DeviceEntry* entry)
{
    const std::size_t colon = text.find(':');
    entry->host = text.substr(0, colon);
    if (entry->host.empty())
        return "no host before ':'";
    if (colon == std::string::npos)
        return "";
    try {
        entry->port = static_cast<std::uint16_t>(ParseNumber(text.substr(colon + 1), "port", 1, 65535));
    } catch (const UsageError& e) {
        return e.message;
    }
    return "";
}

} // namespace

bool ParseDeviceList(const std::string& text, const std::string& source, std::vector<DeviceEntry>* devices,
                     std::string* error)
{
    std::map<std::string, unsigned> seen;
    std::istringstream in(text);
    std::string line;
    unsigned number = 0;
    auto fail = [&](const std::string& reason) {
        *error = source + ":" + std::to_string(number) + ": " + reason;
        return false;
    };
    while (std::getline(in, line)) {
        ++number;
        if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
            line.erase(0, 3); // a byte order mark from a Windows editor
        const std::size_t hash = line.find('#');
        std::istringstream fields(line.substr(0, hash));
        std::vector<std::string> words;
        for (std::string w; fields >> w;)
            words.push_back(w);
        if (words.empty())
            continue;
        if (words.size() > 3)
            return fail("expected 'host[:port] [name] [request-file]', found " + std::to_string(words.size()) +
                        " fields");
        DeviceEntry entry;
        entry.line = number;
        const std::string problem = ParseAddress(words[0], &entry);
        if (!problem.empty())
            return fail("'" + words[0] + "': " + problem);
        entry.name = words.size() > 1 ? words[1]
                                      : entry.host + (words[0].find(':') == std::string::npos
                                                          ? ""
                                                          : "_" + std::to_string(entry.port));
        if (words.size() > 2)
            entry.requestPath = words[2];
        const std::string nameProblem = NameProblem(entry.name);
        if (!nameProblem.empty())
            return fail(nameProblem);
        auto known = seen.emplace(Folded(entry.name), number);
        if (!known.second)
            return fail("the name '" + entry.name + "' is already used on line " + std::to_string(known.first->second));
        devices->push_back(entry);
    }
    return true;
}
