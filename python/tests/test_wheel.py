"""The wheel, installed offline into a new venv, fetching through its own library."""
import os
import subprocess
import sys
import sysconfig
import zipfile

import vexacomm
from conftest import BUILD, PYTHON_DIR, generated_byte

SCRIPT = ("import sys, vexacomm; print(vexacomm.__file__); "
          "dev = vexacomm.Device(sys.argv[1]); dev.connect(); dev.fetch(out='out.bin')")


def run(*command, **options):
    done = subprocess.run([str(c) for c in command], capture_output=True, text=True, timeout=120, **options)
    assert done.returncode == 0, done.stderr
    return done


def test_wheel_installs_without_an_index_and_fetches(simulator, tmp_path):
    address = simulator("127.77.2.1", "--bytes", "100000")
    run(sys.executable, PYTHON_DIR.parent / "tools" / "python-wheel", "--build", BUILD, "--out", tmp_path / "dist")
    (wheel,) = (tmp_path / "dist").iterdir()
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    assert wheel.name == f"vexacomm-{vexacomm.__version__}-py3-none-{platform}.whl"
    names = set(zipfile.ZipFile(wheel).namelist())
    assert {"vexacomm/libVexaCommLib.so", f"vexacomm-{vexacomm.__version__}.dist-info/LICENSE"} <= names
    venv = tmp_path / "venv"
    run(sys.executable, "-m", "venv", venv)
    run(venv / "bin" / "pip", "install", "--no-index", wheel)
    # Nothing but the installed package: no library named, not run from the tree.
    env = {k: v for k, v in os.environ.items() if k not in ("VEXACOMM_LIBRARY", "PYTHONPATH")}
    done = run(venv / "bin" / "python", "-c", SCRIPT, address, cwd=tmp_path, env=env)
    assert done.stdout.startswith(str(venv))
    assert (tmp_path / "out.bin").read_bytes() == bytes(generated_byte(i) for i in range(100000))
