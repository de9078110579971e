#!/bin/sh
# Runs a Windows program under Wine, headless and quiet, in the given prefix.
# The prefix is made on first use; the lock keeps parallel tests from making
# it twice. Usage: wine-run.sh PREFIX PROGRAM [ARGUMENT...]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX="$1"
shift
export WINEDEBUG=-all
# No .NET or HTML engine: nothing here needs them, and Wine would offer to
# download them.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
shim="$WINEPREFIX-exact-bind.so"

# The prefix's server must carry the shim (see wine-exact-bind.c), so it is
# started here rather than by Wine, and kept for ten idle minutes: starting
# Wine afresh for every test would cost seconds each, and a server that
# stopped between this start and the program's would come back without the
# shim. Starting it while it runs does nothing. `wineserver -k` with the
# same WINEPREFIX stops it.
start_server() {
  LD_PRELOAD="$shim" wineserver -p600 >/dev/null 2>&1 || true
}

if [ ! -e "$WINEPREFIX/.ready" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -e "$WINEPREFIX/.ready" ]; then
      cc -shared -fPIC -o "$shim" "$here/wine-exact-bind.c"
      # Neither the server nor what wineboot leaves running may inherit the lock.
      start_server 9>&-
      wineboot --init >/dev/null 2>&1 9>&-
      touch "$WINEPREFIX/.ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
start_server
exec wine "$@"
