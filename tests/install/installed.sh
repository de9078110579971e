#!/usr/bin/env bash
# varnode as its users meet it: installed into a prefix, then used from a
# project of their own. One step per test:
#   tree        install into a staging prefix, move the tree elsewhere (it
#               must not depend on where it was installed), run the tool
#   find-package   a CMake project with find_package(varnode 2.5)
#   pkg-config     a Makefile that asks pkg-config
#   examples       examples/ built against the installed package
#   deb            the Debian packages: contents and dependencies
# Settings come from the environment (see tests/install/CMakeLists.txt).
set -euo pipefail
step=$1
prefix=$WORK/prefix

run_quietly() {  # show a command's output only when it fails
  local log
  log=$(mktemp)
  if ! "$@" >"$log" 2>&1; then
    cat "$log"; rm -f "$log"; echo "failed: $*"; return 1
  fi
  rm -f "$log"
}

case $step in
tree)
  rm -rf "$WORK"
  mkdir -p "$WORK"
  run_quietly cmake --install "$BUILD" --prefix "$WORK/staged"
  # Nothing installed may name the prefix it was installed into.
  if grep -rlF "$WORK/staged" "$WORK/staged"; then
    echo "the files above hold the install prefix"; exit 1
  fi
  mv "$WORK/staged" "$prefix"
  for f in include/varnode/varnode.h include/varnode/catalogue.h "$LIBDIR/libvarnode.so" "$LIBDIR/libvarnode.so.$SOVERSION" \
           "$LIBDIR/libvarnode.so.$VERSION" "$LIBDIR/cmake/varnode/varnodeConfig.cmake" \
           "$LIBDIR/cmake/varnode/varnodeConfigVersion.cmake" "$LIBDIR/pkgconfig/varnode.pc"; do
    [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
  done
  [ "$(readlink "$prefix/$LIBDIR/libvarnode.so")" = "libvarnode.so.$SOVERSION" ] || { echo "bad namelink"; exit 1; }
  if [ -n "${TOOL:-}" ]; then
    # The moved tool still finds the moved library, and reports both versions.
    out=$("$prefix/bin/varnode" --version)
    echo "$out"
    [ "$out" = "$(printf 'varnode %s\nlibrary %s' "$VERSION" "$VERSION")" ] || { echo "unexpected --version"; exit 1; }
  fi
  ;;
find-package)
  rm -rf "$WORK/find-package"
  run_quietly cmake -S "$SOURCE/tests/install/consumer" -B "$WORK/find-package" -G "$GENERATOR" \
    -DCMAKE_C_COMPILER="$CC" -DCMAKE_C_FLAGS="$CFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" \
    -DCMAKE_PREFIX_PATH="$prefix"
  run_quietly cmake --build "$WORK/find-package"
  # CMake's build tree remembers where the library is.
  "$WORK/find-package/consumer"
  ;;
pkg-config)
  rm -rf "$WORK/pkg-config"
  mkdir -p "$WORK/pkg-config"
  cp "$SOURCE/tests/install/consumer/consumer.c" "$SOURCE/tests/install/consumer/Makefile" "$WORK/pkg-config/"
  export PKG_CONFIG_PATH=$prefix/$LIBDIR/pkgconfig
  [ "$(pkg-config --variable=libdir varnode)" -ef "$prefix/$LIBDIR" ] || { echo "pkg-config libdir is wrong"; exit 1; }
  # Flags through the environment, which the Makefile adds to.
  CFLAGS=$CFLAGS LDFLAGS=$LDFLAGS run_quietly make -C "$WORK/pkg-config" CC="$CC"
  LD_LIBRARY_PATH=$(pkg-config --variable=libdir varnode) "$WORK/pkg-config/consumer"
  ;;
examples)
  rm -rf "$WORK/examples"
  run_quietly cmake -S "$SOURCE/examples" -B "$WORK/examples" -G "$GENERATOR" \
    -DCMAKE_C_COMPILER="$CC" -DCMAKE_C_FLAGS="$CFLAGS $EXAMPLE_WARNINGS" -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" \
    -DCMAKE_PREFIX_PATH="$prefix"
  run_quietly cmake --build "$WORK/examples"
  # They need modules to talk to; a wrong address is refused before sending.
  for example in digital_io stream_csv thermocouple; do
    if "$WORK/examples/$example" 1.2.3 2>/dev/null; then echo "$example took a bad address"; exit 1; fi
  done
  echo "built: find_modules digital_io stream_csv thermocouple"
  if [ -z "${SIM:-}" ] || [ "$(id -u)" -ne 0 ]; then
    echo "not run against a virtual rack (needs the simulator and root)"; exit 0
  fi
  # Against the default rack (one module of each kind, in a private network
  # namespace): KL01 .11 reads back the written 1 high and 2 low, and its
  # inputs 6 and 8 high; HX01 .19 channel 1 is at
  # 100 degrees C, RE01 .17 streams.
  e=$WORK/examples
  out=$("$SIM" --netns --exec "$e/find_modules && $e/digital_io 198.18.0.11 && $e/thermocouple 198.18.0.19 &&
                              $e/stream_csv 198.18.0.17 5 1000" 2>&1) || { echo "$out"; exit 1; }
  echo "$out" | sed -n '/^10 module/,$p'
  for line in "10 module(s)" "198.18.0.19  HX01  serial 1050889" "channel 1: high" "channel 2: low"               "channel 8: high" "channel 1: 373.15 K (100.00 degrees C)" "time_s,channel_1,channel_2"; do
    grep -F "$line" <<<"$out" >/dev/null || { echo "missing: $line"; exit 1; }
  done
  [ "$(grep -cE '^0\.00[0-4]000,' <<<"$out")" = 5 ] || { echo "expected 5 samples"; exit 1; }
  ;;
deb)
  rm -rf "$WORK/deb"
  run_quietly cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$WORK/deb"
  cd "$WORK/deb"
  lib=(libvarnode"$SOVERSION"_*.deb) dev=(libvarnode-dev_*.deb) tools=(varnode-tools_*.deb)
  python=(python3-varnode_*_all.deb)
  field() { dpkg-deb -f "$1" "$2"; }
  contents() { dpkg-deb -c "$1" | awk '{print $6}' | sed 's|^\./|/|'; }
  expect() {  # package, pattern (extended regex) of a path it must hold
    contents "$1" | grep -E >/dev/null "$2" || { echo "$1 lacks $2"; contents "$1"; exit 1; }
  }
  lacks() {
    if contents "$1" | grep -E "$2"; then echo "$1 must not hold the above"; exit 1; fi
  }
  l=/usr/$LIBDIR
  expect "$lib" "^$l/libvarnode\.so\.$VERSION$"
  expect "$lib" "^$l/libvarnode\.so\.$SOVERSION$"
  lacks "$lib" "^$l/libvarnode\.so$|^/usr/include"
  expect "$dev" "^/usr/include/varnode/varnode\.h$"
  expect "$dev" "^$l/libvarnode\.so$"
  expect "$dev" "^$l/cmake/varnode/varnodeConfig\.cmake$"
  expect "$dev" "^$l/cmake/varnode/varnodeConfigVersion\.cmake$"
  expect "$dev" "^$l/cmake/varnode/varnodeTargets\.cmake$"
  expect "$dev" "^$l/pkgconfig/varnode\.pc$"
  lacks "$dev" "libvarnode\.so\.[0-9]"
  # The library package runs ldconfig and tells dpkg-shlibdeps of users'
  # programs which package brings the library.
  dpkg-deb --ctrl-tarfile "$lib" | tar -t | grep -x >/dev/null './shlibs' || { echo "$lib has no shlibs file"; exit 1; }
  dpkg-deb --info "$lib" postinst | grep >/dev/null ldconfig || { echo "$lib does not run ldconfig"; exit 1; }
  field "$lib" Depends | grep >/dev/null 'libc6' || { echo "$lib depends on no libc6"; exit 1; }
  field "$lib" Depends | grep >/dev/null 'libstdc++6' || { echo "$lib depends on no libstdc++6"; exit 1; }
  field "$dev" Depends | grep -F >/dev/null "$(field "$lib" Package) (= $(field "$lib" Version))" ||
    { echo "$dev: Depends: $(field "$dev" Depends)"; exit 1; }
  all=("$lib" "$dev")
  if [ -n "${TOOL:-}" ]; then
    expect "$tools" "^/usr/bin/varnode$"
    expect "$tools" "^/usr/bin/varnode-sim$"
    if [ -n "${MAN_PAGES:-}" ]; then
      expect "$tools" "^/usr/share/man/man1/varnode\.1\.gz$"
      expect "$tools" "^/usr/share/man/man1/varnode-sim\.1\.gz$"
    fi
    field "$tools" Depends | grep -F >/dev/null "$(field "$lib" Package) (= $(field "$lib" Version))" ||
      { echo "$tools: Depends: $(field "$tools" Depends)"; exit 1; }
    expect "$tools" "^$l/wireshark/plugins/dcp\.lua$"
    all+=("$tools")
  fi
  # The Python package: pure Python for every architecture, loading the
  # library package's soname.
  expect "$python" "^/usr/lib/python3/dist-packages/varnode/__init__\.py$"
  expect "$python" "^/usr/lib/python3/dist-packages/varnode/py\.typed$"
  field "$python" Depends | grep -F >/dev/null "$(field "$lib" Package) (= $(field "$lib" Version))" ||
    { echo "$python: Depends: $(field "$python" Depends)"; exit 1; }
  field "$python" Depends | grep >/dev/null 'python3-numpy' || { echo "$python needs python3-numpy"; exit 1; }
  all+=("$python")
  # Every file in one package only, and all of them under /usr.
  for p in "${all[@]}"; do dpkg-deb -c "$p" | grep -v '^d' | awk '{print $6}'; done | sort | uniq -d | grep . &&
    { echo "files above are in two packages"; exit 1; }
  for p in "${all[@]}"; do contents "$p"; done | grep -vE '^/$|^/usr(/|$)' && { echo "outside /usr"; exit 1; }
  for p in "${all[@]}"; do echo "$p: Depends: $(field "$p" Depends)"; done
  ;;
*)
  echo "unknown step $step"; exit 2 ;;
esac
