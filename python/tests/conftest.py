"""The rack tests run inside a private network namespace that varnode-sim
creates for python/tests/rack.json; scripts/python-test.sh starts them there."""
from __future__ import annotations

import os
from pathlib import Path

import pytest

RACK = Path(__file__).with_name("rack.json")
HOW = ("needs the test rack: scripts/python-test.sh, or varnode-sim --netns --config python/tests/rack.json "
       "--exec \"VARNODE_TEST_RACK=$(readlink /proc/self/ns/net) python3 -m pytest python/tests\"")


@pytest.fixture(scope="session")
def rack() -> Path:
    """Skips a test unless the rack runs; never lets one broadcast on the host's own network.

    VARNODE_TEST_RACK holds the network namespace that started the rack; the
    tests must run in another one, the rack's private link.
    """
    host = os.environ.get("VARNODE_TEST_RACK")
    if not host:
        pytest.skip(HOW)
    try:
        here = os.readlink("/proc/self/ns/net")
    except OSError as failure:
        pytest.fail(f"cannot tell which network namespace this is: {failure}")
    if here == host:
        pytest.fail("VARNODE_TEST_RACK names this very network namespace: the rack's must be a private one")
    return RACK
