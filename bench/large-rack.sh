#!/bin/sh
# Discovery at scale: racks of growing size on one link, each found RUNS
# times (default 10). Prints every run, then the largest rack found whole in
# every run and the slowest serial-mode search for its last module.
# Needs root (network namespaces) and a built tree: BUILD=build/dev by default.
#   bench/large-rack.sh [SIZE...]        e.g. bench/large-rack.sh 1000 2000 4000
set -u
build=${BUILD:-build/dev}
runs=${RUNS:-10}
program="$build/tests/sim/varnode_large_rack"
[ -x "$program" ] || { echo "build $program first (cmake --build --preset dev)" >&2; exit 1; }
[ $# -gt 0 ] || set -- 1000 1500 2000 3000 4000
log=$(mktemp)
largest=none
summary=
for size in "$@"; do
  "$program" --modules "$size" --runs "$runs" > "$log"
  status=$?
  cat "$log"
  if [ "$status" -eq 0 ]; then
    largest=$size
    summary=$(tail -n 1 "$log")
  fi
done
rm -f "$log"
echo "largest rack found whole in $runs of $runs runs: $largest"
[ -z "$summary" ] || echo "$summary"
