"""Links between consecutive frames of a time series, and the tracks they make."""
from __future__ import annotations

import os
import threading
from concurrent.futures import FIRST_COMPLETED, ThreadPoolExecutor, wait
from dataclasses import dataclass
from typing import Any, Sequence

import numpy as np

from . import _core

LINKERS = ("auction", "positions", "auto")
# The main thread wakes this often to let Ctrl-C in.
WAIT_SLICE = 0.05


@dataclass(frozen=True, eq=False)
class FrameLinks:
    """The links from frame t to frame t+1.

    Attributes
    ----------
    pairs : (K, 2) int64 array
        (seed in t, seed in t+1) of the chosen candidate; for the auction, its
        pairs as ``seedmatch`` prints them, in that order.
    costs : (K,) float64 array
        Per pair, the cost the auction stored, or for the positional
        assignment the distance between the two positions.
    divisions : (D, 2) int64 array
        (mother in t, second daughter in t+1); the first daughter is the
        mother's partner in ``pairs``.
    division_costs : (D,) float64 array
        NaN: a division link has no cost of its own.
    linker : str
        "auction" or "positions", the candidate that made ``pairs``.
    estimate : float
        The estimated precision of ``pairs`` (see `seedmatch.consistency`),
        NaN when not computed.
    """

    pairs: np.ndarray
    costs: np.ndarray
    divisions: np.ndarray
    division_costs: np.ndarray
    linker: str
    estimate: float


@dataclass(frozen=True, eq=False)
class Candidate:
    linker: str
    pairs: np.ndarray
    costs: np.ndarray


def auction_candidate(set1, set2, weights: Sequence[float], cancel=None) -> Candidate:
    """The pairs and stored costs of the auction, in the order of its table."""
    matching = _core.match(set1, set2, *weights, cancel=cancel)
    table = matching.table
    return Candidate("auction", matching.pairs, table[table[:, 2] != -1.0, 2].copy())


def positions_candidate(set1, set2) -> Candidate:
    """Optimal assignment on positions: the pairs of least total distance, a
    pair only where the two seeds lie closer than the gate (see `position_gate`)."""
    from scipy.sparse import csr_matrix
    from scipy.sparse.csgraph import min_weight_full_bipartite_matching
    from scipy.spatial import cKDTree
    p1, p2 = np.asarray(set1.positions), np.asarray(set2.positions)
    n1, n2 = len(p1), len(p2)
    if n1 == 0 or n2 == 0:
        return Candidate("positions", np.zeros((0, 2), np.int64), np.zeros(0))
    gate = position_gate(p1, p2)
    near = cKDTree(p1).sparse_distance_matrix(cKDTree(p2), gate, output_type="ndarray")
    near = near[near["v"] < gate]
    # Rows are the seeds of t, each of which may also stay alone, in a column
    # of its own, at the cost of the gate. Every cost is raised by the gate,
    # which changes no choice (each row takes one column) and keeps them above 0.
    rows = np.concatenate([near["i"], np.arange(n1)])
    cols = np.concatenate([near["j"], n2 + np.arange(n1)])
    cost = np.concatenate([near["v"], np.full(n1, gate)]) + gate
    graph = csr_matrix((cost, (rows, cols)), shape=(n1, n2 + n1))
    taken, partner = min_weight_full_bipartite_matching(graph)
    real = partner < n2
    taken, partner = taken[real], partner[real]
    order = np.argsort(partner, kind="stable")  # as the auction's table: by seed of t+1
    taken, partner = taken[order], partner[order]
    moved = np.sqrt(((p1[taken] - p2[partner]) ** 2).sum(axis=1))
    return Candidate("positions", np.stack([taken, partner], axis=1).astype(np.int64), moved)


def spacing(positions: np.ndarray) -> float:
    """The median distance from a seed to its nearest neighbour; 0.0 below two seeds."""
    from scipy.spatial import cKDTree
    if len(positions) < 2:
        return 0.0
    distances, _ = cKDTree(positions).query(positions, k=2)
    return float(np.median(distances[:, 1]))


def position_gate(p1: np.ndarray, p2: np.ndarray) -> float:
    """The farthest a seed may move between frames: half the spacing of the
    denser frame. Farther, it would be nearer to a neighbour's place than to its own."""
    gate = 0.5 * min(s for s in (spacing(p1), spacing(p2), np.inf) if s > 0.0)
    return gate if np.isfinite(gate) else 1.0


def estimate_of(set1, set2, candidate: Candidate):
    from ._consistency import consistency
    return consistency(set1, set2, candidate.pairs)


def link_pair(set1, set2, weights: Sequence[float], linker: str, divisions: bool,
              estimate: bool = False, cancel=None) -> FrameLinks:
    """The links from set1 (frame t) to set2 (frame t+1)."""
    if linker != "auto":
        chosen = (auction_candidate(set1, set2, weights, cancel) if linker == "auction"
                  else positions_candidate(set1, set2))
        estimate = float(estimate_of(set1, set2, chosen).est_precision) if estimate else np.nan
    else:  # the candidate the estimate trusts most, the auction on a tie
        judged = []
        for candidate in (auction_candidate(set1, set2, weights, cancel),
                          positions_candidate(set1, set2)):
            judged.append((estimate_of(set1, set2, candidate), candidate))
        best = max(judged, key=lambda j: j[0].est_f1)  # max keeps the first of equals
        chosen, estimate = best[1], float(best[0].est_precision)
    found = np.zeros((0, 2), np.int64)
    if divisions:
        from ._divisions import find_divisions
        found = find_divisions(set1, set2, chosen.pairs)
    return FrameLinks(chosen.pairs, chosen.costs, found, np.full(len(found), np.nan),
                      chosen.linker, estimate)


def _require_scipy() -> None:
    try:
        import scipy.sparse.csgraph  # noqa: F401
        import scipy.spatial  # noqa: F401
    except ImportError as error:
        raise ImportError(f"the positional linker and the divisions need SciPy ({error}); on "
                          "Debian, apt-get install python3-scipy") from error


def _check_linker(linker: str) -> None:
    if linker not in LINKERS:
        raise ValueError(f"linker must be one of {', '.join(LINKERS)}, not {linker!r}")


def link_frames(frames: Sequence[Any], seed_weight: float, hist_weight: float,
                rpd_weight: float, cost_limit: float, *, linker: str = "auction",
                client: Any = None, progress: bool | None = None, divisions: bool = True,
                estimate: bool = False, threads: int | None = None) -> tuple:
    """The positions of every frame and the links of every frame pair.

    Parameters as for `track`. Returns (positions, frame_links): a list of
    (n_t, 3) float64 arrays, one per frame, and a list of T-1 `FrameLinks`.
    """
    from . import SeedSet, _weights
    from ._sweep import local_threads, progress_bar
    _check_linker(linker)
    if linker != "auction" or divisions:
        _require_scipy()
    weights = _weights(seed_weight=seed_weight, hist_weight=hist_weight,
                       rpd_weight=rpd_weight, cost_limit=cost_limit)
    frames = list(frames)
    for t, frame in enumerate(frames):
        if not isinstance(frame, (SeedSet, str, bytes, os.PathLike)):
            raise TypeError(f"frames[{t}] must be a SeedSet or a path, not "
                            f"{type(frame).__name__}")
    if not frames:
        return [], []
    bar = progress_bar(len(frames) - 1, progress, "pair") if len(frames) > 1 else None
    how = (weights, linker, divisions, bool(estimate))
    try:
        if client is not None:
            return _on_cluster(client, frames, how, bar)
        return _on_threads(frames, how, bar, threads or local_threads())
    finally:
        if bar is not None:
            bar.close()


def _read(frame):
    from . import SeedSet, read_seeds
    return frame if isinstance(frame, SeedSet) else read_seeds(frame)


class _Frames:
    """Each frame read once, on first use, and let go when the pairs that need
    it are done; the positions stay."""

    def __init__(self, frames: list):
        self.frames = frames
        self.sets: dict = {}
        self.locks = [threading.Lock() for _ in frames]
        self.users = [min(t, 1) + (t < len(frames) - 1) for t in range(len(frames))]
        self.positions: list = [None] * len(frames)
        self.guard = threading.Lock()

    def get(self, t: int):
        with self.locks[t]:
            with self.guard:
                if t in self.sets:
                    return self.sets[t]
            seeds = _read(self.frames[t])
            with self.guard:
                self.sets[t] = seeds
                self.positions[t] = np.array(seeds.positions, dtype=np.float64).reshape(-1, 3)
            return seeds

    def done(self, t: int) -> None:
        with self.guard:
            self.users[t] -= 1
            if self.users[t] == 0:
                self.sets.pop(t, None)


def _on_threads(frames: list, how: tuple, bar, threads: int) -> tuple:
    store = _Frames(frames)
    if len(frames) == 1:
        store.get(0)
        return store.positions, []
    cancel = threading.Event()

    def run(t: int) -> FrameLinks:
        if cancel.is_set():
            raise KeyboardInterrupt
        try:
            return link_pair(store.get(t), store.get(t + 1), *how, cancel=cancel)
        finally:
            store.done(t)
            store.done(t + 1)

    results: list = [None] * (len(frames) - 1)
    workers = max(1, min(threads, len(results)))
    pool = ThreadPoolExecutor(max_workers=workers)
    running: dict = {}
    try:
        upcoming = iter(range(len(results)))
        for t in upcoming:  # never more pairs under way than threads, to bound memory
            running[pool.submit(run, t)] = t
            if len(running) < workers:
                continue
            _collect(running, results, bar)
        while running:
            _collect(running, results, bar)
    finally:
        cancel.set()  # on an error or Ctrl-C, running matchings stop within a slice
        pool.shutdown(wait=True, cancel_futures=True)
    return store.positions, results


def _collect(running: dict, results: list, bar) -> None:
    """Waits, in short slices, until a pair is done; its error is raised."""
    done = set()
    while not done:
        done, _ = wait(list(running), timeout=WAIT_SLICE, return_when=FIRST_COMPLETED)
    for future in done:
        results[running.pop(future)] = future.result()
        if bar is not None:
            bar.update()


def _portable(frame) -> tuple:
    """A frame's arrays, from its path or as they are."""
    from ._sweep import portable
    return frame if isinstance(frame, tuple) else portable(_read(frame))


def _link_portable(parts1: tuple, parts2: tuple, how: tuple) -> FrameLinks:
    set1, set2 = (_core.SeedSet.from_arrays(*parts) for parts in (parts1, parts2))
    return link_pair(set1, set2, *how)


def _on_cluster(client, frames: list, how: tuple, bar) -> tuple:
    """Each frame read by one task, each pair a task on the two frames' results;
    a few pairs per worker thread under way at a time, so that the cluster holds
    only the frames they need."""
    from distributed import as_completed
    from ._sweep import portable
    read: dict = {}
    positions: list = [None] * len(frames)
    pairs: list = [None] * (len(frames) - 1)

    def frame(t: int):
        if t not in read:
            f = frames[t]
            read[t] = client.submit(
                _portable, portable(f) if isinstance(f, _core.SeedSet) else os.fspath(f),
                pure=False)
            positions[t] = client.submit(_positions_of, read[t], pure=False)
        return read[t]

    def submit(t: int):
        pairs[t] = client.submit(_link_portable, frame(t), frame(t + 1), how, pure=False)
        read.pop(t, None)  # its last pair is under way: the cluster lets it go after that
        return pairs[t]

    if not pairs:
        frame(0)
    upcoming = iter(range(len(pairs)))
    window = 2 * max(1, sum(client.nthreads().values()))
    running = as_completed([submit(t) for _, t in zip(range(window), upcoming)])
    try:
        for future in running:
            if future.status == "error":
                future.result()  # the first failure stops the rest
            if bar is not None:
                bar.update()
            t = next(upcoming, None)
            if t is not None:
                running.add(submit(t))
        return [f.result() for f in positions], [f.result() for f in pairs]
    except BaseException:
        client.cancel([f for f in pairs + positions if f is not None])
        raise


def _positions_of(parts: tuple) -> np.ndarray:
    return np.array(parts[0], dtype=np.float64).reshape(-1, 3)


def track(frames: Sequence[Any], seed_weight: float, hist_weight: float, rpd_weight: float,
          cost_limit: float, *, linker: str = "auction", client: Any = None,
          progress: bool | None = None, divisions: bool = True, estimate: bool = False,
          threads: int | None = None):
    """Tracks through a time series: the links between consecutive frames, with divisions.

    Between frames t and t+1 the links are the pairs of one candidate: by
    default exactly the pairs ``seedmatch FRAME_t FRAME_t+1`` prints with the
    same weights, each with its stored cost; then a division adds the link
    from a mother to her second daughter (see docs/tracks.md).

    Parameters
    ----------
    frames : sequence of SeedSet or paths (plain or gzip), in time order
        Each path is read once; only the frames that running pairs need are
        held, so a long series takes the memory of a few frames.
    seed_weight, hist_weight, rpd_weight, cost_limit : float
        As for `match`.
    linker : {"auction", "positions", "auto"}
        "auction": the pairs of `match`. "positions": the assignment of least
        total distance between positions, within a gate of half the spacing
        between seeds. "auto": per frame pair, whichever of the two the
        estimate (`consistency`) gives the higher est_f1, the auction on a tie.
    client : dask.distributed.Client, optional
        Runs each frame's reading and each pair as tasks on the cluster;
        paths must then be readable by the workers. Without one, one thread
        per core.
    progress : bool, optional
        A progress bar on standard error; by default when it is a terminal.
    divisions : bool
        Look for divisions (default True).
    estimate : bool
        Estimate each frame pair's precision (``Tracks.frame_precision``,
        see `consistency`), which takes about as long as the auction; "auto"
        always does. NaN where not estimated.
    threads : int, optional
        Local threads; one per core by default.

    Returns
    -------
    Tracks

    Raises
    ------
    SeedFileError
        For a frame that cannot be read; nothing else is done.
    KeyboardInterrupt
        On Ctrl-C, once every thread has stopped.
    """
    from . import SeedSet
    from ._tracks import Tracks
    frames = list(frames)
    positions, frame_links = link_frames(
        frames, seed_weight, hist_weight, rpd_weight, cost_limit, linker=linker, client=client,
        progress=progress, divisions=divisions, estimate=estimate, threads=threads)
    sources = [os.fsdecode(f) for f in frames if not isinstance(f, SeedSet)]
    return Tracks.from_frames(positions, frame_links, sources)
