#!/usr/bin/env bash
# The Debian packages as a user meets them: built from the given preset's
# build (made if missing), installed with apt-get, `varnode --version` run
# from where the package put it, programs built against the installed library
# with pkg-config and with CMake, then the packages purged, leaving no file
# behind.
# Needs root or sudo; installs into the machine's own /usr for a moment.
# Usage: scripts/package-test.sh [build-folder]   (default build/dev)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/dev}
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

if [ ! -f "$build/CPackConfig.cmake" ]; then
  # The presets build into build/<preset>.
  preset=$(basename "$build")
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
fi
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")

work=$(mktemp -d)
chmod 755 "$work"  # apt reads local packages as its own user
installed=()
cleanup() {
  if ((${#installed[@]})); then
    $sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${installed[@]}" >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"; exit 1
fi
debs=("$work"/*.deb)
names=()
for deb in "${debs[@]}"; do
  chmod 644 "$deb"
  names+=("$(dpkg-deb -f "$deb" Package)")
done
for name in "${names[@]}"; do
  if dpkg -s "$name" >/dev/null 2>&1; then
    echo "$name is installed already: not touching it"; exit 1
  fi
done
echo "installing: ${debs[*]##*/}"
installed=("${names[@]}")
$sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${debs[@]}" >/dev/null

files=$(dpkg -L "${names[@]}" | sort -u)
# The tool from its installed place, reporting its version and the version of
# the library it loaded.
tool=$(command -v varnode || true)
[ "$tool" = /usr/bin/varnode ] || { echo "varnode found at $tool"; exit 1; }
/usr/bin/varnode --version
[ "$(/usr/bin/varnode --version)" = "$(printf 'varnode %s\nlibrary %s' "$version" "$version")" ] ||
  { echo "unexpected version"; exit 1; }
/usr/bin/varnode-sim --help >/dev/null
# The Python package, found by the system's python3 (not a python3 of one's own on PATH), loads the installed library.
(cd / && /usr/bin/python3 -c 'import varnode; print("python:", varnode.__file__, varnode.driver())')
# The web panel from its installed command, with its man page: started in a
# network namespace of its own (loopback only, no discovery), it serves the
# page and the chart library the package carries.
[ "$(command -v varnode-panel || true)" = /usr/bin/varnode-panel ] || { echo "no /usr/bin/varnode-panel"; exit 1; }
grep -qx '/usr/share/man/man1/varnode-panel.1.gz' <<<"$files" || { echo "no man page of varnode-panel"; exit 1; }
$sudo_cmd unshare -n /usr/bin/python3 - <<'EOF_PANEL'
import subprocess, sys, time, urllib.request

subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
port = 8470
panel = subprocess.Popen(["/usr/bin/varnode-panel", "--no-scan", "--port", str(port)], cwd="/")
try:
    base = f"http://127.0.0.1:{port}"
    deadline = time.monotonic() + 30
    while True:
        if panel.poll() is not None:
            sys.exit(f"varnode-panel ended with {panel.returncode}")
        try:
            page = urllib.request.urlopen(base + "/", timeout=5).read().decode()
            break
        except OSError:
            if time.monotonic() > deadline:
                sys.exit("varnode-panel did not answer")
            time.sleep(0.1)
    chart = urllib.request.urlopen(base + "/static/vendor/uPlot.iife.min.js", timeout=5).read()
    if "/static/vendor/uPlot.iife.min.js" not in page or b"uPlot" not in chart:
        sys.exit("varnode-panel served no page or no chart library")
    print(f"panel: page {len(page)} bytes, uPlot {len(chart)} bytes")
finally:
    panel.terminate()
    panel.wait(timeout=10)
EOF_PANEL
# The dissector, where Wireshark looks for plugins.
if command -v tshark >/dev/null; then
  tshark -G protocols 2>/dev/null | grep -q "	dcp$" || { echo "tshark did not load the installed dissector"; exit 1; }
fi

# Users' programs, built against the system's copy.
[ "$(pkg-config --modversion varnode)" = "$version" ] || { echo "pkg-config: no varnode $version"; exit 1; }
cp tests/install/consumer/consumer.c tests/install/consumer/Makefile "$work/"
make -s -C "$work" consumer >/dev/null
"$work/consumer"
cmake -S tests/install/consumer -B "$work/cmake" >/dev/null
cmake --build "$work/cmake" >/dev/null
"$work/cmake/consumer"

$sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${names[@]}" >/dev/null
installed=()
left=()
while read -r path; do
  # Shared folders (/usr/bin, ...) stay; everything of ours must be gone.
  if [ -L "$path" ] || [ -f "$path" ]; then left+=("$path"); fi
done <<<"$files"
for dir in /usr/include/varnode /usr/lib/python3/dist-packages/varnode $(dirname "$(grep '/cmake/varnode/' <<<"$files" | head -1)"); do
  [ -e "$dir" ] && left+=("$dir")
done
if ((${#left[@]})); then
  echo "left behind after purge: ${left[*]}"; exit 1
fi
echo "packages installed, used and purged: ${names[*]}"

# The other route, pip into a virtual environment, carries the panel's page,
# its chart library and the varnode-panel command too (Debian's setuptools,
# nothing from an index).
if /usr/bin/python3 -c 'import ensurepip, setuptools' 2>/dev/null; then
  cp -r python "$work/python"
  rm -rf "$work/python/build" "$work"/python/src/*.egg-info
  /usr/bin/python3 -m venv --system-site-packages "$work/venv"
  "$work/venv/bin/pip" install -q --no-build-isolation --no-deps --no-index "$work/python" >/dev/null
  site=$("$work/venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')
  for f in index.html panel.js panel.css vendor/uPlot.iife.min.js vendor/uPlot.min.css; do
    [ -s "$site/varnode/panel/static/$f" ] || { echo "pip install left out the panel's $f"; exit 1; }
  done
  [ -x "$work/venv/bin/varnode-panel" ] || { echo "pip install made no varnode-panel"; exit 1; }
  echo "pip install: the panel's page, uPlot and varnode-panel are in the environment"
else
  echo "package-test: no venv or setuptools for /usr/bin/python3 (python3-venv, python3-setuptools): pip route not checked"
fi
