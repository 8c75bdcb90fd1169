// A peer's path taken beneath the object's root.
//
// The text is split at the separators ('/', and '\' on Windows). A leading
// separator means the root: absolute paths are taken relative to it, as a
// chrooted server takes them. "." is dropped and ".." takes back the name
// before it; one that would climb above the root refuses the path, and so
// does every name the system would not take for a plain entry (a drive
// "C:", a stream, a device name such as NUL or COM1) and, on Windows, a
// UNC or device path ("\\server\share", "\\?\"). Refusals leave
// plat::kErrorAccessDenied and touch nothing. The levels are then opened
// from the root down, never through a link (platform/Beneath.h).
#pragma once

#include <string>
#include <vector>

#include "platform/Beneath.h"

class CPeerPath {
public:
    // Opens the directory that holds the path's last name, making missing
    // levels with `createLevels`. With `pattern` the last name may hold the
    // wildcards '*' and '?'. False with the reason in plat::LastSystemError().
    bool Open(const std::string& root, const char* text, bool createLevels = false, bool pattern = false);

    const plat::BeneathDir& Dir() const { return m_dir; }
    // The last name; "" when the path names the root itself.
    const std::string& Name() const { return m_name; }
    // Whether the text ended in a separator.
    bool Trailing() const { return m_trailing; }
    // The held directory as the peer sees it: the root is a lone separator.
    std::string PeerDirectory() const;

private:
    plat::BeneathDir m_root;
    plat::BeneathDir m_dir;
    std::vector<std::string> m_levels;
    std::string m_name;
    bool m_trailing = false;
};

// The split alone: the names below the root, or false for a refused text.
bool SplitBeneath(const char* text, std::vector<std::string>* names, bool* trailing);
