"""VexaComm for Python: the VexaComm device communication library through
ctypes.

    from vexacomm import Device

    with Device("192.0.2.10") as dev:
        print(dev.device_type, dev.ident)
        dev.fetch(out="data.bin")

The shared library (libVexaCommLib.so, VexaCommLib.dll) is loaded on first
use: from the path in the environment variable VEXACOMM_LIBRARY when it is
set (and from nowhere else then); otherwise from the package directory, then
through the system loader. LibraryNotFoundError names what was tried.

Failures raise VexaCommError or one of its subclasses (vexacomm.errors);
the library's diagnostic lines go to logging.getLogger("vexacomm") at DEBUG.
"""
from ._library import LibraryNotFoundError, error_text, library_version
from .codec import compress, decompress
from .device import DEFAULT_PORT, DEFAULT_REQUEST, Device
from .fleet import FetchResult, fetch_all
from .errors import (
    Busy,
    Cancelled,
    Code,
    ConnectionLost,
    ConnectionRefused,
    DeviceError,
    FileError,
    NotConnected,
    TimedOut,
    VexaCommError,
)

__version__ = "0.2.0"

__all__ = [
    "DEFAULT_PORT",
    "DEFAULT_REQUEST",
    "Busy",
    "Cancelled",
    "Code",
    "ConnectionLost",
    "ConnectionRefused",
    "Device",
    "DeviceError",
    "FetchResult",
    "FileError",
    "LibraryNotFoundError",
    "NotConnected",
    "TimedOut",
    "VexaCommError",
    "compress",
    "decompress",
    "error_text",
    "fetch_all",
    "library_version",
]
