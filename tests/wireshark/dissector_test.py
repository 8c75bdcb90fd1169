#!/usr/bin/env python3
"""The dissector (tools/wireshark/vexacomm.lua) against the program's own
--trace lines of the same sessions: two parsers, one packet list.

  dissector_test.py VEXACOMM ANSWERING_HOST vexacomm.lua LINK_PROXY

Sessions: a fetch (port 30282), a device cancel (another port), a service
exchange; the fetch cut into 1..7-byte segments; malformed captures; as
root, tcpdump in a network namespace through the link proxy. Exit 77
(skipped) without tshark."""
import os
import random
import signal
import socket
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree

SKIP = 77
NAMES = {1: "REPLY", 3: "PACKET_SIZE", 4: "ACK_MODE", 0x3A: "IDENT", 0x6E: "CANCEL", 0x300: "STATUS",
         0x1000024: "DEVICE_TYPE", 0x1003011: "ASDU10", 0x76337692: "ENVELOPE_PROBE"}


def fail(text):
    print("FAIL:", text)
    sys.exit(1)


def tshark(lua, pcap, *args):
    run = subprocess.run(["tshark", "-n", "-X", "lua_script:" + lua, "-r", pcap, *args],
                         capture_output=True, timeout=120)
    err = run.stderr.decode(errors="replace")
    out = run.stdout.decode(errors="replace")
    # A script error shows in the packet's own lines, not on stderr.
    if run.returncode < 0 or "Lua" in err or "dissector bug" in err.lower() or "Lua Error" in out:
        fail(f"tshark on {pcap}: status {run.returncode}: {err}")
    return out


def decoded_lines(lua, pcap, from_device_is_received=True, where="vexacomm", *options):
    """The dissector's packets as the trace writes them."""
    root = ElementTree.fromstring(tshark(lua, pcap, "-Y", where, "-T", "pdml", *options))
    lines = []
    for proto in (p for p in root.iter("proto") if p.get("name") == "vexacomm"):
        fields = {}
        for field in proto.iter("field"):
            fields.setdefault(field.get("name")[len("vexacomm."):], field.get("show"))
        if "cmd" not in fields:
            continue  # a record or an envelope head inside a packet
        cmd = int(fields["cmd"], 0)
        name, detail = NAMES.get(cmd, "0x%X" % cmd), ""
        for key, form in (("asdu10.total", " total %s"), ("reply.code", " code %s"), ("packet_size", " value %s"),
                          ("ack_mode", " value %s"), ("device_type", " value %s")):
            if key in fields:
                detail = form % fields[key]
        if "asdu10.index" in fields or "asdu10.end" in fields:
            name, detail = "DATA", " (packet %s)" % fields["asdu10.index"] if "asdu10.index" in fields else " (end)"
        arrow = "<" if fields["direction"].startswith("device") == from_device_is_received else ">"
        env = " env" if fields.get("envelope") in ("1", "True") else ""
        lines.append(f"{arrow} {name} len {fields['len']}{env}{detail}")
    return lines


def trace_lines(text, prefix=""):
    return [line[len(prefix):] for line in text.replace("\r", "").splitlines()
            if line.startswith(prefix + "> ") or line.startswith(prefix + "< ")]


def compare(what, decoded, traced):
    if decoded != traced:
        diff = [f"{i}: dissector {d!r} trace {t!r}" for i, (d, t) in enumerate(zip(decoded, traced)) if d != t]
        fail(f"{what}: {len(decoded)} decoded, {len(traced)} traced; {diff[:5]}")
    if not traced:
        fail(f"{what}: no packets")


def wait_for(path, text, process, what):
    for _ in range(200):
        with open(path, errors="replace") as f:
            seen = f.read()
        if text in seen:
            return seen
        if process.poll() is not None:
            break
        time.sleep(0.05)
    fail(f"{what} did not start: {seen}")


def simulate(cli, work, name, address, *options):
    """A simulator for one connection; its process, output file and port."""
    out = open(os.path.join(work, name + ".sim"), "w+")
    sim = subprocess.Popen([cli, "simulate", "--bind", address, "--once", "--timeout", "10", "--trace", *options],
                           stdout=out, stderr=subprocess.STDOUT, cwd=work)
    text = wait_for(out.name, "simulating a device on", sim, "simulator " + name)
    return sim, out, int(text.split("simulating a device on ")[1].split(":")[1].split()[0])


def fetch_session(cli, lua, work, name, address, sim_options, fetch_options, expect_rc):
    sim, out, port = simulate(cli, work, name, address, *sim_options)
    pcap = os.path.join(work, name + ".pcap")
    run = subprocess.run([cli, "fetch", address, "--port", str(port), "--out", os.path.join(work, name + ".bin"),
                          "--timeout", "10", "--trace", "--pcap", pcap, *fetch_options],
                         capture_output=True, timeout=60)
    sim.wait(timeout=30)
    if run.returncode != expect_rc:
        fail(f"{name}: fetch exited {run.returncode}: {run.stderr.decode(errors='replace')}")
    compare(name, decoded_lines(lua, pcap), trace_lines(run.stderr.decode(errors="replace")))
    return pcap


def read_pcap(path):
    data = open(path, "rb").read()
    records, at = [], 24
    while at + 16 <= len(data):
        kept = struct.unpack_from("<I", data, at + 8)[0]
        records.append((data[at:at + 16], data[at + 16:at + 16 + kept]))
        at += 16 + kept
    return data[:24], records


def write_pcap(path, header, records):
    with open(path, "wb") as f:
        f.write(header)
        for head, packet in records:
            f.write(struct.pack("<IIII", *struct.unpack("<II", head[:8]), len(packet), len(packet)) + packet)


def with_payload(packet, payload, seq):
    total = 40 + len(payload)
    return (packet[:2] + struct.pack(">H", total) + packet[4:24] + struct.pack(">I", seq) + packet[28:40] +
            payload)


def resegmented(records, rng):
    """Each TCP payload cut into pieces of 1..7 bytes."""
    out = []
    for head, packet in records:
        payload, seq = packet[40:], struct.unpack(">I", packet[24:28])[0]
        if not payload:
            out.append((head, packet))
        while payload:
            n = rng.randint(1, 7)
            out.append((head, with_payload(packet, payload[:n], seq)))
            payload, seq = payload[n:], seq + n
    return out


def device_sends(work, name, header, records, pieces):
    """The capture's handshake, then `pieces` from the device in order."""
    head, first = records[3]
    seq, out = struct.unpack(">I", first[24:28])[0], records[:3]
    for piece in pieces:
        out.append((head, with_payload(first, piece, seq)))
        seq += len(piece)
    path = os.path.join(work, name + ".pcap")
    write_pcap(path, header, out)
    return path


def expect_expert(lua, pcap, expert):
    if not tshark(lua, pcap, "-Y", expert, "-T", "fields", "-e", "frame.number").split():
        fail(f"{pcap}: no {expert}")


def tcpdump_in_namespace(cli, lua, proxy, work):
    """Runs in a network namespace of its own: loopback up, tcpdump on it,
    a fetch in each framing through the link proxy; both TCP connections
    (library-proxy, proxy-device) decode to the packets the library traced."""
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    for envelope in (True, False):
        name = "tcpdump-" + ("env" if envelope else "bare")
        pcap = os.path.join(work, name + ".pcap")
        log = os.path.join(work, name + ".tcpdump")
        dump = subprocess.Popen(["tcpdump", "-i", "lo", "-U", "-s", "0", "-w", pcap, "tcp"],
                                stdout=subprocess.DEVNULL, stderr=open(log, "w"))
        try:
            wait_for(log, "listening on", dump, "tcpdump")
            sim, out, _ = simulate(cli, work, name, "127.62.1.1", "--port", "30282", "--bytes", "100000",
                                   *([] if envelope else ["--no-envelope"]))
            link = subprocess.Popen([proxy, "127.62.1.2", "127.62.1.1", "30282", "1", "7"],
                                    stdin=subprocess.PIPE, stdout=subprocess.PIPE)
            port = int(link.stdout.readline().split()[1])
            run = subprocess.run([cli, "fetch", "127.62.1.2", "--port", str(port), "--out",
                                  os.path.join(work, name + ".bin"), "--timeout", "20", "--trace"],
                                 capture_output=True, timeout=120)
            link.stdin.close()
            link.wait(timeout=30)
            sim.wait(timeout=30)
            # tcpdump writes in order: once a last connection attempt is in
            # the file, so is everything before it.
            with socket.socket() as marker:
                marker.connect_ex(("127.62.1.9", 9))
            for _ in range(200):
                if any(p[36:38] == b"\x00\x09" for _, p in read_pcap(pcap)[1]):
                    break
                time.sleep(0.05)
        finally:
            dump.send_signal(signal.SIGINT)
            dump.wait(timeout=30)
        if run.returncode != 0:
            fail(f"{name}: fetch exited {run.returncode}: {run.stderr.decode(errors='replace')}")
        traced = trace_lines(run.stderr.decode(errors="replace"))
        # The proxy's port by "decode as": another heuristic dissector may
        # take the first small pieces.
        compare(name + " library side", decoded_lines(lua, pcap, True, f"vexacomm && tcp.port == {port}", "-d",
                                                      f"tcp.port=={port},vexacomm"), traced)
        compare(name + " device side", decoded_lines(lua, pcap, where="vexacomm && tcp.port == 30282"), traced)
        # The proxy sends 1..7 bytes at a time; the system joins pieces that
        # queue up (most of them on a loaded machine), but some go out alone.
        if len(tshark(lua, pcap, "-Y", f"tcp.srcport == {port} && tcp.len <= 7 && tcp.len >= 1").splitlines()) < 10:
            fail(f"{name}: the proxy did not cut the segments")


def namespace_test(cli, lua, proxy, work):
    why = ("not root" if os.geteuid() != 0 else
           "tcpdump or ip is not installed" if not (shutil.which("tcpdump") and shutil.which("ip")) else
           "unshare -n is not available" if subprocess.run(["unshare", "-n", "true"]).returncode != 0 else "")
    if why:
        print("SKIP: tcpdump in a network namespace:", why)
        return
    run = subprocess.run(["unshare", "-n", sys.executable, __file__, "--in-namespace", cli, lua, proxy, work],
                         timeout=600)
    if run.returncode != 0:
        fail("tcpdump in a network namespace")


def main():
    if sys.argv[1] == "--in-namespace":
        tcpdump_in_namespace(*sys.argv[2:6])
        return 0
    cli, host, lua, proxy = sys.argv[1:5]
    if shutil.which("tshark") is None:
        print("SKIP: tshark is not installed (tools/setup installs it)")
        return SKIP
    work = tempfile.mkdtemp()
    try:
        fetch = fetch_session(cli, lua, work, "fetch", "127.62.0.1",
                              ["--port", "30282", "--ack-mode", "1", "--bytes", "100000"],
                              ["--packet-size", "4096"], 0)
        fetch_session(cli, lua, work, "cancel", "127.62.0.2",
                      ["--port", "0", "--no-envelope", "--fault", "cancel", "--fault-after", "2"], [], 1)

        # The service exchange, as the simulator traces it (its arrows).
        os.mkdir(os.path.join(work, "files"))
        with open(os.path.join(work, "files", "a.dat"), "wb") as f:
            f.write(os.urandom(20000))
        sim_pcap = os.path.join(work, "service.pcap")
        sim, out, port = simulate(cli, work, "service", "127.62.0.3", "--port", "0", "--pcap", sim_pcap,
                                  "--ask-files", os.path.join(work, "files", "*.dat"))
        run = subprocess.run([host, "127.62.0.3", str(port)], capture_output=True, timeout=60, cwd=work)
        sim.wait(timeout=30)
        out.seek(0)
        text = out.read()
        if run.returncode != 0 or "ask-files: ok" not in text:
            fail(f"service exchange: {run.stdout!r} {text}")
        compare("service", decoded_lines(lua, sim_pcap, from_device_is_received=False), trace_lines(text, "[c1] "))
        if not tshark(lua, sim_pcap, "-Y", "vexacomm.file.size == 20000", "-T", "fields", "-e", "frame.number"):
            fail("service: no file information record of 20000 bytes")

        # Reassembly: the same packets from segments of 1..7 bytes.
        header, records = read_pcap(fetch)
        rng = random.Random(26)
        small = os.path.join(work, "small.pcap")
        write_pcap(small, header, resegmented(records, rng))
        compare("1..7-byte segments", decoded_lines(lua, small), decoded_lines(lua, fetch))

        # Malformed: cut mid-packet, a length of 16377, a wrong checksum,
        # random bytes; tshark survives each, the last three with experts.
        cut = os.path.join(work, "cut.pcap")
        with open(fetch, "rb") as source, open(cut, "wb") as f:
            f.write(source.read()[:os.path.getsize(fetch) * 2 // 3])
        tshark(lua, cut)
        greeting = records[3][1][40:]
        long = device_sends(work, "long", header, records, [greeting, struct.pack("<II", 0x1003011, 16377) + bytes(9)])
        expect_expert(lua, long, "vexacomm.len.too_long")
        reply = struct.pack("<IIIIIIII", 0x76337692, 0x76337692, 1, 4, 7, 12 + 1, 0x76927633, 0x76927633)
        bad = device_sends(work, "checksum", header, records, [greeting, reply])
        expect_expert(lua, bad, "vexacomm.checksum.bad")
        expect_expert(lua, bad, "vexacomm.no_request")
        rng = random.Random(30282)
        junk = [bytes(rng.getrandbits(8) for _ in range(rng.randint(1, 300))) for _ in range(200)]
        expect_expert(lua, device_sends(work, "noise", header, records, junk),
                      "vexacomm.len.too_long || vexacomm.cmd.unknown")
        namespace_test(cli, lua, proxy, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("dissector agrees with the traces")
    return 0


if __name__ == "__main__":
    sys.exit(main())
