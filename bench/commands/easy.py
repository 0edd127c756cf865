"""The easy pairs end to end, and the matching step alone.

For each size, the easy pair (scenes/easy.py: the descriptors find the
partners) timed with seedmatch-read and seedmatch in turn, --runs times each:
the medians, their ratio, the auction's pass count and seedmatch's peak RSS
beside the bound 1.5 x (8 bytes x all distances of both files) + 32 MB. Then,
for N <= 1000, the matching step alone, fast engine (median) and plain (once),
and at N = 1000 once more with a negative rpdWeight.

Weights 1 0.5 1 2: a pair of N seeds gets about 0.87 N pairs, with about one
pass a bidder. --contested raises costLimit to 6, the worst case: a seed
whose partner is missing finds objects it may win, takes one from its
rightful holder, and the two outbid each other until the pass limit; the
matching step then covers N = 1000 only.
"""
import argparse
import os

import scenes
from commands.common import (CONTESTED, USUAL, Table, engines, measure, median, program,
                             seed_count)


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--runs", type=int, default=5, help="runs a timing (default 5)")
    parser.add_argument("--sizes", type=int, nargs="+", default=[500, 1000, 2000, 4000],
                        help="default 500 1000 2000 4000")
    parser.add_argument("--contested", action="store_true",
                        help="costLimit 6: every run reaches the pass limit")


def run(args: argparse.Namespace) -> int:
    weights = CONTESTED if args.contested else USUAL
    read, full = program(args.build, "seedmatch-read"), program(args.build, "seedmatch")
    print("easy pairs; weights (seed hist rpd costLimit) %s; medians of %d runs\n"
          % (" ".join(weights), args.runs))
    table = Table(["N", "input MB", "read s", "seedmatch s", "ratio", "passes", "RSS MB",
                   "bound MB"], "rrrrrrrr")
    small = []
    for n in args.sizes:
        pair = scenes.pair("easy", n, cache=args.scenes)
        reads, fulls, rss = [], [], 0.0
        for _ in range(args.runs):
            reads.append(measure([read, pair.a, pair.b]).seconds)
            done = measure([full, pair.a, pair.b, *weights])
            fulls.append(done.seconds)
            rss = max(rss, done.rss_mb)
        passes = engines(args.build, pair.a, pair.b, weights)[0]["passes"]
        n1, n2 = seed_count(pair.a), seed_count(pair.b)
        r, f = median(reads), median(fulls)
        table.row(n, "%.1f" % ((os.path.getsize(pair.a) + os.path.getsize(pair.b)) / 1e6),
                  "%.3f" % r, "%.3f" % f, "%.2f" % (f / r), passes, "%.1f" % rss,
                  "%.1f" % (1.5 * 8 * (n1 * n1 + n2 * n2) / 2**20 + 32))
        if n <= 1000 and (n == 1000 or not args.contested):
            small.append((n, pair))
    if not small:
        return 0
    print("\nmatching step alone (median of %d fast, 1 plain)\n" % args.runs)
    table = Table(["N", "rpdWeight", "fast s", "plain s", "speed-up"], "rrrrr")
    cases = [(n, pair, weights) for n, pair in small]
    if not args.contested:
        negative = (weights[0], weights[1], "-" + weights[2], weights[3])
        cases += [(n, pair, negative) for n, pair in small if n == 1000]
    for n, pair, w in cases:
        fast = median([r["seconds"] for r in engines(args.build, pair.a, pair.b, w, "fast",
                                                        args.runs)])
        plain = engines(args.build, pair.a, pair.b, w, "plain")[0]["seconds"]
        table.row(n, w[2], "%.4f" % fast, "%.3f" % plain, "%.0fx" % (plain / fast))
    return 0
