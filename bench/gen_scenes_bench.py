#!/usr/bin/env python3
"""Times gen_scenes.py with each writer named, alternating them RUNS times on
the same arguments, and prints the median wall and CPU seconds of each (CPU
counts every process of a run: Python, its fork and the helpers). Every pair
written must be byte for byte the first one, or the pair given by --against;
it fails otherwise. The files are written to --out (default /tmp) and deleted.

usage: gen_scenes_bench.py N [--noise L] [--seed S] [--runs R] [--out DIR]
                           [--against A B] [--writers W ...]

W is what gen_scenes.py --writer takes: the path of seedmatch-gen-rows or
python; default the helper of build/release, then python.
"""
import argparse
import os
import resource
import statistics
import subprocess
import sys
import time
from typing import Dict, List, Optional, Tuple

HERE = os.path.dirname(os.path.abspath(__file__))


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


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("n", type=int)
    parser.add_argument("--noise", default="2")
    parser.add_argument("--seed", default="1")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--out", default="/tmp")
    parser.add_argument("--against", nargs=2, metavar=("A", "B"))
    parser.add_argument("--writers", nargs="+",
                        default=[os.path.join(HERE, os.pardir, "build", "release", "bench",
                                              "seedmatch-gen-rows"), "python"])
    args = parser.parse_args()
    reference: Optional[Tuple[str, str]] = tuple(args.against) if args.against else None
    kept: List[str] = []
    wall: Dict[str, List[float]] = {w: [] for w in args.writers}
    cpu: Dict[str, List[float]] = {w: [] for w in args.writers}
    failed = False
    for run in range(args.runs):
        for k, writer in enumerate(args.writers):
            out = [os.path.join(args.out, "gen_bench_%d_%d_%s.seeds" % (run, k, side))
                   for side in "ab"]
            before, start = children_cpu(), time.perf_counter()
            subprocess.run([sys.executable, os.path.join(HERE, "gen_scenes.py"), str(args.n),
                            *out, "--noise", args.noise, "--seed", args.seed,
                            "--writer", writer], check=True)
            wall[writer].append(time.perf_counter() - start)
            cpu[writer].append(children_cpu() - before)
            if reference is None:
                reference, kept = (out[0], out[1]), out
                verdict = "the reference"
            else:
                same = all(same_bytes(o, r) for o, r in zip(out, reference))
                failed |= not same
                verdict = "same bytes" if same else "OTHER BYTES"
                for path in out:
                    os.remove(path)
            print("run %d %s: %.2f s wall, %.2f s CPU, %s" % (
                run + 1, os.path.basename(writer), wall[writer][-1], cpu[writer][-1], verdict),
                flush=True)
    for path in kept:
        os.remove(path)
    print("N = %d, --noise %s --seed %s, medians of %d runs:" % (args.n, args.noise, args.seed,
                                                                 args.runs))
    for writer in args.writers:
        print("  %-20s %7.2f s wall %7.2f s CPU" % (os.path.basename(writer),
                                                   statistics.median(wall[writer]),
                                                   statistics.median(cpu[writer])))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
