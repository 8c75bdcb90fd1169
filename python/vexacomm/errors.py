"""Result codes and the exceptions raised for them.

Every failure of the library raises a ``VexaCommError`` (``code``, ``text``);
the subclasses also derive from the built-in exception a Python program
already catches for the same cause, e.g. ``except ConnectionRefusedError``
or ``except TimeoutError``.
"""
from __future__ import annotations

import enum
import errno as _errno
from typing import Dict, Optional, Type


class Code(enum.IntEnum):
    """The result codes the library names, the common socket numbers (the
    same on every platform) and the file exception causes it mentions."""

    OK = 0
    DISK_FULL = 13
    END_OF_FILE = 14
    INVALID_PARAMETER = 87
    CONNECTION_ABORTED = 10053
    CONNECTION_RESET = 10054
    TIMED_OUT = 10060
    CONNECTION_REFUSED = 10061
    HOST_UNREACHABLE = 10065
    HOST_NOT_FOUND = 11001
    PEER_CLOSED = 71000
    CONNECT_REFUSED = 71001
    NO_GREETING = 71002
    UNEXPECTED_REPLY = 71003
    PEER_CANCELLED = 71004
    CANCELLED = 71005
    NOT_CONNECTED = 71006
    EXEC_FAILED = 71007
    EXEC_BAD_COMMAND = 71008
    EXEC_TIMEOUT = 71009
    PROTOCOL = 71010
    EXCEPTION = 71011
    DATA_TRUNCATED = 71012
    DATA_CORRUPT = 71013
    BUSY = 71014
    NOT_DEVICE_ADDRESS = 71015
    FILE_CREATE = 71200
    FILE_UNRECOGNISED = 71201
    NOT_SUPPORTED = 71305
    USER_VERIFY = 75001


FILE_CAUSES = range(1, 15)
SOCKET_NUMBERS = range(10035, 11005)
# The library's own codes; any other code outside the two ranges above was
# sent by the device (75001 included: the device refuses the user), but
# for 87, a NULL argument.
_LIBRARY_CODES = frozenset(c for c in Code if 71000 <= c < 72000) | {Code.INVALID_PARAMETER}


class VexaCommError(Exception):
    """A non-zero result of the library: ``code`` as the library returned
    it, ``text`` its English meaning from VexaComm_GetErrorText."""

    def __init__(self, code: int, text: str) -> None:
        super().__init__(code, text)
        self.code = code
        self.text = text
        if isinstance(self, OSError):
            # The platform's own number where one means the same, so that
            # checks of e.errno keep working; code keeps the library's.
            self.errno = _ERRNO.get(code)

    def __str__(self) -> str:
        return f"error {self.code}: {self.text}"


class ConnectionRefused(VexaCommError, ConnectionRefusedError):
    """Nothing listens at the address (10061), or the device refused in its greeting (71001)."""


class TimedOut(VexaCommError, TimeoutError):
    """The TCP connect did not stand within the wait limit (10060)."""


class ConnectionLost(VexaCommError, ConnectionError):
    """The device closed (71000), or the network aborted (10053) or reset (10054) the connection."""


class Cancelled(VexaCommError):
    """Ended by ``Device.cancel()`` (71005)."""


class NotConnected(VexaCommError):
    """No connection is open (71006)."""


class Busy(VexaCommError):
    """Called from inside the object's own call or callback (71014)."""


class DeviceError(VexaCommError):
    """A code the device sent, passed through."""


class FileError(VexaCommError, OSError):
    """A file exception cause 1..14 (13: disk full)."""


_CLASSES: Dict[int, Type[VexaCommError]] = {
    Code.CONNECTION_REFUSED: ConnectionRefused,
    Code.CONNECT_REFUSED: ConnectionRefused,
    Code.TIMED_OUT: TimedOut,
    Code.PEER_CLOSED: ConnectionLost,
    Code.CONNECTION_ABORTED: ConnectionLost,
    Code.CONNECTION_RESET: ConnectionLost,
    Code.CANCELLED: Cancelled,
    Code.NOT_CONNECTED: NotConnected,
    Code.BUSY: Busy,
}

_ERRNO: Dict[int, Optional[int]] = {
    Code.CONNECTION_REFUSED: _errno.ECONNREFUSED,
    Code.CONNECT_REFUSED: _errno.ECONNREFUSED,
    Code.TIMED_OUT: _errno.ETIMEDOUT,
    Code.CONNECTION_ABORTED: _errno.ECONNABORTED,
    Code.CONNECTION_RESET: _errno.ECONNRESET,
    2: _errno.ENOENT,
    3: _errno.ENOENT,
    4: _errno.EMFILE,
    5: _errno.EACCES,
    10: _errno.EIO,
    Code.DISK_FULL: _errno.ENOSPC,
}


def error_for(code: int, text: str) -> VexaCommError:
    """The exception for a non-zero result code."""
    code = int(code)  # a plain int, also when given a Code
    cls = _CLASSES.get(code)
    if cls is None:
        if code in FILE_CAUSES:
            cls = FileError
        elif code in SOCKET_NUMBERS or code in _LIBRARY_CODES:
            cls = VexaCommError
        else:
            cls = DeviceError
    return cls(code, text)
