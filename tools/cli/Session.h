// Pieces shared by the commands that talk to a device through the exports.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "VexaCommLib.h"

struct ObjectDeleter {
    void operator()(VexaCommObject* o) const { VexaComm_DestroyObject(o); }
};
using ObjectPtr = std::unique_ptr<VexaCommObject, ObjectDeleter>;

// Prints the connected device's type and identification on `out`, the
// identification as the device sent its bytes, control characters escaped.
void PrintDevice(VexaCommObject* obj, std::FILE* out);

// Runs VexaComm_GetAsdu10 while a signal asks the device to cancel. A
// second signal, or a transfer still running 1 s past the library's cancel
// grace, ends the program after `beforeQuit`.
int32_t FetchWithInterrupt(VexaCommObject* obj, VexaCommFile* file, const std::string& request,
                           std::function<void()> beforeQuit);

// A request block asking for every entry: count -1, no entries.
std::string DefaultRequest();
