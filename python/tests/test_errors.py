"""Result codes and the exception classes they raise."""
import errno
import re

import pytest

from conftest import PYTHON_DIR
from vexacomm import errors


def test_code_names_every_code_of_the_header():
    header = (PYTHON_DIR.parent / "include" / "VexaCommLib.h").read_text()
    named = dict(re.findall(r"#define VEXACOMM_(?:ERR_)?(OK|(?<=ERR_)\w+) (\d+)", header))
    assert len(named) > 15 and {n: errors.Code[n] for n in named} == {n: int(v) for n, v in named.items()}


@pytest.mark.parametrize("code, cls, builtin", [
    (10061, errors.ConnectionRefused, ConnectionRefusedError), (71001, errors.ConnectionRefused, OSError),
    (10060, errors.TimedOut, TimeoutError), (71000, errors.ConnectionLost, ConnectionError),
    (10054, errors.ConnectionLost, ConnectionError), (13, errors.FileError, OSError),
    (71005, errors.Cancelled, None), (71006, errors.NotConnected, None), (71014, errors.Busy, None),
    (75001, errors.DeviceError, None), (4242, errors.DeviceError, None),
    (71012, errors.VexaCommError, None), (11001, errors.VexaCommError, None),
])
def test_each_code_raises_its_class(code, cls, builtin):
    error = errors.error_for(code, "text")
    assert type(error) is cls and isinstance(error, builtin or errors.VexaCommError)
    assert (error.code, error.text, str(error)) == (code, "text", f"error {code}: text")
    if code in (13, 10061):
        assert error.errno == {13: errno.ENOSPC, 10061: errno.ECONNREFUSED}[code]
