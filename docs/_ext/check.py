"""Fails when something public is missing from the built manual: an export
(page, example, result codes), a public Python name (of the package,
varnode.log, varnode.catalogue and varnode.panel), a command of the tool or
an option of `varnode log`, an option of the rack, the panel or the bridge,
or a key of the rack's description; or when a page lists a result code that
its function cannot return (by the catalogue, data/catalogue.json).

Usage: check.py --html DIR [--cli PATH] [--sim PATH] [--mqtt PATH] [--panel]
Prints one line per fault and exits 1 when there is any.
"""
import argparse
import html
import inspect
import json
import os
import re
import subprocess
import sys
from pathlib import Path
from typing import List

import cheader  # noqa: E402
import cref  # noqa: E402

sys.path.insert(0, str(cheader.ROOT / "python" / "src"))

ROOT = cheader.ROOT
DOCS = ROOT / "docs"
CATALOGUE = ROOT / "data" / "catalogue.json"


def returnable() -> dict:
    """Per export, the codes it may return."""
    return {name: set(codes) for name, codes in json.loads(CATALOGUE.read_text())["returns"].items()}


def page_codes(page: Path) -> List[int]:
    """The codes in a built reference page's "Return value" table."""
    text = page.read_text(encoding="utf-8")
    section = re.search(r'id="return-value".*?</table>', text, re.S)
    if not section:
        return []
    return [int(c) for c in re.findall(r"<tr[^>]*><td><p>(\d)</p></td>", section.group(0))]


def check_c(html_dir: Path, faults: List[str]) -> None:
    header = cheader.parse()
    allowed = returnable()
    snippets = cref.examples()
    for e in header.exports:
        page = html_dir / "reference" / "c" / f"{e.name}.html"
        if not page.exists():
            faults.append(f"{e.name}: no reference page")
            continue
        if e.name not in snippets:
            faults.append(f"{e.name}: no example in docs/examples/reference.c")
        if not e.codes:
            faults.append(f"{e.name}: the header names none of its result codes")
        documented = page_codes(page)
        if documented != e.codes:
            faults.append(f"{e.name}: its page lists codes {documented}, the header {e.codes}")
        if e.name not in allowed:
            faults.append(f"{e.name}: not in the catalogue's returns")
        extra = set(documented) - allowed.get(e.name, set())
        if extra:
            faults.append(f"{e.name}: documents codes {sorted(extra)} that it cannot return")
        # A call that sends nothing cannot hear a module or a network fail.
        if "Sends nothing" in e.comment and set(documented) & {2, 4, 6, 7, 8, 9}:
            faults.append(f"{e.name}: sends nothing, yet documents a module's or network's code")


# The modules whose public names the Python reference must carry.
SUBMODULES = ("varnode.log", "varnode.catalogue", "varnode.panel")


def module_names(module) -> List[str]:
    """A module's public names: its __all__, else what it defines itself
    without a leading underscore (not what it imports)."""
    if hasattr(module, "__all__"):
        return list(module.__all__)
    return [n for n, v in vars(module).items()
            if not n.startswith("_") and not inspect.ismodule(v)
            and getattr(v, "__module__", module.__name__) == module.__name__
            and (inspect.isclass(v) or inspect.isfunction(v) or n.isupper())]


def public_python_names():
    import importlib
    import varnode
    for module in (varnode, *(importlib.import_module(m) for m in SUBMODULES)):
        for name in module_names(module):
            obj = getattr(module, name)
            qualified = f"{module.__name__}.{name}"
            yield qualified, obj
            if inspect.isclass(obj) and not issubclass(obj, BaseException):
                for member, value in vars(obj).items():
                    if not member.startswith("_") and (callable(value) or isinstance(value, property)):
                        yield f"{qualified}.{member}", value


def check_python(html_dir: Path, faults: List[str]) -> None:
    page = (html_dir / "reference" / "python.html").read_text(encoding="utf-8")
    anchors = set(re.findall(r'id="(varnode\.[\w.]+)"', page))
    for qualified, obj in public_python_names():
        # Constants and type aliases carry their text in the reference itself.
        data = type(obj).__module__ == "typing" or not (inspect.isclass(obj) or callable(obj) or isinstance(obj, property))
        if not data and not inspect.getdoc(obj):
            faults.append(f"{qualified}: no docstring")
        if qualified not in anchors:
            faults.append(f"{qualified}: not in the Python reference")


def subcommands(program: str, *words: str) -> List[str]:
    text = subprocess.run([program, *words, "--help"], capture_output=True, text=True, check=True).stdout
    part = text.split("Subcommands:", 1)
    if len(part) < 2:
        return []
    return re.findall(r"^  (\w[\w-]*)\s", part[1], re.M)


def tool_pages() -> str:
    return "\n".join(p.read_text(encoding="utf-8") for p in sorted((DOCS / "tools").glob("*.md")))


def check_cli(cli: str, faults: List[str]) -> None:
    pages = tool_pages()
    commands = subcommands(cli)
    if not commands:
        faults.append(f"{cli} --help lists no commands")
    for command in commands:
        if f"varnode {command}" not in pages:
            faults.append(f"varnode {command}: not on any page under docs/tools")
        for sub in subcommands(cli, command):
            if not re.search(rf"varnode {command}\b.*\b{sub}\b|`{command}` takes the same", pages):
                faults.append(f"varnode {command} {sub}: not on any page under docs/tools")


def options(*program: str) -> List[str]:
    # The package from this checkout, for `python3 -m varnode.panel`.
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [str(ROOT / "python" / "src"),
                                                                     os.environ.get("PYTHONPATH")])))
    text = subprocess.run([*program, "--help"], capture_output=True, text=True, check=True, env=env).stdout
    return sorted(set(re.findall(r"^\s+(?:-\w,?\s*)?(--[\w-]+)", text, re.M)) - {"--help"})


def check_options(program: List[str], name: str, page: str, faults: List[str]) -> None:
    text = (DOCS / "tools" / page).read_text(encoding="utf-8")
    found = options(*program)
    if not found:
        faults.append(f"{name} --help lists no options")
    for option in found:
        if not re.search(rf"(?<![\w-]){re.escape(option)}(?![\w-])", text):
            faults.append(f"{name} {option}: not on docs/tools/{page}")


def check_sim(sim: str, faults: List[str]) -> None:
    page = (DOCS / "tools" / "varnode-sim.md").read_text(encoding="utf-8")
    for option in options(sim):
        if f"`{option}" not in page and f"{option}`" not in page:
            faults.append(f"varnode-sim {option}: not on docs/tools/varnode-sim.md")
    # Every key the description checker accepts, in the description's page.
    schema = (ROOT / "tools" / "sim" / "schema.cpp").read_text(encoding="utf-8")
    keys = set(re.findall(r'\{"(\w+)",\s*[a-z_]', schema))
    rack = (ROOT / "tools" / "sim" / "rack.md").read_text(encoding="utf-8")
    for key in sorted(keys):
        if f'`{key}`' not in rack and f'"{key}"' not in rack:
            faults.append(f"rack description key {key}: not in tools/sim/rack.md")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--html", type=Path, required=True)
    parser.add_argument("--cli")
    parser.add_argument("--sim")
    parser.add_argument("--mqtt")
    parser.add_argument("--panel", action="store_true", help="check varnode-panel's options (needs aiohttp)")
    args = parser.parse_args()
    faults: List[str] = []
    check_c(args.html, faults)
    check_python(args.html, faults)
    if args.cli:
        check_cli(args.cli, faults)
        check_options([args.cli, "log"], "varnode log", "log.md", faults)
    if args.sim:
        check_sim(args.sim, faults)
    if args.mqtt:
        check_options([args.mqtt], "varnode-mqtt", "mqtt.md", faults)
    if args.panel:
        check_options([sys.executable, "-m", "varnode.panel"], "varnode-panel", "panel.md", faults)
    for f in faults:
        print("undocumented or wrong:", html.unescape(f))
    print(f"docs check: {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
