#!/bin/sh
# An answering host against `vexacomm simulate --ask-files`: the simulator
# asks for a listing and a file and checks both against the disk. A third
# argument runs the programs under that emulator (wine), with the paths in
# its form; a fourth is a pattern the host's output must hold; a fifth,
# "confined", runs a second session with the host's --root and --allow.
set -u
cli="$1"
host="$2"
emulator="${3:-}"
expect="${4:-}"
confined="${5:-}"
native() { if [ -n "$emulator" ]; then winepath -w "$1" 2>/dev/null; else printf '%s\n' "$1"; fi; }
dir=$(mktemp -d)
sim_pid=
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; rm -rf "$dir"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir "$dir/files"
head -c 70001 /dev/urandom > "$dir/files/a.dat"
printf 'second' > "$dir/files/b.dat"
pattern="$(native "$dir/files")"
case "$pattern" in *\\*) pattern="$pattern\\*.dat" ;; *) pattern="$pattern/*.dat" ;; esac
cd "$dir" || fail "no temporary directory"

# One session: the simulator's extra arguments, then the host's.
session() {
    sim_args="$1"; shift
    for i in 1 2 3 4 5 6 7 8; do
        addr="127.9.6.$i"
        # Emptied here, not only by the child's redirection: the wait below
        # must not find the word of an earlier session's simulator.
        : > sim.out
        # Split at blanks, never expanded as file names.
        set -f
        # shellcheck disable=SC2086
        $emulator "$cli" simulate --bind "$addr" --once --timeout 10 $sim_args > sim.out 2>&1 &
        sim_pid=$!
        set +f
        n=0
        while [ $n -lt 200 ] && ! grep -q 'simulating' sim.out && kill -0 "$sim_pid" 2>/dev/null; do
            sleep 0.05; n=$((n + 1))
        done
        grep -q 'simulating' sim.out && break
        wait "$sim_pid" 2>/dev/null; sim_pid=
    done
    [ -n "$sim_pid" ] || fail "simulator did not start: $(cat sim.out)"
    $emulator "$host" "$@" "$addr" > host.out 2>&1 || fail "answering host failed: $(cat host.out)"
    wait "$sim_pid" || fail "simulator: $(cat sim.out)"
    sim_pid=
}

session "--ask-files $pattern"
# The listing's order is the file system's; the first file listed is sent.
grep -Eq '^ask-files: ok: 2 entries listed; .*(a\.dat: 70001|b\.dat: 6) bytes received and verified' sim.out \
    || fail "unexpected outcome: $(cat sim.out)"
grep -Eq 'sent .*(a\.dat: 70001|b\.dat: 6) bytes' host.out || fail "host said: $(cat host.out)"
ls ./*.dir.tmp > /dev/null 2>&1 && fail "the listing file was left behind"
[ -z "$expect" ] || tr -d '\r' < host.out | grep -Eq "$expect" || fail "no '$expect' from the host: $(cat host.out)"

# Confined to the files: paths from the root, and every escape refused or
# kept inside (links as POSIX makes them; not under the emulator). The
# swap races the request: refused, found inside (0), or caught between the
# directory's removal and the link's making (3); never read outside.
if [ "$confined" = confined ] && [ -z "$emulator" ]; then
    session "--ask-files /*.dat --files-root $dir/files" --root "$dir/files" --allow "$host"
    grep -Eq '^ask-files: ok: 2 entries listed; /(a\.dat: 70001|b\.dat: 6) bytes received and verified; escapes: dot-dot refused \(5\), absolute answered 3, planted link refused \(5\), swapped link (refused \(5\)|answered [03])$' sim.out \
        || fail "unexpected confined outcome: $(cat sim.out)"
    grep -q 'not sent \.\./escape-victim: 5' host.out || fail "confined host said: $(cat host.out)"
    ls "$dir"/files/*.dir.tmp > /dev/null 2>&1 && fail "the confined listing file was left behind"
fi
echo "1 passed, 0 failed"
