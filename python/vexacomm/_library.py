"""Finding and loading the shared library, the prototypes of its exports,
the library's texts and the exception for a result (check)."""
from __future__ import annotations

import ctypes
import ctypes.util
import glob
import os
import sys
import threading
from typing import List, Optional

from .errors import error_for

if sys.platform == "win32":
    # Importing socket starts Windows Sockets (WSAStartup), which the library
    # expects of its host before the first connect.
    import socket  # noqa: F401

ENV_VARIABLE = "VEXACOMM_LIBRARY"

# The C callback types; CFUNCTYPE is the C calling convention (cdecl).
WRITE_FN = ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint32)
READ_FN = ctypes.CFUNCTYPE(
    ctypes.c_int32, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint32, ctypes.POINTER(ctypes.c_uint32)
)
TRANSFER_FN = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_uint64, ctypes.c_uint64)
DIAGNOSTIC_FN = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_char_p)

_obj = ctypes.c_void_p
_i32 = ctypes.c_int32
_u16 = ctypes.c_uint16
_u32 = ctypes.c_uint32

# name: (restype, argtypes) of every export this package calls.
_PROTOTYPES = {
    "VexaComm_CreateObject": (_obj, []),
    "VexaComm_DestroyObject": (_i32, [_obj]),
    "VexaComm_ConnectPort": (_i32, [_obj, ctypes.c_char_p, _u16]),
    "VexaComm_IsConnected": (_i32, [_obj]),
    "VexaComm_SetPacketSizeMax": (_i32, [_obj, ctypes.POINTER(_u16)]),
    "VexaComm_GetPacketSizeMax": (_u16, [_obj]),
    "VexaComm_GetIdent": (_i32, [_obj, ctypes.c_char_p, _i32]),
    "VexaComm_GetDeviceType": (_u16, [_obj]),
    "VexaComm_GetErrorText": (_i32, [_obj, _i32, ctypes.c_char_p, _i32]),
    "VexaComm_SetWaitLimit": (_i32, [_obj, _u32]),
    "VexaComm_GetWaitLimit": (_u32, [_obj]),
    "VexaComm_SetTransferCallback": (_i32, [_obj, TRANSFER_FN, ctypes.c_void_p]),
    "VexaComm_SetDiagnosticCallback": (_i32, [DIAGNOSTIC_FN, ctypes.c_void_p]),
    "VexaComm_GetVersion": (ctypes.c_char_p, []),
    "VexaComm_SetCaptureFile": (_i32, [_obj, ctypes.c_char_p]),
    "VexaComm_CancelTransfer": (_i32, [_obj]),
    "VexaComm_GetAsdu10ToCallback": (_i32, [_obj, WRITE_FN, ctypes.c_void_p, ctypes.c_char_p]),
    "VexaComm_GetAsdu10ToPath": (_i32, [_obj, ctypes.c_char_p, ctypes.c_char_p]),
    "VexaComm_CompressStream": (_i32, [READ_FN, ctypes.c_void_p, _u32, WRITE_FN, ctypes.c_void_p]),
    "VexaComm_DecompressStream": (_i32, [READ_FN, ctypes.c_void_p, WRITE_FN, ctypes.c_void_p]),
}


class LibraryNotFoundError(OSError):
    """The shared library could not be loaded; the message lists every
    place that was tried and why each failed."""


def _candidates(failures: List[str]) -> List[str]:
    """Where the library is looked for when VEXACOMM_LIBRARY is not set:
    the package directory, then the names the system loader knows."""
    here = os.path.dirname(os.path.abspath(__file__))
    pattern = "VexaCommLib.dll" if sys.platform == "win32" else "libVexaCommLib.so*"
    # The plain name first, then the versioned ones.
    found = sorted((p for p in glob.glob(os.path.join(here, pattern)) if os.path.isfile(p)), key=len)
    if not found:
        failures.append(f"{os.path.join(here, pattern)} (no such file)")
    system = ctypes.util.find_library("VexaCommLib")
    if system:
        found.append(system)
    if sys.platform == "win32":
        found.append("VexaCommLib.dll")
    else:
        found += ["libVexaCommLib.so.0", "libVexaCommLib.so"]
    return found


def _load() -> ctypes.CDLL:
    explicit = os.environ.get(ENV_VARIABLE)
    # A set VEXACOMM_LIBRARY is the only place tried: a wrong setting is
    # reported rather than quietly replaced by another copy.
    failures: List[str] = []
    candidates = [explicit] if explicit else _candidates(failures)
    for candidate in candidates:
        try:
            lib = ctypes.CDLL(candidate)
        except OSError as e:
            failures.append(f"{candidate} ({e})")
            continue
        missing = [name for name in _PROTOTYPES if not hasattr(lib, name)]
        if missing:
            failures.append(f"{candidate} (no export {missing[0]})")
            continue
        for name, (restype, argtypes) in _PROTOTYPES.items():
            function = getattr(lib, name)
            function.restype = restype
            function.argtypes = argtypes
        return lib
    if explicit:
        where = f"{ENV_VARIABLE}={explicit}"
    else:
        where = f"the package directory and the system loader ({ENV_VARIABLE} not set)"
    raise LibraryNotFoundError(
        f"the VexaComm library could not be loaded from {where}; tried: " + "; ".join(failures)
    )


_lock = threading.Lock()
_library: Optional[ctypes.CDLL] = None


def library() -> ctypes.CDLL:
    """The loaded library, loaded on first use (raises LibraryNotFoundError)."""
    global _library
    with _lock:
        if _library is None:
            _library = _load()
        return _library


def decode_text(raw: bytes) -> str:
    """Text from the library: UTF-8 (ASCII included), otherwise GBK, the
    code page of the library's own and the companion library's texts."""
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return raw.decode("gbk", errors="replace")


def copied_text(function, *args) -> str:
    """Calls a text export (..., buffer, size) -> full length, growing the
    buffer once if the text did not fit."""
    size = 256
    for _ in range(2):
        buffer = ctypes.create_string_buffer(size)
        length = function(*args, buffer, size)
        if length < size:
            return decode_text(buffer.value)
        size = length + 1
    return decode_text(buffer.value)


def error_text(code: int, obj: Optional[int] = None) -> str:
    """The library's text for a result code. Without an object a
    short-lived one is made, as the export takes one."""
    lib = library()
    if obj is not None:
        return copied_text(lib.VexaComm_GetErrorText, obj, code)
    temporary = lib.VexaComm_CreateObject()
    try:
        return copied_text(lib.VexaComm_GetErrorText, temporary, code)
    finally:
        lib.VexaComm_DestroyObject(temporary)


def check(code: int, obj: Optional[int] = None) -> None:
    """Raises the VexaCommError (subclass) for a non-zero result."""
    if code != 0:
        raise error_for(code, error_text(code, obj))


def library_version() -> str:
    """The version of the loaded library, "major.minor.patch"."""
    return library().VexaComm_GetVersion().decode("ascii")
