"""Seed sets, matchings and reports of seedmatch, with NumPy arrays.

Read two seed files (or build seed sets from arrays), pair them by auction and
evaluate the pairing; the report prints exactly as the ``seedmatch`` command
prints it, and its fields are available at full precision.
"""
from __future__ import annotations

import os
from typing import Union

from . import _core
from ._core import Matching, SeedSet

__all__ = [
    "SeedFileError", "SeedSet", "Matching", "Report", "read_seeds", "match",
    "random_match", "evaluate", "pair_listing", "plot", "match_many",
    "TruthFileError", "Score", "read_truth", "score", "grid", "sweep", "plot_sweep",
]

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


class SeedFileError(ValueError):
    """A seed file that cannot be read.

    ``str(error)`` is the line the commands print, ``seedmatch:FILE:LINE:COLUMN:
    what is wrong``. ``line`` and ``column`` count from 1 and are None when the
    problem has no place in the file (it could not be opened).
    """

    def __init__(self, message: str, path: str, line: int | None, column: int | None):
        super().__init__(message)
        self.path = path
        self.line = line
        self.column = column

    def __reduce__(self):
        return type(self), (str(self), self.path, self.line, self.column)


def read_seeds(path: PathLike) -> SeedSet:
    """Read a seed file into a seed set, each seed with its histogram.

    Raises SeedFileError at the first problem in the file; no partial set is
    returned.
    """
    raw = os.fsencode(path)
    if b"\0" in raw:  # the system would read the path only up to it
        raise ValueError("path must not contain a NUL byte")
    result = _core.read_seeds(raw)
    if isinstance(result, tuple):
        raw_path, line, column, message = result
        raise SeedFileError(message, os.fsdecode(raw_path),
                            line if line > 0 else None, column if line > 0 else None)
    return result


def match(set1: SeedSet, set2: SeedSet, seed_weight: float, hist_weight: float,
          rpd_weight: float, cost_limit: float) -> Matching:
    """Pair the seeds of set1 and set2 by auction, as the ``seedmatch`` command does.

    The GIL is released while the auction runs. ``Matching.table`` holds the
    rows [index in set1, index in set2, stored cost]; -1.0 marks an unmatched row.
    """
    return _core.match(set1, set2, seed_weight, hist_weight, rpd_weight, cost_limit)


def random_match(set1: SeedSet, set2: SeedSet, seed_weight: float, hist_weight: float,
                 rpd_weight: float, cost_limit: float) -> Matching:
    """Pair the seeds at random over the same costs, as ``seedmatch-random`` does.

    The generator is seeded with the time in seconds; cost_limit is ignored and
    ``passes`` is None.
    """
    return _core.random_match(set1, set2, seed_weight, hist_weight, rpd_weight, cost_limit)


class Report:
    """The evaluation of a matching.

    Per matched row, float64 arrays at full precision: ``p``, ``q``,
    ``stored_cost``, ``seed_dist``, ``pcal``, ``cost``, ``d_desc0``, ``d_desc1``,
    ``d_desc2``, ``d_pts01``, ``d_desc4``, ``d_pts2``, ``pos_disp``. Summary:
    ``sum_cost``, ``avg_cost``, ``avg_rp`` (from stored distances), ``navg_rp``
    (from positions) and ``avg_d_desc0`` ... ``avg_d_pts2``, all None for an
    empty table; ``rows`` is the table's row count, the divisor of the means.
    ``str(report)`` is what ``seedmatch`` prints.
    """

    def __init__(self, fields: dict):
        self._text = fields.pop("text")
        self.__dict__.update(fields)

    def __str__(self) -> str:
        return self._text

    def __len__(self) -> int:
        return len(self.p)

    def __repr__(self) -> str:
        if self.sum_cost is None:
            return "<seedmatch.Report: no pair>"
        return (f"<seedmatch.Report: {len(self)} pairs, sum {self.sum_cost:.6g}, "
                f"avg {self.avg_cost:.6g}>")


def evaluate(set1: SeedSet, set2: SeedSet, matching: Matching, seed_weight: float,
             hist_weight: float) -> Report:
    """Evaluate a matching of set1 and set2, as ``seedmatch`` reports it.

    Raises ValueError when the matching names seeds that the sets do not hold.
    """
    return Report(_core.evaluate(set1, set2, matching, seed_weight, hist_weight))


def pair_listing(set1: SeedSet, set2: SeedSet, matching: Matching) -> str:
    """The listing ``seedmatch-pairs`` prints: table row, p, q and the distance
    between the two positions, per matched row."""
    return _core.pair_listing(set1, set2, matching)


def plot(set1: SeedSet, set2: SeedSet, matching: Matching, seed_weight: float,
         hist_weight: float, cost_limit: float):
    """A picture of a pairing, as a matplotlib Figure (Agg backend).

    Both sets on their two widest axes with one segment per pair coloured by
    evaluation cost, the unmatched seeds marked apart, histograms of the stored
    costs (cost limit drawn) and of the displacements, and the summary in the title.
    """
    from ._picture import pairing_figure
    report = evaluate(set1, set2, matching, seed_weight, hist_weight)
    return pairing_figure(set1, set2, report, cost_limit)


from ._many import match_many  # noqa: E402  (it runs the functions above)
from ._sweep import grid, sweep  # noqa: E402
from ._sweep_picture import plot_sweep  # noqa: E402
from ._truth import Score, TruthFileError, read_truth, score  # noqa: E402
