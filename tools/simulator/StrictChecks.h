// The host's side of one simulated connection, judged against the
// protocol's rules packet by packet (simulate --strict). Each deviation is
// handed to the report with a short rule name, what was expected and what
// came.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class CStrictChecks {
public:
    using Report = std::function<void(const char* rule, const std::string& expected, const std::string& came)>;
    explicit CStrictChecks(Report report) : m_report(std::move(report)) {}

    // Where the simulator stands when a host packet arrives.
    enum class Moment {
        Request,         // between requests
        Acknowledgement, // in a stream, waiting for the host's acknowledgement
        Streaming,       // in a stream without acknowledgements
    };

    // A packet the device sent; `probeAnswer`: it answers the envelope
    // probe, whose code decides the host's framing instead.
    void DeviceSent(std::uint32_t command, std::uint32_t length, const std::uint8_t* payload, bool enveloped,
                    bool probeAnswer);
    // A whole host packet: header and payload as received.
    void HostPacket(const std::uint8_t* packet, bool enveloped, Moment moment);
    void BadLength(std::uint32_t length, bool enveloped);
    void BadEnvelope(const std::string& expected, const std::string& came);

    // A data stream announced with `acks` read one by one; at its end, the
    // acknowledgements the simulator left unread (a flood).
    void StreamBegins(bool acks);
    void StreamEnds(unsigned unreadAcks);

private:
    void Deviation(const char* rule, const std::string& expected, const std::string& came);
    void CheckOrder(std::uint32_t command, const std::string& came);
    void CheckPayload(const std::uint8_t* packet, const std::string& came);
    void CheckStreamMoment(std::uint32_t command, std::uint32_t length, Moment moment, const std::string& came);

    Report m_report;
    bool m_expectEnvelope = false;
    // 0: the probe is next; 1: CMD_PACKET_SIZE; 2: CMD_ACK_MODE; 3: done.
    int m_stage = 0;
    bool m_acks = false;
    bool m_cancelled = false;
    unsigned m_acksOwed = 0;
    // A cancel may cross the end mark when acknowledgements do not pace the stream.
    bool m_lateCancel = false;
};

// "CMD_IDENT (58)", or the number alone for an unknown command.
std::string CommandText(std::uint32_t command);
