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


@pytest.fixture
def simulator():
    """start(address, *options): a simulator serving one connection on
    address, listening when start returns; stopped at the end of the test."""
    processes = []

    def start(address, *options):
        process = subprocess.Popen(
            [str(PROGRAM), "simulate", "--bind", address, "--once", "--timeout", "10", *options],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        processes.append(process)
        # It prints its first line once it listens.
        line, deadline = b"", time.monotonic() + START_LIMIT_S
        while b"\n" not in line:
            left = deadline - time.monotonic()
            assert left > 0, "the simulator did not start listening in time"
            if select.select([process.stdout], [], [], left)[0]:
                chunk = os.read(process.stdout.fileno(), 4096)
                assert chunk, f"the simulator ended: {process.stderr.read().decode()}"
                line += chunk
        assert line.startswith(b"simulating a device on"), line
        return address

    yield start
    for process in processes:
        if process.poll() is None:
            process.terminate()
        try:
            process.wait(timeout=START_LIMIT_S)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        process.stdout.close()
        process.stderr.close()
