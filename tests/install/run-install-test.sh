#!/usr/bin/env bash
# Installs the build into a temporary prefix, builds a tiny host against it
# with find_package and pkg-config, and reads a tag from the simulator.
# usage: run-install-test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
src=$2
work=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
test -L "$work/prefix/lib/libLibQuorvex.so.1"
test -f "$work/prefix/include/LibQuorvex/CDriveBaseClass.h"
test -x "$work/prefix/bin/quorvex"
# The installed tool finds the installed library, not the build tree's.
if readelf -d "$work/prefix/bin/quorvex" | grep -q "$build"; then
    echo "the installed quorvex still points into the build tree"; exit 1
fi

cmake -S "$src/tests/install/host" -B "$work/host" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/host" >/dev/null

# pkg-config gives the same flags.
PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" pkg-config --cflags --libs libquorvex \
    | grep -q -- "-lLibQuorvex"

"$build/bin/quorvex" sim --listen 127.0.0.1:0 --max-seconds 60 >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 1 100); do
    grep -q '^LISTEN ' "$work/sim.out" && break
    sleep 0.1
done
addr=$(sed -n 's/^LISTEN //p' "$work/sim.out")
[ -n "$addr" ] || { echo "simulator did not start"; exit 1; }

# The host example: a read, then DisConnectDrive and DestroyFree, which the
# driver does not report as a lost connection.
out=$(LD_LIBRARY_PATH="$work/prefix/lib" "$work/host/tinyhost" "$addr" DintTag 2>"$work/host.err")
echo "$out"
[ "$out" = "status=0 value=42" ]
if grep -q 'Disconnected=' "$work/host.err"; then
    cat "$work/host.err"; exit 1
fi

# The installed tool, moved away from the build tree, reads with the
# installed plug-in.
mv "$work/prefix" "$work/moved"
tool=$("$work/moved/bin/quorvex" read --connect "$addr" DintTag:int32)
echo "$tool"
echo "$tool" | grep -q '^DintTag  int32  1      0 ok    42 '
err=$("$work/moved/bin/quorvex" read --connect "$addr" --driver /nonexistent/lib.so \
    DintTag:int32 2>&1) && exit 1
echo "$err" | grep -q 'cannot load the driver'
mv "$work/moved" "$work/prefix"
