#!/usr/bin/env bash
# Makes the zip of a Windows cross build and checks it as a user would: the
# files it must hold, the DLL's exports, and a program built against the CMake
# package inside it (built, not run).
# Usage: scripts/windows-zip.sh build/windows-x86_64
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
rm -rf "$build/packages"
cpack --config "$build/CPackConfig.cmake" -G ZIP -B "$build/packages" >/dev/null
zip=$(echo "$build"/packages/varnode-*-windows-*.zip)
[ -f "$zip" ] || { echo "no zip in $build/packages"; exit 1; }
unpacked=$build/packages/unpacked
mkdir -p "$unpacked"
(cd "$unpacked" && cmake -E tar xf "../${zip##*/}")
root=$(cd "$unpacked"/varnode-* && pwd)
for f in bin/varnode.dll lib/libvarnode.dll.a include/varnode/varnode.h include/varnode/catalogue.h lib/cmake/varnode/varnodeConfig.cmake \
         lib/cmake/varnode/varnodeConfigVersion.cmake lib/cmake/varnode/varnodeTargets.cmake; do
  [ -f "$root/$f" ] || { echo "${zip##*/} lacks $f"; exit 1; }
done
case $zip in
  *-windows-x86_64.zip) objdump=x86_64-w64-mingw32-objdump ;;
  *) objdump=i686-w64-mingw32-objdump ;;
esac
cmake -DLIBRARY="$root/bin/varnode.dll" -DHEADER=include/varnode/varnode.h -DOBJDUMP="$objdump" \
      -P tests/exported_symbols.cmake
toolchain=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$build/CMakeCache.txt")
cmake -S tests/install/consumer -B "$build/packages/consumer" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -Dvarnode_DIR="$root/lib/cmake/varnode" >/dev/null
cmake --build "$build/packages/consumer" >/dev/null
echo "${zip##*/}: $(cd "$root" && find . -type f | sort | tr '\n' ' ')"
