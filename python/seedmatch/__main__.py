"""python3 -m seedmatch: commands over the seedmatch package.

Exit status: 0 when the command has done its work (and for --help and
--version), 2 on any failure, with one line on standard error. Python itself
exits 1 when it cannot find the package at all.
"""
from __future__ import annotations

import argparse
import logging
import os
import sys
import warnings

import seedmatch

EXIT_DONE = 0
EXIT_ERROR = 2
FORMATS = (".png", ".svg", ".pdf")


class Failure(Exception):
    """A failure the command reports as its one line."""


def atof(text: str) -> float:
    """The weights are read by the C library's atof, as the commands read them."""
    return seedmatch._core.atof(os.fsencode(text))


class Parser(argparse.ArgumentParser):
    def error(self, message):
        raise Failure(message)


def parser() -> Parser:
    top = Parser(prog="python3 -m seedmatch",
                 description="Commands of the seedmatch Python package.")
    top.add_argument("--version", action="version", version=f"seedmatch {seedmatch.__version__}")
    commands = top.add_subparsers(dest="command", metavar="COMMAND", parser_class=Parser,
                                  required=True)
    plot = commands.add_parser(
        "plot", help="draw a pairing of two seed files to a PNG, SVG or PDF",
        description="Pairs the seeds of FILE1 with those of FILE2 by auction, as seedmatch "
                    "does, and draws the pairing: both sets on their two widest axes with "
                    "each pair coloured by its evaluation cost, the unmatched seeds, and "
                    "histograms of the stored costs and the displacements.")
    plot.add_argument("file1", metavar="FILE1")
    plot.add_argument("file2", metavar="FILE2")
    for name in ("SEED_WEIGHT", "HIST_WEIGHT", "RPD_WEIGHT", "COST_LIMIT"):
        plot.add_argument(name.lower(), metavar=name, type=atof)
    plot.add_argument("-o", "--output", required=True, metavar="PICTURE",
                      help="the file to write; .png, .svg or .pdf chooses the format")
    return top


def run_plot(args) -> None:
    if not args.output.lower().endswith(FORMATS):
        raise Failure(f"cannot tell the picture format of '{args.output}'; "
                      "end it in .png, .svg or .pdf")
    try:
        import matplotlib  # noqa: F401
    except ImportError as error:
        raise Failure(f"cannot import matplotlib, which plot needs ({error}); on Debian, "
                      "apt-get install python3-matplotlib") from error
    set1 = seedmatch.read_seeds(args.file1)
    set2 = seedmatch.read_seeds(args.file2)
    matching = seedmatch.match(set1, set2, args.seed_weight, args.hist_weight,
                               args.rpd_weight, args.cost_limit)
    figure = seedmatch.plot(set1, set2, matching, args.seed_weight, args.hist_weight,
                            args.cost_limit)
    try:
        figure.savefig(args.output, dpi=120)
    except OSError as error:
        reason = (error.strerror or str(error)).lower()
        raise Failure(f"cannot write {args.output}: {reason}") from error


def one_line(error: BaseException) -> str:
    """The error as the line the commands print."""
    if isinstance(error, seedmatch.SeedFileError):
        return str(error)
    if isinstance(error, KeyboardInterrupt):
        text = "interrupted"
    elif isinstance(error, MemoryError):
        text = "out of memory"
    else:
        text = "; ".join(line.strip() for line in str(error).splitlines() if line.strip())
        text = text or type(error).__name__
    return f"seedmatch: {text}"


def main(argv=None) -> int:
    # Standard error carries the one line of a failure and nothing else.
    if not logging.getLogger().handlers:
        logging.getLogger().addHandler(logging.NullHandler())
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            run_plot(parser().parse_args(argv))
        except (Exception, KeyboardInterrupt) as error:
            print(one_line(error), file=sys.stderr)
            return EXIT_ERROR
    return EXIT_DONE


if __name__ == "__main__":
    sys.exit(main())
