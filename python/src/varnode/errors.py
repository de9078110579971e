"""Exceptions: one class per result code of the C library, all under Error."""
from __future__ import annotations

import builtins
from typing import Dict, NoReturn, Optional, Type

from . import catalogue

CODE_NAMES = dict(enumerate(catalogue.RESULT_WORDS))
del CODE_NAMES[0]


class Error(Exception):
    """A call that did not succeed.

    ``code`` is the library's result code (1 to 9) and ``function`` the name of
    the C function that returned it, or of the Python method that refused the
    arguments before calling the library. Code 1, any other failure, raises
    this class itself.

    :param str function: the C function or Python method that failed.
    :param message: what went wrong; by default the result code's word.
    :type message: str or None
    :param code: the result code; by default the class's own.
    :type code: int or None
    :ivar int code: the result code.
    :ivar str function: the function that failed.
    :ivar str message: what went wrong.

    >>> try:
    ...     varnode.KL01("198.18.0.11").read([0])
    ... except varnode.Error as failure:
    ...     print(type(failure).__name__, failure.code, failure.function)
    ParameterError 3 kl01_read
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
    """A bad argument; nothing was sent (result 3). Also a ValueError."""

    code = 3


class NetworkError(Error, OSError):
    """Sockets, interfaces or sending failed (result 4). Also an OSError."""

    code = 4


class NotFoundError(Error, LookupError):
    """find: a requested serial number did not answer within 1 s (result 5). Also a LookupError."""

    code = 5


class TimeoutError(Error, builtins.TimeoutError):
    """No matching reply within the module's time-out (result 6). Also the built-in TimeoutError."""

    code = 6


class AbortedError(Error):
    """The module aborted the operation (result 7): RA01 and RE01 measure."""

    code = 7


class ReservedError(Error):
    """The module is busy, e.g. with another measurement (result 8): RA01 and RE01 measure."""

    code = 8


class ConfigurationError(Error):
    """The module's configuration forbids the operation (result 9): KL01/KL02 read and write,
    RA01/RE01 and HX01/HX02 measure."""

    code = 9


BY_CODE: Dict[int, Type[Error]] = {
    cls.code: cls
    for cls in (FailedError, ParameterError, NetworkError, NotFoundError, TimeoutError, AbortedError,
                ReservedError, ConfigurationError)
}


def raise_for(code: int, function: str) -> NoReturn:
    """Raise the exception of result `code` returned by C function `function`.

    :param int code: a result code other than 0.
    :param str function: the C function's name.
    :raises Error: always, as the subclass of `code` (Error itself for an unknown code).
    """
    cls = BY_CODE.get(code, Error)
    raise cls(function, code=code)


def refuse(function: str, message: str) -> NoReturn:
    """Refuse a bad value before the library is called, as the library would.

    :param str function: the refusing function's name.
    :param str message: what is wrong with the value.
    :raises ParameterError: always.
    """
    raise ParameterError(function, message)
