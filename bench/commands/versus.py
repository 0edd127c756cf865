"""The matching step of this build beside another build's, alternated.

Runs the other build's seedmatch-engines (--other-engine, default fast) and
this build's (--engine, default fast) in turn, --runs times each, on each
scene and weighting, and prints the medians of the matching step (reading
the files is outside the timing), their ratio, the pass counts, and whether
every run appended the same rows (the hash of the rows' bits). The other
build may be this one: --engine prepared against it times the prepared pair
terms against the engine forming its own.

The scenes: --pair FILE1 FILE2, or by default the easy pairs and the
look-alike scenes (--kinds) of each size (--sizes) and difficulty (--noise),
each at the weights of its kind unless --weights are given.
"""
import argparse
import os

import scenes
from commands.common import WEIGHTS, Table, engines, median, seed_count, seconds


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("other", metavar="OTHER_BUILD",
                        help="the build directory to compare with (an earlier commit, say)")
    parser.add_argument("--pair", nargs=2, metavar=("FILE1", "FILE2"),
                        help="run on these files instead of the generated scenes")
    parser.add_argument("--weights", nargs="+", metavar='"S H R C"',
                        help='weightings, each one argument ("1 0.5 1 2")')
    parser.add_argument("--runs", type=int, default=3, help="runs a side (default 3)")
    parser.add_argument("--sizes", type=int, nargs="+", default=[1000, 2000])
    parser.add_argument("--noise", type=float, nargs="+", default=[4.0])
    parser.add_argument("--kinds", nargs="+", default=["easy", "lookalike"],
                        choices=sorted(WEIGHTS), help="default easy lookalike")
    parser.add_argument("--engine", default="fast", help="this build's engine (default fast)")
    parser.add_argument("--other-engine", default="fast",
                        help="the other build's engine (default fast)")
    parser.add_argument("--timeout", type=float, default=300.0,
                        help="seconds before a run is given up (default 300)")


def run(args: argparse.Namespace) -> int:
    given = [tuple(w.split()) for w in args.weights] if args.weights else None
    if args.pair:
        cases = [(seed_count(args.pair[0]), os.path.basename(args.pair[0]), args.pair,
                  given or WEIGHTS["lookalike"])]
    else:
        cases = []
        for kind in args.kinds:
            for n in sorted(args.sizes):
                for noise in ([None] if kind == "easy" else args.noise):
                    pair = scenes.pair(kind, n, noise or 0.0, cache=args.scenes)
                    name = kind if noise is None else "%s %g" % (kind, noise)
                    cases.append((n, name, (pair.a, pair.b), given or WEIGHTS[kind]))
    print("matching step, medians of %d runs alternated; this: %s (%s), other: %s (%s)\n"
          % (args.runs, args.build, args.engine, args.other, args.other_engine))
    table = Table(["N", "scene", "weights", "passes", "other s", "this s", "other / this",
                   "same rows"], "rllrrrrl")
    sides = ((args.other, args.other_engine), (args.build, args.engine))
    for n, name, (a, b), weightings in cases:
        for weights in weightings:
            times = ([], [])
            passes, tables = set(), set()
            for _ in range(args.runs):
                for side, (build, engine) in enumerate(sides):
                    runs = engines(build, a, b, weights, engine, timeout=args.timeout)
                    times[side].append(runs[0]["seconds"] if runs else float("inf"))
                    if runs:
                        passes.add(runs[0]["passes"])
                        tables.add(runs[0]["table"])
            other, this = median(times[0]), median(times[1])
            timed_out = other == float("inf") or this == float("inf")
            table.row(n, name, " ".join(weights), "/".join(map(str, sorted(passes))) or "-",
                      seconds(None if other == float("inf") else other, 4, args.timeout),
                      seconds(None if this == float("inf") else this, 4, args.timeout),
                      "-" if timed_out or not this else "%.3f" % (other / this),
                      "yes" if len(tables) == 1 else "NO")
    return 0
