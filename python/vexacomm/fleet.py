"""fetch_all: many devices at once, each into a file of its own, as
``vexacomm fetch-all`` does.

The data never passes through Python: each job is a thread that calls the
library's blocking exports (ctypes lets go of the GIL for the call), and the
library writes the file itself (VexaComm_GetAsdu10ToPath)."""
from __future__ import annotations

import os
import random
import re
import secrets
import sys
import threading
import time
from dataclasses import dataclass
from typing import Dict, Iterable, List, Optional, Tuple, Union

from ._library import error_text, library
from .device import DEFAULT_PORT, _request_block
from .errors import Code, VexaCommError, error_for

_NAME = re.compile(r"[A-Za-z0-9_-][A-Za-z0-9._-]{0,127}\Z")
_SLICE_S = 0.05
_FIRST_PAUSE_S = 1.0
_LONGEST_PAUSE_S = 30.0
_JOBS_MAX = 1024

Device = Union[str, Tuple[str, str]]


@dataclass(frozen=True)
class FetchResult:
    """One device's outcome: ``code`` 0 and the data in ``path``, or the
    last try's code and text (no file under ``path`` then)."""

    name: str
    host: str
    port: int
    path: str
    code: int
    text: str
    bytes: int
    seconds: float
    tries: int

    @property
    def ok(self) -> bool:
        return self.code == 0

    @property
    def error(self) -> Optional[VexaCommError]:
        """The exception the code stands for, None when ok."""
        return None if self.ok else error_for(self.code, self.text)


def _retryable(code: int) -> bool:
    """As fetch-all: a connection not made, refused, cut or timed out."""
    return (10000 <= code <= 11999 and code != Code.HOST_NOT_FOUND) or code in (
        Code.PEER_CLOSED, Code.CONNECT_REFUSED, Code.NO_GREETING)


def _parse(devices: Iterable[Device]) -> List[Tuple[str, int, str]]:
    parsed, seen = [], set()
    for item in devices:
        address, name = (item, None) if isinstance(item, str) else item
        host, _, port_text = address.partition(":")
        port = int(port_text) if port_text else DEFAULT_PORT
        if not host or not 1 <= port <= 0xFFFF:
            raise ValueError(f"not host[:port] with a port from 1 to 65535: {address!r}")
        name = name or (f"{host}_{port}" if port_text else host)
        if not _NAME.match(name):
            raise ValueError(f"the name {name!r} takes letters, digits, '.', '_' and '-', not starting with '.'")
        if name.lower() in seen:
            raise ValueError(f"the name {name!r} is used twice")
        seen.add(name.lower())
        parsed.append((host, port, name))
    return parsed


def _new_file(out_dir: str, name: str) -> str:
    """An empty file beside the final one, under a name no other file has."""
    while True:
        path = os.path.join(out_dir, f".{name}.bin.{secrets.token_hex(4)}")
        try:
            os.close(os.open(path, os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o666))
            return path
        except FileExistsError:
            continue


class _Run:
    def __init__(self, devices, out_dir, block, retries, wait_ms, keep_partial) -> None:
        self.lib = library()
        self.devices, self.out_dir, self.block = devices, out_dir, block
        self.retries, self.wait_ms, self.keep_partial = retries, wait_ms, keep_partial
        self.results: List[Optional[FetchResult]] = [None] * len(devices)
        self.lock = threading.Lock()
        self.next = 0
        self.running: Dict[int, int] = {}  # device index: its object while a call may run
        self.stop = threading.Event()

        self.workers_left = 0
        self.ended = threading.Event()

    def work(self) -> None:
        try:
            while not self.stop.is_set():
                with self.lock:
                    i, self.next = self.next, self.next + 1
                if i >= len(self.devices):
                    return
                self.results[i] = self.device(i)
        finally:
            with self.lock:
                self.workers_left -= 1
                if self.workers_left == 0:
                    self.ended.set()

    def device(self, i: int) -> FetchResult:
        host, port, name = self.devices[i]
        final = os.path.join(self.out_dir, name + ".bin")
        started, tries = time.monotonic(), 0
        while True:
            tries += 1
            code, text, size = self.attempt(i, host, port, final)
            if code == 0 or not _retryable(code) or tries > self.retries:
                break
            pause = min(_LONGEST_PAUSE_S, _FIRST_PAUSE_S * 2 ** min(tries - 1, 5))
            if self.stop.wait(random.uniform(pause / 2, pause)):
                break
        return FetchResult(name, host, port, final, code, text, size, time.monotonic() - started, tries)

    def attempt(self, i: int, host: str, port: int, final: str) -> Tuple[int, str, int]:
        lib = self.lib
        obj = lib.VexaComm_CreateObject()
        if not obj:
            return Code.EXCEPTION, "cannot create a connection object", 0
        try:
            if self.wait_ms:
                lib.VexaComm_SetWaitLimit(obj, self.wait_ms)
            with self.lock:
                if self.stop.is_set():
                    return Code.CANCELLED, error_text(Code.CANCELLED, obj), 0
                self.running[i] = obj
            code = lib.VexaComm_ConnectPort(obj, host.encode("utf-8"), port)
            if code == 0 and not lib.VexaComm_IsConnected(obj):
                code = Code.NOT_CONNECTED  # a cancel that came as the connect ended
            if code != 0:
                return code, error_text(code, obj), 0
            path = _new_file(self.out_dir, os.path.basename(final)[:-4])
            try:
                encoded = path.encode("mbcs") if sys.platform == "win32" else os.fsencode(path)
                code = lib.VexaComm_GetAsdu10ToPath(obj, encoded, self.block)
                size = os.path.getsize(path)
                if code == 0:
                    os.replace(path, final)
                elif self.keep_partial and size:
                    os.replace(path, final + ".part")
            finally:
                if os.path.exists(path):
                    os.remove(path)
            return code, error_text(code, obj) if code else "", size
        finally:
            with self.lock:
                self.running.pop(i, None)
            lib.VexaComm_DestroyObject(obj)

    def cancel_running(self) -> None:
        with self.lock:
            for obj in self.running.values():
                self.lib.VexaComm_CancelTransfer(obj)


def fetch_all(devices: Iterable[Device], out_dir: Union[str, "os.PathLike[str]"], jobs: int = 16, *,
              request: Optional[bytes] = None, retries: int = 2, wait_limit: Optional[float] = None,
              keep_partial: bool = False) -> List[FetchResult]:
    """Fetches every device's ASDU 10 data into ``out_dir/<name>.bin``,
    ``jobs`` at once, and returns a FetchResult per device in the given
    order; failures are results, not exceptions.

    A device is ``"host[:port]"`` (named as the host, or host_port) or a
    pair ``("host[:port]", name)``; names as fetch-all takes them. Each file
    is written under a new hidden name and renamed only when its transfer
    ended with 0 (``keep_partial``: what a failed one received is kept as
    ``<name>.bin.part``). Connections not made, refused, cut or timed out
    are tried ``retries`` more times after jittered pauses doubling from
    0.5-1 s. Ctrl-C cancels the running transfers, keeps the finished files
    and raises KeyboardInterrupt once every job has ended.
    """
    if not 1 <= jobs <= _JOBS_MAX:
        raise ValueError(f"jobs {jobs} is outside 1..{_JOBS_MAX}")
    wait_ms = 0 if wait_limit is None else round(wait_limit * 1000)
    if wait_limit is not None and not 1 <= wait_ms <= 0x7FFFFFFF:
        raise ValueError(f"wait limit {wait_limit} s is outside 0.001..2147483.647")
    run = _Run(_parse(devices), os.fspath(out_dir), _request_block(request), retries, wait_ms, keep_partial)
    os.makedirs(run.out_dir, exist_ok=True)
    workers = [threading.Thread(target=run.work, name="vexacomm fetch_all")
               for _ in range(min(jobs, len(run.devices)))]
    run.workers_left = len(workers)
    if not workers:
        run.ended.set()
    for worker in workers:
        worker.start()
    interrupt: Optional[BaseException] = None
    # Not Thread.join: interrupted, it can take a running thread for ended.
    while not run.ended.is_set():
        try:
            run.ended.wait(_SLICE_S)
            if interrupt is not None:
                run.cancel_running()  # again: one made as a call starts is dropped
        except BaseException as e:  # KeyboardInterrupt, as the wait is the main thread's
            interrupt = interrupt or e
            run.stop.set()
    for worker in workers:
        worker.join()
    if interrupt is not None:
        raise interrupt
    return [r for r in run.results if r is not None]
