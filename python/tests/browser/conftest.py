"""The panel in a real headless Chromium, against the default virtual rack
(one module of each kind at 198.18.0.11 to .20) in a private namespace;
scripts/python-test.sh starts them there, with the rack's traffic in a pcap."""
from __future__ import annotations

import os
import re
import socket
import subprocess
import sys
from pathlib import Path

import pytest

from browser_support import ROOT, wait_for

HOW = "needs the default rack and a browser: scripts/python-test.sh runs these"


def _in_private_namespace() -> None:
    host = os.environ.get("VARNODE_PANEL_RACK")
    if not host:
        pytest.skip(HOW)
    if os.readlink("/proc/self/ns/net") == host:
        pytest.fail("VARNODE_PANEL_RACK names this very network namespace: the rack's must be a private one")


@pytest.fixture(scope="session")
def panel(tmp_path_factory):
    """The panel's URL, its process and where it records."""
    _in_private_namespace()
    pytest.importorskip("aiohttp", reason="the panel needs python3-aiohttp")
    records = tmp_path_factory.mktemp("records")
    port = 18470
    process = subprocess.Popen(
        [sys.executable, "-m", "varnode.panel", "--port", str(port), "--interval", "0.1", "--record-dir", str(records)],
        env={**os.environ, "PYTHONPATH": str(ROOT / "python" / "src")}, stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT, text=True)
    line = process.stdout.readline()
    match = re.search(r"open (http://\S+)", line)
    if not match:
        process.kill()
        pytest.fail(f"the panel did not start: {line}{process.stdout.read()}")
    url = match.group(1)

    def serving():
        if process.poll() is not None:
            pytest.fail(f"the panel ended: {process.stdout.read()}")
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return True
        except OSError:
            return False

    wait_for(serving, "the panel's port")
    yield {"url": url, "process": process, "records": records}
    process.terminate()
    process.wait(10)


@pytest.fixture(scope="session")
def browser():
    _in_private_namespace()
    webdriver = pytest.importorskip("selenium.webdriver", reason="no python3-selenium: the browser tests cannot run")
    options = webdriver.ChromeOptions()
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--window-size=1200,900", "--force-device-scale-factor=1"):
        options.add_argument(flag)
    if Path("/usr/bin/chromium").exists():
        options.binary_location = "/usr/bin/chromium"
    try:
        from selenium.webdriver.chrome.service import Service
        driver = webdriver.Chrome(options=options, service=Service("/usr/bin/chromedriver"))
    except Exception as failure:  # no browser here: say so, do not pass silently
        pytest.skip(f"no headless Chromium could start ({type(failure).__name__}: {str(failure).splitlines()[0]})")
    driver.set_script_timeout(30)
    yield driver
    driver.quit()
