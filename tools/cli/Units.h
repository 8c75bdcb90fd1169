// Sizes, rates and durations as the program shows them: binary units with
// one decimal, "m:ss" or "h:mm:ss".
#pragma once

#include <string>

struct Unit {
    double size;
    const char* name;
};

// The largest of B, KiB, MiB, GiB that `bytes` reaches.
Unit UnitFor(double bytes);
// `bytes` in `unit`, without its name: "12.3", or "123" in bytes.
std::string Amount(double bytes, Unit unit);
// "12.3 MiB"
std::string Size(double bytes);
// "12.3 MiB/s"
std::string Rate(double bytesPerSecond);
std::string Duration(double seconds);
