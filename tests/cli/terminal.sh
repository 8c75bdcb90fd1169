#!/usr/bin/env bash
# vexacomm on a pseudo-terminal (util-linux script), POSIX only: binary data
# is kept off the terminal.
set -u
cli="$1"
dir=$(mktemp -d)
cleanup() { rm -rf "$dir"; }
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
echo "1 passed, 0 failed"
