// What a connection object's service side may touch: a root for the
// peer's paths and an allow-list of programs. Kept beside the objects (the
// class layout is an interface) under a mutex of its own; an object's
// entry goes with the object (~CGLSocket).
#pragma once

#include <string>
#include <vector>

struct ServiceLimits {
    // The root, resolved when it was set; "" for none.
    std::string root;
    // Whether an allow-list is set; its programs, resolved when set.
    bool listed = false;
    std::vector<std::string> programs;
};

void SetServiceRootOf(const void* object, const std::string& root);
void SetServiceProgramsOf(const void* object, bool listed, const std::vector<std::string>& programs);
// A copy: the settings may change while an operation uses them.
ServiceLimits ServiceLimitsOf(const void* object);
void ForgetServiceLimits(const void* object);
