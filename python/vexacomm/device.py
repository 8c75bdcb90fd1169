"""Device: one connection object of the library, from connect to close."""
from __future__ import annotations

import contextlib
import ctypes
import os
import threading
from typing import BinaryIO, Callable, Iterator, Optional, Union

from ._blocking import Call
from ._library import TRANSFER_FN, WRITE_FN, check, copied_text, library
from ._streams import Streams
from .errors import Code

DEFAULT_PORT = 30282
# The request for everything: an 8-byte block whose signed 16-bit entry
# count at byte 6 (little-endian) is -1.
DEFAULT_REQUEST = bytes([0, 0, 0, 0, 0, 0, 0xFF, 0xFF])
_MAX_ENTRIES = 2046
_WAIT_LIMIT_MAX_MS = 0x7FFFFFFF
_PACKET_SIZE_MIN = 248
_PACKET_SIZE_MAX = 16376
_PACKET_SIZE_QUERY = 0xFFFF

ProgressFn = Callable[[int, int], None]
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


class _Posting:
    """VexaCommTransferFn, on the worker thread: to the running fetch's Call."""

    call: Optional[Call] = None

    def transferred(self, _user: Optional[int], done: int, total: int) -> None:
        call = self.call
        if call is not None:
            call.post(done, total)  # never raises


class Device:
    """A device reached over TCP through one library object.

    The object is made at once; the connection is opened by ``connect()`` or
    on entering a ``with`` block, and the object destroyed by ``close()`` or
    on leaving the block. ``wait_limit`` is the limit of every wait for the
    device in seconds (None: the library's 30.03 s).

    Every failure of the library raises a ``VexaCommError`` (see
    ``vexacomm.errors``) with its code and text. Calls from several threads
    are served one at a time, except ``cancel()``, which acts on a running
    connect or fetch. Ctrl-C during a connect or fetch cancels it and
    raises KeyboardInterrupt once the library has returned (within a
    second; a host-name look-up is not interrupted).
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
        self._progress_thread: Optional[int] = None
        # Lives as long as the object may hold it: were a KeyboardInterrupt
        # to skip its removal after a fetch, the library still calls a
        # valid function, which then posts nowhere. Not a method of self,
        # so that no cycle delays closing an unreferenced device.
        self._posting = _Posting()
        self._transfer_fn = TRANSFER_FN(self._posting.transferred)
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
    def _use(self, exclusive: bool = False) -> Iterator[int]:
        with self._cond:
            if self._obj is None:
                raise ValueError("the device is closed")
            if exclusive and self._progress_thread == threading.get_ident():
                # As the library refuses its own callbacks: the fetch that
                # runs the progress function would wait for this call.
                check(Code.BUSY, self._obj)
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
        wait limit). From a progress function it raises Busy. Closing twice
        does nothing."""
        with self._cond:
            if self._obj is None:
                return
            if self._progress_thread == threading.get_ident():
                check(Code.BUSY, self._obj)
            obj, self._obj = self._obj, None
            if self._calls:
                self._lib.VexaComm_CancelTransfer(obj)
            while self._calls:
                self._cond.wait()
        self._lib.VexaComm_DestroyObject(obj)

    # -- connection -------------------------------------------------------

    def connect(self) -> None:
        """Connects (greeting, negotiation, device type and identification).
        Does nothing when already connected."""
        host = self._host.encode("utf-8")
        with self._use(exclusive=True) as obj:

            def connect() -> int:
                rc = self._lib.VexaComm_ConnectPort(obj, host, self._port)
                if rc == 0 and not self._lib.VexaComm_IsConnected(obj):
                    rc = Code.NOT_CONNECTED  # a cancel that came as the connect ended
                return rc

            check(self._call(obj).run(connect), obj)

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

    def capture(self, path: Optional[str]) -> None:
        """Writes every byte of the connection to ``path``, a pcap file the
        packet analysers open (None stops). A failing capture file never
        fails the connection."""
        with self._use() as obj:
            check(self._lib.VexaComm_SetCaptureFile(obj, os.fsencode(path) if path else None), obj)

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
        with self._use(exclusive=True) as obj:
            check(self._call(obj).run(lambda: self._lib.VexaComm_SetPacketSizeMax(obj, ctypes.byref(value))), obj)
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

        ``progress(done, total)`` runs on the calling thread with the bytes
        received so far and the size the device announced: at most once per
        1 % or 100 ms, and once at the end (done == total after a complete
        transfer). ``out`` is written on a worker thread, one packet at a
        time.

        An exception raised by ``out.write`` or by ``progress`` ends the
        transfer and is raised here once the library has returned;
        otherwise a non-zero result raises VexaCommError (Cancelled after
        ``cancel()``). Ctrl-C cancels, keeps what arrived and raises
        KeyboardInterrupt.
        """
        block = _request_block(request)
        if isinstance(out, (str, os.PathLike)):
            with self._use(exclusive=True) as obj:
                if not self._lib.VexaComm_IsConnected(obj):
                    check(Code.NOT_CONNECTED, obj)  # the file is left untouched
            with open(out, "wb") as f:
                return self._fetch(block, f, progress)
        return self._fetch(block, out, progress)

    def _call(self, obj: int) -> Call:
        return Call(lambda: self._lib.VexaComm_CancelTransfer(obj))

    def _fetch(self, block: bytes, out: BinaryIO, progress: Optional[ProgressFn]) -> int:
        lib = self._lib
        # One fetch at a time, so that one fetch never removes another's
        # progress function.
        with self._fetching, self._use(exclusive=True) as obj:
            call = self._call(obj)
            streams = Streams(sink=out)
            # Referenced here until the call has returned.
            write_fn = WRITE_FN(streams.write)
            try:
                if progress is not None:
                    self._posting.call = call
                    check(lib.VexaComm_SetTransferCallback(obj, self._transfer_fn, None), obj)
                rc = call.run(lambda: lib.VexaComm_GetAsdu10ToCallback(obj, write_fn, None, block),
                              self._progressing(progress) if progress is not None else None)
            finally:
                if self._posting.call is not None:
                    self._posting.call = None
                    lib.VexaComm_SetTransferCallback(obj, TRANSFER_FN(), None)
            streams.raise_kept()
            check(rc, obj)
            return streams.written

    def _progressing(self, progress: ProgressFn) -> ProgressFn:
        def on_event(done: int, total: int) -> None:
            self._progress_thread = threading.get_ident()
            try:
                progress(done, total)
            finally:
                self._progress_thread = None

        return on_event

    def cancel(self) -> None:
        """Asks a running connect or fetch (on another thread) to stop;
        does not wait. The fetch then raises Cancelled (71005), keeping
        what arrived. A cancel while nothing runs is dropped when the next
        connect or fetch starts."""
        # Counted as a call, so that close() does not destroy the object
        # under it; on a closed device there is nothing to stop.
        with contextlib.suppress(ValueError), self._use() as obj:
            self._lib.VexaComm_CancelTransfer(obj)
