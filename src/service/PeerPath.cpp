// Splitting a peer's path into names below the root, and opening them.
#include "service/PeerPath.h"

#include "platform/Beneath.h"
#include "platform/HostProcess.h"
#include "platform/SystemErrors.h"

bool SplitBeneath(const char* text, std::vector<std::string>* names, bool* trailing)
{
    const std::string path(text != nullptr ? text : "");
    names->clear();
    *trailing = !path.empty() && path.back() == plat::kPathSeparator;
    if (plat::IsOtherRoot(path))
        return false;
    std::string::size_type begin = 0;
    while (begin <= path.size()) {
        std::string::size_type end = path.find_first_of(plat::kPathSeparators, begin);
        if (end == std::string::npos)
            end = path.size();
        std::string name = path.substr(begin, end - begin);
        begin = end + 1;
        if (name.empty() || name == ".")
            continue;
        if (name == "..") {
            if (names->empty())
                return false;
            names->pop_back();
            continue;
        }
        names->push_back(name);
    }
    return true;
}

namespace {
// A wildcard is checked as the plain name it could match.
bool IsPlainPattern(std::string name)
{
    for (char& c : name) {
        if (c == '*' || c == '?')
            c = 'x';
    }
    return plat::IsPlainName(name);
}
} // namespace

bool CPeerPath::Open(const std::string& root, const char* text, bool createLevels, bool pattern)
{
    m_name.clear();
    bool plain = SplitBeneath(text, &m_levels, &m_trailing);
    if (plain && !m_levels.empty()) {
        m_name = m_levels.back();
        m_levels.pop_back();
        plain = pattern ? IsPlainPattern(m_name) : plat::IsPlainName(m_name);
    }
    for (const std::string& level : m_levels)
        plain = plain && plat::IsPlainName(level);
    if (!plain) {
        plat::SetLastSystemError(plat::kErrorAccessDenied);
        return false;
    }
    return plat::OpenRootDir(root.c_str(), &m_root) && plat::OpenDirBeneath(m_root, m_levels, createLevels, &m_dir);
}

std::string CPeerPath::PeerDirectory() const
{
    std::string shown;
    for (const std::string& level : m_levels)
        shown += plat::kPathSeparator + level;
    return shown.empty() ? std::string(1, plat::kPathSeparator) : shown;
}
