"""Device: one connection object of the library, from connect to close."""
from __future__ import annotations

import contextlib
import ctypes
import os
import threading
from typing import BinaryIO, Callable, Iterator, Optional, Union

from ._library import PROGRESS_FN, WRITE_FN, check, copied_text, library
from ._streams import Streams

DEFAULT_PORT = 30282
# The request for everything: an 8-byte block whose signed 16-bit entry
# count at byte 6 (little-endian) is -1.
DEFAULT_REQUEST = bytes([0, 0, 0, 0, 0, 0, 0xFF, 0xFF])
_MAX_ENTRIES = 2046
_NOT_CONNECTED = 71006
_WAIT_LIMIT_MAX_MS = 0x7FFFFFFF
_PACKET_SIZE_MIN = 248
_PACKET_SIZE_MAX = 16376
_PACKET_SIZE_QUERY = 0xFFFF

ProgressFn = Callable[[str, int], None]
PathLike = Union[str, "os.PathLike[str]"]


def _request_block(request: Optional[bytes]) -> bytes:
    """Checks a request block: 8 + 8*N bytes, N at byte 6, -1..2046. The
    library reads as many bytes as N says, so a shorter block must not
    reach it."""
    block = DEFAULT_REQUEST if request is None else bytes(request)
    if len(block) < 8:
        raise ValueError(f"a request block has at least 8 bytes, this one {len(block)}")
    count = int.from_bytes(block[6:8], "little", signed=True)
    if not -1 <= count <= _MAX_ENTRIES:
        raise ValueError(f"the entry count {count} at byte 6 is outside -1..{_MAX_ENTRIES}")
    needed = 8 + 8 * max(count, 0)
    if len(block) != needed:
        raise ValueError(f"the entry count {count} needs {needed} bytes, the block has {len(block)}")
    return block


class _Transfer(Streams):
    """One fetch: the write function into ``out`` and the progress
    function, which the library calls on the fetching thread."""

    def __init__(self, lib: ctypes.CDLL, obj: int, out: BinaryIO, progress: Optional[ProgressFn]) -> None:
        super().__init__(sink=out)
        self.lib = lib
        self.obj = obj
        self.progress = progress
        self.started = False

    def notify(self, _user: Optional[int], w_param: int, l_param: int) -> None:
        if self.error is not None or self.progress is None:
            return
        try:
            # Every transfer sends (1, range) first and (1, 0) last.
            if w_param == 1 and not self.started:
                self.started = True
                event = "start"
            elif w_param == 1:
                event = "end"
            else:
                event = "position"
            self.progress(event, l_param)
        except BaseException as e:
            self.error = e
            # Ends a transfer that waits for data; the next write fails too.
            self.lib.VexaComm_CancelTransfer(self.obj)


class Device:
    """A device reached over TCP through one library object.

    The object is made at once; the connection is opened by ``connect()`` or
    on entering a ``with`` block, and the object destroyed by ``close()`` or
    on leaving the block. ``wait_limit`` is the limit of every wait for the
    device in seconds (None: the library's 30.03 s).

    Every failure of the library raises a ``VexaCommError`` (see
    ``vexacomm.errors``) with its code and text. Calls from several threads are served one at a time, except
    ``cancel()``, which acts on a running connect or fetch.
    """

    def __init__(self, host: str, port: int = DEFAULT_PORT, wait_limit: Optional[float] = None) -> None:
        if not 0 <= port <= 0xFFFF:
            raise ValueError(f"port {port} is outside 0..65535")
        self._lib = library()
        self._host = host
        self._port = port
        self._cond = threading.Condition()
        self._calls = 0
        self._fetching = threading.Lock()
        self._obj: Optional[int] = self._lib.VexaComm_CreateObject()
        if not self._obj:
            self._obj = None
            raise MemoryError("VexaComm_CreateObject could not make an object")
        if wait_limit is not None:
            self.wait_limit = wait_limit

    # -- lifetime ---------------------------------------------------------

    def __enter__(self) -> "Device":
        try:
            self.connect()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __del__(self) -> None:
        with contextlib.suppress(Exception):
            self.close()

    @contextlib.contextmanager
    def _use(self) -> Iterator[int]:
        with self._cond:
            if self._obj is None:
                raise ValueError("the device is closed")
            self._calls += 1
            obj = self._obj
        try:
            yield obj
        finally:
            with self._cond:
                self._calls -= 1
                self._cond.notify_all()

    def close(self) -> None:
        """Closes the connection and destroys the object. A call running on
        another thread is cancelled and waited for first (it ends within the
        wait limit). Do not call it from a progress function. Closing twice
        does nothing."""
        with self._cond:
            obj, self._obj = self._obj, None
            if obj is None:
                return
            if self._calls:
                self._lib.VexaComm_CancelTransfer(obj)
            while self._calls:
                self._cond.wait()
        self._lib.VexaComm_DestroyObject(obj)

    # -- connection -------------------------------------------------------

    def connect(self) -> None:
        """Connects (greeting, negotiation, device type and identification).
        Does nothing when already connected."""
        with self._use() as obj:
            rc = self._lib.VexaComm_ConnectPort(obj, self._host.encode("utf-8"), self._port)
            if rc == 0 and not self._lib.VexaComm_IsConnected(obj):
                rc = _NOT_CONNECTED  # a cancel that came as the connect ended
            check(rc, obj)

    @property
    def is_connected(self) -> bool:
        with self._use() as obj:
            return bool(self._lib.VexaComm_IsConnected(obj))

    @property
    def device_type(self) -> int:
        """The connected device's type code (0 when not connected)."""
        with self._use() as obj:
            return int(self._lib.VexaComm_GetDeviceType(obj))

    @property
    def ident(self) -> str:
        """The connected device's identification ("" when not connected),
        decoded as UTF-8, or GBK when it is not UTF-8."""
        with self._use() as obj:
            return copied_text(self._lib.VexaComm_GetIdent, obj)

    @property
    def packet_size(self) -> int:
        """The packet size agreed while connecting."""
        with self._use() as obj:
            return int(self._lib.VexaComm_GetPacketSizeMax(obj))

    @property
    def wait_limit(self) -> float:
        """The limit of every wait for the device, in seconds (0.001 to
        2147483.647); takes effect at the next wait."""
        with self._use() as obj:
            return self._lib.VexaComm_GetWaitLimit(obj) / 1000

    @wait_limit.setter
    def wait_limit(self, seconds: float) -> None:
        ms = round(seconds * 1000)
        if not 1 <= ms <= _WAIT_LIMIT_MAX_MS:
            raise ValueError(f"wait limit {seconds} s is outside 0.001..2147483.647")
        with self._use() as obj:
            self._lib.VexaComm_SetWaitLimit(obj, ms)

    def negotiate_packet_size(self, size: int) -> int:
        """Asks the device for packets of ``size`` bytes (248..16376, or
        0xFFFF to query) and returns its answer; 16376 without a
        connection. ``packet_size`` does not change."""
        # The library refuses other sizes silently, leaving the value as is.
        if not (_PACKET_SIZE_MIN <= size <= _PACKET_SIZE_MAX or size == _PACKET_SIZE_QUERY):
            raise ValueError(f"packet size {size} is outside {_PACKET_SIZE_MIN}..{_PACKET_SIZE_MAX} (or 0xFFFF)")
        value = ctypes.c_uint16(size)
        with self._use() as obj:
            check(self._lib.VexaComm_SetPacketSizeMax(obj, ctypes.byref(value)), obj)
        return value.value

    # -- transfer ---------------------------------------------------------

    def fetch(
        self,
        request: Optional[bytes] = None,
        *,
        out: Union[PathLike, BinaryIO],
        progress: Optional[ProgressFn] = None,
    ) -> int:
        """Sends the ASDU 10 request block (default: everything, N = -1) and
        streams the answer into ``out``, packet by packet; returns the
        number of bytes written.

        ``out`` is a path, created or emptied once the device is connected,
        or a binary file object written from its current position. What
        arrived before a failure stays written.

        ``progress(event, value)`` runs on the calling thread: ``("start",
        range)`` first, ``("position", n)`` as data arrives (n in units of
        range; it may exceed range by less than a factor 2), and
        ``("end", 0)`` last, whether the transfer succeeded or not.

        An exception raised by ``out.write`` or by ``progress`` ends the
        transfer and is raised here once the library has returned;
        otherwise a non-zero result raises VexaCommError (71005 after
        ``cancel()``).
        """
        block = _request_block(request)
        if isinstance(out, (str, os.PathLike)):
            with self._use() as obj:
                if not self._lib.VexaComm_IsConnected(obj):
                    check(_NOT_CONNECTED, obj)  # the file is left untouched
            with open(out, "wb") as f:
                return self._fetch(block, f, progress)
        return self._fetch(block, out, progress)

    def _fetch(self, block: bytes, out: BinaryIO, progress: Optional[ProgressFn]) -> int:
        lib = self._lib
        # One fetch at a time, so that one fetch never removes another's
        # progress function.
        with self._fetching, self._use() as obj:
            transfer = _Transfer(lib, obj, out, progress)
            # The ctypes function objects live in these locals until the
            # library can no longer call them: the progress function is
            # removed before they go.
            write_fn = WRITE_FN(transfer.write)
            progress_fn = PROGRESS_FN(transfer.notify) if progress is not None else None
            if progress_fn is not None:
                lib.VexaComm_SetProgressCallback(obj, progress_fn, None, 0)
            try:
                rc = lib.VexaComm_GetAsdu10ToCallback(obj, write_fn, None, block)
            finally:
                if progress_fn is not None:
                    lib.VexaComm_SetProgressCallback(obj, PROGRESS_FN(), None, 0)
            transfer.raise_kept()
            check(rc, obj)
            return transfer.written

    def cancel(self) -> None:
        """Asks a running connect or fetch (on another thread) to stop;
        does not wait. The fetch then raises Cancelled (71005), keeping
        what arrived. A cancel while nothing runs is dropped when the next
        connect or fetch starts."""
        # Counted as a call, so that close() does not destroy the object
        # under it; on a closed device there is nothing to stop.
        with contextlib.suppress(ValueError), self._use() as obj:
            self._lib.VexaComm_CancelTransfer(obj)
