#!/usr/bin/env bash
# Installs what is missing, builds from nothing and runs every test: the
# debug build, then AddressSanitizer+UBSan, then ThreadSanitizer.
# Usage: tools/test-all.sh [preset...]   (default: dev asan tsan)
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake ninja-build pkg-config python3 libgtest-dev libgmock-dev libbenchmark-dev
          iproute2 binutils util-linux libcli11-dev nlohmann-json3-dev tshark help2man dpkg-dev file)
tools/need-packages.sh "${packages[@]}"

presets=("$@")
((${#presets[@]})) || presets=(dev asan tsan)
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
tools/soak.sh "${presets[@]}"
if [[ " ${presets[*]} " == *" dev "* ]]; then
  tools/python-test.sh build/dev  # the Python package
  # The Debian packages: installed, used and purged again.
  tools/package-test.sh build/dev
fi
# The libFuzzer targets, briefly (about 30 s each).
tools/fuzz.sh
