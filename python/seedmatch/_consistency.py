"""How far a pairing can be trusted, judged without known pairs."""
from __future__ import annotations

from dataclasses import dataclass

import numpy as np

from . import _core

DEFAULT_NEIGHBOURS = 10


@dataclass(frozen=True, repr=False, eq=False)
class Consistency:
    """The estimate of one pairing (see `consistency`).

    Attributes
    ----------
    pairs : (M, 2) int64 array
        The pairs judged, (index in set1, index in set2), in the order given.
    score : (M,) float64 array
        Per pair, in [0, 1], the chance that the pair is right, given how well
        it agrees with the pairs around it.
    trusted : (M,) bool array
        The pairs the estimate counts as right (score above 0.5); ``~trusted``
        are the doubtful ones.
    est_true_pairs : float
        The estimated number of right pairs: the sum of the scores.
    est_missed_pairs : float
        The estimated number of seeds of set1 that have a partner in set2 the
        pairing does not give them.
    est_precision, est_recall, est_f1 : float
        As a truth would score the pairing: est_true_pairs over the pairs,
        over est_true_pairs + est_missed_pairs, and their harmonic mean.
        All 0.0 for an empty pairing.
    neighbours : int
        The k used: each pair was checked against its k nearest other pairs.
    scale : float
        The growth found: distances in set2 over those in set1.
    tolerance : float
        The spread of the right pairs' disagreements, in units of distance.
    """

    pairs: np.ndarray
    score: np.ndarray
    trusted: np.ndarray
    est_true_pairs: float
    est_missed_pairs: float
    est_precision: float
    est_recall: float
    est_f1: float
    neighbours: int
    scale: float
    tolerance: float

    def __len__(self) -> int:
        return len(self.pairs)

    def __repr__(self) -> str:
        return (f"<seedmatch.Consistency: {len(self)} pairs, {int(self.trusted.sum())} trusted; "
                f"est_true_pairs={self.est_true_pairs:.6g}, "
                f"est_precision={self.est_precision:.6g}, est_recall={self.est_recall:.6g}, "
                f"est_f1={self.est_f1:.6g}; neighbours={self.neighbours}>")


def pairs_of(pairs) -> np.ndarray:
    """A Matching's matched rows, or an (M, 2) integer array, as (M, 2) int64."""
    if isinstance(pairs, _core.Matching):
        return pairs.pairs
    array = np.asarray(pairs)
    if array.size == 0 and array.ndim <= 2:
        return np.zeros((0, 2), dtype=np.int64)
    if array.dtype.kind not in "iu" or array.ndim != 2 or array.shape[1] != 2:
        raise ValueError("pairs must be a Matching or an (M, 2) array of integers, got "
                         f"an array of shape {array.shape} and type {array.dtype}")
    return array.astype(np.int64)


def consistency(set1, set2, pairs, *, neighbours: int | None = None) -> Consistency:
    """Judge a pairing of set1 and set2 without known pairs.

    A right pair agrees with the right pairs around it: the distance from its
    seed to their seeds in set1 is close to the distance between the partners
    in set2. Each pair is checked against its k nearest other pairs, by the
    distances each file stores (not the positions), with a tolerance found
    from the data; see docs/estimate.md for how, and where it fails.

    Parameters
    ----------
    set1, set2 : SeedSet
    pairs : Matching or (M, 2) array of integers
        Any one-to-one pairing: (index in set1, index in set2) per pair; of a
        Matching, its matched rows in table order.
    neighbours : int, optional
        k, the other pairs each pair is checked against; 10 by default.

    Returns
    -------
    Consistency

    Raises
    ------
    ValueError
        Naming the argument: a seed with fewer distances than its set has
        seeds, an index outside its set, a seed in two pairs, or pairs that
        are not an (M, 2) integer array.
    """
    from . import _number, _require
    _require("set1", set1, _core.SeedSet)
    _require("set2", set2, _core.SeedSet)
    k = DEFAULT_NEIGHBOURS if neighbours is None else _number("neighbours", neighbours)
    if k != int(k) or not 1 <= k < 2**31:
        raise ValueError(f"neighbours must be a whole number of at least 1, not {neighbours!r}")
    if isinstance(pairs, _core.Matching):
        pairs._require_made_from(set1, set2)
    judged = pairs_of(pairs)
    fields = _core.consistency(set1, set2, np.ascontiguousarray(judged), int(k))
    judged = judged.copy() if judged.flags.writeable else judged
    judged.setflags(write=False)
    return Consistency(pairs=judged, **fields)
