"""Test set-up: the package from this tree, the library and the simulator
from the build named by VEXACOMM_BUILD (default: build/ of the repository)."""
import os
import select
import subprocess
import sys
import time
from pathlib import Path

import pytest

PYTHON_DIR = Path(__file__).resolve().parents[1]
BUILD = Path(os.environ.get("VEXACOMM_BUILD", PYTHON_DIR.parent / "build"))
PROGRAM = BUILD / "bin" / "vexacomm"
os.environ.setdefault("VEXACOMM_LIBRARY", str(BUILD / "lib" / "libVexaCommLib.so"))
sys.path.insert(0, str(PYTHON_DIR))

START_LIMIT_S = 10


def generated_byte(offset: int) -> int:
    """The simulator's generated data (tools/simulator/DeviceSimulator.cpp)."""
    x = (offset * 0x9E3779B1) & 0xFFFFFFFF
    return ((x >> 24) ^ (offset >> 16) ^ (offset >> 32)) & 0xFF


def read_line(pipe, limit_s=START_LIMIT_S):
    """What a child wrote up to a line end, waiting at most limit_s."""
    data, deadline = b"", time.monotonic() + limit_s
    while b"\n" not in data:
        left = deadline - time.monotonic()
        assert left > 0, f"no line in {limit_s} s; so far {data!r}"
        if select.select([pipe], [], [], left)[0]:
            chunk = os.read(pipe.fileno(), 4096)
            assert chunk, f"the child ended; so far {data!r}"
            data += chunk
    return data


@pytest.fixture
def simulator():
    """start(address, *options): a simulator serving one connection on
    address, listening when start returns; stopped at the end of the test.
    start.process(address) is its Popen."""
    processes = {}

    def start(address, *options):
        process = subprocess.Popen(
            [str(PROGRAM), "simulate", "--bind", address, "--once", "--timeout", "10", *options],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        processes[address] = process
        # It prints its first line once it listens.
        assert read_line(process.stdout).startswith(b"simulating a device on")
        return address

    start.process = processes.__getitem__
    yield start
    for process in processes.values():
        if process.poll() is None:
            process.terminate()
        try:
            process.wait(timeout=START_LIMIT_S)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        process.stdout.close()
        process.stderr.close()
