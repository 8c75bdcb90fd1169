// A second reading of the protocol's receive rules, kept apart from the
// engine: what a connection must make of the bytes a peer sends, which
// error it must record and what it must send back. The fuzz targets feed
// the engine and this model the same bytes and compare the outcomes, so a
// run finds wrong answers as well as crashes.
//
// Sends are assumed to succeed while the connection is open (the harness
// buffers are large enough); a receive that runs out of bytes times out
// (10060), or reads end of stream (71000) when the peer has closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "vexacomm/Protocol.h"

namespace model {

// The bytes the peer sent for one exchange, and whether it closed after them.
struct Source {
    std::string bytes;
    std::size_t pos = 0;
    bool closed = false;
    std::size_t Left() const { return bytes.size() - pos; }
};

struct Conn {
    bool open = true;
    std::int32_t error = 0;
    bool peerEnvelope = false;
    bool connected = false;
    std::uint16_t packetSize = PACKET_SIZE_DEFAULT;
    std::uint16_t ackMode = 0;
    std::string sent;        // every byte the library sent
    unsigned packetsSent = 0;
    std::uint8_t packet[PACKET_BUFFER_SIZE] = {};

    std::uint32_t Command() const { return ReadU32(packet); }
    std::uint32_t Length() const { return ReadU32(packet + 4); }
    const std::uint8_t* Payload() const { return packet + PACKET_HEADER_SIZE; }
};

void SetError(Conn& c, std::int32_t code);
// One packet into c.packet, as the framing reads it; an exchange starts.
bool ReceivePacket(Conn& c, Source& s);
// The next packet of a stream: the same, within the running exchange.
bool ReceiveNext(Conn& c, Source& s);
// One packet in the framing the connection currently answers in.
bool Send(Conn& c, std::uint32_t command, const std::string& payload);
// Discards what is left of an earlier exchange's bytes.
void Drain(Conn& c, Source& earlier);
// Greeting judgement, envelope probe and both negotiations.
bool Greeting(Conn& c, Source& s);
// The device client's reply rule.
bool CheckReply(Conn& c, std::uint32_t expectedCommand);

using Message = std::pair<std::uintptr_t, std::intptr_t>;

struct TransferSetup {
    std::uint32_t expectedPackets = 0;
    std::uint32_t startPosition = 0;
    bool observer = false;      // progress messages go to an observer
    unsigned cancelAtMessage = 0; // the observer requests a cancel at this position message (1 = the first; 0 = never)
    int failWrite = 0;          // this write (1 = the first) throws diskFull; 0 = never
};

struct TransferOutcome {
    bool result = false;
    std::string file;
    int writes = 0;
    bool cancelSent = false;
    std::vector<Message> messages;
};

// Bulk reception of data packets with the command dataCommand.
TransferOutcome ReceiveData(Conn& c, Source& s, std::uint32_t dataCommand, const TransferSetup& setup);

} // namespace model
