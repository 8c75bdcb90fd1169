#!/usr/bin/env bash
# vexacomm on a pseudo-terminal (util-linux script), POSIX only: binary data
# is kept off the terminal, and a 200 MiB fetch draws its progress bar at
# most 10 times a second, at 100 % only at the end.
set -u
cli="$1"
dir=$(mktemp -d)
sim=
cleanup() { [ -z "$sim" ] || kill "$sim" 2>/dev/null; rm -rf "$dir"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
on_tty() { script -qfec "$1" /dev/null < /dev/null > "$dir/tty"; }
cd "$dir" || exit 1
echo data > file

while IFS='|' read -r code pattern args; do
    on_tty "'$cli' $args"; rc=$?
    [ "$rc" = "$code" ] && grep -Eq -- "$pattern" tty || fail "$args: exit $rc, expected $code: $(cat tty)"
done <<'EOF'
2|fetch: standard output is a terminal: binary data is not written there|fetch 127.4.20.1 --out -
2|compress: standard output is a terminal|compress file -
2|decompress: standard input is a terminal|decompress - file
EOF

"$cli" simulate --bind 127.4.20.1 --once --bytes 209715200 > sim 2>&1 &
sim=$!
n=0
until grep -qs simulating sim; do n=$((n + 1)); [ $n -lt 200 ] || fail "simulator: $(cat sim)"; sleep 0.05; done
t0=$(date +%s%N)
on_tty "'$cli' fetch 127.4.20.1 --out - > /dev/null" || fail "fetch: $(cat tty)"
ms=$(( ($(date +%s%N) - t0) / 1000000 ))
# Each redraw starts with a carriage return; the terminal ends lines with
# CR LF, so those are dropped first.
sed 's/\r$//' tty | tr '\r' '\n' | grep '^\[' > draws
count=$(wc -l < draws)
last=$(tail -n 1 draws)
[ "$count" -ge 1 ] && [ $((count * 100)) -le "$ms" ] || fail "$count redraws in $ms ms"
case "$last" in *"100%  200.0 MiB in "*" s, "*/s*) ;; *) fail "final line: $last" ;; esac
[ "$(grep -c '100%' draws)" = 1 ] || fail "100% before the end: $(grep -n '100%' draws)"
wait "$sim"; sim=

# fetch-all: a block of running devices and an overall line, redrawn at
# most 10 times a second while two devices pause for a second.
"$cli" simulate --bind 127.4.21.1 --count 4 --bytes 100000 --fault-mix pause:2 --fault-after 1 --list list > sim 2>&1 &
sim=$!
n=0
until grep -qs simulating sim; do n=$((n + 1)); [ $n -lt 200 ] || fail "simulators: $(cat sim)"; sleep 0.05; done
t0=$(date +%s%N)
on_tty "'$cli' fetch-all list --out-dir out" || fail "fetch-all: $(cat tty)"
ms=$(( ($(date +%s%N) - t0) / 1000000 ))
redraws=$(grep -o $'\e\[[0-9]*A' tty | wc -l)
[ "$redraws" -ge 5 ] && [ $((redraws * 100)) -le "$ms" ] || fail "$redraws redraws in $ms ms"
grep -Eq '  dev1  16.0 KiB of 97.7 KiB  [0-9.]+ [KMG]?i?B/s' tty || fail "no line of dev1: $(cat -v tty)"
grep -Eq '^2 done, 0 failed, 2 remaining \(2 running\), ' tty || fail "no overall line: $(cat -v tty)"
echo "1 passed, 0 failed"
