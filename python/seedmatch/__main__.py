"""python3 -m seedmatch: commands over the seedmatch package.

Exit status as for the seedmatch commands: 1 after a completed run, 2 on an
error (one line on standard error), 0 for --help.
"""
from __future__ import annotations

import argparse
import re
import sys

from . import _sweep as sweep

EXIT_COMPLETED = 1
EXIT_ERROR = 2
FORMATS = (".png", ".svg", ".pdf")

_NUMBER_PREFIX = re.compile(
    r"\s*[+-]?(?:(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?|inf(?:inity)?|nan)", re.IGNORECASE)


def atof(text: str) -> float:
    """The weights are read as the commands read them: a numeric prefix, else 0."""
    found = _NUMBER_PREFIX.match(text)
    if not found:
        return 0.0
    number = found.group(0).strip()
    try:
        return float(number)
    except ValueError:  # a mantissa followed by a bare 'e', as in '2e'
        return float(re.match(r"[+-]?(?:\d+\.?\d*|\.\d+)", number).group(0))


class Parser(argparse.ArgumentParser):
    def error(self, message):
        print(f"seedmatch: {message}", file=sys.stderr)
        sys.exit(EXIT_ERROR)


def parser() -> Parser:
    top = Parser(prog="python3 -m seedmatch",
                 description="Commands of the seedmatch Python package.")
    commands = top.add_subparsers(dest="command", metavar="COMMAND", parser_class=Parser)
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
    sweep.add_parser(commands)
    return top


def run_plot(args) -> int:
    import seedmatch

    if not args.output.lower().endswith(FORMATS):
        print(f"seedmatch: cannot tell the picture format of '{args.output}'; "
              "end it in .png, .svg or .pdf", file=sys.stderr)
        return EXIT_ERROR
    try:
        set1 = seedmatch.read_seeds(args.file1)
        set2 = seedmatch.read_seeds(args.file2)
    except seedmatch.SeedFileError as error:
        print(error, file=sys.stderr)
        return EXIT_ERROR
    matching = seedmatch.match(set1, set2, args.seed_weight, args.hist_weight,
                               args.rpd_weight, args.cost_limit)
    figure = seedmatch.plot(set1, set2, matching, args.seed_weight, args.hist_weight,
                            args.cost_limit)
    try:
        figure.savefig(args.output, dpi=120)
    except OSError as error:
        reason = (error.strerror or str(error)).lower()
        print(f"seedmatch: cannot write {args.output}: {reason}", file=sys.stderr)
        return EXIT_ERROR
    return EXIT_COMPLETED


def main(argv=None) -> int:
    args = parser().parse_args(argv)
    if args.command is None:
        parser().print_help()
        return EXIT_ERROR
    if args.command == "sweep":
        return sweep.main(args)
    return run_plot(args)


if __name__ == "__main__":
    sys.exit(main())
