// The library's own error codes and the other codes its rules name.
#pragma once

#include <cstdint>

#include "VexaCommLib.h"

enum CommError : std::int32_t {
    COMM_ERR_NONE = 0,
    // WSAETIMEDOUT, as every platform reports it: a wait reached its limit.
    COMM_ERR_TIMED_OUT = 10060,
    COMM_ERR_PEER_CLOSED = VEXACOMM_ERR_PEER_CLOSED,
    COMM_ERR_CONNECT_REFUSED = VEXACOMM_ERR_CONNECT_REFUSED,
    COMM_ERR_NO_GREETING = VEXACOMM_ERR_NO_GREETING,
    COMM_ERR_UNEXPECTED_REPLY = VEXACOMM_ERR_UNEXPECTED_REPLY,
    COMM_ERR_PEER_CANCELLED = VEXACOMM_ERR_PEER_CANCELLED,
    COMM_ERR_CANCELLED = VEXACOMM_ERR_CANCELLED,
    // Reported by the exports only, in place of a silent failure.
    COMM_ERR_NOT_CONNECTED = VEXACOMM_ERR_NOT_CONNECTED,
    COMM_ERR_EXEC_FAILED = VEXACOMM_ERR_EXEC_FAILED,
    COMM_ERR_EXEC_BAD_COMMAND = VEXACOMM_ERR_EXEC_BAD_COMMAND,
    COMM_ERR_EXEC_TIMEOUT = VEXACOMM_ERR_EXEC_TIMEOUT,
    COMM_ERR_PROTOCOL = VEXACOMM_ERR_PROTOCOL,
    // The host's file object (or observer) threw something the library
    // does not know, or memory ran out; the connection is closed.
    COMM_ERR_EXCEPTION = VEXACOMM_ERR_EXCEPTION,
    COMM_ERR_DATA_TRUNCATED = VEXACOMM_ERR_DATA_TRUNCATED,
    COMM_ERR_DATA_CORRUPT = VEXACOMM_ERR_DATA_CORRUPT,
    // Reported by the exports only: a call from inside one of the object's
    // own callbacks that would change the running exchange.
    COMM_ERR_BUSY = VEXACOMM_ERR_BUSY,
    COMM_ERR_NOT_DEVICE_ADDRESS = VEXACOMM_ERR_NOT_DEVICE_ADDRESS,
    COMM_ERR_FILE_CREATE = VEXACOMM_ERR_FILE_CREATE,
    COMM_ERR_NOT_SUPPORTED = VEXACOMM_ERR_NOT_SUPPORTED,
    COMM_ERR_USER_VERIFY = VEXACOMM_ERR_USER_VERIFY,
};

// The envelope probe's answer code; recorded but never logged.
constexpr std::int32_t COMM_CODE_ENVELOPE_ON = 0x76337692;

// Codes after which the connection counts as lost.
inline bool IsLostConnectionCode(std::int32_t code)
{
    return code == 10053 || code == 10054 || code == COMM_ERR_PEER_CLOSED;
}

// Codes that SetError records without a diagnostic line.
inline bool IsQuietCode(std::int32_t code)
{
    return code == 0 || code == 10060 || code == COMM_CODE_ENVELOPE_ON;
}
