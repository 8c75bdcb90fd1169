#!/bin/sh
# The installed tree as a user meets it: `cmake --install` into a temporary
# prefix, then a host built once with find_package(VexaComm 0.2) and once
# with pkg-config, each fetching from the installed program's simulator.
#   run.sh BUILD_DIR SOURCE_DIR
set -eu
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

prefix="$dir/prefix"
cmake --install "$build" --prefix "$prefix" > "$dir/install.log" || { cat "$dir/install.log"; fail "install"; }
cli="$prefix/bin/vexacomm"
cmp -s "$src/LICENSE" "$prefix/share/doc/vexacomm/LICENSE" || fail "the license in share/doc/vexacomm"
cmp -s "$src/tools/wireshark/vexacomm.lua" "$prefix/share/vexacomm/vexacomm.lua" || fail "the dissector in share/vexacomm"
"$cli" --version | grep -qx "vexacomm 0.2.0, library 0.2.0" || fail "the installed program's version, and its library's"
if command -v help2man >/dev/null 2>&1; then
    grep -q '^\.SS fetch' "$prefix/share/man/man1/vexacomm.1" || fail "the manual page"
fi

# The bridge header is installed and compiles on its own.
printf '#include "VexaCommBridge.h"\n' | c++ -std=c++17 -Wall -Wextra -Werror -fsyntax-only -I"$prefix/include" -x c++ - ||
    fail "the installed VexaCommBridge.h"

cmake -S "$src/tests/consumer" -B "$dir/cmake-host" -DCMAKE_PREFIX_PATH="$prefix" \
    -DEXAMPLE_SOURCE="$src/examples/callback_sink.c" > "$dir/configure.log" 2>&1 || { cat "$dir/configure.log"; fail "find_package"; }
cmake --build "$dir/cmake-host" > "$dir/build.log" 2>&1 || { cat "$dir/build.log"; fail "building with find_package"; }

pc=$(find "$prefix" -name vexacomm.pc)
flags=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs vexacomm) || fail "pkg-config"
libdir=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --variable=libdir vexacomm)
# shellcheck disable=SC2086
cc -o "$dir/pc-host" "$src/examples/callback_sink.c" $flags -Wl,-rpath,"$libdir" || fail "building with pkg-config"

"$src/examples/run_fetch_host.sh" "$cli" "$dir/cmake-host/consumer" 127.9.8.1
"$src/examples/run_fetch_host.sh" "$cli" "$dir/pc-host" 127.9.8.2
