"""Divisions: a seed of frame t+1 that no pair holds, taken as the second
daughter of a paired seed of frame t (see docs/tracks.md).

Where a mother divides, her partner in t+1 is one daughter and the other lies
close beside it, unpaired. Seen from where the mother would be in t+1 (her
position moved as the pairs around her moved), the midpoint of the daughters
lies nearer than the paired daughter alone; beside a seed that did not
divide, a newcomer moves the midpoint away. And each daughter has about half
her mother's size, where the seeds carry a size.
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


def sizes_of(set1, set2) -> tuple | None:
    """Each seed's size in both frames: the sum of its point counts where they
    differ between seeds; else the cube of desc[0] where that is one positive
    value that differs between seeds (a diameter); else None."""
    def varied(values: np.ndarray) -> bool:
        return len(values) > 0 and np.ptp(values) > 0 and bool((values > 0).all())
    counts = [np.asarray(s.point_counts, dtype=np.float64).sum(axis=1) for s in (set1, set2)]
    if all(varied(c) for c in counts):
        return tuple(counts)
    first = [np.asarray(s.descriptors[0], dtype=np.float64) for s in (set1, set2)]
    if all(f.shape[1:] == (1,) and varied(f[:, 0]) for f in first):
        return tuple(f[:, 0] ** 3 for f in first)
    return None


def division_candidates(p1: np.ndarray, p2: np.ndarray, pairs: np.ndarray,
                        sizes: tuple | None = None) -> tuple:
    """(pair index, unpaired seed of t+1, score) of every candidate of positive score."""
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
    places = predicted_places(p1, p2, pairs)
    off = np.linalg.norm(p2[pairs[:, 1]] - places, axis=1)
    miss = max(float(np.median(off)), 1e-9 * reach)  # how far pairs land from their place
    place, paired = places[which], p2[pairs[which, 1]]
    alone = np.linalg.norm(paired - place, axis=1)
    together = np.linalg.norm(0.5 * (paired + p2[lone]) - place, axis=1)
    score = (alone - together) / miss
    if sizes is not None:
        size1, size2 = sizes
        mother = size1[pairs[which, 0]]
        score += np.minimum(halving(size2[pairs[which, 1]] / mother),
                            halving(size2[lone] / mother))
    keep = score > 0.0
    return which[keep], lone[keep], score[keep]


def halving(ratio: np.ndarray) -> np.ndarray:
    """+1 for a daughter half her mother's size, -1 for a seed of the same size."""
    return (-np.log2(ratio) - 0.5) / 0.5


def find_divisions(set1, set2, pairs: np.ndarray) -> np.ndarray:
    """(mother in t, second daughter in t+1) of each division found, by mother."""
    p1 = np.asarray(set1.positions, dtype=np.float64).reshape(-1, 3)
    p2 = np.asarray(set2.positions, dtype=np.float64).reshape(-1, 3)
    pairs = np.asarray(pairs, dtype=np.int64).reshape(-1, 2)
    which, lone, score = division_candidates(p1, p2, pairs, sizes_of(set1, set2))
    mothers, daughters = set(), set()
    found = []
    for n in np.argsort(-score, kind="stable"):
        q, j = int(which[n]), int(lone[n])
        if q in mothers or j in daughters:
            continue
        mothers.add(q)
        daughters.add(j)
        found.append((int(pairs[q, 0]), j))
    return np.array(sorted(found), dtype=np.int64).reshape(-1, 2)
