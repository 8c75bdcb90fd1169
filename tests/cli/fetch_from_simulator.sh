#!/bin/sh
# vexacomm fetch against vexacomm simulate, as two processes: the file must
# hold exactly the served data; argument errors exit 2; failures exit 1.
# A second argument runs the program under that emulator (wine for
# vexacomm.exe), with the file names in its form.
set -u
cli="$1"
emulator="${2:-}"
run() { $emulator "$cli" "$@"; }
native() { if [ -n "$emulator" ]; then winepath -w "$1" 2>/dev/null; else printf '%s\n' "$1"; fi; }
dir=$(mktemp -d)
sim_pid=
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; rm -rf "$dir"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

head -c 1000003 /dev/urandom > "$dir/data.bin"
printf '\000\000\000\000\000\000\001\000abcdefgh' > "$dir/request.bin"

addr=127.4.0.1
for i in 1 2 3 4 5 6 7 8; do
    addr="127.4.$i.1"
    run simulate --bind "$addr" --data "$(native "$dir/data.bin")" --once --trace > "$dir/sim.out" 2>&1 &
    sim_pid=$!
    # Wait (bounded) until it listens or has given up on this address.
    n=0
    while [ $n -lt 100 ] && ! grep -q 'simulating' "$dir/sim.out" && kill -0 "$sim_pid" 2>/dev/null; do
        sleep 0.05; n=$((n + 1))
    done
    grep -q 'simulating' "$dir/sim.out" && break
    wait "$sim_pid" 2>/dev/null; sim_pid=
done
[ -n "$sim_pid" ] || fail "simulator did not start: $(cat "$dir/sim.out")"

run fetch "$addr" --request "$(native "$dir/request.bin")" --out "$(native "$dir/out.bin")" --timeout 10 \
    --trace > "$dir/fetch.out" 2>&1 \
    || fail "fetch failed: $(cat "$dir/fetch.out")"
cmp "$dir/data.bin" "$dir/out.bin" || fail "fetched file differs"
grep -q 'device type 769' "$dir/fetch.out" || fail "no device line: $(cat "$dir/fetch.out")"
wait "$sim_pid" || fail "simulator exited non-zero"
sim_pid=
# One trace line per packet on each side: 61 full data packets, the rest,
# the end mark (line ends as the system writes them).
tr -d '\r' < "$dir/fetch.out" > "$dir/fetch.txt"
tr -d '\r' < "$dir/sim.out" > "$dir/sim.txt"
[ "$(grep -c '^< DATA len 16376 env (packet [0-9]*)$' "$dir/fetch.txt")" = 61 ] || fail "trace: $(cat "$dir/fetch.txt")"
grep -q '^> ASDU10 len 16 env$' "$dir/fetch.txt" || fail "trace: no request line"
grep -q '^< DATA len 1067 env (packet 62)$' "$dir/fetch.txt" || fail "trace: no last data packet"
grep -q '^\[c1\] > DATA len 0 env (end)$' "$dir/sim.txt" || fail "simulator trace: $(cat "$dir/sim.txt")"

# Nothing listens any more: exit 1 with the socket error.
run fetch "$addr" --request "$(native "$dir/request.bin")" --out "$(native "$dir/out2.bin")" > "$dir/err.out" 2>&1
[ $? -eq 1 ] || fail "fetch without a device should exit 1"
grep -q "^vexacomm: $addr:30282: connection refused: .*(10061)" "$dir/err.out" || fail "expected 10061: $(cat "$dir/err.out")"

# Argument errors exit 2.
run fetch "$addr" --request "$(native "$dir/request.bin")" > /dev/null 2>&1
[ $? -eq 2 ] || fail "missing --out should exit 2"
run fetch "$addr" --request "$(native "$dir/request.bin")" --out x --packet-size 100 > /dev/null 2>&1
[ $? -eq 2 ] || fail "bad --packet-size should exit 2"
run simulate --bind 10.0.0.1 > /dev/null 2>&1
[ $? -eq 2 ] || fail "a non-loopback bind address should be refused"
echo "1 passed, 0 failed"
