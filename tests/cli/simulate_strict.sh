#!/bin/sh
# simulate --strict: a conforming host (vexacomm fetch) leaves no strict line
# and exit status 0; each hand-made bad host below is named by its rule and
# ends the simulator with exit status 3. Simulators on 127.64.0.x.
set -u
exec python3 - "$1" <<'PY'
import os, socket, struct, subprocess, sys, tempfile
cli = sys.argv[1]
failures = []

def pkt(cmd, payload=b""):
    return struct.pack("<II", cmd, len(payload)) + payload

def env(packet, bump=0):
    return (b"\x92\x76\x33\x76" * 2 + packet + struct.pack("<I", sum(packet) + bump)
            + b"\x33\x76\x92\x76" * 2)

PROBE = bytes.fromhex("9276337600000000")
PS, AM, TYPE, IDENT, ASDU, REPLY, CANCEL = 3, 4, 0x1000024, 58, 0x1003011, 1, 110
QUERY = b"\xff\xff"
BARE = PROBE + pkt(PS, QUERY) + pkt(AM, QUERY)

def simulate(addr, *options):
    p = subprocess.Popen([cli, "simulate", "--bind", addr, "--once", "--strict", "--timeout", "10"]
                         + list(options), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    line = p.stdout.readline()  # blocks until it listens, or it ended
    if "simulating" not in line:
        p.kill()
        raise RuntimeError(addr + ": simulator did not start: " + line + p.stderr.read())
    return p

def finish(p):
    out, err = p.communicate(timeout=30)
    return p.returncode, [l for l in err.splitlines() if l.startswith("strict:")]

def host(addr, data):
    # Greeting in, the bytes out, then everything until the simulator hangs up.
    with socket.create_connection((addr, 30282), timeout=10) as s:
        got = b""
        while len(got) < 8:
            chunk = s.recv(8 - len(got))
            if not chunk:
                break
            got += chunk
        s.sendall(data)
        s.shutdown(socket.SHUT_WR)
        while s.recv(65536):
            pass

# Conforming hosts: the library, with envelopes and acknowledgements, and bare.
with tempfile.TemporaryDirectory() as d:
    request = os.path.join(d, "request.bin")
    with open(request, "wb") as f:
        f.write(bytes(6) + b"\x01\x00" + b"abcdefgh")
    for i, options in enumerate([["--ack-mode", "1", "--bytes", "100000"], ["--no-envelope", "--bytes", "40000"]]):
        addr = "127.64.0.%d" % (i + 1)
        p = simulate(addr, *options)
        fetch = subprocess.run([cli, "fetch", addr, "--request", request, "--out", os.path.join(d, "out"),
                                "--timeout", "10"], capture_output=True, text=True, timeout=60)
        status, lines = finish(p)
        if fetch.returncode != 0 or status != 0 or lines:
            failures.append("fetch %s: fetch %d, simulator %d, %s %s" % (options, fetch.returncode, status,
                                                                           lines, fetch.stderr))

# Bad hosts: simulator options, the bytes after the greeting, the rule named.
N0 = pkt(ASDU, bytes(8))
cases = [
    (["--no-envelope"], env(PROBE), "probe-bare"),
    (["--no-envelope"], pkt(PS, QUERY) + pkt(AM, QUERY), "probe-first"),
    (["--no-envelope"], PROBE + pkt(AM, QUERY), "negotiation-order"),
    (["--no-envelope"], PROBE + pkt(PS, b"\x64\x00") + pkt(AM, QUERY), "packet-size-request"),
    (["--no-envelope"], PROBE + pkt(PS, QUERY) + pkt(AM, b"\x31\x75"), "ack-mode-request"),
    (["--no-envelope"], BARE + pkt(TYPE, b"\x00\x00"), "empty-request"),
    (["--no-envelope"], BARE + pkt(IDENT, b"x"), "empty-request"),
    (["--no-envelope"], BARE + pkt(ASDU, bytes(6) + b"\xff\xff"), "asdu10-request-length"),
    (["--no-envelope"], BARE + pkt(ASDU, bytes(6) + b"\x01\x00"), "asdu10-request-length"),
    ([], PROBE + pkt(PS, QUERY), "framing"),
    (["--no-envelope"], PROBE + env(pkt(PS, QUERY)), "framing"),
    ([], PROBE + env(pkt(PS, QUERY), bump=1), "envelope"),
    ([], PROBE + env(pkt(PS, QUERY))[:-1] + b"\x00", "envelope"),
    (["--no-envelope"], BARE + struct.pack("<II", TYPE, 16377), "length"),
    (["--no-envelope", "--bytes", "100"], BARE + N0 + pkt(REPLY), "acks"),
    (["--no-envelope", "--ack-mode", "1", "--bytes", "100"], BARE + N0 + pkt(TYPE), "acks"),
    (["--no-envelope", "--ack-mode", "1", "--bytes", "100"], BARE + N0 + pkt(REPLY) * 3, "acks"),
    (["--no-envelope"], BARE + pkt(CANCEL), "cancel"),
    (["--no-envelope"], BARE + pkt(0x300, bytes(4)), "unknown-command"),
]
for i, (options, data, rule) in enumerate(cases):
    addr = "127.64.1.%d" % (i + 1)
    p = simulate(addr, *options)
    try:
        host(addr, data)
    finally:
        status, lines = finish(p)
    named = lines and all(l.startswith("strict: %s: " % rule) and "(connection 1)" in l for l in lines)
    if status != 3 or not named:
        failures.append("case %d (%s): exit %d, %s" % (i, rule, status, lines))

# The deviations' names, and a usage error for any other.
listed = subprocess.run([cli, "simulate", "--deviate", "list"], capture_output=True, text=True, timeout=30)
names = [l.split()[0] for l in listed.stdout.splitlines() if l.strip()]
if listed.returncode != 0 or len(names) != 11 or "asdu10-end-mark" not in names:
    failures.append("--deviate list: %d %s" % (listed.returncode, names))
bad = subprocess.run([cli, "simulate", "--deviate", "no-such-rule"], capture_output=True, text=True, timeout=30)
if bad.returncode != 2:
    failures.append("--deviate no-such-rule exited %d" % bad.returncode)

for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
PY
