"""The read and write functions the library calls, over Python file
objects. An exception raised in them is kept, the library is given a
non-zero answer, and the exception is raised again once the library has
returned (``raise_kept``). After ``halt()`` they answer non-zero, which
ends a call that has no cancel (the codec)."""
from __future__ import annotations

import ctypes
from typing import BinaryIO, Optional

# The answer to the library when Python code raised: the generic file
# exception cause. The kept exception is raised in its place.
PYTHON_FAILED = 1


class Streams:
    def __init__(self, sink: Optional[BinaryIO] = None, source: Optional[BinaryIO] = None) -> None:
        self.sink = sink
        self.source = source
        self.error: Optional[BaseException] = None
        self.written = 0
        self.halted = False

    def halt(self) -> None:
        self.halted = True

    def write(self, _user: Optional[int], data: int, size: int) -> int:
        """VexaCommWriteFn: every byte of data[0:size] into the sink."""
        try:
            if self.error is not None or self.halted:
                return PYTHON_FAILED
            # A copy: the library's buffer is reused once this returns.
            view = memoryview(ctypes.string_at(data, size))
            while view:
                n = self.sink.write(view)
                if not n:
                    raise OSError(f"{self.sink!r}.write() wrote nothing")
                view = view[n:]
            self.written += size
            return 0
        except BaseException as e:  # never into ctypes: raised after the call
            self.error = e
            return PYTHON_FAILED

    def read(self, _user: Optional[int], buffer: int, size: int, got: "ctypes._Pointer[ctypes.c_uint32]") -> int:
        """VexaCommReadFn: up to size bytes of the source into buffer."""
        try:
            got[0] = 0
            if self.error is not None or self.halted:
                return PYTHON_FAILED
            data = self.source.read(size)
            if len(data) > size:
                raise OSError(f"{self.source!r}.read({size}) returned {len(data)} bytes")
            ctypes.memmove(buffer, data, len(data))
            got[0] = len(data)
            return 0
        except BaseException as e:
            self.error = e
            return PYTHON_FAILED

    def raise_kept(self) -> None:
        """Raises the exception a callback raised, if any."""
        error, self.error = self.error, None
        if error is not None:
            try:
                raise error
            finally:
                error = None  # no reference cycle through the traceback
