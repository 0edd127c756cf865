"""What the commands check before they write: that no output is one of their
inputs, that no two inputs are one stream, and pictures written whole."""
from __future__ import annotations

import io
import os
import stat
import sys
from typing import Mapping, Optional, Sequence

STANDARD_INPUT = "-"  # as an input
STANDARD_OUTPUT = "-"  # as an output


def _status(path: str, stream) -> Optional[os.stat_result]:
    """The file path names ("-" the stream), or None when there is none."""
    try:
        return os.fstat(stream.fileno()) if path == "-" else os.stat(path)
    except (OSError, ValueError, AttributeError):  # no such file, or the stream is closed
        return None


def _name(path: str, stream: str = "standard input") -> str:
    return stream if path == "-" else path


def check_paths(inputs: Sequence[Optional[str]], outputs: Mapping[str, Optional[str]]) -> None:
    """Refuse, before anything is read or written, outputs that would overwrite an
    input or each other, and two inputs that are one pipe, FIFO or terminal.

    Files are compared by device and inode, so that any two names of one file
    are caught; an output that does not exist yet is compared with the other
    outputs by its resolved path. A terminal or pipe given as both an input and
    an output is left alone: writing to it overwrites nothing. inputs are paths
    ("-" for standard input; None is skipped); outputs map the option that names each ("-o", "--plot", ...) to its path, "-" for
    standard output, or None.

    Raises
    ------
    ValueError
        Saying which two names are one file.
    """
    given = [path for path in inputs if path is not None]
    found = [(path, _status(path, sys.stdin)) for path in given]
    for k, (path, status) in enumerate(found):
        for other, seen in found[:k]:
            if status is None or seen is None or stat.S_ISREG(status.st_mode):
                continue
            if (status.st_dev, status.st_ino) == (seen.st_dev, seen.st_ino):
                raise ValueError(f"{_name(path)} is the same stream as {_name(other)}, which "
                                 f"can stand for only one of the input files")
    written: list[tuple[str, str, Optional[os.stat_result]]] = []
    for option, path in outputs.items():
        if path is None:
            continue
        status = _status(path, sys.stdout)
        for other, seen in found:
            if status is not None and seen is not None and stat.S_ISREG(status.st_mode) and \
                    (status.st_dev, status.st_ino) == (seen.st_dev, seen.st_ino):
                where = _name(path, "standard output") if path == STANDARD_OUTPUT \
                    else f"{option} {path}"
                raise ValueError(f"{where} would overwrite the input {_name(other)}")
        if path == STANDARD_OUTPUT:
            continue
        for other_option, other, seen in written:
            if (status.st_dev, status.st_ino) == (seen.st_dev, seen.st_ino) \
                    if status is not None and seen is not None \
                    else os.path.realpath(path) == os.path.realpath(other):
                raise ValueError(f"{option} {path} and {other_option} {other} name the same "
                                 f"file")
        written.append((option, path, status))


def write_error(path: Optional[str], error: OSError) -> ValueError:
    """The error of an output that could not be written, in the commands' words;
    path None is standard output."""
    reason = (error.strerror or str(error)).lower()
    return ValueError(f"cannot write {path if path is not None else 'standard output'}: "
                      f"{reason}")


def save_figure(figure, path: str, **options) -> None:
    """Render figure in memory, in the format path's extension names, then
    write it, so that a full disk is reported as one and not as the renderer's
    own failure. options go to savefig.

    Raises
    ------
    ValueError
        "cannot write PATH: why".
    """
    picture = io.BytesIO()
    figure.savefig(picture, format=os.path.splitext(path)[1][1:].lower(), **options)
    try:
        with open(path, "wb") as out:
            out.write(picture.getbuffer())
    except OSError as error:
        raise write_error(path, error) from None
