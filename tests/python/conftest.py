"""The commands, example and generated files; CTest sets SEEDMATCH_BIN_DIR and PYTHONPATH."""
import os
import pathlib
import subprocess
import sys
from types import SimpleNamespace

import numpy as np
import pytest

SOURCE_DIR = pathlib.Path(__file__).resolve().parents[2]
BIN_DIR = pathlib.Path(os.environ.get("SEEDMATCH_BIN_DIR", SOURCE_DIR / "build" / "release"))
EXAMPLES = SOURCE_DIR / "examples"
THREE = (EXAMPLES / "three_a.seeds", EXAMPLES / "three_b.seeds")
FORTY = (EXAMPLES / "forty_a.seeds", EXAMPLES / "forty_b.seeds")


def run_command(name, *args):
    """Standard output of one of the seedmatch commands, which must complete (status 1)."""
    done = subprocess.run([str(BIN_DIR / name), *map(str, args)], capture_output=True, text=True)
    assert done.returncode == 1, done.stderr
    return done.stdout


def seed_set(positions, diameters=None):
    """A seed set at the positions, a diameter (1 unless given) as its only descriptor."""
    import seedmatch
    p = np.asarray(positions, dtype=float).reshape(-1, 3)
    d = np.ones((len(p), 1)) if diameters is None else np.asarray(diameters, float)[:, None]
    distances = np.sqrt(((p[:, None] - p[None]) ** 2).sum(axis=2))
    return seedmatch.SeedSet.from_arrays(p, [d] + [np.zeros((len(p), 0))] * 5,
                                         np.ones((len(p), 3), dtype=int), distances)


def step(pairs=(), divisions=(), costs=None, division_costs=None, linker="auction",
         estimate=float("nan")):
    """A frame pair's links as the linking hands them over."""
    pairs = np.array(pairs, np.int64).reshape(-1, 2)
    divisions = np.array(divisions, np.int64).reshape(-1, 2)
    return SimpleNamespace(
        pairs=pairs, divisions=divisions, linker=linker, estimate=estimate,
        costs=np.arange(len(pairs), dtype=float) if costs is None else costs,
        division_costs=np.full(len(divisions), np.nan) if division_costs is None
        else division_costs)


def outcome(call):
    """What call() returns, or its error as "TypeName: message"."""
    try:
        return call()
    except Exception as error:
        return f"{type(error).__name__}: {error}"


def read_back(reader, path, text, *args):
    """What reader makes of a file holding text (none if None): the int64 array it gives as a
    list, or the text of its TruthFileError after "seedmatch:PATH:"."""
    import seedmatch
    if text is not None:
        path.write_text(text)
    try:
        got = reader(path, *args)
    except seedmatch.TruthFileError as error:
        assert str(error).startswith(f"seedmatch:{path}:"), error
        return str(error)[len(f"seedmatch:{path}:"):]
    assert got.dtype == np.int64
    return got.tolist()


def command_in_process(capsys, *args):
    """(status, stdout, stderr) of python3 -m seedmatch, run in this process for speed."""
    from seedmatch._cli import main
    try:
        status = main([str(a) for a in args])
    except SystemExit as exit:
        status = exit.code
    out, err = capsys.readouterr()
    return status, out, err


@pytest.fixture(scope="session")
def forty():
    """The forty example sets (file 2 read by a bytes path) and their matching at 1 0.5 1 2."""
    import seedmatch
    a, b = seedmatch.read_seeds(FORTY[0]), seedmatch.read_seeds(str(FORTY[1]).encode())
    return a, b, seedmatch.match(a, b, 1, 0.5, 1, 2)


@pytest.fixture(scope="session")
def generated(tmp_path_factory):
    """Pairs of seed files: the examples by name, generated ones (file 2 a moved,
    thinned and shuffled file 1) by size."""
    folder = tmp_path_factory.mktemp("generated")
    pairs = {"three": THREE, "forty": FORTY}
    for n, seed in ((60, 3), (300, 5)):
        a, b = folder / f"{n}_a.seeds", folder / f"{n}_b.seeds"
        subprocess.run([sys.executable, str(SOURCE_DIR / "bench" / "bench.py"), "scenes", "easy",
                        str(n), str(a), str(b), "--seed", str(seed)], check=True)
        pairs[n] = (a, b)
    return pairs


@pytest.fixture(scope="session")
def series(tmp_path_factory):
    """A generated series of 6 frames of 150 seeds, with divisions, arrivals, departures and
    its true links (links.txt) and tracklets (tracks.csv)."""
    folder = tmp_path_factory.mktemp("series")
    subprocess.run([sys.executable, str(SOURCE_DIR / "bench" / "bench.py"), "scenes", "series",
                    str(folder), "--frames", "6", "--seeds", "150", "--divisions", "0.05",
                    "--arrivals", "0.03", "--departures", "0.03", "--seed", "4"],
                   check=True, capture_output=True)
    return folder


@pytest.fixture(scope="session")
def client():
    """A client of a local cluster of two single-thread workers in this process."""
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        yield client
