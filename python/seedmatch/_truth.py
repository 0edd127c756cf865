"""Known pairs, and how many of a matching's pairs they confirm."""
from __future__ import annotations

import os
import re
from dataclasses import dataclass

import numpy as np

from . import _core
from ._errors import FileError, error_line

_FIELD = re.compile(r"[^\t, ]+")
_INTEGER = re.compile(r"[+-]?\d+")
_NUMBER = re.compile(r"[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?")
LARGEST_INDEX = 2**31 - 1  # seed indices are 32-bit


class TruthFileError(FileError):
    """A file of true pairs that cannot be read."""


def truth_lines(path: str | os.PathLike) -> tuple[str, list[str]]:
    """The file's name and its lines; a TruthFileError when it cannot be read."""
    name = os.fsdecode(path)
    try:
        with open(path, encoding="utf-8", errors="replace") as file:
            return name, file.read().splitlines()
    except OSError as error:
        reason = _core.system_error_text(error.errno) if error.errno else str(error)
        raise TruthFileError(error_line(f"cannot open: {reason}", name), name, None, None) \
            from None


def read_truth(path: str | os.PathLike, set1=None, set2=None) -> np.ndarray:
    """Read the true pairs of two seed files.

    Parameters
    ----------
    path : str or os.PathLike
        A text file of two integer columns, the index of a seed in file 1 and
        the index of its partner in file 2, counted from 0, separated by tabs,
        commas or spaces. A first line that holds no number is a header; ``#``
        starts a comment; blank lines are skipped.
    set1, set2 : SeedSet, optional
        The seeds of the two files; an index beyond its set is then refused.

    Returns
    -------
    numpy.ndarray
        (M, 2) int64 array of the pairs, in file order.

    Raises
    ------
    TruthFileError
        A ValueError naming the file, line and column of the first line that is
        not two integers, holds a negative index or one beyond its set (or
        beyond 32 bits), or pairs a seed a second time.
    """
    name, lines = truth_lines(path)

    def fail(number: int, column: int, what: str):
        raise TruthFileError(error_line(what, name, number, column), name, number, column)

    sizes = [LARGEST_INDEX + 1 if s is None else len(s) for s in (set1, set2)]
    pairs: list[tuple[int, int]] = []
    first_of = ({}, {})  # per file: index -> line that paired it
    header_possible = True
    for number, line in enumerate(lines, start=1):
        text = line.split("#", 1)[0].rstrip()
        fields = [(m.start() + 1, m.group()) for m in _FIELD.finditer(text)]
        if not fields:
            continue
        if header_possible:
            header_possible = False
            if not any(_NUMBER.fullmatch(field) for _, field in fields):
                continue
        if len(fields) != 2:
            column = fields[2][0] if len(fields) > 2 else len(text) + 1
            fail(number, column, f"expected two indices, found {len(fields)} fields")
        indices = []
        for side, (column, field) in enumerate(fields):
            if not _INTEGER.fullmatch(field):
                fail(number, column, f"expected an index of file {side + 1} (an integer), "
                                     f"found '{field}'")
            value = int(field)
            if value < 0:
                fail(number, column, f"index {value} of file {side + 1} is negative")
            if value > LARGEST_INDEX:
                fail(number, column, f"index {value} of file {side + 1} is beyond any seed "
                                     f"index (at most {LARGEST_INDEX})")
            if value >= sizes[side]:
                fail(number, column, f"index {value} of file {side + 1} is beyond its seeds "
                                     f"(the file holds {sizes[side]})")
            if value in first_of[side]:
                fail(number, column, f"seed {value} of file {side + 1} is paired again "
                                     f"(first on line {first_of[side][value]})")
            first_of[side][value] = number
            indices.append(value)
        pairs.append((indices[0], indices[1]))
    return np.array(pairs, dtype=np.int64).reshape(-1, 2)


@dataclass(frozen=True)
class Score:
    """How a matching's pairs agree with the true pairs.

    ``pairs`` matched rows counted, ``truth_pairs`` true pairs, ``true_pairs``
    counted rows that are true pairs; ``precision`` = true_pairs / pairs,
    ``recall`` = true_pairs / truth_pairs, ``f1`` = 2 * true_pairs / (pairs +
    truth_pairs), their harmonic mean. A ratio over nothing is 0.0.
    """

    pairs: int
    truth_pairs: int
    true_pairs: int
    precision: float
    recall: float
    f1: float


def _ratio(part: int, whole: int) -> float:
    return part / whole if whole else 0.0


def integer_rows(value, columns: int, what: str) -> np.ndarray:
    """value as an (N, columns) int64 array; else a ValueError, "{what}, got ..."."""
    array = np.asarray(value)
    if array.size == 0:
        return np.zeros((0, columns), np.int64)
    if array.ndim != 2 or array.shape[1] != columns or array.dtype.kind not in "iu":
        raise ValueError(f"{what}, got {array.dtype} of shape {array.shape}")
    return array.astype(np.int64)


def checked_truth(truth) -> np.ndarray:
    """truth as an (M, 2) int64 array of indices, each seed paired at most once."""
    pairs = integer_rows(truth, 2, "truth must be an (M, 2) array of integers")
    if (pairs < 0).any():
        raise ValueError("truth holds a negative index")
    for side in (0, 1):
        if len(np.unique(pairs[:, side])) != len(pairs):
            raise ValueError(f"truth pairs a seed of file {side + 1} twice")
    return pairs


def matched_pairs(matching) -> np.ndarray:
    """The (p, q) of a matching's matched rows, indices truncated as the reports take them."""
    table = np.asarray(getattr(matching, "table", matching), dtype=np.float64)
    if table.size == 0:
        return np.zeros((0, 2), np.int64)
    if table.ndim != 2 or table.shape[1] != 3:
        raise ValueError(f"matching must be a Matching or an (R, 3) table, got shape "
                         f"{table.shape}")
    matched = np.flatnonzero(table[:, 2] != -1.0)
    indices = table[matched, :2]
    with np.errstate(invalid="ignore"):
        bad = ~((indices >= 0) & (indices <= LARGEST_INDEX) & (indices == np.trunc(indices)))
    if bad.any():
        row, column = np.argwhere(bad)[0]
        raise ValueError(f"matching row {matched[row]} holds {indices[row, column]!r} as its "
                         f"index in set {column + 1}, which is not a seed index (a whole "
                         f"number from 0 to {LARGEST_INDEX})")
    return indices.astype(np.int64)


def score(matching, truth, partial: bool = False) -> Score:
    """Score a matching against the true pairs.

    Parameters
    ----------
    matching : Matching or (R, 3) array
        Its matched rows (cost not exactly -1.0) are the pairs made.
    truth : (M, 2) array of integers
        The true pairs, as ``read_truth`` returns them.
    partial : bool
        False: the truth is complete, and every pair made counts. True: only
        the seeds of file 1 that the truth names were annotated, and only pairs
        made for those seeds count (a frame annotated in part).

    Returns
    -------
    Score

    Raises
    ------
    ValueError
        For a matched row whose index is not a whole number from 0 to 2^31 - 1
        (NaN, 0.5, -1), and for a truth that is not an (M, 2) integer array
        pairing each seed at most once.
    """
    made = matched_pairs(matching)
    pairs = checked_truth(truth)
    if partial:
        made = made[np.isin(made[:, 0], pairs[:, 0])]
    # Looked up in the sorted truth: memory grows with the pairs, not with their indices.
    order = np.argsort(pairs[:, 0], kind="stable")
    firsts, partners = pairs[order, 0], pairs[order, 1]
    at = np.minimum(np.searchsorted(firsts, made[:, 0]), max(len(firsts) - 1, 0))
    true_pairs = int(np.count_nonzero((firsts[at] == made[:, 0]) & (partners[at] == made[:, 1]))
                     if len(firsts) else 0)
    return Score(len(made), len(pairs), true_pairs, _ratio(true_pairs, len(made)),
                 _ratio(true_pairs, len(pairs)), _ratio(2 * true_pairs, len(made) + len(pairs)))
