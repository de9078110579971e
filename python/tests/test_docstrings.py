"""The exceptions a docstring names against the result codes its C function
can return: a module's failure left out, or one the call cannot meet, is a
reference that misleads. Needs no module: nothing is called."""
from __future__ import annotations

import re

import pytest

import varnode
from varnode import catalogue, errors

# Python pre-checks every argument, so ParameterError may be named or not
# whatever the library could return for it.
CHECKED = {varnode.ParameterError}


def _export(owner: object, method: str) -> str:
    family = getattr(owner, "family", "")
    return f"{family}_{method}"


def _cases():
    yield "find", varnode.find, "find"
    yield "configure", varnode.configure, "configure"
    yield "driver", varnode.driver, "get_driver"
    yield "module_at", varnode.module_at, "get_info"
    for method, export in (("info", "get_info"), ("status", "get_status"), ("reset", "reset"), ("burn", "burn")):
        yield f"Module.{method}", getattr(varnode.Module, method), export
    for name in ("KL01", "KL02", "KS01", "KS02", "QU01", "RA01", "RE01", "WE01", "HX01", "HX02"):
        cls = getattr(varnode, name)
        for member in dir(cls):
            export = _export(cls, member)
            if not member.startswith("_") and export in catalogue.RETURNS:
                yield f"{name}.{member}", getattr(cls, member), export


def _exception(code: int) -> type:
    return errors.BY_CODE.get(code, varnode.Error)


@pytest.mark.parametrize("name,function,export", list(_cases()), ids=lambda v: v if isinstance(v, str) else "")
def test_named_exceptions_are_those_of_the_result_codes(name: str, function: object, export: str) -> None:
    named = {getattr(varnode, word) for word in re.findall(r":raises (?:varnode\.)?(\w+):", function.__doc__ or "")
             if isinstance(getattr(varnode, word, None), type) and issubclass(getattr(varnode, word), varnode.Error)}
    possible = {_exception(code) for code in catalogue.RETURNS[export] if code != 0}
    assert sorted(c.__name__ for c in possible - CHECKED - named) == [], f"{name}: not named"
    assert sorted(c.__name__ for c in named - possible - CHECKED) == [], f"{name}: cannot be raised"
