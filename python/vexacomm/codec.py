"""compress and decompress: the library's LZHUF codec from file to file,
DST replaced only by a complete result."""
from __future__ import annotations

import contextlib
import os
import secrets
import stat
from typing import BinaryIO, Callable, Tuple, Union

from ._blocking import Call
from ._library import READ_FN, WRITE_FN, check, library
from ._streams import Streams

PathLike = Union[str, "os.PathLike[str]"]
_LENGTH_MAX = 0xFFFFFFFF
_NAME_TRIES = 100


def compress(src: PathLike, dst: PathLike) -> int:
    """LZHUF-compresses the file src (under 4 GiB) into dst; returns the
    number of bytes written. dst is replaced only once complete: a failure
    leaves an existing dst as it was. Raises VexaCommError for a result of
    the library, the exception of a failed read or write otherwise."""

    def run(source: BinaryIO, streams: Streams) -> int:
        length = os.fstat(source.fileno()).st_size
        if length > _LENGTH_MAX:
            raise ValueError(f"{os.fspath(src)}: {length} bytes; the codec takes under 4 GiB")
        lib, reader, writer = library(), READ_FN(streams.read), WRITE_FN(streams.write)
        return Call(streams.halt).run(lambda: lib.VexaComm_CompressStream(reader, None, length, writer, None))

    return _replace(src, dst, run)


def decompress(src: PathLike, dst: PathLike) -> int:
    """Restores the LZHUF stream in the file src into dst; returns the
    number of bytes written. dst is replaced only once complete. A stream
    that ends early raises VexaCommError 71012, a damaged one 71013."""

    def run(source: BinaryIO, streams: Streams) -> int:
        lib, reader, writer = library(), READ_FN(streams.read), WRITE_FN(streams.write)
        return Call(streams.halt).run(lambda: lib.VexaComm_DecompressStream(reader, None, writer, None))

    return _replace(src, dst, run)


def _create_beside(target: str) -> Tuple[int, str]:
    """A new file in target's directory under an unused name, created
    exclusively (a link planted under that name is not followed)."""
    folder, name = os.path.split(target)
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_BINARY", 0) | getattr(os, "O_CLOEXEC", 0)
    for _ in range(_NAME_TRIES):
        path = os.path.join(folder, f".{name}.{secrets.token_hex(4)}.tmp")
        try:
            return os.open(path, flags, 0o666), path
        except FileExistsError:
            continue
    raise FileExistsError(f"no unused temporary name beside {target}")


def _replace(src: PathLike, dst: PathLike, run: Callable[[BinaryIO, Streams], int]) -> int:
    # Links to dst are followed: the file it names is the one replaced.
    target = os.path.realpath(os.fspath(dst))
    with open(src, "rb") as source:
        try:
            existing = os.stat(target)
        except FileNotFoundError:
            existing = None
        if existing is not None:
            if not stat.S_ISREG(existing.st_mode):
                raise ValueError(f"{os.fspath(dst)} exists and is not a regular file")
            if os.path.samestat(existing, os.fstat(source.fileno())):
                raise ValueError(f"{os.fspath(src)} and {os.fspath(dst)} are the same file")
        fd, temporary = _create_beside(target)
        try:
            with open(fd, "wb") as sink:
                if existing is not None:
                    # The replacement keeps the replaced file's permissions.
                    os.chmod(temporary, stat.S_IMODE(existing.st_mode))
                streams = Streams(sink=sink, source=source)
                rc = run(source, streams)
                streams.raise_kept()
                check(rc)
            os.replace(temporary, target)
        except BaseException:
            with contextlib.suppress(OSError):
                os.unlink(temporary)
            raise
    return streams.written
