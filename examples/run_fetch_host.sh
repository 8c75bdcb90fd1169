#!/bin/sh
# A fetching host against `vexacomm simulate`: the simulator serves a file of
# random bytes once, and what the host wrote must be that file.
#   run_fetch_host.sh VEXACOMM HOST_PROGRAM ADDRESS [EMULATOR]
set -u
cli="$1"
host="$2"
addr="$3"
emulator="${4:-}"
native() { if [ -n "$emulator" ]; then winepath -w "$1" 2>/dev/null; else printf '%s\n' "$1"; fi; }
dir=$(mktemp -d)
sim_pid=
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; rm -rf "$dir"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

head -c 300001 /dev/urandom > "$dir/data.bin"
: > "$dir/sim.out"
$emulator "$cli" simulate --bind "$addr" --once --timeout 10 --data "$(native "$dir/data.bin")" > "$dir/sim.out" 2>&1 &
sim_pid=$!
n=0
while [ $n -lt 200 ] && ! grep -qs 'simulating' "$dir/sim.out" && kill -0 "$sim_pid" 2>/dev/null; do
    sleep 0.05
    n=$((n + 1))
done
grep -q 'simulating' "$dir/sim.out" || { cat "$dir/sim.out"; fail "the simulator did not start on $addr"; }
$emulator "$host" "$addr" "$(native "$dir/out.bin")" || fail "$host exited with $?"
cmp "$dir/data.bin" "$dir/out.bin" || fail "$host wrote other bytes than the device served"
wait "$sim_pid" 2>/dev/null
sim_pid=
echo "ok: $(basename "$host") fetched 300001 bytes from $addr"
