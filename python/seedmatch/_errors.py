"""The error every file the package reads raises, and the line errors print."""
from __future__ import annotations


def error_line(what: str, path: str | None = None, line: int | None = None,
               column: int | None = None) -> str:
    """``seedmatch: what``, ``seedmatch:FILE: what`` or
    ``seedmatch:FILE:LINE:COLUMN: what``, as every error of the package reads."""
    where = "" if path is None else f"{path}:" if line is None else f"{path}:{line}:{column}:"
    return f"seedmatch:{where} {what}"


class FileError(ValueError):
    """A file that cannot be read.

    ``str(error)`` is the line the commands print, ``seedmatch:FILE:LINE:COLUMN:
    what is wrong``, or ``seedmatch:FILE: what is wrong`` when the problem has no
    place in the file (it could not be opened); ``line`` and ``column`` count
    from 1 and are then None.
    """

    def __init__(self, message: str, path: str, line: int | None, column: int | None):
        super().__init__(message)
        self.path = path
        self.line = line
        self.column = column

    def __reduce__(self):
        return type(self), (str(self), self.path, self.line, self.column)
