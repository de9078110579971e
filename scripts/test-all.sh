#!/usr/bin/env bash
# Installs what is missing, builds from nothing and runs every test: the
# debug build, then AddressSanitizer+UBSan, then ThreadSanitizer, the soak,
# the Python and package tests, then a short fuzz of every target.
# Usage: scripts/test-all.sh [preset...] [fuzz]
#   no arguments: everything above (dev asan tsan, then fuzz)
#   presets given (e.g. dev): only those are built and tested, each with its
#     soak; the Python and package tests when dev is among them. No fuzzing
#     unless the word fuzz is given too (or run scripts/fuzz.sh on its own).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/prerequisites.sh all

presets=()
fuzz=0
for word in "$@"; do
  if [ "$word" = fuzz ]; then fuzz=1; else presets+=("$word"); fi
done
if (($# == 0)); then
  presets=(dev asan tsan)
  fuzz=1
fi
for preset in "${presets[@]}"; do
  echo "=== $preset"
  rm -rf "build/$preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  # ThreadSanitizer needs the address space layout it expects.
  if [ "$preset" = tsan ] && command -v setarch >/dev/null; then
    setarch "$(uname -m)" -R ctest --preset "$preset" -j2
  else
    ctest --preset "$preset" -j2
  fi
done
# A short fault-injection soak against a virtual rack, in each build made above.
((${#presets[@]} == 0)) || scripts/soak.sh "${presets[@]}"
if [[ " ${presets[*]} " == *" dev "* ]]; then
  scripts/python-test.sh build/dev  # the Python package
  # The Debian packages: installed, used and purged again.
  scripts/package-test.sh build/dev
fi
# The libFuzzer targets, briefly (about 30 s each).
if ((fuzz)); then scripts/fuzz.sh; fi
