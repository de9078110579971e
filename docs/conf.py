"""Sphinx configuration of the varnode manual (scripts/docs.sh builds it)."""
import os
import re
import sys
from pathlib import Path

DOCS = Path(__file__).resolve().parent
ROOT = DOCS.parent
sys.path.insert(0, str(DOCS / "_ext"))
sys.path.insert(0, str(ROOT / "python" / "src"))

import cheader  # noqa: E402
import cref  # noqa: E402

project = "varnode"
author = "the varnode developers"
copyright = "the varnode developers"
release = re.search(r"project\(varnode VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text()).group(1)
version = release

extensions = ["myst_parser", "sphinx.ext.autodoc", "sphinx.ext.doctest", "sphinx.ext.intersphinx"]
extensions.remove("sphinx.ext.intersphinx")  # offline: no inventories to fetch
source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
exclude_patterns = ["_build", "_ext", "_generated", "examples", "README.md"]
myst_enable_extensions = ["colon_fence"]
myst_heading_anchors = 3
html_theme = "sphinx_rtd_theme"
html_title = f"varnode {release}"
html_static_path = []
# The Python reference imports the package, which loads the library.
autodoc_member_order = "bysource"
autodoc_typehints = "description"
doctest_global_setup = "import varnode"
# Pages other engineers add under tools/ join through a glob; a missing
# page that a glob names is no error.
suppress_warnings = ["toc.excluded"]

# The C reference is written from the header at every build.
exports = cref.generate(DOCS / "reference" / "c")
header = cheader.parse()


def _summary(e):
    first = re.split(r"(?<=[.])\s", " ".join(e.comment.split()))[0].rstrip(".")
    return first[:1].lower() + first[1:] if first else e.name


man_pages = [(f"reference/c/{e.name}", e.name, _summary(e), [author], 3) for e in header.exports]
man_pages += [("tools/varnode", "varnode", "control I/O modules over DCP from the command line", [author], 1),
              ("tools/varnode-sim", "varnode-sim", "a rack of virtual I/O modules that answer DCP", [author], 1)]
for page, name, summary in [("tools/panel", "varnode-panel", "the varnode panel"),
                            ("tools/mqtt", "varnode-mqtt", "the varnode MQTT bridge")]:
    if (DOCS / (page + ".md")).exists():
        man_pages.append((page, name, summary, [author], 1))
man_show_urls = False
