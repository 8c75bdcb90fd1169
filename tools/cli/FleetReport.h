// The end of a fetch-all run: the summary table (device, result, code and
// text, bytes, seconds, tries) and the same as JSON.
#pragma once

#include <cstdio>
#include <string>

#include "cli/FleetRun.h"

const char* ResultName(DeviceResult result);
void PrintSummary(CFleetRun& run, double seconds, std::FILE* out);
// The JSON document, UTF-8: {"devices": [...], "done": N, ...}.
std::string SummaryJson(CFleetRun& run, double seconds, bool interrupted);
