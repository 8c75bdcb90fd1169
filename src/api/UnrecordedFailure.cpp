#include "api/UnrecordedFailure.h"

#include <atomic>

#include "support/DebugLog.h"

namespace {
std::atomic<unsigned long> g_unrecorded{0};
}

void NoteUnrecordedFailure(bool connectionOpen)
{
#ifndef NDEBUG
    g_unrecorded.fetch_add(1, std::memory_order_relaxed);
#endif
    DebugLog("unrecorded failure (connection %s)\n", connectionOpen ? "open" : "closed");
}

unsigned long UnrecordedFailures() { return g_unrecorded.load(std::memory_order_relaxed); }
