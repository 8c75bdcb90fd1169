#!/usr/bin/env bash
# vexacomm fetch-all against simulate --count, POSIX only (signals): 64
# devices with four faults, every finished file byte for byte, the failures
# with their codes in the table and the JSON, nothing else under DIR; two
# shards that cover the list once; Ctrl-C mid-run; malformed lists.
set -u -m
umask 022
cli="$1"
dir=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null; done; wait; rm -rf "$dir"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
cd "$dir" || exit 1
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
wait_for() { local n=0; until "$@"; do n=$((n + 1)); [ $n -lt 500 ] || return 1; sleep 0.02; done; }
start_sim() { # NAME ARGS...: simulate --count, its list in NAME
    local name=$1; shift
    "$cli" simulate --data data --list "$name" "$@" > "sim-$name" 2>&1 &
    pids+=($!)
    wait_for grep -qs simulating "sim-$name" || fail "simulator $name: $(cat "sim-$name")"
}
head -c 40000 /dev/urandom > data # three packets: a fault after the first leaves a partial

# --- 64 devices, dev1..dev4 stall, cut, refuse, error after one packet.
start_sim devices --bind 127.4.30.1 --count 64 --fault-mix stall:1,cut:1,refuse:1,error:1 --fault-after 1
"$cli" fetch-all devices --out-dir out --jobs 16 --retries 1 --timeout 0.5 --json out.json > table 2> lines
rc=$?
[ $rc = 1 ] || fail "exit $rc, expected 1: $(cat lines)"
for i in $(seq 5 64); do cmp -s data "out/dev$i.bin" || fail "out/dev$i.bin differs from the served data"; done
[ "$(stat -c %a out/* | sort -u)" = 644 ] || fail "modes not from the umask: $(stat -c '%a %n' out/*)"
[ "$(ls -A out | wc -l)" = 60 ] || fail "more than the 60 finished files under out: $(ls -A out | grep -v '^dev[0-9]*\.bin$')"
for row in "dev1 failed 10060 2" "dev2 failed 71000 2" "dev3 failed 71001 2" "dev4 failed 75001 1" "dev64 done 0 1"; do
    set -- $row
    grep -Eq "^$1 +$2 +$3 .* $4\$" table || fail "no row '$row' in the table: $(cat table)"
done
[ "$(wc -l < lines)" = 64 ] && grep -q '^dev2: failed, error 71000: ' lines || fail "finished lines: $(cat lines)"
python3 - out.json <<'PY' || fail "JSON: $(cat out.json)"
import json, sys
doc = json.load(open(sys.argv[1]))
failed = {d["device"]: d["code"] for d in doc["devices"] if d["result"] == "failed"}
assert failed == {"dev1": 10060, "dev2": 71000, "dev3": 71001, "dev4": 75001}, failed
assert (doc["done"], doc["failed"], len(doc["devices"]), doc["interrupted"]) == (60, 4, 64, False)
PY

# --- two shards: each device in exactly one; their exit statuses say so.
"$cli" fetch-all devices --out-dir s0 --shard 0/2 --retries 0 --timeout 0.5 --json s0.json > /dev/null 2>&1
"$cli" fetch-all devices --out-dir s1 --shard 1/2 --retries 0 --timeout 0.5 --json s1.json > /dev/null 2>&1
python3 - s0.json s1.json <<'PY' || fail "shards: $(cat s0.json s1.json)"
import json, sys
names = [[d["device"] for d in json.load(open(f))["devices"]] for f in sys.argv[1:]]
assert sorted(names[0] + names[1]) == sorted(f"dev{i}" for i in range(1, 65)), names
assert names[0] and names[1]
PY

# --- Ctrl-C with dev1..dev4 paused mid-transfer: cancelled within 1 s,
# the finished files kept, nothing else left, the table printed, 130.
start_sim slow --bind 127.4.31.1 --count 8 --fault-mix pause:4 --fault-after 1 --pause-ms 60000
"$cli" fetch-all slow --out-dir slow-out --jobs 8 > table 2> lines &
pid=$!
# Four finished files, and four new ones (hidden) of the paused transfers.
files() { [ "$(ls slow-out 2>/dev/null | grep -c .)" = 4 ] && [ "$(ls -A slow-out | grep -c .)" = 8 ]; }
wait_for files || fail "not 4 finished and 4 running: $(ls -A slow-out) $(cat lines)"
t0=$(now_ms); kill -INT $pid; wait $pid; rc=$?; took=$(( $(now_ms) - t0 ))
[ $rc = 130 ] && [ $took -lt 1000 ] || fail "exit $rc after $took ms: $(cat lines)"
for i in 5 6 7 8; do cmp -s data "slow-out/dev$i.bin" || fail "slow-out/dev$i.bin differs"; done
[ "$(ls -A slow-out | wc -l)" = 4 ] || fail "left after Ctrl-C: $(ls -A slow-out)"
[ "$(grep -Ec '^dev[1-4] +cancelled +71005 ' table)" = 4 ] && grep -q '^interrupted: ' lines || fail "after Ctrl-C: $(cat table lines)"

# --- malformed lists and command lines: exit 2, naming the line; nothing written.
printf '\0\0\0\0\0\0\1\0' > short
while IFS='|' read -r pattern list args; do
    printf "$list" > list
    eval "set -- $args"
    "$cli" fetch-all list --out-dir bad "$@" < /dev/null > /dev/null 2> err.txt
    rc=$?
    [ $rc = 2 ] && grep -Eq -- "$pattern" err.txt && [ ! -e bad ] || fail "list '$list' $args: exit $rc: $(cat err.txt)"
done <<'EOF'
list:2: 'h:0': port: expected a decimal number from 1 to 65535|# c\nh:0\n|
list:3: the name 'A' is already used on line 1|a\n\nh A\n|
list:1: the name 'x/y' holds '/'|h x/y\n|
list:1: the name '.x' starts with '.'|h .x\n|
list:1: expected 'host\[:port\] \[name\] \[request-file\]', found 4 fields|h n r extra\n|
list:1: request file short: the entry count 1 needs 16 bytes|h n short\n|
--shard: expected K/N with 0 <= K < N|h\n|--shard 2/2
--jobs: expected a decimal number from 1 to 1024|h\n|--jobs 1025
EOF
echo "1 passed, 0 failed"
