// The device list of fetch-all: one device a line,
//   host[:port] [name] [request-file]
// separated by blanks, "#" to the end of the line a comment, blank lines
// ignored. The name is what the data file is called (DIR/<name>.bin):
// letters, digits, '.', '_' and '-', not starting with '.', at most 128
// bytes, unique regardless of case (a Windows directory ignores it).
// Without one it is the host, or host_port when a port is given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DeviceEntry {
    std::string host;
    std::uint16_t port = 30282;
    std::string name;
    std::string requestPath; // "" for the command's request
    unsigned line = 0;
};

// Parses `text`; on the first malformed line returns false with
// "<source>:<line>: <reason>" in *error.
bool ParseDeviceList(const std::string& text, const std::string& source, std::vector<DeviceEntry>* devices,
                     std::string* error);
