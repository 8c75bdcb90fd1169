// The registry of the service limits, by object.
#include "service/ServiceLimits.h"

#include <map>
#include <mutex>

namespace {
std::mutex g_mutex;
std::map<const void*, ServiceLimits> g_limits;

// An entry with nothing set is no entry.
void Store(const void* object, const ServiceLimits& limits)
{
    if (limits.root.empty() && !limits.listed)
        g_limits.erase(object);
    else
        g_limits[object] = limits;
}
} // namespace

void SetServiceRootOf(const void* object, const std::string& root)
{
    std::lock_guard<std::mutex> guard(g_mutex);
    ServiceLimits limits = g_limits.count(object) != 0 ? g_limits[object] : ServiceLimits();
    limits.root = root;
    Store(object, limits);
}

void SetServiceProgramsOf(const void* object, bool listed, const std::vector<std::string>& programs)
{
    std::lock_guard<std::mutex> guard(g_mutex);
    ServiceLimits limits = g_limits.count(object) != 0 ? g_limits[object] : ServiceLimits();
    limits.listed = listed;
    limits.programs = listed ? programs : std::vector<std::string>();
    Store(object, limits);
}

ServiceLimits ServiceLimitsOf(const void* object)
{
    std::lock_guard<std::mutex> guard(g_mutex);
    auto found = g_limits.find(object);
    return found != g_limits.end() ? found->second : ServiceLimits();
}

void ForgetServiceLimits(const void* object)
{
    std::lock_guard<std::mutex> guard(g_mutex);
    g_limits.erase(object);
}
