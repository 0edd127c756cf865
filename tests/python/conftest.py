"""The commands, example and generated files; CTest sets SEEDMATCH_BIN_DIR and PYTHONPATH."""
import os
import pathlib
import subprocess
import sys

import pytest

SOURCE_DIR = pathlib.Path(__file__).resolve().parents[2]
BIN_DIR = pathlib.Path(os.environ.get("SEEDMATCH_BIN_DIR", SOURCE_DIR / "build" / "release"))
EXAMPLES = SOURCE_DIR / "examples"


def run_command(name, *args):
    """Standard output of one of the seedmatch commands, which must complete (status 1)."""
    done = subprocess.run([str(BIN_DIR / name), *map(str, args)], capture_output=True, text=True)
    assert done.returncode == 1, done.stderr
    return done.stdout


@pytest.fixture(scope="session")
def generated(tmp_path_factory):
    """Pairs of seed files: the examples by name, generated ones (file 2 a moved,
    thinned and shuffled file 1) by size."""
    folder = tmp_path_factory.mktemp("generated")
    pairs = {name: (EXAMPLES / f"{name}_a.seeds", EXAMPLES / f"{name}_b.seeds")
             for name in ("three", "forty")}
    for n, seed in ((60, 3), (300, 5)):
        a, b = folder / f"{n}_a.seeds", folder / f"{n}_b.seeds"
        subprocess.run([sys.executable, str(SOURCE_DIR / "bench" / "bench.py"), "scenes", "easy",
                        str(n), str(a), str(b), "--seed", str(seed)], check=True)
        pairs[n] = (a, b)
    return pairs
