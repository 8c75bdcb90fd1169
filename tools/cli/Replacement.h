// Writing a file in place of DST only once it is complete: the data goes to
// a new file beside DST, renamed over DST by Commit(). Until then DST is
// untouched; a failure, an early return or a signal removes the new file.
#pragma once

#include <string>

#include "cli/SystemFile.h"

class CReplacement {
public:
    CReplacement() = default;
    ~CReplacement();
    CReplacement(const CReplacement&) = delete;
    CReplacement& operator=(const CReplacement&) = delete;

    // Refuses (printing why, false) a DST that is the source itself, that
    // exists and is no regular file, or that is read-only unless `force`;
    // then creates the new file.
    bool Begin(const std::string& dst, const SystemFile& source, bool force);
    SystemFile& File() { return m_file; }
    // Prints why and returns false when closing or renaming fails.
    bool Commit();

private:
    std::string m_dst;
    std::string m_target; // m_dst with symbolic links resolved
    SystemFile m_file;
    bool m_pending = false;
};
