"""The library's diagnostic lines as DEBUG records of the logger "vexacomm".

The library is handed a callback only while that logger is enabled for
DEBUG and has a handler (its own or an ancestor's); this is checked before
each call that talks to a device, where the library's lines come from."""
from __future__ import annotations

import logging
import threading
from typing import Optional

from ._library import DIAGNOSTIC_FN, decode_text, library

LOGGER = logging.getLogger("vexacomm")

_lock = threading.Lock()
_installed = False
_kept = threading.local()


def _deliver(_user: Optional[int], line: Optional[bytes]) -> None:
    try:
        if line:
            LOGGER.debug("%s", decode_text(line).rstrip("\r\n"))
    except BaseException as e:  # never into ctypes: raised after the call
        _kept.error = e


# Module-level for the life of the process: the library may call it at any
# time while it is set.
_CALLBACK = DIAGNOSTIC_FN(_deliver)


def sync() -> None:
    """Hands the library the callback, or takes it back, as the logger now wants."""
    global _installed
    wanted = LOGGER.isEnabledFor(logging.DEBUG) and LOGGER.hasHandlers()
    with _lock:
        if wanted != _installed:
            library().VexaComm_SetDiagnosticCallback(_CALLBACK if wanted else DIAGNOSTIC_FN(), None)
            _installed = wanted


def installed() -> bool:
    return _installed


def take_error() -> Optional[BaseException]:
    """What the callback raised on this thread since the last take, if anything."""
    error = getattr(_kept, "error", None)
    _kept.error = None
    return error
