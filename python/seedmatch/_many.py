"""Many independent pairs of seed files, on a Dask cluster or a local process pool."""
from __future__ import annotations

import multiprocessing
import os
from concurrent.futures import ProcessPoolExecutor
from typing import Any, Sequence, Tuple, Union

Pair = Tuple[Union[str, "os.PathLike[str]"], Union[str, "os.PathLike[str]"]]


def run_pair(file1, file2, seed_weight: float, hist_weight: float, rpd_weight: float,
             cost_limit: float):
    """Read, match and evaluate one pair; an error comes back as the value."""
    from . import evaluate, match, read_seeds
    try:
        set1 = read_seeds(file1)
        set2 = read_seeds(file2)
        matching = match(set1, set2, seed_weight, hist_weight, rpd_weight, cost_limit)
        return evaluate(set1, set2, matching, seed_weight, hist_weight)
    except Exception as error:  # the caller gets it in this pair's slot
        return error


def match_many(pairs: Sequence[Pair], seed_weight: float, hist_weight: float,
               rpd_weight: float, cost_limit: float, client: Any = None) -> list:
    """Match and evaluate many pairs of seed files, each on its own.

    Parameters
    ----------
    pairs : sequence of (file1, file2) paths; on a cluster, paths the workers can read
    seed_weight, hist_weight, rpd_weight, cost_limit : as for ``match``
    client : dask.distributed.Client, optional
        Runs each pair as a task on the client's cluster. Without one, a local
        pool of fresh processes, one per core, runs them; a script that calls
        it so needs the usual ``if __name__ == "__main__":`` guard.

    Returns
    -------
    list
        One entry per pair, in order: its ``Report``, or the exception it raised
        (``SeedFileError`` for a bad file). One bad pair does not stop the others.
    """
    pairs = [(os.fspath(a), os.fspath(b)) for a, b in pairs]
    weights = (seed_weight, hist_weight, rpd_weight, cost_limit)
    if not pairs:
        return []
    if client is not None:
        futures = [client.submit(run_pair, a, b, *weights, pure=False) for a, b in pairs]
        return [_outcome(f.result) for f in futures]
    # spawn: the caller may hold threads (a Dask client, say), which fork would copy half-done.
    context = multiprocessing.get_context("spawn")
    workers = min(len(pairs), os.cpu_count() or 1)
    with ProcessPoolExecutor(max_workers=workers, mp_context=context) as pool:
        futures = [pool.submit(run_pair, a, b, *weights) for a, b in pairs]
        return [_outcome(f.result) for f in futures]


def _outcome(result):
    """The pair's value, or the exception that lost it (a worker that died, say)."""
    try:
        return result()
    except Exception as error:
        return error
