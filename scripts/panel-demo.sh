#!/usr/bin/env bash
# The web panel on the virtual rack in one command: builds the library and
# varnode-sim when needed, starts the default rack (one module of each kind)
# in a private network namespace and the panel beside it, then prints the URL
# to open in a browser on this machine. The panel's HTTP port is on this
# machine's 127.0.0.1; every datagram to a module stays inside the rack's
# namespace. Ctrl-C stops both.
# Usage: scripts/panel-demo.sh [--port N] [other varnode-panel options]   (root, or sudo is used)
#        VARNODE_BUILD=build/dev scripts/panel-demo.sh     (an existing build instead of build/demo)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/need-packages.sh build-essential cmake ninja-build pkg-config iproute2 libcli11-dev nlohmann-json3-dev \
  python3-numpy python3-aiohttp
scripts/panel-assets.sh
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

build="${VARNODE_BUILD:-build/demo}"
if [ ! -x "$build/tools/sim/varnode-sim" ] || [ ! -e "$build/src/libvarnode.so.2" ]; then
  echo "building the library and varnode-sim in $build (a few minutes the first time)…"
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNODE_TESTS=OFF -DVARNODE_BENCHMARKS=OFF >/dev/null
  cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target varnode varnode-sim >/dev/null
fi

name="varnode-panel-$$"
. scripts/start-rack.sh
start_rack "$build/tools/sim/varnode-sim" "$name"
echo "the virtual rack runs in namespace $name:"
sed '/^ready/d' "$rack_log"
# --netns: the panel binds its HTTP port here, then talks to the modules from
# inside the rack's client namespace only.
$sudo_cmd env VARNODE_LIBRARY="$PWD/$build/src/libvarnode.so.2" PYTHONPATH="$PWD/python/src" \
  /usr/bin/python3 -m varnode.panel --netns "$name" "$@"
