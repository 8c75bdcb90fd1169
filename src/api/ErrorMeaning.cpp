// The English meanings of the result codes, for hosts and people; the
// diagnostic log keeps its own fixed format.
#include "api/ErrorMeaning.h"

namespace {

struct Meaning {
    std::int32_t code;
    const char* text;
};

const Meaning kMeanings[] = {
    // File exception causes.
    {1, "file error"},
    {2, "file not found"},
    {3, "bad path"},
    {4, "too many open files"},
    {5, "access denied"},
    {6, "invalid file (not open)"},
    {7, "cannot remove the current directory"},
    {8, "directory full"},
    {9, "seek failed"},
    {10, "hardware I/O error"},
    {11, "sharing violation"},
    {12, "lock violation"},
    {13, "disk full"},
    {14, "end of file reached"},
    // Windows system numbers that the service side records.
    {87, "invalid parameter"},
    // Windows Sockets numbers, as every platform reports them.
    {10004, "interrupted system call"},
    {10009, "bad socket handle"},
    {10013, "permission denied"},
    {10014, "bad address"},
    {10022, "invalid argument"},
    {10024, "too many open sockets"},
    {10035, "operation would block"},
    {10036, "operation now in progress"},
    {10037, "operation already in progress"},
    {10038, "not a socket"},
    {10040, "message too long"},
    {10043, "protocol not supported"},
    {10045, "operation not supported"},
    {10047, "address family not supported"},
    {10048, "address already in use"},
    {10049, "address not available"},
    {10050, "network is down"},
    {10051, "network is unreachable"},
    {10052, "network dropped the connection"},
    {10053, "connection aborted"},
    {10054, "connection reset by the device"},
    {10055, "no buffer space available"},
    {10056, "already connected"},
    {10057, "not connected"},
    {10058, "connection shut down"},
    {10060, "timed out: the device did not answer within the wait limit"},
    {10061, "connection refused: nothing listens on the device's port"},
    {10064, "host is down"},
    {10065, "no route to host"},
    {11001, "host not found"},
    {11002, "host name look-up failed for now; try again"},
    {11003, "host name look-up failed"},
    {11004, "the host name has no IPv4 address"},
    // The library's own codes.
    {71000, "the device closed the connection"},
    {71001, "the device refused the connection"},
    {71002, "no valid greeting from the device after the TCP connect"},
    {71003, "the device answered with an unexpected command"},
    {71004, "the device cancelled the transfer"},
    {71005, "cancelled at the host's request"},
    {71006, "no connection is open"},
    {71007, "starting a program failed"},
    {71008, "malformed command line, or the program is missing"},
    {71009, "a started program did not end in time"},
    {71010, "protocol failure: a packet failed its checks, or the request did not fit a packet"},
    {71011, "the host's file object threw an unknown exception, or memory ran out"},
    {71012, "compressed data is truncated"},
    {71013, "compressed data is corrupt"},
    {71014, "the object is busy: called from inside one of its own callbacks, or the host's own request awaits its answer"},
    {71015, "not a device address: this-network, multicast, reserved or broadcast"},
    {71200, "a file could not be created or opened"},
    {71201, "the file object is of a kind the library does not recognise"},
    {71305, "the operation is not supported"},
    {75001, "the device refused the user's verification"},
};

} // namespace

std::string ErrorMeaning(std::int32_t code)
{
    if (code == 0)
        return std::string();
    for (const Meaning& m : kMeanings) {
        if (m.code == code)
            return m.text;
    }
    return "device error " + std::to_string(code);
}
