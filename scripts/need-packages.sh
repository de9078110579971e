#!/usr/bin/env bash
# Installs whichever of the named Debian packages are missing (apt-get, as
# root or through sudo); does nothing when all are there.
# Usage: scripts/need-packages.sh [--quiet] PACKAGE...
# --quiet: apt-get's output goes to a log, shown only when the install fails.
set -euo pipefail
quiet=0
if [ "${1:-}" = --quiet ]; then
  quiet=1
  shift
fi
missing=()
for p in "$@"; do
  # dpkg -s also succeeds for a package removed but not purged (state rc).
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
((${#missing[@]})) || exit 0
echo "installing: ${missing[*]}"
if ((quiet)); then
  log=$(mktemp)
  trap 'rm -f "$log"' EXIT
  exec 3>&1 4>&2 >"$log" 2>&1
fi
# Puts the real output back (with the log when the install failed).
finish() {
  if ((quiet)); then
    exec 1>&3 2>&4
    [ "$1" -eq 0 ] || cat "$log" >&2
  fi
  exit "$1"
}
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
# A mirror caught mid-sync serves an index of the wrong size for a minute or
# two; apt-get update then fails although the packages themselves are fine.
# So: retry with a pause, and let the install decide whether the lists that
# did arrive are enough.
apt_options=(-o Acquire::Retries=3 -o DPkg::Lock::Timeout=300)
for attempt in 1 2 3 4; do
  if $sudo_cmd apt-get "${apt_options[@]}" update -qq; then
    updated=1
  else
    updated=0
    echo "apt-get update failed (attempt $attempt); retrying" >&2
  fi
  # Through env: sudo's env_reset would drop a variable set before it.
  if $sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get "${apt_options[@]}" install -y -qq \
       --no-install-recommends "${missing[@]}"; then
    finish 0
  fi
  ((updated)) && ((attempt >= 2)) && break
  sleep $((attempt * 20))
done
echo "need-packages: could not install: ${missing[*]}" >&2
finish 1
