// The three ways a transcript is played: as the device against the library
// (the host's actions through a driver), and as the host against the
// simulator or any device.
#pragma once

#include <cstdint>
#include <string>

#include "Transcript.h"

namespace conform {

struct Outcome {
    bool passed = false;
    int line = 0;         // the transcript line where it failed
    std::string expected; // what the transcript says, when it failed
    std::string seen;     // what came instead

    static Outcome Pass()
    {
        Outcome o;
        o.passed = true;
        return o;
    }
    static Outcome Fail(int line, std::string expected, std::string seen)
    {
        Outcome o;
        o.line = line;
        o.expected = std::move(expected);
        o.seen = std::move(seen);
        return o;
    }
};

// The host side of a library run: the test supplies it, through the exports.
class HostDriver {
public:
    virtual ~HostDriver() = default;
    // A host line: starts the action, after the previous one has ended;
    // cancel and wait-limit act at once. "" or why it could not.
    virtual std::string Act(const Step& step) = 0;
    // An expect line: waits for the running action, then "" or the mismatch
    // as "expected X, saw Y".
    virtual std::string Check(const Step& step) = 0;
    // The case's lines are done: waits for the running action.
    virtual std::string Finish() = 0;
};

// Plays the device on address:port (one connection) and checks every byte
// the library sends. Listens before the first host action.
Outcome PlayDevice(const Case& c, const std::string& address, std::uint16_t port, HostDriver& host);

// Plays the host against a device at address:port: the simulator run and
// `vexacomm conform`. waitMs bounds every wait for the device.
Outcome PlayHost(const Case& c, const std::string& address, std::uint16_t port, unsigned waitMs);

} // namespace conform
