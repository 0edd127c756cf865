"""Seed sets, matchings and reports of seedmatch, with NumPy arrays.

Read two seed files (or build seed sets from arrays), pair them by auction and
evaluate the pairing; the report prints exactly as the ``seedmatch`` command
prints it, and its fields are available at full precision.
"""
from __future__ import annotations

import numbers
import os
import re
import sys
from typing import Union

from ._errors import FileError


def _launched_as_command() -> bool:
    """True while ``python3 -m seedmatch`` is importing this package to run it."""
    if sys.argv[:1] != ["-m"]:  # what Python sets while it locates the -m module
        return False
    given = getattr(sys, "orig_argv", ["seedmatch"])
    return any(re.fullmatch(r"(-\w*m)?seedmatch(\.__main__)?", arg) for arg in given)


def _cannot_import(message: str, cause: ImportError | None) -> None:
    """An ImportError, or for the command one line and status 2."""
    message = " ".join(message.split("\n"))
    if _launched_as_command():  # --help and --version still answer
        from ._cli import command_arguments, main
        raise SystemExit(main(command_arguments(), unavailable=message))
    raise ImportError(message) from cause


try:
    import numpy as np  # every array the package hands out is one
except ImportError as error:
    _cannot_import(f"cannot import NumPy, which seedmatch needs ({error}); on Debian, "
                   f"apt-get install python3-numpy and run /usr/bin/python3 (this is "
                   f"{sys.executable})", error)
try:
    from . import _core
    from ._core import Matching, SeedSet
    from ._version import __version__
except ImportError as error:
    _here = os.path.dirname(os.path.abspath(__file__))
    if not any(name.startswith("_core.") for name in os.listdir(_here)):
        # Python's own words for this ("circular import") would mislead.
        _cannot_import(f"the native part of seedmatch is not built in {_here}; build it with "
                       f"CMake for this Python, {sys.executable} "
                       f"{sys.version_info[0]}.{sys.version_info[1]} (the target python_package)",
                       None)
    _cannot_import(f"cannot load the native part of seedmatch ({error}); build seedmatch "
                   f"with CMake for this Python, {sys.executable} "
                   f"{sys.version_info[0]}.{sys.version_info[1]}", error)

__all__ = [
    "SeedFileError", "SeedSet", "Matching", "Report", "read_seeds", "match",
    "random_match", "evaluate", "pair_listing", "plot", "match_many",
    "TruthFileError", "Score", "read_truth", "score", "grid", "sweep", "plot_sweep",
    "Consistency", "consistency", "view", "Tracks", "FrameLinks", "track",
    "TrackScore", "read_track_truth", "score_tracks",
]

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


def _require(name: str, value, kind: type) -> None:
    if not isinstance(value, kind):
        raise TypeError(f"{name} must be a {kind.__name__}, not {type(value).__name__}")


def _number(name: str, value) -> float:
    """value as a float; anything but a real number raises TypeError naming the parameter."""
    if isinstance(value, numbers.Real):
        return float(value)
    try:  # a size-1 array or another type that converts itself
        if not isinstance(value, (str, bytes, complex)):
            return float(value)
    except (TypeError, ValueError):
        pass
    raise TypeError(f"{name} must be a number, not {type(value).__name__}")


def _weights(**named) -> list:
    return [_number(name, value) for name, value in named.items()]


class SeedFileError(FileError):
    """A seed file that cannot be read."""


def read_seeds(path: PathLike) -> SeedSet:
    """Read a seed file into a seed set, each seed with its histogram.

    Parameters
    ----------
    path : str, bytes or os.PathLike
        A seed file, plain or gzip.

    Returns
    -------
    SeedSet

    Raises
    ------
    SeedFileError
        At the first problem in the file; no partial set is returned.
    KeyboardInterrupt
        On Ctrl-C, within a tenth of a second, whatever the file is waiting on
        (a pipe that sends nothing, a FIFO without a writer).
    """
    return _read_seeds(path)


def _read_seeds(path: PathLike, cancel=None) -> SeedSet:
    """read_seeds, also stopped (KeyboardInterrupt) by cancel.is_set() turning true."""
    if not isinstance(path, (str, bytes, os.PathLike)):
        raise TypeError(f"path must be a str, bytes or os.PathLike, not {type(path).__name__}")
    raw = os.fsencode(path)
    if b"\0" in raw:  # the system would read the path only up to it
        raise ValueError("path must not contain a NUL byte")
    result = _core.read_seeds(raw, cancel)
    if isinstance(result, tuple):
        raw_path, line, column, message = result
        raise SeedFileError(message, os.fsdecode(raw_path),
                            line if line > 0 else None, column if line > 0 else None)
    return result


def match(set1: SeedSet, set2: SeedSet, seed_weight: float, hist_weight: float,
          rpd_weight: float, cost_limit: float) -> Matching:
    """Pair the seeds of set1 and set2 by auction, as the ``seedmatch`` command does.

    The GIL is released while the auction runs.

    Parameters
    ----------
    set1, set2 : SeedSet
    seed_weight, hist_weight, rpd_weight : float
        Weights of the descriptor, histogram and relative-position terms.
    cost_limit : float
        A pair is made only when its cost is below this.

    Returns
    -------
    Matching
        ``.table`` holds the rows [index in set1, index in set2, stored cost];
        -1.0 marks an unmatched row. ``.pairs`` holds the matched rows' indices.

    Raises
    ------
    TypeError
        Naming the parameter, for an argument of the wrong type.
    """
    _require("set1", set1, SeedSet)
    _require("set2", set2, SeedSet)
    return _core.match(set1, set2, *_weights(seed_weight=seed_weight, hist_weight=hist_weight,
                                             rpd_weight=rpd_weight, cost_limit=cost_limit))


def random_match(set1: SeedSet, set2: SeedSet, seed_weight: float, hist_weight: float,
                 rpd_weight: float, cost_limit: float) -> Matching:
    """Pair the seeds at random over the same costs, as ``seedmatch-random`` does.

    Parameters and result as for `match`. The generator is seeded with the time
    in seconds; cost_limit is ignored and ``passes`` is None.
    """
    _require("set1", set1, SeedSet)
    _require("set2", set2, SeedSet)
    return _core.random_match(set1, set2, *_weights(
        seed_weight=seed_weight, hist_weight=hist_weight, rpd_weight=rpd_weight,
        cost_limit=cost_limit))


class Report:
    """The evaluation of a matching.

    Per matched row, arrays: ``p`` and ``q`` (int64), and at full precision
    (float64) ``stored_cost``, ``seed_dist``, ``pcal``, ``cost``, ``d_desc0``, ``d_desc1``,
    ``d_desc2``, ``d_pts01``, ``d_desc4``, ``d_pts2``, ``pos_disp``. Summary:
    ``sum_cost``, ``avg_cost``, ``avg_rp`` (from stored distances), ``navg_rp``
    (from positions) and ``avg_d_desc0`` ... ``avg_d_pts2``, all None for an
    empty table; ``rows`` is the table's row count, the divisor of the means.
    ``str(report)`` is what ``seedmatch`` prints. ``consistency`` is the
    estimate of the rows without known pairs (see `consistency`), computed on
    first use; until then the report keeps its two seed sets.
    """

    def __init__(self, fields: dict, sets: tuple | None = None):
        self._text = fields.pop("text")
        self._sets = sets
        self._consistency = None
        self.__dict__.update(fields)

    @property
    def consistency(self) -> "Consistency":
        """The estimate of how far the rows (``p``, ``q``, in that order) can be trusted."""
        if self._consistency is None:
            if self._sets is None:
                raise ValueError("this report was made without its seed sets, so it cannot "
                                 "judge its pairs")
            self._consistency = consistency(*self._sets, np.stack([self.p, self.q], axis=1))
            self._sets = None
        return self._consistency

    def __getstate__(self) -> dict:
        # The seed sets stay behind; the estimate, which needs them, goes along.
        if self._sets is not None:
            self.consistency  # noqa: B018
        state = dict(self.__dict__)
        state["_sets"] = None
        return state

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

    Parameters
    ----------
    set1, set2 : SeedSet
        The sets the matching was made from.
    matching : Matching
    seed_weight, hist_weight : float
        Weights of the evaluation cost, which has no relative-position term.

    Returns
    -------
    Report
        Every field at full precision; ``str(report)`` is the printed report.

    Raises
    ------
    ValueError
        When the matching names seeds that the sets do not hold.
    """
    _require("set1", set1, SeedSet)
    _require("set2", set2, SeedSet)
    _require("matching", matching, Matching)
    return Report(_core.evaluate(set1, set2, matching, *_weights(
        seed_weight=seed_weight, hist_weight=hist_weight)), (set1, set2))


def pair_listing(set1: SeedSet, set2: SeedSet, matching: Matching) -> str:
    """The listing ``seedmatch-pairs`` prints.

    Parameters
    ----------
    set1, set2 : SeedSet
    matching : Matching

    Returns
    -------
    str
        Per matched row: its place in the table, p, q and the distance between
        the two positions.
    """
    _require("set1", set1, SeedSet)
    _require("set2", set2, SeedSet)
    _require("matching", matching, Matching)
    return _core.pair_listing(set1, set2, matching)


def plot(set1: SeedSet, set2: SeedSet, matching: Matching, seed_weight: float,
         hist_weight: float, cost_limit: float):
    """A picture of a pairing.

    Both sets on their two widest axes, one segment per pair coloured by its
    evaluation cost, the doubtful pairs (those the estimate does not trust, see
    `consistency`) dashed in red and the unmatched seeds marked apart, each
    kind in the legend; beyond 400 seeds in set1,
    only a slab across the third axis holding the middle 400 of them. Beside it,
    histograms of the stored costs (cost limit drawn) and of the displacements of
    all pairs. The title gives the pairs, mean cost and mean relative-position
    error in words, and the estimated precision, recall and F1; the report's
    summary line is the caption.

    Parameters
    ----------
    set1, set2 : SeedSet
    matching : Matching
    seed_weight, hist_weight : float
        As for `evaluate`.
    cost_limit : float
        Drawn on the histogram of stored costs.

    Returns
    -------
    matplotlib.figure.Figure
        Made without pyplot; saving it renders with Agg.
    """
    from ._picture import pairing_figure
    report = evaluate(set1, set2, matching, seed_weight, hist_weight)
    return pairing_figure(set1, set2, report, _number("cost_limit", cost_limit))


def view(set1: SeedSet, set2: SeedSet, matching: Matching, seed_weight: float,
         hist_weight: float, cost_limit: float):
    """A pairing in 3D, to turn, zoom and hover in a browser.

    Both sets as markers, each pair a segment coloured by its evaluation cost on
    the scale and colours of `plot`, the unmatched seeds of either file marked,
    and the pairs that `Report.consistency` doubts in a trace of their own,
    dashed. Hovering over either seed of a pair shows its line of the report
    (both indices, stored cost, evaluation cost and its terms, displacement) and
    its trust score. Each legend entry shows or hides its trace. Coordinates are
    rounded to a hundred-thousandth of the scene's extent.

    Parameters
    ----------
    set1, set2 : SeedSet
    matching : Matching
    seed_weight, hist_weight : float
        As for `evaluate`.
    cost_limit : float
        Named in the caption, beside the report's summary line.

    Returns
    -------
    plotly.graph_objects.Figure
        ``figure.write_html(path)`` writes one page with plotly.js inside, which
        opens from a file with no network.

    Raises
    ------
    ImportError
        When plotly is missing, saying how to install it.
    """
    from ._view import need_plotly, pairing_view
    need_plotly()
    report = evaluate(set1, set2, matching, seed_weight, hist_weight)
    return pairing_view(set1, set2, report, _number("cost_limit", cost_limit))


from ._consistency import Consistency, consistency  # noqa: E402
from ._linking import FrameLinks, track  # noqa: E402
from ._many import match_many  # noqa: E402  (it runs the functions above)
from ._sweep import grid, plot_sweep, sweep  # noqa: E402
from ._truth import Score, TruthFileError, read_truth, score  # noqa: E402
from ._tracks import Tracks  # noqa: E402
from ._track_scores import TrackScore, read_track_truth, score_tracks  # noqa: E402
