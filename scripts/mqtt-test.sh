#!/usr/bin/env bash
# Tests varnode-mqtt against a real mosquitto broker on the loopback of the
# virtual rack's private namespace: installs mosquitto and paho from Debian
# when missing, then runs pytest through varnode-sim --netns --exec.
# Usage: scripts/mqtt-test.sh [build directory]   (default build/dev; root needed)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/dev}")
scripts/need-packages.sh mosquitto mosquitto-clients libmosquitto-dev python3-paho-mqtt python3-pytest openssl
if [ ! -x "$build/tools/mqtt/varnode-mqtt" ]; then
  echo "mqtt-test: $build/tools/mqtt/varnode-mqtt is not built (configure again after installing libmosquitto-dev)" >&2
  exit 1
fi
python=/usr/bin/python3
export VARNODE_MQTT="$build/tools/mqtt/varnode-mqtt"
export VARNODE_TEST_RACK
VARNODE_TEST_RACK=$(readlink /proc/self/ns/net)
status=0
"$build/tools/sim/varnode-sim" --netns --config tests/mqtt/rack.json \
  --exec "$python -m pytest -q -rs -p no:cacheprovider tests/mqtt ${PYTEST_ARGS:-}" >"$build/mqtt-rack.log" 2>&1 || status=$?
grep -v '^ready: \|^kind  \|^sensor curves: \|^[A-Z0-9]\{4\}  ' "$build/mqtt-rack.log" || true
if [ "$status" -eq 5 ]; then
  echo "mqtt-test: pytest collected no tests" >&2
  exit 1
fi
exit "$status"
