// The library's own error codes and the other codes its rules name.
#pragma once

#include <cstdint>

enum CommError : std::int32_t {
    COMM_ERR_NONE = 0,
    COMM_ERR_PEER_CLOSED = 71000,
    COMM_ERR_CONNECT_REFUSED = 71001,
    COMM_ERR_NO_GREETING = 71002,
    COMM_ERR_UNEXPECTED_REPLY = 71003,
    COMM_ERR_PEER_CANCELLED = 71004,
    COMM_ERR_CANCELLED = 71005,
    // Reported by the exports only, in place of a silent failure.
    COMM_ERR_NOT_CONNECTED = 71006,
    COMM_ERR_EXEC_FAILED = 71007,
    COMM_ERR_EXEC_BAD_COMMAND = 71008,
    COMM_ERR_EXEC_TIMEOUT = 71009,
    COMM_ERR_PROTOCOL = 71010,
    COMM_ERR_FILE_CREATE = 71200,
    COMM_ERR_NOT_SUPPORTED = 71305,
    COMM_ERR_USER_VERIFY = 75001,
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
