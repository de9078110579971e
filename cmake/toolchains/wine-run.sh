#!/bin/sh
# Runs a Windows program under Wine, headless and quiet, in the given prefix
# (made on first use). Usage: wine-run.sh PREFIX PROGRAM [ARGUMENT...]
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
# Wine afresh for every program costs seconds, and a server that stopped
# between this start and the program's would come back without the shim.
# A new server's first program starts Wine's own background programs:
# wineboot takes that part. The lock makes parallel runs wait for all this;
# nothing started under it may inherit it.
# `wineserver -k` with the same WINEPREFIX stops the server.
(
  flock 9
  if [ ! -e "$shim" ]; then
    mkdir -p "$WINEPREFIX"
    cc -shared -fPIC -o "$shim" "$here/wine-exact-bind.c"
  fi
  if LD_PRELOAD="$shim" wineserver -p600 >/dev/null 2>&1 9>&-; then
    wineboot --init </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$WINEPREFIX.lock"

# Wine's background programs may take over the output of the program that
# made them start, and live as long as the server: through a file, nobody
# waiting for this program's output waits for them.
log=$(mktemp)
trap 'cat "$log"; rm -f "$log"' EXIT
trap 'exit 143' TERM INT
status=0
wine "$@" </dev/null >"$log" 2>&1 || status=$?
exit "$status"
