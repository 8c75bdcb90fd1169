"""python -m vexacomm fetch HOST OUT [--port P] [--timeout S]: the program's
fetch through this package. Exit status 0 on success; 1 with
"error <code>: <text>" (or "error: <what>") on stderr on failure; 2 for a
malformed command line; 130 after Ctrl-C."""
from __future__ import annotations

import argparse
import os
import sys
from typing import BinaryIO, Dict, List, Optional, TextIO

from . import __version__
from ._library import LibraryNotFoundError
from .device import DEFAULT_PORT, Device
from .errors import VexaCommError

_INTERRUPTED = 130


def _port(text: str) -> int:
    value = int(text)
    if not 1 <= value <= 0xFFFF:
        raise argparse.ArgumentTypeError(f"expected 1..65535, got {text}")
    return value


def _seconds(text: str) -> float:
    value = float(text)
    if not 0.001 <= value <= 2147483.647:
        raise argparse.ArgumentTypeError(f"expected seconds from 0.001 to 2147483.647, got {text}")
    return value


def _shown(ident: str) -> str:
    """Control characters and backslashes as \\xNN, as the program shows them."""
    return "".join(f"\\x{ord(c):02x}" if ord(c) < 0x20 or c in "\x7f\\" else c for c in ident)


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="python -m vexacomm", description="VexaComm from Python.")
    parser.add_argument("--version", action="version", version=__version__)
    commands = parser.add_subparsers(dest="command", required=True)
    fetch = commands.add_parser(
        "fetch",
        help="fetch everything a device has into a file",
        description="Connects to the device HOST, prints its type and identification and "
        "streams its ASDU 10 data (the request for everything) into OUT.",
    )
    fetch.add_argument("host", metavar="HOST", help="device name or dotted IPv4 address")
    fetch.add_argument("out", metavar="OUT", help="output file; - for standard output")
    fetch.add_argument("--port", type=_port, default=DEFAULT_PORT, metavar="P", help="TCP port (default 30282)")
    fetch.add_argument("--timeout", type=_seconds, metavar="S", help="wait limit in seconds (default 30.03)")
    return parser


def _fetch(device: Device, out: str, info: TextIO, outcome: Dict[str, object]) -> None:
    """Connect, print the device, fetch. Fills outcome."""
    sink: Optional[BinaryIO] = None
    try:
        with device:
            print(f'device type {device.device_type}, ident "{_shown(device.ident)}"', file=info, flush=True)
            sink = sys.stdout.buffer if out == "-" else open(out, "wb")
            outcome["sink"] = sink
            outcome["written"] = device.fetch(out=sink)
            sink.flush()
    except Exception as e:
        outcome["error"] = e
    finally:
        if sink is not None and out != "-":
            try:
                sink.close()
            except OSError as e:
                outcome.setdefault("error", e)


def _report(outcome: Dict[str, object], out: str) -> None:
    error = outcome.get("error")
    name = "standard output" if out == "-" else out
    if isinstance(error, VexaCommError):
        print(error, file=sys.stderr)
    elif isinstance(error, OSError):
        print(f"error: writing {name}: {error.strerror or error}", file=sys.stderr)
    elif error is not None:
        print(f"error: {error!r}", file=sys.stderr)
    if outcome.get("sink") is not None and out != "-":
        print(f"{os.path.getsize(out)} bytes kept in {name}", file=sys.stderr)


def main(argv: Optional[List[str]] = None) -> int:
    args = _parser().parse_args(argv)
    info = sys.stderr if args.out == "-" else sys.stdout
    try:
        device = Device(args.host, args.port, args.timeout)
    except LibraryNotFoundError as e:
        print(f"error: {e}", file=sys.stderr)
        return 1
    outcome: Dict[str, object] = {}
    try:
        # Ctrl-C cancels the connect or fetch; the device has stopped when
        # KeyboardInterrupt arrives here.
        _fetch(device, args.out, info, outcome)
    except KeyboardInterrupt:
        print("interrupted", file=sys.stderr)
        outcome["error"] = None
        _report(outcome, args.out)
        return _INTERRUPTED
    if "error" in outcome:
        _report(outcome, args.out)
        return 1
    name = "standard output" if args.out == "-" else args.out
    print(f"{outcome['written']} bytes written to {name}", file=info)
    return 0


if __name__ == "__main__":
    sys.exit(main())
