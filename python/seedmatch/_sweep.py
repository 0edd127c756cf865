"""Many weightings over one pair of seed sets."""
from __future__ import annotations

import itertools
import os
from concurrent.futures import ThreadPoolExecutor
import sys
from typing import Any, Iterable, Sequence, Union

import numpy as np

from . import _core
from ._truth import checked_truth, matched_pairs, read_truth, score

WEIGHTS = ("seed_weight", "hist_weight", "rpd_weight", "cost_limit")
FIELDS = [*((name, "f8") for name in WEIGHTS), ("pairs", "i8"), ("sum_cost", "f8"),
          ("avg_cost", "f8"), ("avg_rp", "f8"), ("navg_rp", "f8"), ("passes", "i8"),
          ("seconds", "f8")]
ESTIMATE_FIELDS = [("est_true_pairs", "f8"), ("est_precision", "f8"), ("est_recall", "f8"),
                   ("est_f1", "f8")]
TRUTH_FIELDS = [("true_pairs", "i8"), ("precision", "f8"), ("recall", "f8"), ("f1", "f8")]

Numbers = Union[float, Sequence[float]]


def grid(seed_weight: Numbers, hist_weight: Numbers, rpd_weight: Numbers,
         cost_limit: Numbers) -> list[tuple[float, float, float, float]]:
    """Every combination of the given values, as (seed_weight, hist_weight,
    rpd_weight, cost_limit) tuples; cost_limit varies fastest.

    Each argument is one number or a sequence of them.
    """
    lists = [[float(v) for v in np.atleast_1d(values)]
             for values in (seed_weight, hist_weight, rpd_weight, cost_limit)]
    return list(itertools.product(*lists))


def local_threads() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        return os.cpu_count() or 1


def progress_bar(total: int, progress: bool | None, unit: str):
    """A tqdm bar on standard error: shown when asked, or by default when
    standard error is a terminal; None otherwise."""
    asked = progress
    if progress is None:
        progress = sys.stderr is not None and sys.stderr.isatty()
    if not progress:
        return None
    try:
        from tqdm import tqdm
    except ImportError as error:
        if asked:
            raise ImportError(f"a progress bar needs tqdm ({error}); on Debian, apt-get "
                              "install python3-tqdm") from error
        return None
    return tqdm(total=total, file=sys.stderr, unit=unit, leave=False)


def portable(seeds) -> tuple:
    """What SeedSet.from_arrays needs to build the same seeds on another worker."""
    return seeds.positions, seeds.descriptors, seeds.point_counts, seeds.distances


def estimates(set1, set2, tables: Sequence[np.ndarray], threads: int) -> np.ndarray:
    """est_true_pairs, est_precision, est_recall and est_f1 of each matching,
    one row each, judged on threads (the estimate leaves the GIL)."""
    from ._consistency import consistency

    def row(table: np.ndarray) -> tuple:
        c = consistency(set1, set2, matched_pairs(table))
        return c.est_true_pairs, c.est_precision, c.est_recall, c.est_f1
    if len(tables):
        consistency(set1, set2, np.zeros((0, 2), np.int64))  # each set's neighbours, once
    with ThreadPoolExecutor(max(1, min(threads, len(tables)))) as pool:
        return np.array(list(pool.map(row, tables)), dtype=np.float64).reshape(-1, 4)


def sweep_group(parts1: tuple, parts2: tuple, weightings: np.ndarray, threads: int,
                cancel: str | None = None):
    """One cluster task: the seed sets built once, then the weightings on threads,
    each matching judged where it was made; it stops when the distributed Event
    named cancel is set."""
    set1 = _core.SeedSet.from_arrays(*parts1)
    set2 = _core.SeedSet.from_arrays(*parts2)
    if cancel is not None:
        from distributed import Event
        cancel = Event(cancel)
    fields, tables = _core.sweep(set1, set2, weightings, threads, cancel=cancel)
    return fields, tables, estimates(set1, set2, tables, threads)


def sweep_on_cluster(client, set1, set2, weightings: np.ndarray, bar):
    """fields, tables and estimates of every weighting, one task per worker,
    each worker building the two seed sets and their pair terms once."""
    import uuid

    from distributed import Event, as_completed
    # Cancelling a task does not stop a running one; its auctions watch this.
    stop = Event("seedmatch-sweep-" + uuid.uuid4().hex, client=client)
    nthreads = client.nthreads()
    workers = sorted(nthreads)[:len(weightings)]
    fields = np.empty((len(weightings), len(_core.sweep_columns)))
    judged = np.empty((len(weightings), 4))
    tables = [None] * len(weightings)
    groups = {}
    try:
        parts = client.scatter([portable(set1), portable(set2)], broadcast=True)
        for w, worker in enumerate(workers):
            rows = np.arange(w, len(weightings), len(workers))
            future = client.submit(sweep_group, *parts, weightings[rows], nthreads[worker],
                                   stop.name, workers=[worker], allow_other_workers=True,
                                   pure=False)
            groups[future] = rows
        for future in as_completed(list(groups)):
            group_fields, group_tables, group_judged = future.result()
            rows = groups[future]
            fields[rows] = group_fields
            judged[rows] = group_judged
            for row, table in zip(rows, group_tables):
                tables[row] = table
            if bar is not None:
                bar.update(len(rows))
    except BaseException:
        stop.set()
        client.cancel(list(groups))
        raise
    return fields, tables, judged


def sweep(set1, set2, weightings: Iterable[Sequence[float]], truth=None, client: Any = None,
          progress: bool | None = None) -> np.ndarray:
    """Match set1 with set2 under every weighting and report each matching.

    Parameters
    ----------
    set1, set2 : SeedSet or path
        Read once when given as paths.
    weightings : iterable of (seed_weight, hist_weight, rpd_weight, cost_limit)
        For example ``grid(...)``.
    truth : (M, 2) array of integers or path, optional
        The true pairs, as ``read_truth`` reads them; adds a score to each row.
    client : dask.distributed.Client, optional
        Runs the weightings on the client's cluster, one task per worker, each
        worker building the sets from their arrays once. Without it, a pool of
        one thread per core runs them.
    progress : bool, optional
        A progress bar on standard error; by default when it is a terminal.

    Returns
    -------
    numpy.ndarray
        A structured array, one row per weighting in the given order, with the
        fields ``seed_weight``, ``hist_weight``, ``rpd_weight``, ``cost_limit``,
        ``pairs`` (matched rows), ``sum_cost``, ``avg_cost``, ``avg_rp``,
        ``navg_rp`` (the report's summary at full precision, NaN when no pair
        is made), ``passes``, ``seconds`` (of that weighting's matching and
        summary), ``est_true_pairs``, ``est_precision``, ``est_recall`` and
        ``est_f1`` (the matching judged without known pairs, see
        ``consistency``), and with a truth ``true_pairs``, ``precision``,
        ``recall`` and ``f1`` (see ``score``), so that the two can be set side
        by side.

    Each row is what ``seedmatch`` reports for its weights, bit for bit, and
    the estimate is what ``consistency`` gives for its matching. The
    parts of the pair costs that no weight changes are computed once and
    shared, which takes 16 bytes per pair of seeds. Ctrl-C stops the sweep
    and raises KeyboardInterrupt.
    """
    from . import read_seeds
    if not isinstance(set1, _core.SeedSet):
        set1 = read_seeds(set1)
    if not isinstance(set2, _core.SeedSet):
        set2 = read_seeds(set2)
    rows = np.asarray(list(weightings), dtype=np.float64)
    if rows.size == 0:
        rows = rows.reshape(0, 4)
    if rows.ndim != 2 or rows.shape[1] != 4:
        raise ValueError("weightings must be (seed_weight, hist_weight, rpd_weight, "
                         f"cost_limit) tuples, got an array of shape {rows.shape}")
    if truth is not None:
        truth = read_truth(truth, set1, set2) if isinstance(truth, (str, bytes, os.PathLike)) \
            else check_range(checked_truth(truth), len(set1), len(set2))

    bar = progress_bar(len(rows), progress, "weighting")
    try:
        if client is not None and len(rows):
            fields, tables, judged = sweep_on_cluster(client, set1, set2, rows, bar)
        else:
            fields, tables = _core.sweep(set1, set2, rows, local_threads(),
                                         bar.update if bar is not None else None)
            judged = estimates(set1, set2, tables, local_threads())
    finally:
        if bar is not None:
            bar.close()

    table = np.zeros(len(rows), dtype=FIELDS + ESTIMATE_FIELDS
                     + (TRUTH_FIELDS if truth is not None else []))
    for k, name in enumerate(WEIGHTS):
        table[name] = rows[:, k]
    for k, name in enumerate(_core.sweep_columns):
        table[name] = fields[:, k]
    for k, (name, _) in enumerate(ESTIMATE_FIELDS):
        table[name] = judged[:, k]
    if truth is not None:
        scores = [score(matching, truth) for matching in tables]
        for name, _ in TRUTH_FIELDS:
            table[name] = [getattr(s, name) for s in scores]
    return table


def plot_sweep(table: np.ndarray) -> "matplotlib.figure.Figure":  # noqa: F821
    """Heat maps of a sweep, as a matplotlib Figure (Agg backend).

    One panel per (hist weight, cost limit), seed weight down and rpd weight
    across, each cell labelled with its value. The panels show the estimated
    F1 and, with a truth, the true F1 beside it on the same colour scale; the
    best weighting by each is ringed. A table without estimates shows the pair
    count and ``navg_rp`` (the relative-position error from positions).
    """
    from ._sweep_picture import sweep_figure
    return sweep_figure(table)


def check_range(truth: np.ndarray, size1: int, size2: int) -> np.ndarray:
    for side, size in ((0, size1), (1, size2)):
        if len(truth) and truth[:, side].max() >= size:
            raise ValueError(f"the truth pairs seed {truth[:, side].max()} of file {side + 1}, "
                             f"which holds {size} seeds")
    return truth
