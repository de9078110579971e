"""The public C header read as documentation: families, exports, their
comments, parameters and result codes.

The header's comments are the one source of the C reference, the man pages
and the docs checks, so that what they say cannot drift apart.
"""
import json
import re
from dataclasses import dataclass, field
from pathlib import Path
from typing import Dict, List, Optional

ROOT = Path(__file__).resolve().parents[2]
HEADER = ROOT / "include" / "varnode" / "varnode.h"
# The result codes are the catalogue's (varnode.h includes the header made from it).
CATALOGUE = ROOT / "data" / "catalogue.json"


@dataclass
class Parameter:
    ctype: str
    name: str
    role: str  # "in", "out" or "in/out"


@dataclass
class Export:
    name: str
    returns: str
    parameters: List[Parameter]
    comment: str
    family: str
    family_notes: str
    codes: List[int] = field(default_factory=list)

    def signature(self) -> str:
        return f"{self.returns} {self.name}({', '.join(p.ctype + ' ' + p.name for p in self.parameters)})"


@dataclass
class Code:
    value: int
    name: str
    meaning: str


@dataclass
class Header:
    codes: List[Code]
    exports: List[Export]
    preamble: str

    def families(self) -> Dict[str, List[Export]]:
        out: Dict[str, List[Export]] = {}
        for e in self.exports:
            out.setdefault(e.family, []).append(e)
        return out

    def export(self, name: str) -> Optional[Export]:
        return next((e for e in self.exports if e.name == name), None)


def _clean(comment: str) -> str:
    body = comment[2:-2]
    lines = [re.sub(r"^\s*\* ?", "", line) for line in body.splitlines()]
    return "\n".join(lines).strip()


def _role(ctype: str, name: str) -> str:
    if "*" not in ctype or ctype.startswith("const "):
        return "in"
    # Capacities on entry that come back as counts, and the like.
    if name == "size" or name.endswith("_size"):
        return "in/out"
    return "out"


def codes_of(comment: str) -> List[int]:
    """The result codes a comment's "Codes:" part names."""
    at = comment.rfind("Codes:")
    if at < 0:
        return []
    text = comment[at + len("Codes:"):]
    span = re.match(r"\s*(\d) to (\d) but (\d)", text)
    if span:
        low, high, but = (int(g) for g in span.groups())
        return [c for c in range(low, high + 1) if c != but]
    return sorted({int(n) for n in re.findall(r"(?<![\w.,])(\d)(?!\w|\.\d)", text)})


def parse(path: Path = HEADER) -> Header:
    text = path.read_text(encoding="utf-8")
    codes = [Code(c["code"], f"VARNODE_{c['constant']}", f"{c['word']}: {c['meaning']}")
             for c in json.loads(CATALOGUE.read_text(encoding="utf-8"))["result_codes"]]
    preamble = _clean(re.match(r"\s*(/\*.*?\*/)", text, re.S).group(1))
    token = re.compile(r"(/\*.*?\*/)|VARNODE_API\s+(\w+)\s+(\w+)\s*\((.*?)\);", re.S)
    exports: List[Export] = []
    family, notes, pending = "", "", None
    last_was_comment = False
    for m in token.finditer(text, text.find("/* ---- ")):
        if m.group(1):
            comment = _clean(m.group(1))
            title = re.match(r"-+\s*(.*?)\s*-+$", comment)
            if title:
                family, notes, pending = title.group(1), "", None
            elif last_was_comment and pending is not None:
                # Two comments in a row: the first spoke for the family.
                notes = (notes + "\n\n" + pending).strip()
                pending = comment
            else:
                pending = comment
            last_was_comment = True
            continue
        last_was_comment = False
        returns, name, params = m.group(2), m.group(3), m.group(4)
        parameters = []
        for part in (p.strip() for p in params.split(",")):
            pm = re.match(r"(.*?)(\w+)$", " ".join(part.split()))
            ctype, pname = pm.group(1).strip(), pm.group(2)
            parameters.append(Parameter(ctype, pname, _role(ctype, pname)))
        comment = pending or ""
        exports.append(Export(name, returns, parameters, comment, family, notes, codes_of(comment)))
    return Header(codes, exports, preamble)


if __name__ == "__main__":
    h = parse()
    for e in h.exports:
        print(f"{e.family:45.45} {e.name:20} {e.codes}")
