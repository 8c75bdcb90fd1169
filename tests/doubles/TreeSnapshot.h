// A directory tree as one text, to tell whether anything in it changed.
#pragma once

#include <string>

// Every name below `dir`, sorted, with its mode, size and (for files) its
// content; links as themselves. The entry `skip` is left out.
std::string TreeSnapshot(const std::string& dir, const std::string& skip = "");
