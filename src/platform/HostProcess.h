// Facts about the host process.
#pragma once

#include <string>

namespace plat {

// The host process's first command-line argument: the path by which the
// host executable was started.
std::string HostFirstArgument();

// The full path of the host's executable file, wherever it was started
// from (through PATH, a link or a relative path); "" when the system cannot
// tell. Follows the override below.
std::string HostExecutablePath();

// Tests point the library at another executable path; null restores the
// real argument.
void OverrideHostFirstArgument(const char* path);

// The character that separates directories in paths of this platform, and
// every character the system takes for one (Windows takes '/' as well).
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
constexpr char kPathSeparators[] = "\\/";
#else
constexpr char kPathSeparator = '/';
constexpr char kPathSeparators[] = "/";
#endif
constexpr bool IsPathSeparator(char c) { return c == kPathSeparator || c == '/'; }

} // namespace plat
