"""Writes the C reference pages (one per export, one per family) from the
header's comments and the compiled examples in docs/examples/reference.c.
"""
import re
from pathlib import Path
from typing import Dict, List

import cheader

EXAMPLES = cheader.ROOT / "docs" / "examples" / "reference.c"

# What each result code means for a call, beyond the header's one-line
# definitions; the page of each export lists only the codes its comment names.
WHEN = {
    0: "Success: the call did what it says and wrote every output.",
    1: "Any other failure, such as memory running out; no output is written.",
    2: "The module answered, but not as the command expects (a malformed or unexpected reply){extra}.",
    3: "An argument was refused before anything was sent{extra}: a NULL pointer the call would read or "
       "write, a count that does not match, a channel out of range or listed twice, or the address "
       "0.0.0.0 or 255.255.255.255.",
    4: "A socket could not be opened, the interfaces could not be listed, or sending failed{extra}.",
    5: "A requested serial number did not answer within 1000 ms.",
    6: "No matching reply arrived within the module's time-out (see set_timeout){extra}.",
    7: "The module aborted the operation{extra}.",
    8: "The module is busy (reserved){extra}.",
    9: "The module's configuration forbids the operation{extra}.",
}

PARAMETERS = {
    "address": "the module's IPv4 address in host order (192.168.1.10 is 0xC0A8010A)",
    "channels": "the channel numbers, from 1; outputs follow this order",
    "count": "how many entries `channels` holds",
    "size": "capacity of the output array on entry; entries written on success",
    "values": "one value per listed channel, in the order of `channels`",
    "serial_number": "the module's serial number",
    "timeout": "the reply time-out in milliseconds",
    "frequency": "the frequency in Hz",
}


def examples() -> Dict[str, str]:
    text = EXAMPLES.read_text(encoding="utf-8")
    return {m.group(1): m.group(2).strip("\n") for m in
            re.finditer(r"/\* \[(\w+)\] \*/\n(.*?)\n/\* \[\1\] \*/", text, re.S)}


def slug(family: str) -> str:
    return re.sub(r"[^a-z0-9]+", "-", family.split("(")[0].lower()).strip("-")


def _extra(e: cheader.Export, code: int) -> str:
    """The comment's own words for a code: "9 when ..." clauses, and
    sentences that name the code's constant."""
    parts: List[str] = []
    at = e.comment.rfind("Codes:")
    tail = " ".join(e.comment[at:].split()) if at >= 0 else ""
    for m in re.finditer(rf"(?<![\d.]){code} when (.*?)(?:;|\.$|, and \d|$)", tail):
        parts.append(m.group(1).strip())
    name = next(c.name for c in cheader.parse().codes if c.value == code)
    flat = " ".join(e.comment.split())
    for sentence in re.split(r"(?<=[.;:])\s+", flat):
        if name in sentence:
            parts.append(sentence.rstrip("."))
    return ("; " + "; ".join(parts)) if parts else ""


def _describe(p: cheader.Parameter, e: cheader.Export) -> str:
    if p.name in PARAMETERS:
        return PARAMETERS[p.name]
    if p.name.endswith("_count"):
        return f"how many entries `{p.name[:-6]}s` holds; must equal `count`" if "count" in \
            [q.name for q in e.parameters] else f"how many entries the array before it holds"
    if p.name.endswith("_size"):
        return f"capacity of `{p.name[:-5]}` in bytes on entry; bytes written on success"
    if p.ctype.startswith("char"):
        return "a text buffer, not zero-terminated; its size follows"
    return "see the description"


def page(e: cheader.Export, header: cheader.Header, snippet: str, siblings: List[str]) -> str:
    title = f"{e.name}"
    out = [f".. _c-{e.name}:", "", title, "=" * len(title), "",
           f"{e.family}.", "", "Synopsis", "--------", "", ".. code-block:: c", "",
           "   #include <varnode/varnode.h>", ""]
    out += ["   " + line for line in _wrap_signature(e)]
    out += ["", f"Link with ``-lvarnode`` (pkg-config ``varnode``, CMake ``varnode::varnode``).", "",
            "Description", "-----------", "", ".. code-block:: text", ""]
    out += ["   " + line for line in e.comment.splitlines()]
    if e.family_notes:
        out += ["", "For the whole family:", "", ".. code-block:: text", ""]
        out += ["   " + line for line in e.family_notes.splitlines()]
    out += ["", "Parameters", "----------", "", ".. list-table::", "   :header-rows: 1", "",
            "   * - name", "     - type", "     - role", "     - meaning"]
    for p in e.parameters:
        out += [f"   * - ``{p.name}``", f"     - ``{p.ctype}``", f"     - {p.role}",
                f"     - {_describe(p, e)}"]
    out += ["", "Return value", "------------", "",
            "One of the result codes; a call that fails writes none of its outputs.", "",
            ".. list-table::", "   :header-rows: 1", "", "   * - code", "     - name", "     - when"]
    for code in e.codes:
        name = next(c.name for c in header.codes if c.value == code)
        out += [f"   * - {code}", f"     - ``{name}``", f"     - {WHEN[code].format(extra=_extra(e, code))}"]
    out += ["", "Example", "-------", "", ".. code-block:: c", ""]
    out += ["   " + line if line else "" for line in snippet.splitlines()]
    out += ["", "See also", "--------", "", ", ".join(f":ref:`{s} <c-{s}>`" for s in siblings if s != e.name)
            + (", " if len(siblings) > 1 else "") + ":doc:`/reference/c/result-codes`", ""]
    return "\n".join(out)


def _wrap_signature(e: cheader.Export) -> List[str]:
    head = f"{e.returns} {e.name}("
    lines, line = [], head
    for i, p in enumerate(e.parameters):
        piece = (p.ctype + ("" if p.ctype.endswith("*") else " ") + p.name) + (", " if i + 1 < len(e.parameters) else ");")
        if len(line) + len(piece) > 78 and line.strip() != head.strip():
            lines.append(line.rstrip())
            line = " " * len(head)
        line += piece
    lines.append(line)
    return lines


def generate(out: Path) -> List[str]:
    """Writes the pages under `out`; returns the export names."""
    header = cheader.parse()
    snippets = examples()
    out.mkdir(parents=True, exist_ok=True)
    families = header.families()
    index = ["C reference", "===========", "",
             "Every function of ``include/varnode/varnode.h``, by family. Each page is written from the "
             "header's own comments; each example is compiled by the build.", "",
             ".. toctree::", "   :maxdepth: 2", "", "   result-codes"]
    for family, exports in families.items():
        s = slug(family)
        index.append(f"   {s}")
        fam = [family, "=" * len(family), ""]
        if exports[0].family_notes:
            fam += [".. code-block:: text", ""] + ["   " + l for l in exports[0].family_notes.splitlines()] + [""]
        fam += [".. toctree::", "   :maxdepth: 1", ""] + [f"   {e.name}" for e in exports] + [""]
        _write(out / f"{s}.rst", "\n".join(fam))
        names = [e.name for e in exports]
        for e in exports:
            _write(out / f"{e.name}.rst", page(e, header, snippets.get(e.name, ""), names))
    codes = ["Result codes", "============", "", "Every function returns one of these; its page says which "
             "and when.", "", ".. list-table::", "   :header-rows: 1", "", "   * - code", "     - name",
             "     - meaning", "     - returned by"]
    for c in header.codes:
        users = [e.name for e in header.exports if c.value in e.codes]
        codes += [f"   * - {c.value}", f"     - ``{c.name}``", f"     - {c.meaning}",
                  "     - " + (", ".join(f":ref:`{u} <c-{u}>`" for u in users) or "no function")]
    codes += ["", "Conventions shared by every function", "------------------------------------", "",
              ".. code-block:: text", ""] + ["   " + l if l else "" for l in header.preamble.splitlines()]
    _write(out / "result-codes.rst", "\n".join(codes) + "\n")
    _write(out / "index.rst", "\n".join(index) + "\n")
    return [e.name for e in header.exports]


def _write(path: Path, text: str) -> None:
    # Unchanged pages keep their time stamps, so Sphinx rebuilds only what changed.
    if not path.exists() or path.read_text(encoding="utf-8") != text:
        path.write_text(text, encoding="utf-8")
