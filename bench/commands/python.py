"""The Python package against the C++ matching step it wraps.

On the easy pair of --n seeds, for each weighting it alternates --rounds
rounds of seedmatch-engines --repeat K (the C++ matching step alone, timed
inside that program) with K calls of seedmatch.match on the same files read
once, and prints the medians, their ratio, and the spread of the ratio of
the two medians of each round. Each side makes one untimed run first, so
that neither is timed on memory it has never touched. Then SeedSet.from_arrays
on the arrays of file 1, beside read_seeds of the same file. Runs in an
interpreter that imports NumPy (this one, or Debian's in its place), on the
build's package.
"""
import argparse
import os
import subprocess
import sys
import time
from typing import Callable, List, Sequence

import scenes
from commands.common import Table, median, numpy_python, program

WEIGHTINGS = [("1", "0.5", "1", "2"), ("1", "0.5", "1", "6")]


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--n", type=int, default=2000, help="seeds (default 2000)")
    parser.add_argument("--rounds", type=int, default=5, help="rounds (default 5)")
    parser.add_argument("--repeat", type=int, default=5, help="runs a round (default 5)")


def cpp_step(engines: str, files: Sequence[str], weights: Sequence[str], repeat: int
             ) -> List[float]:
    out = subprocess.run([engines, "--repeat", str(repeat + 1), *files, *weights],
                         capture_output=True, text=True, check=True).stdout
    fields = [line.split() for line in out.splitlines()]
    return [float(f[f.index("seconds") + 1]) for f in fields if "passes" in f][1:]


def times_of(repeat: int, call: Callable[[], object]) -> List[float]:
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return times


def run(args: argparse.Namespace) -> int:
    python = numpy_python()
    if python != sys.executable:
        os.execv(python, [python, *sys.argv])
    sys.path.insert(0, os.path.join(args.build, "python"))
    import seedmatch

    pair = scenes.pair("easy", args.n, cache=args.scenes)
    files = (pair.a, pair.b)
    engines = program(args.build, "seedmatch-engines")
    sets = [seedmatch.read_seeds(f) for f in files]
    print("N = %d (easy pair, %d and %d seeds); medians of %d rounds x %d runs, interleaved\n"
          % (args.n, len(sets[0]), len(sets[1]), args.rounds, args.repeat))
    table = Table(["weights", "C++ step s", "Python match s", "ratio", "round min",
                   "round median", "round max"], "lrrrrrr")
    for weights in WEIGHTINGS:
        numbers = [float(w) for w in weights]
        cpp, py, ratios = [], [], []
        for _ in range(args.rounds):
            c = cpp_step(engines, files, weights, args.repeat)
            p = times_of(args.repeat + 1, lambda: seedmatch.match(*sets, *numbers))[1:]
            cpp += c
            py += p
            ratios.append(median(p) / median(c))
        c, p = median(cpp), median(py)
        table.row(" ".join(weights), "%.5f" % c, "%.5f" % p, "%.3f" % (p / c),
                  "%.3f" % min(ratios), "%.3f" % median(ratios), "%.3f" % max(ratios))
    arrays = (sets[0].positions, sets[0].descriptors, sets[0].point_counts, sets[0].distances)
    runs = args.rounds * args.repeat
    build = median(times_of(runs, lambda: seedmatch.SeedSet.from_arrays(*arrays)))
    read = median(times_of(runs, lambda: seedmatch.read_seeds(files[0])))
    print("\nSeedSet.from_arrays of file 1 (%d seeds, %d distances): median %.4f s; read_seeds "
          "of the same file: %.4f s" % (len(sets[0]), sets[0].distances.size, build, read))
    return 0
