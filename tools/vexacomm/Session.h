// Pieces shared by the commands that talk to a device through the exports.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "VexaCommLib.h"

struct ObjectDeleter {
    void operator()(VexaCommObject* o) const { VexaComm_DestroyObject(o); }
};
using ObjectPtr = std::unique_ptr<VexaCommObject, ObjectDeleter>;

// Prints "error <code>: <text>" on stderr, the text shown in the terminal's
// character set.
void PrintError(VexaCommObject* obj, int32_t code);

// Prints the connected device's type and identification on stdout.
void PrintDevice(VexaCommObject* obj);

// Runs VexaComm_GetAsdu10 while Ctrl-C asks the device to cancel.
int32_t FetchWithInterrupt(VexaCommObject* obj, VexaCommFile* file, const std::string& request);

// A request block asking for every entry: count -1, no entries.
std::string DefaultRequest();

// Checks a request block read from a file; empty on success, else why not.
std::string CheckRequest(const std::string& request);
