// Deliberate breaks of one device-side rule each (simulate --deviate), so
// that a conformance checker can show it catches every one.
#pragma once

#include <string>

enum class SimDeviation {
    None,
    GreetingCommand,
    ProbeAnswerCommand,
    ReplyReserved,
    EnvelopeChecksum,
    EnvelopeDropped,
    PacketSizeCommand,
    AckModeCommand,
    DeviceTypeCommand,
    IdentCommand,
    Asdu10Total,
    Asdu10EndMark,
};

struct DeviationInfo {
    SimDeviation deviation;
    const char* name;
    const char* description;
};

// Every deviation but None, in a fixed order.
extern const DeviationInfo kDeviations[11];
// False when `name` is none of them.
bool ParseDeviation(const std::string& name, SimDeviation* deviation);
