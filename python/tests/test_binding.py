"""What the package does without a module: loading, exceptions, refusals."""
from __future__ import annotations

import builtins
import ipaddress
import itertools
import os
import subprocess
import sys

import numpy
import pytest

import varnode

SOMEWHERE = "198.18.0.11"  # refused arguments never reach it


def test_import_error_says_where_it_looked():
    env = dict(os.environ, VARNODE_LIBRARY="/nowhere/libvarnode.so.2")
    run = subprocess.run([sys.executable, "-c", "import varnode"], env=env, capture_output=True, text=True,
                         cwd=os.path.dirname(varnode.__path__[0]))
    assert run.returncode != 0
    assert "ImportError" in run.stderr and "VARNODE_LIBRARY=/nowhere/libvarnode.so.2" in run.stderr


def test_driver_identity():
    d = varnode.driver()
    assert (d.vendor, d.version, str(d.build)) == ("Tervane", "2.5.0", "2023-08-13")


@pytest.mark.parametrize("cls, code, builtin", [
    (varnode.FailedError, 2, None),
    (varnode.ParameterError, 3, ValueError),
    (varnode.NetworkError, 4, OSError),
    (varnode.NotFoundError, 5, LookupError),
    (varnode.TimeoutError, 6, builtins.TimeoutError),
    (varnode.AbortedError, 7, None),
    (varnode.ReservedError, 8, None),
    (varnode.ConfigurationError, 9, None),
])
def test_one_exception_per_result_code(cls, code, builtin):
    from varnode.errors import raise_for
    with pytest.raises(cls) as caught:
        raise_for(code, "kl01_read")
    assert caught.type is cls and isinstance(caught.value, varnode.Error)
    assert (caught.value.code, caught.value.function) == (code, "kl01_read")
    assert builtin is None or isinstance(caught.value, builtin)
    assert "kl01_read" in str(caught.value)


def test_any_other_code_is_the_base_error():
    from varnode.errors import raise_for
    with pytest.raises(varnode.Error) as caught:
        raise_for(1, "find")
    assert type(caught.value) is varnode.Error and caught.value.code == 1


@pytest.mark.parametrize("address", ["198.18.0.11", 0xC612000B, ipaddress.IPv4Address("198.18.0.11"),
                                     numpy.uint32(0xC612000B)])
def test_addresses_in_every_form(address):
    assert varnode.KL01(address).address == ipaddress.IPv4Address("198.18.0.11")


kl, hx2, re = varnode.KL01(SOMEWHERE), varnode.HX02(SOMEWHERE), varnode.RE01(SOMEWHERE)

REFUSED = [
    # a wrong type: TypeError
    (lambda: varnode.KL01(1.5), TypeError),
    (lambda: varnode.KL01(b"198.18.0.11"), TypeError),
    (lambda: kl.read("12"), TypeError),
    (lambda: kl.read([1, "2"]), TypeError),
    (lambda: kl.read([True]), TypeError),
    (lambda: kl.write([1, 2]), TypeError),
    (lambda: kl.write({1: "on"}), TypeError),
    (lambda: varnode.WE01(SOMEWHERE).control({1: "2.5"}), TypeError),
    (lambda: re.measure([1], "100"), TypeError),
    (lambda: re.measure([1], 10, frequency="1000"), TypeError),
    (lambda: re.measure([1], 10, 1000, out=[0.0] * 10), TypeError),
    (lambda: re.set_frequency(100.0), TypeError),
    (lambda: hx2.set_sensor({1: 2.0}), TypeError),
    (lambda: hx2.set_sensor({1: "platinum"}, nominal="100"), TypeError),
    (lambda: varnode.Module(SOMEWHERE).burn("text"), TypeError),
    (lambda: varnode.find("3011"), TypeError),
    (lambda: varnode.configure(1, "198.18.0.50", "255.255.255.0", "0.0.0.0", text=5), TypeError),
    # a bad value: the ParameterError (result 3) the library would give
    (lambda: varnode.KL01("0.0.0.0"), varnode.ParameterError),
    (lambda: varnode.KL01(0xFFFFFFFF), varnode.ParameterError),
    (lambda: varnode.KL01("198.18.0"), varnode.ParameterError),
    (lambda: varnode.KL01(-1), varnode.ParameterError),
    (lambda: kl.read([]), varnode.ParameterError),
    (lambda: kl.read([0]), varnode.ParameterError),
    (lambda: kl.read([9]), varnode.ParameterError),
    (lambda: kl.read([3, 3]), varnode.ParameterError),
    (lambda: kl.write({}), varnode.ParameterError),
    (lambda: varnode.QU01(SOMEWHERE).enable([5]), varnode.ParameterError),
    (lambda: varnode.QU01(SOMEWHERE).set_mode({1: 4}), varnode.ParameterError),
    (lambda: re.measure([1], 0), varnode.ParameterError),
    (lambda: re.measure([1], 1_000_001, 1000), varnode.ParameterError),
    (lambda: re.measure([1], 2), varnode.ParameterError),  # no frequency for two samples
    (lambda: re.measure([1], 2, 5.9), varnode.ParameterError),
    (lambda: re.measure([1], 2, 3000.5), varnode.ParameterError),
    (lambda: re.measure([1, 2], 5, 100, out=numpy.empty((5, 2), numpy.float64)), varnode.ParameterError),
    (lambda: re.measure([1, 2], 5, 100, out=numpy.empty((2, 5), numpy.float32)), varnode.ParameterError),
    (lambda: re.measure([1, 2], 5, 100, out=numpy.empty((5, 2), numpy.float32, order="F")),
     varnode.ParameterError),
    (lambda: re.set_frequency(1000), varnode.ParameterError),
    (lambda: varnode.HX01(SOMEWHERE).set_sensor({1: "Q"}), varnode.ParameterError),
    (lambda: varnode.HX01(SOMEWHERE).set_sensor({1: 15}), varnode.ParameterError),
    (lambda: varnode.HX01(SOMEWHERE).measure([9]), varnode.ParameterError),
    (lambda: hx2.measure([5]), varnode.ParameterError),
    (lambda: hx2.set_sensor({1: 11}), varnode.ParameterError),
    (lambda: hx2.set_sensor({1: "platinum"}, range=3.0), varnode.ParameterError),
    (lambda: hx2.set_sensor({1: "platinum"}, current=0.01), varnode.ParameterError),
    (lambda: hx2.set_sensor({1: "platinum"}, current=0.0), varnode.ParameterError),
    (lambda: hx2.set_sensor({1: "voltage"}, nominal=0.5), varnode.ParameterError),
    (lambda: hx2.set_sensor({1: "platinum"}, nominal=float("nan")), varnode.ParameterError),
    (lambda: hx2.set_sensor({1: "platinum"}, range={2: 1.0}), varnode.ParameterError),
    (lambda: varnode.Module(SOMEWHERE).burn(bytes(65)), varnode.ParameterError),
    (lambda: setattr(varnode.Module(SOMEWHERE), "timeout", 0), varnode.ParameterError),
    (lambda: setattr(varnode.Module(SOMEWHERE), "timeout", 65536), varnode.ParameterError),
    (lambda: varnode.find([2**32]), varnode.ParameterError),
    (lambda: varnode.configure(1, "198.18.0.50", "255.255.255.0", "0.0.0.0", text="x" * 65),
     varnode.ParameterError),
    # an endless iterable is refused at once, not consumed
    (lambda: kl.read(itertools.repeat(1)), varnode.ParameterError),
    (lambda: varnode.QU01(SOMEWHERE).enable(itertools.count(1)), varnode.ParameterError),
    (lambda: re.measure(itertools.cycle([1, 2]), 10, 1000), varnode.ParameterError),
    (lambda: varnode.find(itertools.count(1)), varnode.ParameterError),
]


@pytest.mark.parametrize("call, refused", REFUSED)
def test_bad_arguments_are_refused_before_the_library(call, refused):
    with pytest.raises(refused):
        call()


def test_a_refused_value_names_the_c_function():
    with pytest.raises(varnode.ParameterError) as caught:
        re.measure([1, 9], 10, 1000)
    assert (caught.value.code, caught.value.function) == (3, "re01_measure")
