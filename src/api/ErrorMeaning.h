// A readable English meaning for every result code a host can meet.
#pragma once

#include <cstdint>
#include <string>

// "" for 0; "device error N" for a code the library does not know (the
// device's own codes are passed through).
std::string ErrorMeaning(std::int32_t code);
