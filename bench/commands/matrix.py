"""The auction where structure decides: sizes x difficulties x weights.

For each kind of scene (--kinds: lookalike pairs by default; series, frames 0
and 1 of a series), size (--sizes) and difficulty (--noise), at the weights of
that kind (common.WEIGHTS), one row: passes per bidder, contenders per pass
(objects whose fixed part plus price is below the winner's pair cost plus
price, counted by a run of their own up to --count-up-to seeds) as a share of
all objects, the medians of seedmatch-read and seedmatch run interleaved and
their ratio, the matching step's median (fast engine), the plain engine's
matching time where it finishes within --plain-timeout, and seedmatch's peak
RSS beside the bound 1.5 x (8 bytes x all distances of both files) + 32 MB.
A run over --timeout prints ">T". --quick: N 1000 and 2000, hard, 3 runs.
--cpu times seedmatch and seedmatch-read by CPU seconds (user + system of
all threads) instead of wall seconds, for a machine whose other work makes
wall times wander. --other BUILD also runs that build's seedmatch in the same interleaved
runs and adds its median and its ratio to the same reads ("other s",
"other ratio"), so that two builds compare side by side. --bare also times
seedmatch-read-loop, the bare read (both files mapped and every token
converted by from_chars on one core, nothing stored), in the same runs, and
adds its median and seedmatch's ratio to it ("bare s", "÷ bare").
"""
import argparse
from typing import Dict, Optional, Tuple

import scenes
from commands.common import (DIFFICULTY, WEIGHTS, Failure, Table, engines, measure, median,
                             program, seconds, seed_count)


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--quick", action="store_true",
                        help="the short table: N 1000 and 2000, hard, 3 runs")
    parser.add_argument("--runs", type=int, help="runs a timing (default 5, --quick 3)")
    parser.add_argument("--sizes", type=int, nargs="+", help="default 1000 2000 4000")
    parser.add_argument("--noise", type=float, nargs="+",
                        help="difficulties, 0 easy to 4 hard (default 0 2 4)")
    parser.add_argument("--kinds", nargs="+", default=["lookalike"],
                        choices=sorted(WEIGHTS), help="kinds of scene (default lookalike)")
    parser.add_argument("--timeout", type=float, default=300.0,
                        help="seconds before a seedmatch run is given up (default 300)")
    parser.add_argument("--plain-timeout", type=float, default=60.0,
                        help="seconds before the plain engine is given up (default 60)")
    parser.add_argument("--count-up-to", type=int, default=2000,
                        help="count contenders (a slow run of their own) up to this N")
    parser.add_argument("--cpu", action="store_true",
                        help="time the runs by CPU seconds rather than wall seconds")
    parser.add_argument("--other", metavar="BUILD",
                        help="also time this build's seedmatch in the same runs")
    parser.add_argument("--bare", action="store_true",
                        help="also time the bare from_chars read, seedmatch-read-loop")


def run_args(args: argparse.Namespace) -> None:
    args.runs = args.runs or (3 if args.quick else 5)
    args.sizes = args.sizes or ([1000, 2000] if args.quick else [1000, 2000, 4000])
    args.noise = args.noise or ([4.0] if args.quick else [0.0, 2.0, 4.0])


def run(args: argparse.Namespace) -> int:
    run_args(args)
    read, full = program(args.build, "seedmatch-read"), program(args.build, "seedmatch")
    other = program(args.other, "seedmatch") if args.other else None
    bare = program(args.build, "seedmatch-read-loop") if args.bare else None
    print("medians of %d runs, seedmatch and seedmatch-read interleaved%s; plain engine once, "
          "up to %g s; timeout %g s\n" % (args.runs, ", CPU seconds" if args.cpu else "",
                                           args.plain_timeout, args.timeout))

    def timed(argv):
        done = measure(argv, args.timeout)
        return done, (done.cpu if args.cpu and done.seconds is not None else done.seconds)
    table = Table(["N", "scene", "weights", "passes/bidder", "contenders/pass", "read s",
                   "seedmatch s", "ratio", "match s", "plain s", "RSS MB", "bound MB"]
                  + (["bare s", "÷ bare"] if bare else [])
                  + (["other s", "other ratio"] if other else []),
                  "rllrrrrrrrrr" + ("rr" if bare else "") + ("rr" if other else ""))
    # (kind, noise, weights) -> (N, plain seconds or None, passes) of the last
    # plain run, to skip those that cannot finish in time.
    plain_seen: Dict[Tuple, Tuple[int, Optional[float], int]] = {}
    for kind in args.kinds:
        for n in sorted(args.sizes):
            for noise in args.noise:
                pair = scenes.pair(kind, n, noise, cache=args.scenes)
                n1, n2 = seed_count(pair.a), seed_count(pair.b)
                bidders, objects = max(1, min(n1, n2)), max(1, n1, n2)
                bound = 1.5 * 8 * (n1 * n1 + n2 * n2) / 2**20 + 32
                for weights in WEIGHTS[kind]:
                    reads, fulls, others, bares, rss = [], [], [], [], 0.0
                    for _ in range(args.runs):
                        reads.append(timed([read, pair.a, pair.b])[1])
                        if reads[-1] is None:
                            raise Failure("seedmatch-read took over %g s on %s"
                                          % (args.timeout, pair.a))
                        if bare:
                            bares.append(timed([bare, pair.a, pair.b])[1])
                        if other:
                            others.append(timed([other, pair.a, pair.b, *weights])[1])
                        done, took = timed([full, pair.a, pair.b, *weights])
                        rss = max(rss, done.rss_mb)
                        if took is None:
                            fulls = None
                            break
                        fulls.append(took)

                    passes = contenders = match = None
                    if fulls is not None:
                        fast = engines(args.build, pair.a, pair.b, weights, "fast", args.runs,
                                       args.timeout * args.runs)
                        if fast:
                            match = median([r["seconds"] for r in fast])
                            passes = fast[0]["passes"]
                        if n <= args.count_up_to:
                            counted = engines(args.build, pair.a, pair.b, weights, "counted",
                                              timeout=args.timeout)
                            contenders = counted[0]["contenders"] if counted else None

                    key = (kind, noise, weights)
                    plain = None
                    seen = plain_seen.get(key)
                    hopeless = seen is not None and (seen[1] is None or (
                        passes is not None and seen[2] and
                        seen[1] * (n / seen[0])**2 * passes / seen[2] > args.plain_timeout))
                    if not hopeless:
                        runs = engines(args.build, pair.a, pair.b, weights, "plain",
                                       timeout=args.plain_timeout)
                        if runs:
                            plain, passes = runs[0]["seconds"], runs[0]["passes"]
                            contenders = contenders or runs[0]["contenders"]
                        plain_seen[key] = (n, plain, passes or 0)

                    table.row(
                        n, ("%s %g %s" % (kind, noise, DIFFICULTY.get(noise, ""))).strip(),
                        " ".join(weights),
                        "-" if passes is None else "%.2f" % (passes / bidders),
                        "-" if not (contenders and passes) else
                        "%.2f%%" % (100.0 * contenders / passes / objects),
                        seconds(median(reads)),
                        seconds(None if fulls is None else median(fulls), timeout=args.timeout),
                        "-" if fulls is None else "%.2f" % (median(fulls) / median(reads)),
                        seconds(match, 4, args.timeout), seconds(plain),
                        "%.1f" % rss, "%.1f" % bound,
                        *(bare_cells(bares, fulls) if bare else []),
                        *(other_cells(others, reads, args.timeout) if other else []))
    return 0


def other_cells(others, reads, timeout: float):
    """The median of others and its ratio to that of reads; ">T" when a run timed out."""
    if None in others or None in reads:
        return [seconds(None, timeout=timeout), "-"]
    return [seconds(median(others)), "%.2f" % (median(others) / median(reads))]


def bare_cells(bares, fulls):
    """The bare read's median and seedmatch's ratio to it."""
    ratio = "-" if not fulls else "%.2f" % (median(fulls) / median(bares))
    return [seconds(median(bares)), ratio]
