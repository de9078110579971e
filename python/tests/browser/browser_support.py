"""Helpers of the panel's browser tests."""
from __future__ import annotations

import os
import time
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[3]
# The manual's screenshots are remade only on request, so a test run
# leaves the checkout as it was.
SHOTS = Path(os.environ["VARNODE_PANEL_SHOTS"]) if os.environ.get("VARNODE_PANEL_SHOTS") else None


def wait_for(condition, what, timeout=20.0):
    """Polls `condition` until it gives something true; the wait is on an
    event the page shows, the time-out only ends a broken run."""
    end = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            pytest.fail(f"timed out waiting for {what}")
        time.sleep(0.05)
