"""fetch_all against simulate --count: results in order, exact files, the
faults' codes, nothing else in the directory."""
import os

import pytest

from conftest import generated_byte
from vexacomm import ConnectionRefused, DeviceError, fetch_all

SIZE = 50000


def test_fetch_all_files_and_failures(simulator, tmp_path):
    simulator("127.77.3.1", "--count", "5", "--bytes", str(SIZE), "--fault-mix", "refuse:1,error:1",
              "--fault-after", "1")
    devices = [("127.77.3.1", "refused"), ("127.77.3.2:30282", "error"), "127.77.3.3", "127.77.3.4:30282",
               ("127.77.3.5", "last")]
    results = fetch_all(devices, tmp_path / "out", jobs=3, retries=0, wait_limit=10)
    expected = bytes(generated_byte(i) for i in range(SIZE))
    assert [(r.name, r.code, r.tries) for r in results] == [
        ("refused", 71001, 1), ("error", 75001, 1), ("127.77.3.3", 0, 1), ("127.77.3.4_30282", 0, 1),
        ("last", 0, 1)]
    assert isinstance(results[0].error, ConnectionRefused) and isinstance(results[1].error, DeviceError)
    for r in results[2:]:
        assert r.ok and r.bytes == SIZE and open(r.path, "rb").read() == expected
    assert sorted(os.listdir(tmp_path / "out")) == ["127.77.3.3.bin", "127.77.3.4_30282.bin", "last.bin"]
    with pytest.raises(ValueError, match="used twice"):
        fetch_all([("127.77.3.3", "a"), ("127.77.3.4", "A")], tmp_path / "out")
