"""Blocking calls of the library on a worker thread.

Python runs signal handlers on the main thread only, between bytecodes: a
thread inside a C call does not see Ctrl-C until the call returns, and a
ctypes callback running on the main thread can have KeyboardInterrupt raised
in it, which ctypes swallows, returning an unset value. So the call runs on
a worker thread, where no callback is ever interrupted, and the caller waits
in short slices, handling the events the worker's callbacks post. On
KeyboardInterrupt (or an exception from an event handler) the caller stops
the call (the cancel is repeated, as one made before the call starts is
dropped), waits until it has returned and then raises the exception."""
from __future__ import annotations

import queue
import threading
from typing import Any, Callable, Dict, Optional

from . import _diagnostics

_SLICE_S = 0.05
_DONE = object()


class Call:
    def __init__(self, stop: Callable[[], Any]) -> None:
        self._stop = stop
        self._events: "queue.SimpleQueue[Any]" = queue.SimpleQueue()
        self._kept: Optional[BaseException] = None

    def post(self, *event: Any) -> None:
        """From the worker's callbacks: has on_event(*event) run on the
        caller's thread. Never raises: a failure is raised by run()."""
        try:
            self._events.put(event)
        except BaseException as e:
            self._kept = self._kept or e

    def run(self, function: Callable[[], int], on_event: Optional[Callable[..., Any]] = None) -> int:
        """function() on a worker thread; returns its result."""
        outcome: Dict[str, Any] = {}

        def work() -> None:
            try:
                outcome["result"] = function()
            except BaseException as e:
                outcome["error"] = e
            error = _diagnostics.take_error()
            if error is not None:
                outcome.setdefault("error", error)
            self._events.put(_DONE)

        _diagnostics.sync()
        # Not a daemon: were the caller to leave early, the interpreter
        # still waits for the library to return before it shuts down.
        threading.Thread(target=work, name="vexacomm call").start()
        error = self._wait(on_event) or outcome.get("error") or self._kept
        if error is not None:
            try:
                raise error
            finally:
                error = None  # no reference cycle through the traceback
        return outcome["result"]

    def _wait(self, on_event: Optional[Callable[..., Any]]) -> Optional[BaseException]:
        pending: Optional[BaseException] = None
        while True:
            # The inner loop lies wholly inside the try, so that a further
            # Ctrl-C while the call winds down is absorbed, not raised early.
            try:
                while True:
                    if pending is not None:
                        self._stop()
                    try:
                        event = self._events.get(timeout=_SLICE_S)
                    except queue.Empty:
                        continue
                    if event is _DONE:
                        return pending
                    if pending is None and on_event is not None:
                        on_event(*event)
            except BaseException as e:
                if pending is None:
                    pending = e
