#!/usr/bin/env bash
# Installs whichever of the named Debian packages are missing (apt-get, as
# root or through sudo); does nothing when all are there.
# Usage: tools/need-packages.sh PACKAGE...
set -euo pipefail
missing=()
for p in "$@"; do
  # dpkg -s also succeeds for a package removed but not purged (state rc).
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
((${#missing[@]})) || exit 0
echo "installing: ${missing[*]}"
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
$sudo_cmd apt-get update -qq
# Through env: sudo's env_reset would drop a variable set before it.
$sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
