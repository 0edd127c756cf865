"""Writes a scene: a look-alike pair, an easy pair, or a series.

  scenes lookalike N OUT1 OUT2 [--noise L] [--seed S] [--lost F] [--added F]
                   [--truth FILE] [--writer W]
  scenes easy N OUT1 OUT2 [--seed S]
  scenes series OUTDIR [--frames T] [--seeds N] [--noise L] [--divisions F]
                [--arrivals F] [--departures F] [--descriptors rich|diameter]
                [--turn DEG] [--growth G] [--drift D] [--seed S] [--pairs T ...]
                [--writer W] [--jobs J]

The models are in the docstrings of bench/scenes/lookalike.py, easy.py and
series.py. A series prints one row: its seed counts, the rates of its events
per frame pair (mean, and least to most), its wall and CPU seconds and size.
"""
import argparse
import dataclasses
import os
import resource
import statistics
import time

from commands.common import Failure, Table
from scenes import easy, files, lookalike, series


def add_arguments(parser: argparse.ArgumentParser) -> None:
    kinds = parser.add_subparsers(dest="kind", required=True, metavar="KIND")
    writer_help = ("what formats the distances: the path of seedmatch-gen-rows or python "
                   "(default the release build's helper if built, else python)")

    sub = kinds.add_parser("lookalike", help="a pair of look-alike seeds",
                           description=lookalike.__doc__,
                           formatter_class=argparse.RawDescriptionHelpFormatter)
    sub.add_argument("n", type=int, help="seeds in file 1")
    sub.add_argument("out1")
    sub.add_argument("out2")
    sub.add_argument("--noise", type=float, default=4.0, help="0 (easy) to 4 (hard); default 4")
    sub.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    sub.add_argument("--lost", type=float, default=0.08,
                     help="share of file 1's seeds absent from file 2 (default 0.08)")
    sub.add_argument("--added", type=float, default=0.08,
                     help="new seeds in file 2, as a share of N (default 0.08)")
    sub.add_argument("--truth", metavar="FILE",
                     help="also write the true pairs: index in file 1, tab, index in file 2")
    sub.add_argument("--writer", metavar="W", help=writer_help)

    sub = kinds.add_parser("easy", help="a pair whose descriptors find the partners",
                           description=easy.__doc__,
                           formatter_class=argparse.RawDescriptionHelpFormatter)
    sub.add_argument("n", type=int, help="seeds in file 1")
    sub.add_argument("out1")
    sub.add_argument("out2")
    sub.add_argument("--seed", type=int, default=1, help="random seed (default 1)")

    sub = kinds.add_parser("series", help="a time series with known lineages",
                           description=series.__doc__,
                           formatter_class=argparse.RawDescriptionHelpFormatter)
    defaults = series.Model()
    sub.add_argument("outdir")
    for name, kind, what in [
            ("frames", int, "frames"), ("seeds", int, "seeds of the first frame"),
            ("noise", float, "0 (easy) to 4 (hard)"),
            ("divisions", float, "share of seeds dividing a frame"),
            ("arrivals", float, "new seeds a frame, as a share of the seeds"),
            ("departures", float, "share of seeds leaving a frame"),
            ("turn", float, "degrees the tissue turns a frame"),
            ("drift", float, "root mean square length of a seed's own drift a frame"),
            ("seed", int, "random seed")]:
        sub.add_argument("--" + name, type=kind, default=getattr(defaults, name),
                         help="%s (default %%(default)s)" % what)
    sub.add_argument("--descriptors", choices=series.KINDS, default=defaults.descriptors,
                     help="rich look-alike descriptors or a diameter only (default rich)")
    sub.add_argument("--growth", type=float,
                     help="linear growth of the tissue a frame, 0.01 for 1%% (default: what "
                     "keeps the density as the seed count changes)")
    sub.add_argument("--pairs", type=int, action="append", default=[], metavar="T",
                     help="also write the true pairs of frames T and T+1 (repeatable)")
    sub.add_argument("--writer", metavar="W", help=writer_help)
    sub.add_argument("--jobs", type=int, help="frames written at once (default one per core)")


def check_writer(writer: str) -> None:
    if writer and writer != "python" and not os.access(writer, os.X_OK):
        raise Failure("--writer %s: no such program" % writer)


def check_distinct(outputs) -> None:
    """Refuses two outputs that name one file (by device and inode when it
    exists, else by the resolved path), before anything is written."""
    named = [(option, path) for option, path in outputs if path is not None]
    for k, (option, path) in enumerate(named):
        for other_option, other in named[:k]:
            same = os.path.samefile(path, other) if os.path.exists(path) and \
                os.path.exists(other) else os.path.realpath(path) == os.path.realpath(other)
            if same:
                raise Failure("%s %s and %s %s name the same file" % (other_option, other,
                                                                       option, path))


def cpu_seconds() -> float:
    return sum(getattr(resource.getrusage(who), field)
               for who in (resource.RUSAGE_SELF, resource.RUSAGE_CHILDREN)
               for field in ("ru_utime", "ru_stime"))


def rate(counts, sizes) -> str:
    shares = [c / n for c, n in zip(counts, sizes) if n]
    if not shares:
        return "-"
    return "%.4f (%.4f-%.4f)" % (statistics.mean(shares), min(shares), max(shares))


def run(args: argparse.Namespace) -> int:
    try:
        if args.kind in ("lookalike", "easy"):
            check_distinct([("OUT1", args.out1), ("OUT2", args.out2),
                            ("--truth", getattr(args, "truth", None))])
        if args.kind == "lookalike":
            check_writer(args.writer)
            lookalike.write_pair(args.n, args.out1, args.out2, args.noise, args.seed, args.lost,
                                 args.added, args.truth, args.writer)
        elif args.kind == "easy":
            easy.write_pair(args.n, args.out1, args.out2, args.seed)
        else:
            check_writer(args.writer)
            model = series.Model(**{f.name: getattr(args, f.name)
                                    for f in dataclasses.fields(series.Model)})
            start, cpu = time.perf_counter(), cpu_seconds()
            made = series.generate_series(args.outdir, model, args.pairs, args.writer,
                                          args.jobs)
            wall, cpu = time.perf_counter() - start, cpu_seconds() - cpu
            size = sum(os.path.getsize(os.path.join(args.outdir, f))
                       for f in os.listdir(args.outdir))
            steps, sizes = made.steps, [s.seeds for s in made.steps]
            table = Table(["frames", "seeds", "divisions", "arrivals", "departures", "wall s",
                           "CPU s", "MB"], "rlllllrr")
            table.row(len(made.sizes), "%d-%d" % (min(made.sizes), max(made.sizes)),
                      rate([s.divisions for s in steps], sizes),
                      rate([s.arrivals for s in steps], sizes),
                      rate([s.departures for s in steps], sizes),
                      "%.1f" % wall, "%.1f" % cpu, "%.0f" % (size / 1e6))
    except ValueError as error:
        raise Failure(str(error))
    except OSError as error:
        raise Failure(str(error))
    return 0
