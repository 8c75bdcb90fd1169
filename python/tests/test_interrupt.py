"""Ctrl-C in a Python process inside a connect or a fetch."""
import os
import select
import signal
import subprocess
import sys
import time

import pytest

from conftest import PYTHON_DIR, read_line

CHILD = r"""
import signal, sys
signal.signal(signal.SIGINT, signal.default_int_handler)  # a shell's background job ignores it
from vexacomm import Device
address, what, out = sys.argv[1:]
dev = Device(address, wait_limit=60)
if what == "connect":
    print("connecting", flush=True)
dev.connect()
said = []
dev.fetch(out=out, progress=lambda done, total: done and not said and said.append(print("fetching", flush=True)))
"""


@pytest.mark.parametrize("what, address, options", [
    ("fetch", "127.77.1.1", ("--bytes", "1000000", "--fault", "stall", "--fault-after", "2")),
    ("connect", "127.77.1.2", ("--silent",)),
])
def test_ctrl_c_raises_keyboard_interrupt_within_a_second(simulator, tmp_path, what, address, options):
    simulator(address, *options)
    out = tmp_path / "out.bin"
    child = subprocess.Popen([sys.executable, "-c", CHILD, address, what, str(out)], cwd=PYTHON_DIR,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        assert read_line(child.stdout) == f"{what}ing\n".encode()
        # The device has the connection: the child is inside the call.
        assert read_line(simulator.process(address).stdout) == b"client 1 connected\n"
        exited = os.pidfd_open(child.pid)
        signalled = time.monotonic()
        child.send_signal(signal.SIGINT)
        select.select([exited], [], [], 10)
        elapsed = time.monotonic() - signalled
        os.close(exited)
    finally:
        if child.poll() is None:
            child.kill()
        stderr = child.communicate(timeout=10)[1].decode("utf-8", "replace")
    assert child.returncode == -signal.SIGINT and stderr.endswith("\nKeyboardInterrupt\n"), stderr
    assert "Exception ignored" not in stderr and elapsed < 1.0, f"ended {elapsed:.3f} s after the signal"
    # What arrived is kept: the two packets before the stall.
    assert what == "connect" or out.stat().st_size == 2 * 16376
