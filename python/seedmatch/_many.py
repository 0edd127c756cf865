"""Many independent pairs of seed files, on a Dask cluster or local threads."""
from __future__ import annotations

import os
import threading
from concurrent.futures import ThreadPoolExecutor, as_completed
from typing import Any, Sequence, Tuple, Union

Pair = Tuple[Union[str, "os.PathLike[str]"], Union[str, "os.PathLike[str]"]]


def run_pair(file1, file2, seed_weight: float, hist_weight: float, rpd_weight: float,
             cost_limit: float, cancel: threading.Event | None = None):
    """Read, match and evaluate one pair; an error comes back as the value."""
    from . import _core, _read_seeds, evaluate
    try:
        set1 = _read_seeds(file1, cancel)
        set2 = _read_seeds(file2, cancel)
        matching = _core.match(set1, set2, seed_weight, hist_weight, rpd_weight, cost_limit,
                               cancel=cancel)
        report = evaluate(set1, set2, matching, seed_weight, hist_weight)
        report.consistency  # noqa: B018  (here, on the worker, and the sets can go)
        return report
    except Exception as error:  # the caller gets it in this pair's slot
        return error


def match_many(pairs: Sequence[Pair], seed_weight: float, hist_weight: float,
               rpd_weight: float, cost_limit: float, client: Any = None,
               progress: bool | None = None) -> list:
    """Match and evaluate many pairs of seed files, each on its own.

    Parameters
    ----------
    pairs : sequence of (file1, file2) paths; on a cluster, paths the workers can read
    seed_weight, hist_weight, rpd_weight, cost_limit : as for ``match``
    client : dask.distributed.Client, optional
        Runs each pair as a task on the client's cluster. Without one, a pool
        of one thread per core runs them (the matching releases the GIL), so a
        script needs no ``if __name__ == "__main__":`` guard.
    progress : bool, optional
        A progress bar on standard error; by default when it is a terminal.

    Returns
    -------
    list
        One entry per pair, in order: its ``Report`` with its ``consistency``
        (``.consistency.est_precision`` says which frames went wrong), or the exception it raised
        (``SeedFileError`` for a bad file). One bad pair does not stop the others.
        Ctrl-C stops the local pool and raises KeyboardInterrupt.
    """
    from . import _weights
    from ._sweep import local_threads, progress_bar
    pairs = [(os.fspath(a), os.fspath(b)) for a, b in pairs]
    # A weight of the wrong type is the caller's error, raised here and not once per pair.
    weights = tuple(_weights(seed_weight=seed_weight, hist_weight=hist_weight,
                             rpd_weight=rpd_weight, cost_limit=cost_limit))
    if not pairs:
        return []
    bar = progress_bar(len(pairs), progress, "pair")
    try:
        if client is not None:
            from distributed import as_completed as completed_on_cluster
            futures = [client.submit(run_pair, a, b, *weights, pure=False) for a, b in pairs]
            for _ in completed_on_cluster(futures):
                if bar is not None:
                    bar.update()
            return [_outcome(f.result) for f in futures]
        cancel = threading.Event()
        pool = ThreadPoolExecutor(max_workers=min(len(pairs), local_threads()))
        try:
            futures = [pool.submit(run_pair, a, b, *weights, cancel) for a, b in pairs]
            for _ in as_completed(futures):
                if bar is not None:
                    bar.update()
            return [_outcome(f.result) for f in futures]
        finally:
            cancel.set()  # on Ctrl-C, running matchings stop within a slice
            pool.shutdown(wait=True, cancel_futures=True)
    finally:
        if bar is not None:
            bar.close()


def _outcome(result):
    """The pair's value, or the exception that lost it (a worker that died, say)."""
    try:
        return result()
    except Exception as error:
        return error
