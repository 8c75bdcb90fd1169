// CDeviceSocket: the connection object handed to the host. It adds the
// device connect sequence, the device type and identification queries and
// the ASDU 10 request to the generic connection.
#pragma once

#include <cstdint>
#include <string>

#include "vexacomm/GLSocket.h"

class CDeviceSocket : public CGLSocket {
public:
    CDeviceSocket();
    ~CDeviceSocket() override;

    BOOL IsLost() override;
    void Close() override;
    std::string GetErrorString() override;

    BOOL Connect(const char* host);
    // The same sequence on another port (port-forwarded set-ups).
    BOOL ConnectPort(const char* host, std::uint16_t port);
    BOOL GetAsdu10(CFile* file, const void* request);
    BOOL QueryDeviceType();
    BOOL QueryIdent();
    BOOL CheckReply(const std::uint8_t* packet, std::uint32_t expectedCommand);

    // The device's text for 75001, else the base text for `code`.
    static std::string DeviceErrorTextFor(std::int32_t code);

    std::string m_strIdent;
    std::uint16_t m_wDeviceType;
    // The last ASDU 10 answer on this connection announced 0 bytes: the
    // next one's length tells a leftover data packet from an answer.
    bool m_bNothingPromised = false;
    // The host sent a request of its own (VexaComm_SendPacket) and has not
    // received since: its answer may still come, and would be taken for
    // the answer to a request of the library's.
    bool m_bHostExchangeOpen = false;
    // False, with 71014 recorded, while the host's own exchange is open.
    BOOL RefuseInHostExchange();

private:
    BOOL Exchange(std::uint32_t command, const void* payload, std::uint32_t length);
};

// Device type codes stored unchanged; any other code is stored as 42.
std::uint16_t MapDeviceType(std::uint16_t reported);

