#!/usr/bin/env bash
# Installs what is missing (Debian/Ubuntu, via apt-get), then builds and runs
# every test for each cross target: Linux i386 (run natively), aarch64 and
# armhf (under qemu-user), Windows x86 and x86-64 (under Wine).
# Usage: tools/cross-test.sh [preset...]
#   (default: linux-i386 linux-aarch64 linux-armhf windows-x86 windows-x86_64)
set -uo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
((${#presets[@]})) || presets=(linux-i386 linux-aarch64 linux-armhf windows-x86 windows-x86_64)

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

packages=(build-essential cmake ninja-build libgtest-dev googletest iproute2 util-linux)
needs_i386=false
for preset in "${presets[@]}"; do
  case "$preset" in
    linux-i386) packages+=(crossbuild-essential-i386 libc6:i386 libstdc++6:i386); needs_i386=true ;;
    linux-aarch64) packages+=(crossbuild-essential-arm64 qemu-user) ;;
    linux-armhf) packages+=(crossbuild-essential-armhf qemu-user) ;;
    windows-x86) packages+=(g++-mingw-w64-i686-posix wine wine32:i386); needs_i386=true ;;
    windows-x86_64) packages+=(g++-mingw-w64-x86-64-posix wine wine64) ;;
    *) echo "unknown cross preset: $preset" >&2; exit 2 ;;
  esac
done

if $needs_i386 && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "adding the i386 architecture"
  $sudo_cmd dpkg --add-architecture i386 || exit 1
fi
mapfile -t packages < <(printf '%s\n' "${packages[@]}" | sort -u)
tools/need-packages.sh "${packages[@]}" || exit 1

failed=()
for preset in "${presets[@]}"; do
  echo "=== $preset"
  start=$SECONDS
  if cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset"; then
    ctest --preset "$preset" -j2 || failed+=("$preset")
    # Windows: the zip with the DLL, its import library, the header and the CMake package.
    case "$preset" in
      windows-*) tools/windows-zip.sh "build/$preset" || failed+=("$preset (zip)") ;;
    esac
  else
    failed+=("$preset (build)")
  fi
  # Wine's server for the build's prefix is kept between test programs; it
  # is not needed once the tests are done.
  case "$preset" in
    windows-*) WINEPREFIX="$PWD/build/$preset/wineprefix" wineserver -k 2>/dev/null ;;
  esac
  echo "=== $preset: $((SECONDS - start)) s"
done

if ((${#failed[@]})); then
  echo "cross targets that failed: ${failed[*]}"
  exit 1
fi
echo "all cross targets passed: ${presets[*]}"
