"""varnode-panel: a web panel for a rack of varnode modules.

An HTTP and WebSocket server (aiohttp) over the varnode package: one poller
per module, shared by every browser tab and by programs that read the same
JSON. See docs/tools/panel.md.
"""
from .server import Panel, Settings, make_app

__all__ = ["Panel", "Settings", "make_app"]
