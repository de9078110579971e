#!/usr/bin/env bash
# A short fault-injection soak against a virtual rack in a private network
# namespace (root needed): about 30 s in the debug build, then shorter runs
# under AddressSanitizer+UBSan and, with 64 threads, under ThreadSanitizer,
# for whichever of the named builds exist. Fails on any wrong success,
# undocumented code, over-long call, growth of memory or sanitizer report.
# Usage: scripts/soak.sh [seconds] [preset...]
#   (default 30 s, the sanitizer runs taking half; presets dev asan tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=30
if [[ ${1:-} =~ ^[0-9]+$ ]]; then seconds=$1; shift; fi
short=$(( (seconds + 1) / 2 ))
(($#)) || set -- dev asan tsan
presets=()
for preset in "$@"; do
  # Only native builds hold a soak to run (fuzz and cross builds do not).
  case "$preset" in dev | release | asan | tsan) presets+=("$preset") ;; esac
done
((${#presets[@]})) || { echo "soak: none of $* is a build to soak"; exit 0; }

if [ "$(id -u)" -ne 0 ]; then
  echo "soak: skipped (a private network namespace needs root)"
  exit 0
fi
sim=""
for preset in "${presets[@]}"; do
  if [ -z "$sim" ] && [ -x "build/$preset/tools/soak/varnode-soak" ]; then
    sim=build/$preset/tools/sim/varnode-sim
    rack=$(mktemp --suffix=.json)
    trap 'rm -f "$rack"' EXIT
    "build/$preset/tools/soak/varnode-soak" --rack >"$rack"
  fi
done
[ -n "$sim" ] || { echo "soak: no build of ${presets[*]} holds varnode-soak (build the dev preset first)"; exit 1; }

soak() {  # preset, then the command that runs the soak on the client side
  local preset=$1
  shift
  echo "=== soak: $preset"
  # Without the simulator's listing of the rack.
  "$sim" --netns --config "$rack" --exec "$*" | grep -Ev '^[A-Z]{2}[0-9]{2} +[0-9]+\.[0-9]+\.'
}

# Calls are limited by time; the count is only a ceiling. The rack's
# time-outs are 80 to 230 ms, so a call that waited for the default 1000 ms
# overshoots by 770 ms or more; the 500 ms margin catches that while leaving
# room for a loaded runner (which stalled a thread by 134 ms once here).
margin=500
for preset in "${presets[@]}"; do
  client=$PWD/build/$preset/tools/soak/varnode-soak
  [ -x "$client" ] || continue
  case "$preset" in
    asan)
      # ASan keeps freed memory in quarantine, so RSS grows by design there; the
      # memory check is the leak report at exit.
      soak asan "ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1" \
        "$client --seconds $short --calls 100000000 --margin-ms $margin --rss-slack-kib 1000000" ;;
    tsan)
      # ThreadSanitizer needs the address space layout it expects.
      soak tsan "TSAN_OPTIONS=halt_on_error=1:exitcode=66 setarch $(uname -m) -R" \
        "$client --seconds $short --calls 100000000 --threads 64 --margin-ms $margin" \
        "--rss-slack-kib 1000000" ;;
    *) soak "$preset" "$client --seconds $seconds --calls 100000000 --margin-ms $margin" ;;
  esac
done
echo "soak: passed"
