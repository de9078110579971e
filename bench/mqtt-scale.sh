#!/usr/bin/env bash
# The MQTT bridge at scale: a virtual rack of N KL01 modules in a private
# namespace, a mosquitto broker on its loopback, one bridge then four.
# Usage: bench/mqtt-scale.sh [build directory] [modules] [seconds per window]   (root needed)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/dev}")
modules=${2:-1000}
seconds=${3:-60}
scripts/need-packages.sh mosquitto mosquitto-clients python3-paho-mqtt
rack=$(mktemp --suffix=.json)
trap 'rm -f "$rack"' EXIT
/usr/bin/python3 - "$modules" >"$rack" <<'PY'
import json, sys
sys.path.insert(0, "bench")
from importlib.machinery import SourceFileLoader
scale = SourceFileLoader("scale", "bench/mqtt-scale.py").load_module()
n = int(sys.argv[1])
print(json.dumps({"client": "198.18.0.1", "prefix": 22,
                  "modules": [{"kind": "KL01", "address": a} for a in scale.addresses(n)]}))
PY
"$build/tools/sim/varnode-sim" --netns --config "$rack" \
  --exec "/usr/bin/python3 bench/mqtt-scale.py --bridge $build/tools/mqtt/varnode-mqtt --modules $modules --seconds $seconds" \
  | grep -v '^KL01  \|^kind  \|^sensor curves: '
