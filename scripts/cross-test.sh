#!/usr/bin/env bash
# Installs what is missing (Debian/Ubuntu, via apt-get), then builds and runs
# every test for each cross target: Linux i386 (run natively), aarch64 and
# armhf (under qemu-user), Windows x86 and x86-64 (under Wine).
# Usage: scripts/cross-test.sh [preset...]
#   (default: linux-i386 linux-aarch64 linux-armhf windows-x86 windows-x86_64)
set -uo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
((${#presets[@]})) || presets=(linux-i386 linux-aarch64 linux-armhf windows-x86 windows-x86_64)

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

packages=(build-essential cmake ninja-build libgtest-dev googletest iproute2 util-linux)
# Per preset: what builds it, and what runs its tests. A mirror with a broken
# index for one architecture can leave a runner uninstallable (wine32 needs
# the whole i386 side); the preset is then built but its tests are reported
# as not run, loudly, rather than failing every other target with it.
declare -A builder runner
builder[linux-i386]="crossbuild-essential-i386";   runner[linux-i386]="libc6:i386 libstdc++6:i386 qemu-user"
builder[linux-aarch64]="crossbuild-essential-arm64"; runner[linux-aarch64]="qemu-user"
builder[linux-armhf]="crossbuild-essential-armhf";   runner[linux-armhf]="qemu-user"
builder[windows-x86]="g++-mingw-w64-i686-posix";     runner[windows-x86]="wine wine32:i386"
builder[windows-x86_64]="g++-mingw-w64-x86-64-posix"; runner[windows-x86_64]="wine wine64"
needs_i386=false
for preset in "${presets[@]}"; do
  [ -n "${builder[$preset]:-}" ] || { echo "unknown cross preset: $preset" >&2; exit 2; }
  case "$preset" in linux-i386|windows-x86) needs_i386=true ;; esac
done

if $needs_i386 && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "adding the i386 architecture"
  $sudo_cmd dpkg --add-architecture i386 || exit 1
fi
scripts/need-packages.sh "${packages[@]}" || exit 1
declare -A runnable
for preset in "${presets[@]}"; do
  # shellcheck disable=SC2086  # word lists
  scripts/need-packages.sh ${builder[$preset]} || exit 1
  # shellcheck disable=SC2086
  if scripts/need-packages.sh ${runner[$preset]}; then
    runnable[$preset]=1
  else
    echo "cross-test: WARNING: ${runner[$preset]} could not be installed; $preset is built, its tests NOT run" >&2
  fi
done

failed=()
not_run=()
for preset in "${presets[@]}"; do
  echo "=== $preset"
  start=$SECONDS
  if cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset"; then
    if [ -n "${runnable[$preset]:-}" ]; then
      ctest --preset "$preset" -j2 || failed+=("$preset")
    else
      not_run+=("$preset")
    fi
    # Windows: the zip with the DLL, its import library, the header and the CMake package.
    case "$preset" in
      windows-*) scripts/windows-zip.sh "build/$preset" || failed+=("$preset (zip)") ;;
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
