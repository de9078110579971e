#!/usr/bin/env bash
# Builds the manual, offline, with every Sphinx warning an error: HTML into
# build/docs/html, man pages into build/docs/man, then checks that nothing
# public is left undocumented.
# Usage: scripts/docs.sh [--site-only] [build-folder [output-folder]]
#   build-folder: whose library the Python reference loads and whose tools
#                 the checks run (default build/dev, built if missing)
#   --site-only:  the pages alone, as the CMake build makes them: no package
#                 installs, no build, no checks
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
site_only=0
if [ "${1:-}" = --site-only ]; then site_only=1; shift; fi
build=${1:-build/dev}
out=${2:-build/docs}
case $build in /*) ;; *) build=$root/$build ;; esac
case $out in /*) ;; *) out=$root/$out ;; esac
if ((!site_only)); then
  scripts/need-packages.sh python3-sphinx python3-myst-parser python3-sphinx-rtd-theme python3-matplotlib \
    python3-numpy python3-aiohttp chromium chromium-driver python3-selenium
  missing=0
  for f in src/libvarnode.so.2 tools/cli/varnode tools/sim/varnode-sim docs/docs_accuracy_sample; do
    [ -e "$build/$f" ] || missing=1
  done
  if ((missing)); then
    if [ ! -f "$build/CMakeCache.txt" ]; then cmake --preset "$(basename "$build")"; fi
    cmake --build "$build" --target varnode varnode-cli varnode-sim docs_accuracy_sample
  fi
fi
mkdir -p "$out"
export VARNODE_LIBRARY=$build/src/libvarnode.so.2
# The accuracy figures and plots, from the library's own conversion.
"$build/docs/docs_accuracy_sample" > "$out/accuracy-samples.csv"
/usr/bin/python3 docs/_ext/accuracy.py "$out/accuracy-samples.csv" docs/_generated/accuracy
# -E: a fresh environment, so that warnings of unchanged pages are not hidden.
sphinx=(/usr/bin/python3 -m sphinx -E -W --keep-going -q -d "$out/doctrees")
"${sphinx[@]}" -b html docs "$out/html"
"${sphinx[@]}" -b man docs "$out/man"
((site_only)) && exit 0
# The bridge is built only where libmosquitto is; its options are checked there.
mqtt=()
[ -x "$build/tools/mqtt/varnode-mqtt" ] && mqtt=(--mqtt "$build/tools/mqtt/varnode-mqtt")
/usr/bin/python3 docs/_ext/check.py --html "$out/html" --cli "$build/tools/cli/varnode" \
  --sim "$build/tools/sim/varnode-sim" --panel "${mqtt[@]}"
echo "manual: $out/html/index.html; man pages: $out/man"
