// Windows wildcard matching of one file name.
#include "platform/FileSystem.h"

namespace plat {

// The POSIX finder matches names itself. Brackets and backslashes are
// ordinary characters in Windows names, so fnmatch's syntax does not fit;
// only '*' and '?' are special.
bool MatchesWildcard(const char* pattern, const char* name)
{
    const char* star = nullptr;
    const char* resume = nullptr;
    const char* p = pattern;
    const char* n = name;
    while (*n != '\0') {
        if (*p == '*') {
            star = p++;
            resume = n;
        } else if (*p == '?' || *p == *n) {
            ++p;
            ++n;
        } else if (star != nullptr) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (*p == '*')
        ++p;
    if (*p == '\0')
        return true;
    // A trailing ".*" may match nothing at all: "*.*" and "a*.*" take names
    // without a dot too.
    return p[0] == '.' && p[1] == '*' && p[2] == '\0';
}

} // namespace plat
