// What each backend (posix/, win32/) provides to the code that both share
// in src/platform. Nothing outside src/platform calls these.
#pragma once

#include <string>

namespace plat {
namespace backend {

// The system's own debugger channel, for the lines no hook takes.
void WriteDebugOutput(const char* text);

// The host's first command-line argument and executable path as the system
// tells them; the overrides are the shared code's.
std::string HostFirstArgument();
std::string HostExecutablePath();

// Whether `path` names an existing directory (links followed). Records no
// error: it only tells a missing file from a missing directory.
bool IsDirectory(const char* path);

// The number the calling thread's last failed file call left (errno,
// GetLastError()); 0 when the system reported none.
long LastFileError();

// A search's directory made absolute, as GetFullPathName makes it: "." and
// ".." resolved, doubled separators folded, no trailing separator but the
// root's.
std::string FullDirectory(const std::string& directory);

} // namespace backend
} // namespace plat
