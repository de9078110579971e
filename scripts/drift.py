"""Finds values of the module catalogue typed by hand outside it.

The generated files are compared by catalogue.py itself. What is left are the
places that still write a catalogue value in their own words: the library's
named constants, comments and docs that list the frequency settings or the
thermocouple types, sensor names in programs and docs, and result-code sets.
Each must agree with data/catalogue.json; check() returns one line per place
that does not. Tests are not scanned: they state what they expect on their
own, and fail on their own when the library moves.
"""

import re

GENERATED = {
    "include/varnode/catalogue.h",
    "tools/catalogue/catalogue.hpp",
    "python/src/varnode/catalogue.py",
    # the generator and this check name the patterns they look for
    "scripts/catalogue.py",
    "scripts/drift.py",
}
SCANNED_SUFFIXES = {".c", ".h", ".cpp", ".hpp", ".py", ".lua", ".md", ".txt", ".1", ".sh", ".json"}
SKIPPED_TOP = {"tests", "build", ".git", "data"}

# The library's own constants, each compared with the catalogue entry it
# stands for: (file, pattern with one number group, what it must equal).
LIBRARY_CONSTANTS = [
    ("src/modules/digital_io.hpp", r"channel_count = (\d+)", lambda c: family(c, "KL01", "KL02")),
    ("src/modules/digital_output.hpp", r"channel_count = (\d+)", lambda c: family(c, "KS01", "KS02")),
    ("src/modules/counter.hpp", r"channel_count = (\d+)", lambda c: family(c, "QU01")),
    ("src/modules/analog_input.hpp", r"channel_count = (\d+)", lambda c: family(c, "RA01", "RE01")),
    ("src/modules/analog_output.hpp", r"channel_count = (\d+)", lambda c: family(c, "WE01")),
    ("src/temperature/hx01.hpp", r"channel_count = (\d+)", lambda c: family(c, "HX01")),
    ("src/temperature/hx02.hpp", r"channel_count = (\d+)", lambda c: family(c, "HX02")),
    ("src/temperature/hx01.hpp", r"highest_code = (\d+)", lambda c: c["hx01_sensors"][-1]["code"]),
    ("src/temperature/hx02.hpp", r"highest_code = (\d+)", lambda c: c["hx02_sensors"][-1]["code"]),
    ("src/modules/analog_input.hpp", r"max_samples = ([\d']+)", lambda c: c["sample_limit"]),
]


def family(catalogue, *names):
    counts = {f["name"]: f["channels"] for f in catalogue["families"]}
    values = {counts[n] for n in names}
    return values.pop() if len(values) == 1 else None


def files(root):
    for path in sorted(root.rglob("*")):
        relative = path.relative_to(root).as_posix()
        if path.is_dir() or relative.split("/")[0] in SKIPPED_TOP or "/build" in relative:
            continue
        if path.suffix in SCANNED_SUFFIXES and relative not in GENERATED:
            yield relative, path


# Lists may run over lines of a comment, so separators include comment
# leaders. A written list of the frequency settings: 6 then 12, then more.
SEPARATOR = r"[\s,*/#\"'`]*(?:(?:or|and)\s+)?"
FREQUENCY_RUN = re.compile(r"\b6\b(?:" + SEPARATOR + r"\d+\b)+")
# The thermocouple types written as a run of single letters.
LETTER_RUN = re.compile(r"\bB\b(?:" + SEPARATOR + r"[A-Z]\b)+")
# Spellings of HX02 sensor names that carry digits.
SENSOR_TOKEN = re.compile(r"\b(?:ptc\d\w*|pt\d+|diode\d+)\b")
# A row of a result-code table in the docs: | 3 | `VARNODE_PARAMETER` |
CODE_ROW = re.compile(r"^\|\s*(\d+)\s*\|\s*`VARNODE_(\w+)`", re.MULTILINE)
# A result-code set built by hand from numbers, as the soak once did.
CODE_SET = re.compile(r"codes\(\{[\d,\s]+\}\)")


def check(root, catalogue):
    problems = []
    for relative, pattern, expected in LIBRARY_CONSTANTS:
        path = root / relative
        if not path.exists():
            continue
        want = expected(catalogue)
        for match in re.finditer(pattern, path.read_text(encoding="utf-8")):
            if int(match.group(1).replace("'", "")) != want:
                problems.append(f"{relative}: {match.group(0)}, the catalogue says {want}")

    # Every export the public header declares has its result codes here.
    header = (root / "include" / "varnode" / "varnode.h").read_text(encoding="utf-8")
    declared = re.findall(r"^VARNODE_API uint8_t ([a-z0-9_]+)\(", header, re.MULTILINE)
    if sorted(declared) != sorted(catalogue["returns"]):
        missing = sorted(set(declared) - set(catalogue["returns"]))
        extra = sorted(set(catalogue["returns"]) - set(declared))
        problems.append(f"include/varnode/varnode.h: exports without result codes in the catalogue {missing}, "
                        f"result codes of exports it does not declare {extra}")

    frequencies = catalogue["frequencies"]
    constants = {r["code"]: r["constant"] for r in catalogue["result_codes"]}
    letters = [s["name"] for s in catalogue["hx01_sensors"] if len(s["name"]) == 1]
    names = {n.lower() for s in catalogue["hx02_sensors"]
             for n in [s["name"]] + [a["name"] for a in s.get("aliases", [])]}
    for relative, path in files(root):
        try:
            text = path.read_text(encoding="utf-8")
        except UnicodeDecodeError:
            continue
        def where(position):
            return f"{relative}:{text.count(chr(10), 0, position) + 1}"

        for match in FREQUENCY_RUN.finditer(text):
            numbers = [int(n) for n in re.findall(r"\d+", match.group(0))]
            # A list may go on into other numbers; its start must be the settings.
            if numbers[:2] == [6, 12] and numbers[:len(frequencies)] != frequencies:
                problems.append(f"{where(match.start())}: frequency settings {numbers}, the catalogue says "
                                f"{frequencies}")
        for match in LETTER_RUN.finditer(text):
            found = re.findall(r"\b[A-Z]\b", match.group(0))
            if len(found) >= 5 and found[:len(letters)] != letters:
                problems.append(f"{where(match.start())}: thermocouple types {' '.join(found)}, the catalogue "
                                f"says {' '.join(letters)}")
        for match in SENSOR_TOKEN.finditer(text):
            if match.group(0).lower() not in names:
                problems.append(f"{where(match.start())}: sensor name {match.group(0)!r} is not in the catalogue")
        for match in CODE_ROW.finditer(text):
            if constants.get(int(match.group(1))) != match.group(2):
                known = constants.get(int(match.group(1)), "?")
                problems.append(f"{where(match.start())}: result code {match.group(1)} is VARNODE_{known} "
                                f"in the catalogue, not VARNODE_{match.group(2)}")
        for match in CODE_SET.finditer(text):
            problems.append(f"{where(match.start())}: a result-code set typed by hand; use VARNODE_RETURNS_*")
    problems += status_words(root, catalogue)
    return problems


# The log format has words of its own for the result codes (one token each):
# the C++ writer's and the Python package's lists must be one list, a word
# per code of the catalogue.
STATUS_WORDS = (("tools/acquire/format.cpp", re.compile(r"words\[\] = \{(.*?)\};", re.S)),
                ("python/src/varnode/log.py", re.compile(r"STATUS_WORDS = \((.*?)\)", re.S)))


def status_words(root, catalogue):
    problems, lists = [], {}
    for relative, pattern in STATUS_WORDS:
        match = pattern.search((root / relative).read_text(encoding="utf-8"))
        lists[relative] = re.findall(r'"(\w+)"', match.group(1)) if match else []
        if len(lists[relative]) != len(catalogue["result_codes"]):
            problems.append(f"{relative}: {len(lists[relative])} log status words, the catalogue has "
                            f"{len(catalogue['result_codes'])} result codes")
    (a, first), (b, second) = lists.items()
    if first != second:
        problems.append(f"{a} and {b}: the log status words differ: {first} against {second}")
    return problems
