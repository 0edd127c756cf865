"""The writers of the look-alike pairs side by side: the same bytes, faster.

Runs bench.py scenes lookalike with each writer named (--writers: the path
of seedmatch-gen-rows, or python), alternating them --runs times on the same
arguments, and prints the wall and CPU seconds of each run (CPU counts every
process of a run: Python, its fork and the helpers) and the medians. Every
pair written must be byte for byte the first one, or the pair given by
--against; status 1 otherwise. The files go to --out and are deleted.
"""
import argparse
import os
import resource
import subprocess
import sys
import time
from typing import Dict, List, Optional, Tuple

from commands.common import ROOT, Table, median


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("n", type=int, help="seeds in file 1")
    parser.add_argument("--noise", default="2", help="difficulty (default 2)")
    parser.add_argument("--seed", default="1", help="random seed (default 1)")
    parser.add_argument("--runs", type=int, default=3, help="runs a writer (default 3)")
    parser.add_argument("--out", default="/tmp", help="where the files go (default /tmp)")
    parser.add_argument("--against", nargs=2, metavar=("A", "B"),
                        help="the pair every run must write")
    parser.add_argument("--writers", nargs="+", metavar="W",
                        help="default the release build's seedmatch-gen-rows, then python")


def same_bytes(a: str, b: str) -> bool:
    if os.path.getsize(a) != os.path.getsize(b):
        return False
    with open(a, "rb") as fa, open(b, "rb") as fb:
        while True:
            block = fa.read(1 << 22)
            if block != fb.read(1 << 22):
                return False
            if not block:
                return True


def children_cpu() -> float:
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def run(args: argparse.Namespace) -> int:
    writers = args.writers or [os.path.join(args.build, "bench", "seedmatch-gen-rows"), "python"]
    reference: Optional[Tuple[str, ...]] = tuple(args.against) if args.against else None
    kept: List[str] = []
    wall: Dict[str, List[float]] = {w: [] for w in writers}
    cpu: Dict[str, List[float]] = {w: [] for w in writers}
    failed = False
    print("lookalike %d --noise %s --seed %s, %d runs alternated\n"
          % (args.n, args.noise, args.seed, args.runs))
    table = Table(["run", "writer", "wall s", "CPU s", "bytes"], "rlrrl")
    for r in range(args.runs):
        for k, writer in enumerate(writers):
            out = [os.path.join(args.out, "writers_%d_%d_%s.seeds" % (r, k, side))
                   for side in "ab"]
            before, start = children_cpu(), time.perf_counter()
            subprocess.run([sys.executable, os.path.join(ROOT, "bench", "bench.py"), "scenes",
                            "lookalike", str(args.n), *out, "--noise", args.noise,
                            "--seed", args.seed, "--writer", writer], check=True)
            wall[writer].append(time.perf_counter() - start)
            cpu[writer].append(children_cpu() - before)
            if reference is None:
                reference, kept = (out[0], out[1]), out
                verdict = "the reference"
            else:
                same = all(same_bytes(o, ref) for o, ref in zip(out, reference))
                failed |= not same
                verdict = "the same" if same else "OTHER"
                for path in out:
                    os.remove(path)
            table.row(r + 1, os.path.basename(writer), "%.2f" % wall[writer][-1],
                      "%.2f" % cpu[writer][-1], verdict)
    for path in kept:
        os.remove(path)
    print("\nmedians\n")
    table = Table(["writer", "wall s", "CPU s"], "lrr")
    for writer in writers:
        table.row(os.path.basename(writer), "%.2f" % median(wall[writer]),
                  "%.2f" % median(cpu[writer]))
    return 1 if failed else 0
