// Sizes, rates and durations for the progress lines.
#include "cli/Units.h"

#include <cstdio>

Unit UnitFor(double bytes)
{
    if (bytes >= 1024.0 * 1024 * 1024)
        return {1024.0 * 1024 * 1024, "GiB"};
    if (bytes >= 1024.0 * 1024)
        return {1024.0 * 1024, "MiB"};
    if (bytes >= 1024.0)
        return {1024.0, "KiB"};
    return {1.0, "B"};
}

std::string Amount(double bytes, Unit unit)
{
    char text[32];
    if (unit.size == 1.0)
        std::snprintf(text, sizeof(text), "%.0f", bytes);
    else
        std::snprintf(text, sizeof(text), "%.1f", bytes / unit.size);
    return text;
}

std::string Size(double bytes)
{
    const Unit unit = UnitFor(bytes);
    return Amount(bytes, unit) + " " + unit.name;
}

std::string Rate(double bytesPerSecond) { return Size(bytesPerSecond) + "/s"; }

std::string Duration(double seconds)
{
    char text[32];
    const auto s = static_cast<unsigned long long>(seconds + 0.5);
    if (s >= 3600)
        std::snprintf(text, sizeof(text), "%llu:%02llu:%02llu", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof(text), "%llu:%02llu", s / 60, s % 60);
    return text;
}
