#!/usr/bin/env bash
# The whole system in one command on a fresh Debian/Ubuntu machine: installs
# what is missing, builds, starts the default virtual rack (one module of
# each kind) in a private network namespace, and runs the varnode tool
# against it from the client side. Nothing leaves the namespaces.
# Usage: tools/demo.sh        (root, or sudo is used)
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake ninja-build pkg-config iproute2 libcli11-dev nlohmann-json3-dev)
tools/need-packages.sh "${packages[@]}"
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

build=build/demo
cores="$(nproc 2>/dev/null || echo 2)"
echo "building the library, varnode-sim and varnode in $build on $cores cores (a few minutes the first time)…"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNODE_TESTS=OFF -DVARNODE_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j "$cores" >/dev/null || { echo "the build failed; run: cmake --build $build" >&2; exit 1; }
echo "built: $build/tools/cli/varnode and $build/tools/sim/varnode-sim"
sim="$build/tools/sim/varnode-sim"
tool="$build/tools/cli/varnode"

echo "starting the virtual rack in a private network namespace…"
name="varnode-demo-$$"
log="$(mktemp)"
$sudo_cmd "$sim" --netns --name "$name" >"$log" 2>&1 &
sim_pid=$!
stop() {
  $sudo_cmd kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  rm -f "$log"
}
trap stop EXIT
for _ in $(seq 100); do
  grep -q '^ready' "$log" && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$log" >&2; exit 1; }
  sleep 0.1
done
grep -q '^ready' "$log" || { cat "$log" >&2; exit 1; }
echo "== the virtual rack"
sed '/^ready/d' "$log"
echo

run() {
  echo "\$ varnode $*"
  $sudo_cmd ip netns exec "$name" "$tool" "$@"
  echo
}
run find
run info 198.18.0.11
run status 198.18.0.19
run kl01 read 198.18.0.11 1 2 3 4 5 6 7 8
run ks01 write 198.18.0.13 1=on 2=on
run ks01 measure 198.18.0.13 1 2 3
run qu01 enable 198.18.0.15 1 2 3 4
run qu01 read 198.18.0.15 1 2 3 4
run re01 measure 198.18.0.17 1 2 3 --samples 1000 --frequency 1000
run we01 set 198.18.0.18 1=2.5 2=-1
run hx01 sensor 198.18.0.19 1=K
run hx01 measure 198.18.0.19 1 2 3
run hx02 sensor 198.18.0.20 1=pt100
run hx02 measure 198.18.0.20 1 2 3 4
