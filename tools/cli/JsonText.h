// Text for the program's JSON reports.
#pragma once

#include <string>

// A JSON string with its quotes; bytes that are not UTF-8 become U+FFFD.
std::string JsonQuoted(const std::string& text);
