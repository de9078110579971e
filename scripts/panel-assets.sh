#!/usr/bin/env bash
# Fetches the web panel's front-end libraries from npm at the versions pinned
# in tools/panel/package-lock.json and copies the files the page loads into
# the Python package (python/src/varnode/panel/static/vendor, not committed).
# Uses npm's cache when it holds them, so a second run works offline.
# Usage: scripts/panel-assets.sh
set -euo pipefail
cd "$(dirname "$0")/.."
vendor=python/src/varnode/panel/static/vendor
want=(uPlot.iife.min.js uPlot.min.css)
have=1
for f in "${want[@]}"; do [ -s "$vendor/$f" ] || have=0; done
if ((have)) && [ "$vendor/.stamp" -nt tools/panel/package-lock.json ]; then
  exit 0
fi
command -v npm >/dev/null || scripts/need-packages.sh npm
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp tools/panel/package.json tools/panel/package-lock.json "$work/"
(cd "$work" && npm ci --prefer-offline --no-audit --no-fund --ignore-scripts --loglevel=error)
mkdir -p "$vendor"
cp "$work/node_modules/uplot/dist/uPlot.iife.min.js" "$work/node_modules/uplot/dist/uPlot.min.css" \
   "$work/node_modules/uplot/LICENSE" "$vendor/"
touch "$vendor/.stamp"
echo "panel-assets: uPlot $(node -p "require('$work/node_modules/uplot/package.json').version") in $vendor"
