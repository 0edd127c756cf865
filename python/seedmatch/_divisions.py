"""Divisions: a seed of frame t+1 that no pair holds, taken as the second
daughter of a paired seed of frame t.

Where a mother divides, her partner in t+1 is one daughter, and the other
lies close beside it, unpaired. Seen from where the mother would be in t+1
(her position moved as the pairs around her moved), the midpoint of the two
daughters lies closer than the paired daughter alone; beside a seed that did
not divide, a newcomer moves the midpoint away. So a candidate is an unpaired
seed j of t+1 within one spacing (the median distance to the nearest seed) of
a paired seed k, whose partner in t is i; its gain is

    |k - p_i| - |(k + j) / 2 - p_i|,

with p_i the predicted place of i. Candidates of positive gain are taken, the
largest gain first, each seed of t+1 for one mother and each mother for one
second daughter.
"""
from __future__ import annotations

import numpy as np

# Pairs around a mother whose movement predicts hers.
MOTION_NEIGHBOURS = 8


def predicted_places(p1: np.ndarray, p2: np.ndarray, pairs: np.ndarray) -> np.ndarray:
    """Per pair, where its seed of t would be in t+1 had it moved as the pairs
    around it (their median displacement, its own left out)."""
    from scipy.spatial import cKDTree
    start = p1[pairs[:, 0]]
    moved = p2[pairs[:, 1]] - start
    if len(pairs) < 2:
        return start
    k = min(MOTION_NEIGHBOURS + 1, len(pairs))
    _, around = cKDTree(start).query(start, k=k)
    return start + np.median(moved[around[:, 1:]], axis=1)


def division_candidates(p1: np.ndarray, p2: np.ndarray, pairs: np.ndarray) -> tuple:
    """(pair index, unpaired seed of t+1, gain) of every candidate of positive gain."""
    from scipy.spatial import cKDTree
    from ._linking import spacing
    unpaired = np.setdiff1d(np.arange(len(p2)), pairs[:, 1])
    nothing = (np.zeros(0, np.int64), np.zeros(0, np.int64), np.zeros(0))
    if len(pairs) == 0 or len(unpaired) == 0:
        return nothing
    reach = spacing(p2)
    close = cKDTree(p2[pairs[:, 1]]).query_ball_point(p2[unpaired], reach)
    which = np.array([q for near in close for q in near], dtype=np.int64)
    if len(which) == 0:
        return nothing
    lone = np.repeat(unpaired, [len(near) for near in close])
    place = predicted_places(p1, p2, pairs)[which]
    paired = p2[pairs[which, 1]]
    alone = np.linalg.norm(paired - place, axis=1)
    together = np.linalg.norm(0.5 * (paired + p2[lone]) - place, axis=1)
    gain = alone - together
    keep = gain > 0.0
    return which[keep], lone[keep], gain[keep]


def find_divisions(set1, set2, pairs: np.ndarray) -> np.ndarray:
    """(mother in t, second daughter in t+1) of each division found, by mother."""
    p1 = np.asarray(set1.positions, dtype=np.float64).reshape(-1, 3)
    p2 = np.asarray(set2.positions, dtype=np.float64).reshape(-1, 3)
    pairs = np.asarray(pairs, dtype=np.int64).reshape(-1, 2)
    which, lone, gain = division_candidates(p1, p2, pairs)
    mothers, daughters = set(), set()
    found = []
    for n in np.argsort(-gain, kind="stable"):
        q, j = int(which[n]), int(lone[n])
        if q in mothers or j in daughters:
            continue
        mothers.add(q)
        daughters.add(j)
        found.append((int(pairs[q, 0]), j))
    return np.array(sorted(found), dtype=np.int64).reshape(-1, 2)
