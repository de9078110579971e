#!/usr/bin/env bash
# The whole system in one command on a fresh Debian/Ubuntu machine: installs
# what is missing, builds, starts the default virtual rack (one module of
# each kind) in a private network namespace, and runs the varnode tool
# against it from the client side. Nothing leaves the namespaces.
# Usage: scripts/demo.sh        (root, or sudo is used)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/prerequisites.sh --quiet build
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

build=build/demo
cores="$(nproc 2>/dev/null || echo 2)"
echo "building the library, varnode-sim and varnode in $build on $cores cores (a few minutes the first time)…"
configured=$(mktemp)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNODE_TESTS=OFF -DVARNODE_BENCHMARKS=OFF \
  >"$configured" 2>&1 || { cat "$configured" >&2; rm -f "$configured"; exit 1; }
rm -f "$configured"
# Ninja's [done/total] counter as one line that counts up (a line every 10%
# when the output is no terminal); the whole output stays in build.log.
progress() {
  local shown=-1 line done total percent
  while IFS= read -r line; do
    printf '%s\n' "$line" >>"$build/build.log"
    [[ $line =~ ^\[([0-9]+)/([0-9]+)\] ]] || continue
    done=${BASH_REMATCH[1]} total=${BASH_REMATCH[2]}
    percent=$((done * 100 / total))
    if [ -t 1 ]; then
      printf '\r  %d of %d steps (%d%%)' "$done" "$total" "$percent"
    elif ((percent / 10 != shown / 10)); then
      printf '  %d of %d steps (%d%%)\n' "$done" "$total" "$percent"
    fi
    shown=$percent
  done
  if [ -t 1 ] && ((shown >= 0)); then printf '\n'; fi
}
: >"$build/build.log"
cmake --build "$build" -j "$cores" 2>&1 | progress ||
  { tail -n 40 "$build/build.log" >&2; echo "the build failed; the whole output is in $build/build.log" >&2; exit 1; }
echo "built: $build/tools/cli/varnode and $build/tools/sim/varnode-sim"
sim="$build/tools/sim/varnode-sim"
tool="$build/tools/cli/varnode"

echo "starting the virtual rack in a private network namespace…"
name="varnode-demo-$$"
. scripts/start-rack.sh
start_rack "$sim" "$name"
echo "== the virtual rack"
sed '/^ready/d' "$rack_log"
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

echo "== the same rack in a browser: scripts/panel-demo.sh starts it with the web panel"
echo "   and prints a URL to open on this machine (module traffic stays in the namespace)."
