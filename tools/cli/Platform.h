// What the program asks of its system besides files and signals: sockets
// and the terminal (PlatformPosix.cpp, PlatformWin32.cpp).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Starts Windows Sockets, which the library leaves to its host; elsewhere
// nothing needs starting. False when the system refused.
bool StartSockets();

// Whether the standard stream is a terminal: binary data is kept off one,
// and only there is a progress bar drawn.
bool IsTerminal(std::FILE* stream);

// The terminal's size in characters; false when `stream` is none.
bool TerminalSize(std::FILE* stream, int* rows, int* columns);
// Lets cursor movement sequences (ESC [ n A, ESC [ J) through to the
// terminal; false when it does not take them.
bool EnableTerminalControl(std::FILE* stream);

// Why writes to `stream` fail, when the stream's error flag is all that
// is left (stdio keeps no errno): a closed pipe, a closed descriptor, else
// "write error".
std::string StreamFailure(std::FILE* stream);

// Raises the limit of open descriptors towards `wanted` where the system
// has one; returns the limit then in force.
unsigned RaiseDescriptorLimit(unsigned wanted);

// GBK text (the library's own texts) in the terminal's character set;
// false when that set cannot show it.
bool TerminalTextFromGbk(const std::string& text, std::string* out);
