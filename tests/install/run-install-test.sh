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

out=$(LD_LIBRARY_PATH="$work/prefix/lib" "$work/host/tinyhost" "$addr" DintTag)
echo "$out"
[ "$out" = "status=0 value=42" ]
