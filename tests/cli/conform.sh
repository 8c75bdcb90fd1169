#!/bin/sh
# vexacomm conform: every device case passes against the simulator, with its
# JUnit and JSON reports readable; each deliberate deviation of the
# simulator fails its own case and the exit status.
set -u
cli="$1"
dir=$(mktemp -d)
sim_pid=
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; rm -rf "$dir"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# A simulator for many connections on $1, ended by the script or, at the
# latest, by itself after a minute.
start() {
    addr="$1"; out="$dir/sim-$addr.out"; shift
    : > "$out"
    timeout 60 "$cli" simulate --bind "$addr" --timeout 10 --bytes 100000 "$@" > "$out" 2>&1 &
    sim_pid=$!
    n=0
    while [ $n -lt 200 ] && ! grep -q '^simulating' "$out" && kill -0 "$sim_pid" 2>/dev/null; do
        sleep 0.05; n=$((n + 1))
    done
    grep -q '^simulating' "$out" || fail "simulator on $addr did not start: $(cat "$out")"
}
stop() { kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; sim_pid=; }

start 127.67.0.1
"$cli" conform 127.67.0.1 --junit "$dir/report.xml" > "$dir/conform.out" 2>&1 || fail "conform: $(cat "$dir/conform.out")"
"$cli" conform 127.67.0.1:30282 --json > "$dir/conform.json" 2>&1 || fail "conform --json: $(cat "$dir/conform.json")"
stop
cases=$("$cli" conform --list | wc -l)
[ "$cases" -ge 8 ] || fail "only $cases device cases"
[ "$(grep -c '^pass ' "$dir/conform.out")" = "$cases" ] || fail "not every case passed: $(cat "$dir/conform.out")"
python3 - "$dir/report.xml" "$dir/conform.json" "$cases" <<'EOF' || fail "the reports do not say so"
import json, sys, xml.etree.ElementTree as ET
suite = ET.parse(sys.argv[1]).getroot().find("testsuite")
report = json.load(open(sys.argv[2]))
n = int(sys.argv[3])
assert suite.get("tests") == str(n) and suite.get("failures") == "0", suite.attrib
assert len(suite.findall("testcase")) == n and not suite.findall("testcase/failure")
assert report["passed"] == n and report["failed"] == 0 and all(c["passed"] for c in report["cases"])
EOF

# deviation, the case that must catch it
k=1
while read -r deviation case; do
    k=$((k + 1))
    start "127.67.0.$k" --deviate "$deviation"
    "$cli" conform "127.67.0.$k" --junit "$dir/$deviation.xml" > "$dir/$deviation.out" 2>&1
    status=$?
    stop
    [ "$status" = 1 ] || fail "$deviation: conform exited $status: $(cat "$dir/$deviation.out")"
    grep -q "^FAIL  Part [0-9.]* *$case " "$dir/$deviation.out" || fail "$deviation: $case passed: $(cat "$dir/$deviation.out")"
    python3 -c "
import sys, xml.etree.ElementTree as ET
cases = ET.parse(sys.argv[1]).getroot().iter('testcase')
assert any(c.get('name') == sys.argv[2] and c.find('failure') is not None for c in cases)" \
        "$dir/$deviation.xml" "$case" || fail "$deviation: the JUnit report does not fail $case"
done <<'EOF'
greeting-command device-greeting-is-reply
probe-answer-command device-probe-answer-is-reply
reply-reserved device-probe-answer-is-reply
envelope-checksum device-packet-size-query
envelope-dropped device-packet-size-query
packet-size-command device-packet-size-query
ack-mode-command device-ack-mode-query
device-type-command device-type-query
ident-command device-ident-query
asdu10-total device-asdu10-all
asdu10-end-mark device-asdu10-all
EOF
echo "ok"
