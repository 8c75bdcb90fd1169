// What fetch and fetch-all read from their command lines and lists: the
// wait limit in seconds and request block files.
#pragma once

#include <cstdint>
#include <string>

// Decimal seconds (0.001..2147483.647) in whole milliseconds; throws
// UsageError naming `option` otherwise.
uint32_t ParseTimeout(const std::string& text, const char* option = "--timeout");

// A regular file of exactly 8 + 8*N bytes, N at byte 6 within -1..2046;
// prints why not (after `where`, such as "list:3: ") and returns false.
bool ReadRequest(const std::string& path, std::string* request, const std::string& where = "");
