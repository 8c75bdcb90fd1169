"""compress/decompress, the command line and the library look-up."""
import os
import subprocess
import sys

import pytest

from conftest import PYTHON_DIR, generated_byte
from vexacomm import VexaCommError, compress, decompress


def test_round_trip_and_truncated_input(tmp_path):
    source = tmp_path / "source.bin"
    source.write_bytes(os.urandom(3000) + b"repeated text " * 5000)
    assert compress(source, tmp_path / "packed.lzh") < source.stat().st_size
    decompress(tmp_path / "packed.lzh", tmp_path / "restored.bin")
    assert (tmp_path / "restored.bin").read_bytes() == source.read_bytes()

    packed = (tmp_path / "packed.lzh").read_bytes()
    (tmp_path / "cut.lzh").write_bytes(packed[: len(packed) // 2])
    with pytest.raises(VexaCommError) as raised:
        decompress(tmp_path / "cut.lzh", tmp_path / "restored.bin")
    assert raised.value.code == 71012
    # The earlier result is untouched and no temporary file is left.
    assert (tmp_path / "restored.bin").read_bytes() == source.read_bytes()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["cut.lzh", "packed.lzh", "restored.bin", "source.bin"]


def run_module(*args, **env):
    return subprocess.run([sys.executable, "-m", "vexacomm", *args], cwd=PYTHON_DIR, capture_output=True,
                          text=True, timeout=60, env={**os.environ, **env})


def test_command_line_fetch(simulator, tmp_path):
    address = simulator("127.77.0.5", "--bytes", "300000", "--ident", "CLI sim")
    done = run_module("fetch", address, str(tmp_path / "out.bin"), "--timeout", "10")
    assert done.returncode == 0, done.stderr
    assert done.stdout.startswith('device type 769, ident "CLI sim"\n300000 bytes written to ')
    assert (tmp_path / "out.bin").read_bytes() == bytes(generated_byte(i) for i in range(300000))

    failed = run_module("fetch", "127.77.0.251", str(tmp_path / "none.bin"), "--timeout", "10")
    assert failed.returncode == 1 and failed.stderr.startswith("error 10061: ")
    assert not (tmp_path / "none.bin").exists()


def test_library_not_found_is_reported(tmp_path):
    missing = str(tmp_path / "libVexaCommLib.so")
    done = subprocess.run([sys.executable, "-c", "import vexacomm; vexacomm.Device('127.77.0.252')"],
                          cwd=PYTHON_DIR, capture_output=True, text=True, timeout=60,
                          env={**os.environ, "VEXACOMM_LIBRARY": missing})
    assert done.returncode == 1
    assert "vexacomm._library.LibraryNotFoundError" in done.stderr and missing in done.stderr
