#!/usr/bin/env bash
# Installs, from Debian's packages, what each use of this tree needs; the
# one list that the README, the demo and the test scripts share.
# Usage: scripts/prerequisites.sh [--quiet] [GROUP...]   (default: all)
#   build    compiler, CMake, Ninja, the tools' libraries (CLI11, nlohmann-json)
#            and iproute2, which varnode-sim --netns runs
#   test     GoogleTest, Google Benchmark, util-linux for the private
#            namespaces, tshark for the dissector, help2man for man pages
#   python   Debian's python3 with numpy and pytest, venv and wheel for pip installs
#   package  dpkg-dev and file, which cpack -G DEB needs
#   panel    aiohttp for the web panel (npm, for its chart library, is
#            installed by scripts/panel-assets.sh when missing), and
#            Chromium with its driver for the browser tests
#   log      InfluxDB, into which the logger's influx test loads a recording
#   mqtt     the Mosquitto broker, its clients and library, and paho for the tests
#   docs     Sphinx with MyST and the Read the Docs theme, matplotlib for the
#            accuracy plots, Chromium for the link check
#   all      every group above
# --quiet keeps apt-get's progress out of sight (shown only if it fails).
# Root, or sudo, is needed for anything still missing.
set -euo pipefail
cd "$(dirname "$0")/.."

quiet=()
if [ "${1:-}" = --quiet ]; then
  quiet=(--quiet)
  shift
fi
groups=("$@")
((${#groups[@]})) || groups=(all)
packages=()
for group in "${groups[@]}"; do
  case "$group" in
    build|all) packages+=(build-essential cmake ninja-build pkg-config libcli11-dev nlohmann-json3-dev
                         iproute2) ;;&
    test|all) packages+=(libgtest-dev libgmock-dev libbenchmark-dev binutils util-linux tshark help2man) ;;&
    python|all) packages+=(python3 python3-numpy python3-pytest python3-venv python3-wheel) ;;&
    package|all) packages+=(dpkg-dev file) ;;&
    panel|all) packages+=(python3-aiohttp python3-pytest-aiohttp chromium chromium-driver python3-selenium) ;;&
    log|all) packages+=(influxdb) ;;&
    mqtt|all) packages+=(libmosquitto-dev mosquitto mosquitto-clients python3-paho-mqtt openssl) ;;&
    docs|all) packages+=(python3-sphinx python3-myst-parser python3-sphinx-rtd-theme python3-matplotlib
                        chromium chromium-driver python3-selenium) ;;&
    build|test|python|package|panel|log|mqtt|docs|all) ;;
    *) echo "prerequisites: unknown group '$group' (build, test, python, package, panel, log, mqtt, docs, all)" >&2
       exit 64 ;;
  esac
done
exec scripts/need-packages.sh "${quiet[@]}" "${packages[@]}"
