#!/bin/sh
# vexacomm simulate --replay: a fetch recorded with --pcap, replayed, gives
# the same data and the same result; so does a device cancel; a fetch
# with another request block is stopped at the first differing packet,
# which the replay shows next to the recorded one.
set -u
cli="$1"
dir=$(mktemp -d)
sim_pid=
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; rm -rf "$dir"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# Starts `vexacomm simulate ARGS` on $1, output in $dir/$2, and waits
# (bounded) until it listens.
start() {
    addr="$1"; out="$dir/$2"; shift 2
    "$cli" simulate --bind "$addr" --once --timeout 10 "$@" > "$out" 2>&1 &
    sim_pid=$!
    n=0
    while [ $n -lt 200 ] && ! grep -Eq '^(simulating|replaying)' "$out" && kill -0 "$sim_pid" 2>/dev/null; do
        sleep 0.05; n=$((n + 1))
    done
    grep -Eq '^(simulating|replaying)' "$out" || fail "simulator on $addr did not start: $(cat "$out")"
}
stop() { wait "$sim_pid"; status=$?; sim_pid=; return $status; }

# $1 name, $2.. simulator options: record, then replay, and compare.
record_and_replay() {
    name="$1"; shift
    start 127.63.1.1 "$name.sim" "$@"
    "$cli" fetch 127.63.1.1 --out "$dir/$name.rec" --pcap "$dir/$name.pcap" --timeout 10 > "$dir/$name.rec.out" 2>&1
    recorded=$?
    stop
    start 127.63.1.2 "$name.replay" --replay "$dir/$name.pcap"
    "$cli" fetch 127.63.1.2 --out "$dir/$name.got" --timeout 10 > "$dir/$name.got.out" 2>&1
    replayed=$?
    stop || fail "$name: replay: $(cat "$dir/$name.replay")"
    [ "$recorded" = "$replayed" ] || fail "$name: exit $recorded recorded, $replayed replayed"
    cmp "$dir/$name.rec" "$dir/$name.got" || fail "$name: the data differs"
    # The same lines but the file names (stdout and stderr may interleave).
    [ "$(grep -v 'bytes' "$dir/$name.rec.out" | sort)" = "$(grep -v 'bytes' "$dir/$name.got.out" | sort)" ] ||
        fail "$name: $(cat "$dir/$name.rec.out") / $(cat "$dir/$name.got.out")"
    grep -q '^replay: all [0-9]* recorded packets replayed and matched$' "$dir/$name.replay" ||
        fail "$name: $(cat "$dir/$name.replay")"
}
record_and_replay fetch --bytes 300000 --ack-mode 1
record_and_replay cancel --bytes 300000 --no-envelope --fault cancel --fault-after 3
grep -q '^error 71004: ' "$dir/cancel.got.out" || fail "cancel: $(cat "$dir/cancel.got.out")"

# Another request block than the recorded one.
printf '\000\000\000\000\000\000\001\000abcdefgh' > "$dir/request.bin"
start 127.63.1.3 other.replay --replay "$dir/fetch.pcap"
"$cli" fetch 127.63.1.3 --out "$dir/other.got" --request "$dir/request.bin" --timeout 10 > /dev/null 2>&1 &&
    fail "a fetch past the divergence succeeded"
stop && fail "the replay of a divergent fetch exited 0"
printf '%s\n' "replay: diverged at recorded packet 12 after 11 matched: the library sent another packet" \
    "  recorded: < ASDU10 len 0 env" "  received: < ASDU10 len 16 env" \
    "  received:     0000  00 00 00 00 00 00 01 00 61 62 63 64 65 66 67 68" > "$dir/expected"
sed -n '/^replay: diverged/,$p' "$dir/other.replay" | cmp -s - "$dir/expected" || fail "divergence: $(cat "$dir/other.replay")"
echo "ok"
