#!/usr/bin/env bash
# Tests the Python package against a build's libvarnode: installs numpy,
# pytest and what the web panel needs from Debian when missing, then runs
# pytest inside the private network namespace that varnode-sim creates for
# the rack of python/tests/rack.json, and the panel's browser tests against
# the default rack in a namespace of their own.
# Usage: scripts/python-test.sh [build directory]   (default build/dev; root needed)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/dev}")

scripts/prerequisites.sh python panel log
# The panel's chart library, from npm at its pinned version.
scripts/panel-assets.sh

# Debian's interpreter, the one its numpy and pytest belong to, even when
# another python3 comes first on the PATH.
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3)

export VARNODE_LIBRARY="$build/src/libvarnode.so.2"
export VARNODE_CLI="$build/tools/cli/varnode"  # the log tests run the tool
tests=("$python" -m pytest -q -rs -p no:cacheprovider --ignore=python/tests/browser python/tests)
browser=("$python" -m pytest -q -rs -p no:cacheprovider python/tests/browser)
status=0
if [ "$(id -u)" -ne 0 ]; then
  # The rack's namespace needs root; the tests that need no module still run.
  echo "python-test: not root, so the tests against the rack are skipped"
  "${tests[@]}" || status=$?
  echo "python-test: not root, so the panel's browser tests are skipped"
else
  # The tests check that they run in another network namespace than this one.
  export VARNODE_TEST_RACK
  VARNODE_TEST_RACK=$(readlink /proc/self/ns/net)
  "$build/tools/sim/varnode-sim" --netns --config python/tests/rack.json \
    --exec "${tests[*]}" >"$build/python-rack.log" || status=$?
  # pytest's output without the simulator's table of the rack.
  grep -v '^ready: \|^kind  \|^sensor curves: \|^[A-Z0-9]\{4\}  ' "$build/python-rack.log" || true
  if [ "$status" -eq 0 ]; then
    # The panel in headless Chromium against the default rack; the pcap lets
    # the tests count what reached a module. They skip with a reason where no
    # browser starts.
    export VARNODE_PANEL_PCAP="$build/panel-rack.pcap"
    export VARNODE_PANEL_RACK="$VARNODE_TEST_RACK"
    "$build/tools/sim/varnode-sim" --netns --pcap "$VARNODE_PANEL_PCAP" \
      --exec "${browser[*]}" >"$build/panel-rack.log" || status=$?
    grep -v '^ready: \|^kind  \|^sensor curves: \|^[A-Z0-9]\{4\}  ' "$build/panel-rack.log" || true
  fi
fi
# pytest's 5 means it collected no tests: that is a broken run, not a pass.
if [ "$status" -eq 5 ]; then
  echo "python-test: pytest collected no tests" >&2
  exit 1
fi
if [ "$status" -ne 0 ]; then
  echo "python-test: failed ($status)" >&2
  exit "$status"
fi
