#!/usr/bin/env bash
# vexacomm as a person drives it, POSIX only: one table of cases per
# command, each row "exit|stderr pattern|arguments". After every table the
# files a failed run must not touch are compared byte for byte, and no
# temporary file may be left. Signals go to child processes started with
# job control, so that SIGINT is not ignored in them.
set -u -m
cli="$1"
dir=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null; done; wait; rm -rf "$dir"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
cd "$dir" || exit 1
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
# Bounded wait until a command succeeds (at most 10 s).
wait_for() { local n=0; until "$@"; do n=$((n + 1)); [ $n -lt 500 ] || return 1; sleep 0.02; done; }

# Standard output of rows: out.txt, or with stdout=pipe a pipe that nobody
# reads (fd 5), with stdout=closed none at all. Each row ends within 10 s.
stdout=
rows() { # [COMMAND]: the table on stdin; a row without arguments is skipped
    local code pattern args prefix=("$@")
    while IFS='|' read -r code pattern args; do
        [ -n "$args" ] || continue
        eval "set -- $args"
        case "$stdout" in
        pipe) timeout 10 "$cli" "${prefix[@]}" "$@" < /dev/null >&5 2> err.txt ;;
        closed) timeout 10 "$cli" "${prefix[@]}" "$@" < /dev/null >&- 2> err.txt ;;
        *) timeout 10 "$cli" "${prefix[@]}" "$@" < /dev/null > out.txt 2> err.txt ;;
        esac
        local rc=$?
        [ "$rc" = "$code" ] || fail "vexacomm ${prefix[*]} $args: exit $rc, expected $code: $(cat err.txt)"
        grep -Eq -- "$pattern" err.txt || fail "vexacomm ${prefix[*]} $args: stderr lacks /$pattern/: $(cat err.txt)"
    done
}
snapshot() { find . -path ./out.txt -prune -o -path ./err.txt -prune -o -print | sort | while read -r f; do
    if [ -f "$f" ]; then echo "$f $(stat -c %F:%a "$f") $(cksum < "$f")"; else echo "$f $(stat -c %F "$f")"; fi; done; }
untouched() { [ "$(snapshot)" = "$1" ] || fail "$2 changed files: $(diff <(echo "$1") <(snapshot))"; }

# --- compress and decompress: refusals and damaged input leave every file as it was.
mkdir c && cd c || exit 1
head -c 300000 /dev/urandom > a
echo keep > keep
echo ro > ro && chmod 444 ro
mkdir d && mkfifo fifo && ln a hard && ln -s keep link
"$cli" compress a a.z || fail "compress a a.z"
head -c 100000 a.z > cut.z
device=""
[ "$(id -u)" = 0 ] && mknod null c 1 3 && device="null"
before=$(snapshot)
rows <<EOF
1|a: is the source file itself|compress a a
1|hard: is the source file itself|decompress a hard
1|missing: No such file or directory|compress missing keep
1|d: is a directory|compress a d
1|fifo: is not a regular file|compress a fifo
1|fifo: not a regular file|compress fifo keep
1|ro: is read-only|compress a ro
1|cut.z: compressed data is truncated|decompress cut.z keep
1|ro: not a compressed file: shorter than the 4-byte size header|decompress ro link
1|keep: not a compressed file: its header gives a size of 1885693291 bytes, more than 1 byte|decompress keep a
1|standard input: not a compressed file|decompress - keep
1|null: is not a regular file|${device:+decompress a.z $device}
2|unknown option --level|compress --level 9 a b
2|-f is given more than once|compress -f -f a b
EOF
untouched "$before" "refused compress/decompress"
[ -z "$device" ] || [ -c null ] || fail "device node replaced"
"$cli" decompress a.z link && cmp a keep && [ -L link ] || fail "decompress through a link"
"$cli" compress - - < a | cmp -s - a.z && "$cli" decompress - - < a.z | cmp -s - a || fail "- as standard input and output"
"$cli" compress --force keep ro && [ "$(stat -c %a ro)" = 444 ] || fail "--force replaces a read-only file, keeping its mode"
cd ..

# --- fetch: bad requests, outputs and options fail before connecting.
start_sim() { # ADDRESS ARGS...: a simulator on ADDRESS, its output in sim-ADDRESS
    local addr=$1; shift
    "$cli" simulate --bind "$addr" "$@" > "sim-$addr" 2>&1 &
    pids+=($!)
    wait_for grep -qs simulating "sim-$addr" || fail "simulator on $addr: $(cat "sim-$addr")"
}
head -c 300000 /dev/urandom > data
start_sim 127.4.9.1 --data data
mkdir f && cd f || exit 1
mkfifo fifo && mkdir d && head -c 16377 /dev/zero > big && echo existing > keep
printf '\0\0\0\0\0\0\1\0' > short && printf '\0\0\0\0\0\0\0\10' > count
before=$(snapshot)
rows fetch <<'EOF'
1|request file d: not a regular file|127.4.9.1 --request d --out keep
1|request file /dev/zero: not a regular file|127.4.9.1 --request /dev/zero --out keep
1|request file fifo: not a regular file|127.4.9.1 --request fifo --out keep
1|request file big: more than 16376 bytes|127.4.9.1 --request big --out keep
1|needs 16 bytes, the file has 8|127.4.9.1 --request short --out keep
1|count 2048 at byte 6 is outside|127.4.9.1 --request count --out keep
1|output file d: Is a directory|127.4.9.1 --out d
1|output file nodir/x: No such file|127.4.9.1 --out nodir/x
1|^error: output file fifo: not a regular file \(a FIFO, device or socket\); to stream, use --out - |127.4.9.1 --out fifo
1|output file /dev/null: not a regular file|127.4.9.1 --out /dev/null
1|^vexacomm: 127\.51:30282: host not found \(11001\)$|127.51 --out keep
1|^vexacomm: 127\.4\.9\.1 :30282: host not found \(11001\)$|'127.4.9.1 ' --out keep
1|^vexacomm: 255\.255\.255\.255:30282: not a device address: .* \(71015\)$|255.255.255.255 --out keep
1|^vexacomm: 0\.0\.0\.0:30282: not a device address: .* \(71015\)$|0.0.0.0 --out keep
1|log file nodir/x: No such file|127.4.9.1 --out keep --log nodir/x
1|^vexacomm: 127\.4\.9\.2:30282: connection refused: .*\(10061\)$|127.4.9.2 --out keep
2|--timeout: expected seconds from 0.001 to 2147483.647|127.4.9.1 --out x --timeout 0.0009
2|--timeout: expected seconds from 0.001|127.4.9.1 --out x --timeout=2147483.648
2|--port: expected a decimal number|127.4.9.1 --out x --port 0x10
2|--out is given more than once|127.4.9.1 --out x --out y
2|HOST is empty|'' --out x
EOF
untouched "$before" "failed fetch"
cd ..

# --- fetch that works: stdout carries the data only; a number with a
# leading zero is decimal; the ident is shown as its bytes; a full file
# system keeps exactly the bytes counted.
start_sim 127.4.9.3 --data data --ident "$(printf 'A\tB\303\251')"
"$cli" fetch 127.4.9.3 --out - --packet-size 0400 --verbose > got 2> info || fail "fetch --out -: $(cat info)"
cmp -s data got || fail "stdout differs from the served data"
wire=$(sed -n 's/^wire: sent [1-9][0-9]* packets ([0-9]* bytes), received [0-9]* packets (\([0-9]*\) bytes) in [0-9.]* s$/\1/p' info)
[ "${wire:-0}" -gt 300000 ] && ! grep -q $'\r' info || fail "--verbose, no bar off a terminal: $(cat info)"
grep -q 'packet size 400$' info && grep -q "ident \"A\\\\x09B$(printf '\303\251')\"" info || fail "info lines: $(cat info)"
(ulimit -f 64; "$cli" fetch 127.4.9.3 --out=full > /dev/null 2> err.txt); rc=$?
kept=$(sed -n 's/^\([0-9]*\) bytes kept in full$/\1/p' err.txt)
[ $rc = 1 ] && grep -q '^error: writing full: File too large' err.txt && [ "$kept" = "$(stat -c %s full)" ] ||
    fail "failed write: exit $rc, kept '$kept' of $(stat -c %s full): $(cat err.txt)"

# --- standard output a pipe without a reader, or closed: one line says
# so and the command fails, whether the data arrived or not.
mkfifo gone && exec 4<>gone 5>gone 4<&- && rm gone || fail "no reader-less pipe"
echo "127.4.9.3:30282 dev1" > list
stdout=pipe rows <<'EOF'
1|^vexacomm fetch-all: standard output: Broken pipe$|fetch-all list --out-dir e1
1|^vexacomm fetch-all: standard output: Broken pipe$|fetch-all list --out-dir e2 --json -
1|^vexacomm fetch: standard output: Broken pipe$|fetch 127.4.9.3 --out -
1|^vexacomm compress: standard output: Broken pipe$|compress c/a -
1|^vexacomm decompress: standard output: Broken pipe$|decompress c/a.z -
1|^vexacomm simulate: standard output: Broken pipe$|simulate --deviate list
EOF
stdout=closed rows <<'EOF'
1|^vexacomm fetch-all: standard output: Bad file descriptor$|fetch-all list --out-dir e3
EOF
exec 5>&-

# --- signals: at once while connecting, cancel and keep during a transfer,
# at once on a second signal; the simulator stops promptly.
start_sim 127.4.9.4 --silent
start_sim 127.4.9.5 --bytes 3000000 --fault stall --fault-after 3 --packet-size 1000
echo existing > keep
clients=(0 0 0 0 0 0)
signal_case() { # ADDRESS OUT SIGNALS EXIT MAX_MS PATTERN: fetch, signal once data or a client arrived
    local addr=$1 out=$2 signals=$3 code=$4 max=$5 pattern=$6
    "$cli" fetch "$addr" --out "$out" > /dev/null 2> err.txt &
    local pid=$!
    wait_for grep -q "client $((++clients[${addr##*.}])) connected" "sim-$addr" || fail "no client on $addr"
    [ "$addr" != 127.4.9.5 ] || wait_for test -s "$out" || fail "no data arrived"
    local t0; t0=$(now_ms)
    for s in $signals; do
        kill -"$s" "$pid"
        [ "$s" = "$signals" ] || wait_for grep -q 'again to end at once' err.txt || fail "first signal not seen"
    done
    wait "$pid"; local rc=$? took=$(( $(now_ms) - t0 ))
    [ $rc = "$code" ] && [ $took -lt "$max" ] && grep -Eq "$pattern" err.txt ||
        fail "fetch $addr, $signals: exit $rc after $took ms: $(cat err.txt)"
}
signal_case 127.4.9.4 new INT 130 1000 '^interrupted$'
[ ! -e new ] || fail "interrupted connect left its new output file"
signal_case 127.4.9.4 keep TERM 143 1000 '^interrupted$'
[ "$(cat keep)" = existing ] || fail "interrupted connect touched the output"
signal_case 127.4.9.5 keep "INT INT" 130 1000 'bytes kept in keep$'
"$cli" simulate --bind localhost --port 0 > sim-localhost 2>&1 &
pid=$!
wait_for grep -qs 'on 127.0.0.1:' sim-localhost || fail "simulate --bind localhost: $(cat sim-localhost)"
t0=$(now_ms); kill -INT $pid; wait $pid; rc=$?; took=$(( $(now_ms) - t0 ))
[ $rc = 0 ] && [ $took -lt 1000 ] || fail "simulate after SIGINT: exit $rc after $took ms"
rows simulate <<'EOF'
1|data file missing: No such file|--bind 127.4.9.6 --data missing
1|127.4.9.1:30282: address already in use|--bind 127.4.9.1
2|--bytes and --data exclude each other|--data data --bytes 5
2|--pause-ms: expected a decimal number from 0|--fault pause --pause-ms 1.5
2|--promise: expected a decimal number from 0 to 4294967295|--promise 4294967296
2|--fault-mix: unknown fault 'melt'|--count 2 --fault-mix melt:1
2|--fault-mix: 3 faulty devices, --count is 2|--count 2 --fault-mix stall:2,cut:1
2|--count: 3 addresses from 127.255.255.254 leave|--bind 127.255.255.254 --count 3
EOF
# Last, as it needs the library's prompt cancel of a stalled wait.
signal_case 127.4.9.5 keep INT 130 1800 '^error 71005: '
grep -q "^$(stat -c %s keep) bytes kept in keep$" err.txt || fail "kept count: $(cat err.txt)"
echo "1 passed, 0 failed"
