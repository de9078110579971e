"""Exceptions: one class per result code of the C library, all under Error."""
from __future__ import annotations

import builtins
from typing import Dict, NoReturn, Optional, Type

CODE_NAMES = {
    1: "error",
    2: "failed",
    3: "parameter",
    4: "network",
    5: "not found",
    6: "time-out",
    7: "aborted",
    8: "reserved",
    9: "configuration",
}


class Error(Exception):
    """A call that did not succeed.

    ``code`` is the library's result code (1 to 9) and ``function`` the name of
    the C function that returned it, or of the Python method that refused the
    arguments before calling the library. Code 1, any other failure, raises
    this class itself.
    """

    code: int = 1

    def __init__(self, function: str, message: Optional[str] = None, code: Optional[int] = None) -> None:
        if code is not None:
            self.code = code
        self.function = function
        self.message = message if message is not None else CODE_NAMES.get(self.code, "unknown result")
        Exception.__init__(self, f"{function}: {self.message} (result {self.code})")

    def __str__(self) -> str:
        return f"{self.function}: {self.message} (result {self.code})"

    def __reduce__(self):  # type: ignore[no-untyped-def]
        return (type(self), (self.function, self.message, self.code))


class FailedError(Error):
    """The module answered, but not as the command expects (result 2)."""

    code = 2


class ParameterError(Error, ValueError):
    """A bad argument; nothing was sent (result 3)."""

    code = 3


class NetworkError(Error, OSError):
    """Sockets, interfaces or sending failed (result 4)."""

    code = 4


class NotFoundError(Error, LookupError):
    """find: a requested serial number did not answer within 1 s (result 5)."""

    code = 5


class TimeoutError(Error, builtins.TimeoutError):
    """No matching reply within the module's time-out (result 6)."""

    code = 6


class AbortedError(Error):
    """The module aborted the operation (result 7)."""

    code = 7


class ReservedError(Error):
    """The module is busy, e.g. with another measurement (result 8)."""

    code = 8


class ConfigurationError(Error):
    """The module's configuration forbids the operation (result 9)."""

    code = 9


BY_CODE: Dict[int, Type[Error]] = {
    cls.code: cls
    for cls in (FailedError, ParameterError, NetworkError, NotFoundError, TimeoutError, AbortedError,
                ReservedError, ConfigurationError)
}


def raise_for(code: int, function: str) -> NoReturn:
    """Raise the exception of result `code` returned by C function `function`."""
    cls = BY_CODE.get(code, Error)
    raise cls(function, code=code)


def refuse(function: str, message: str) -> NoReturn:
    """Refuse a bad value before the library is called, as the library would."""
    raise ParameterError(function, message)
