#!/usr/bin/env bash
# Builds the libFuzzer programs (the fuzz preset: clang, ASan, UBSan), replays
# their checked-in corpora, then fuzzes each target for a short time starting
# from its corpus. Any crash, leak, sanitizer report or failed check fails the
# script and prints the input that caused it, to be added to fuzz/corpus/.
# Usage: scripts/fuzz.sh [seconds per target]   (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}

command -v clang++ >/dev/null || scripts/need-packages.sh clang
# The sanitizer and libFuzzer runtimes come in their own package, named after
# clang's major version.
scripts/need-packages.sh "libclang-rt-$(clang++ -dumpversion | cut -d. -f1)-dev"

rm -rf build/fuzz
cmake --preset fuzz
cmake --build --preset fuzz
ctest --preset fuzz -j2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=()
for program in build/fuzz/fuzz/fuzz_*; do
  name=${program##*/fuzz_}
  case "$name" in replay_*) continue ;; esac
  echo "=== fuzz_$name, $seconds s"
  mkdir -p "$work/$name"
  # New inputs go to the scratch folder; the checked-in corpus is only read.
  if ! "$program" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/$name-" \
       "$work/$name" "fuzz/corpus/$name" >"$work/$name.log" 2>&1; then
    failed+=("$name")
    grep -v -E '^#[0-9]+' "$work/$name.log" | tail -n 60
    for artifact in "$work/$name"-*; do
      [ -e "$artifact" ] || continue
      echo "--- $artifact (base64):"
      base64 "$artifact"
    done
  fi
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "$work/$name.log" | tr '\n' ' '
  grep -E '^#[0-9]+' "$work/$name.log" | tail -n 1 | grep -o 'cov: [0-9]* ft: [0-9]*' || true
done
if ((${#failed[@]})); then
  echo "fuzzing failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzzing: every target passed"
