"""What changes between two passes of one bidder, on contested frames.

For each kind of scene (--kinds: series-diameter and sisters by default),
size and difficulty, at the weights of its kind, one row from a run of
seedmatch-churn: passes per bidder; between two passes of a bidder, the
wins (handovers) and the objects taken for the first time; the moved holder
distance, which bounds how far the bidder's rpd sums can have fallen, as a
fall of its costs counted in bid increments; and the share of the held list
before the first object that changed, all that a sum resumed from a stored
partial sum could keep. Percentiles 10, 50 and 90, or the median alone.
"""
import argparse

import scenes
from commands.common import DIFFICULTY, WEIGHTS, Table, measure, program, seed_count


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--sizes", type=int, nargs="+", default=[2000], help="default 2000")
    parser.add_argument("--noise", type=float, nargs="+", default=[2.0], help="default 2")
    parser.add_argument("--kinds", nargs="+", default=["series-diameter", "sisters"],
                        choices=sorted(WEIGHTS), help="default series-diameter sisters")


def run(args: argparse.Namespace) -> int:
    table = Table(["N", "scene", "weights", "passes/bidder", "handovers", "newly held",
                   "moved distance", "fall in increments", "unchanged prefix"], "rllrrrrrr")
    for kind in args.kinds:
        for n in args.sizes:
            for noise in args.noise:
                pair = scenes.pair(kind, n, noise, cache=args.scenes)
                bidders = max(1, min(seed_count(pair.a), seed_count(pair.b)))
                for weights in WEIGHTS[kind]:
                    done = measure([program(args.build, "seedmatch-churn"), pair.a, pair.b,
                                    *weights], output=True)
                    lines = [line.split() for line in done.output.splitlines()]
                    passes = int(lines[0][1])
                    got = {line[0]: [float(v) for v in line[1:]] for line in lines[1:]}
                    table.row(n, ("%s %g %s" % (kind, noise, DIFFICULTY.get(noise, ""))).strip(),
                              " ".join(weights), "%.2f" % (passes / bidders),
                              spread(got["handovers"]), "%g" % got["newly_held"][1],
                              "%.4g" % got["moved_distance"][1],
                              spread(got["drift_increments"]),
                              "%.2f%%" % (100.0 * got["unchanged_prefix"][1]))
    return 0


def spread(percentiles) -> str:
    """Percentiles 10, 50 and 90 in one cell."""
    return " / ".join("%.4g" % v for v in percentiles)
