"""Device against the simulator, end to end."""
import io
import logging
import threading
from types import SimpleNamespace

import pytest

from vexacomm import Busy, Cancelled, ConnectionRefused, Device, VexaCommError, _diagnostics, error_text

LIMIT_S = 10


def test_connect_properties_and_negotiation(simulator):
    address = simulator("127.77.0.1", "--device-type", "946", "--ident", "Py Device 7", "--packet-size", "1024")
    with Device(address, wait_limit=LIMIT_S) as dev:
        assert dev.is_connected
        assert (dev.device_type, dev.ident, dev.packet_size) == (946, "Py Device 7", 1024)
        assert dev.negotiate_packet_size(2048) == 2048
        with pytest.raises(ValueError):
            dev.negotiate_packet_size(100)
    with pytest.raises(ValueError):
        dev.ident  # closed


def test_fetch_to_path_and_file_object_with_progress(simulator, tmp_path):
    data = bytes(range(256)) * 700 + b"tail"
    (tmp_path / "served.bin").write_bytes(data)
    address = simulator("127.77.0.2", "--data", str(tmp_path / "served.bin"))
    bar, steps, threads = SimpleNamespace(n=0, total=None), [], set()

    def progress(done, total):  # as the README's tqdm example: bar.update(done - bar.n)
        threads.add(threading.get_ident())
        steps.append(done - bar.n)
        bar.n, bar.total = done, total

    with Device(address, wait_limit=LIMIT_S) as dev:
        with pytest.raises(VexaCommError):
            dev.capture(str(tmp_path))  # a directory
        dev.capture(str(tmp_path / "session.pcap"))
        assert dev.fetch(out=tmp_path / "out.bin", progress=progress) == len(data)
        assert (tmp_path / "out.bin").read_bytes() == data
        dev.capture(None)
        capture = (tmp_path / "session.pcap").read_bytes()
        assert capture[:4] == b"\xd4\xc3\xb2\xa1" and len(capture) > len(data)
        buffer = io.BytesIO(b"kept")
        buffer.seek(0, io.SEEK_END)
        assert dev.fetch(out=buffer) == len(data)
        assert buffer.getvalue() == b"kept" + data
        # Connecting from inside the fetch's own progress is refused.
        with pytest.raises(Busy):
            dev.fetch(out=io.BytesIO(), progress=lambda done, total: dev.connect())
        assert dev.device_type == 769
    assert bar.n == bar.total == len(data) and len(steps) > 2 and min(steps) >= 0
    assert threads == {threading.get_ident()}


def test_write_exception_is_raised_after_the_call(simulator):
    class Full(io.RawIOBase):
        def writable(self):
            return True

        def write(self, _data):
            raise OSError(28, "No space left on device")

    address = simulator("127.77.0.3", "--bytes", "100000")
    with Device(address, wait_limit=LIMIT_S) as dev:
        with pytest.raises(OSError) as raised:
            dev.fetch(out=Full())
    assert raised.value.errno == 28 and not isinstance(raised.value, VexaCommError)


def test_cancel_from_another_thread(simulator):
    address = simulator("127.77.0.4", "--bytes", "1000000", "--fault", "stall", "--fault-after", "2")
    data_arrived = threading.Event()

    def progress(done, total):
        if done > 0:
            data_arrived.set()

    with Device(address, wait_limit=LIMIT_S) as dev:
        canceller = threading.Thread(target=lambda: data_arrived.wait(LIMIT_S) and dev.cancel())
        canceller.start()
        sink = io.BytesIO()
        with pytest.raises(Cancelled) as raised:
            dev.fetch(out=sink, progress=progress)
        canceller.join(LIMIT_S)
    assert data_arrived.is_set() and raised.value.code == 71005
    assert 0 < len(sink.getvalue()) < 1000000


def test_refused_connect_raises_connection_refused_and_logs_at_debug(caplog):
    # Nothing listens on these addresses.
    with pytest.raises(ConnectionRefusedError) as raised:
        Device("127.77.0.250", wait_limit=LIMIT_S).connect()
    assert isinstance(raised.value, ConnectionRefused) and raised.value.code == 10061
    assert "refused" in raised.value.text and raised.value.text == error_text(10061)
    assert str(raised.value) == f"error 10061: {raised.value.text}"
    assert not _diagnostics.installed() and not caplog.records

    caplog.set_level(logging.DEBUG, logger="vexacomm")
    with pytest.raises(ConnectionRefused):
        Device("127.77.0.249", wait_limit=LIMIT_S).connect()
    assert {(r.name, r.levelno) for r in caplog.records} == {("vexacomm", logging.DEBUG)}
    assert any("10061" in r.getMessage() for r in caplog.records) and _diagnostics.installed()
