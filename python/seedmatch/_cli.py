"""The commands of ``python3 -m seedmatch``: the parser, one run function per
command, and the one line a failure prints.

Exit status: 0 when the command has done its work (and for --help and
--version), 2 on any failure, with one line on standard error. Python itself
exits 1 when it cannot find the package at all.

Only the standard library is imported here at first, so that --help and
--version answer even where NumPy or the native module is missing; each run
function imports what it needs.
"""
from __future__ import annotations

import argparse
import logging
import os
import re
import sys
import warnings

EXIT_DONE = 0
EXIT_ERROR = 2
FORMATS = (".png", ".svg", ".pdf")
WEIGHTS = ("seed_weight", "hist_weight", "rpd_weight", "cost_limit")


class Failure(Exception):
    """A failure the command reports as its one line."""


class Parser(argparse.ArgumentParser):
    def error(self, message):
        raise Failure(message)


def atof(text: str) -> float:
    """The weights are read by the C library's atof, as the commands read them."""
    from . import _core
    return _core.atof(os.fsencode(text))


def version() -> str:
    try:
        from ._version import __version__
    except ImportError:  # a source tree that no build has laid out
        return "seedmatch (version unknown)"
    return f"seedmatch {__version__}"


# ---- the parser -----------------------------------------------------------------

def parser() -> Parser:
    top = Parser(prog="python3 -m seedmatch",
                 description="Commands of the seedmatch Python package.")
    top.add_argument("--version", action="version", version=version())
    commands = top.add_subparsers(dest="command", metavar="COMMAND", parser_class=Parser,
                                  required=True)
    add_plot(commands)
    add_sweep(commands)
    return top


def add_plot(commands) -> None:
    plot = commands.add_parser(
        "plot", help="draw a pairing of two seed files to a PNG, SVG or PDF",
        description="Pairs the seeds of FILE1 with those of FILE2 by auction, as seedmatch "
                    "does, and draws the pairing: both sets on their two widest axes with "
                    "each pair coloured by its evaluation cost, the unmatched seeds, and "
                    "histograms of the stored costs and the displacements.")
    plot.add_argument("file1", metavar="FILE1")
    plot.add_argument("file2", metavar="FILE2")
    for name in WEIGHTS:
        plot.add_argument(name, metavar=name.upper(), type=atof)
    plot.add_argument("-o", "--output", required=True, metavar="PICTURE",
                      help="the file to write; .png, .svg or .pdf chooses the format")
    plot.set_defaults(run=run_plot)


def add_sweep(commands) -> None:
    command = commands.add_parser(
        "sweep", help="match two seed files under many weightings and tabulate the results",
        description="Pairs the seeds of FILE1 with those of FILE2 under every combination of "
                    "the weights given, as seedmatch does for each, and writes one CSV row "
                    "per weighting: the weights, the pairs made, the report's summary at full "
                    "precision, the passes and the seconds; with --truth also the pairs that "
                    "are true, precision, recall and F1, and the best weighting by F1 on "
                    "standard error. LIST is comma-separated numbers or START:STOP:COUNT.")
    command.add_argument("file1", metavar="FILE1")
    command.add_argument("file2", metavar="FILE2")
    for name in WEIGHTS:
        option = "--" + name.replace("_", "-")
        command.add_argument(option, required=True, metavar="LIST", dest=name)
    command.add_argument("--truth", metavar="FILE",
                         help="true pairs: index in FILE1 and index in FILE2 per line")
    command.add_argument("-o", "--output", metavar="TABLE.csv",
                         help="write the table here instead of standard output")
    command.add_argument("--plot", metavar="PICTURE",
                         help="draw the table as heat maps; .png, .svg or .pdf")
    command.set_defaults(run=run_sweep)


# ---- what the commands share ----------------------------------------------------

def check_picture_format(path: str) -> None:
    if not path.lower().endswith(FORMATS):
        raise Failure(f"cannot tell the picture format of '{path}'; "
                      "end it in .png, .svg or .pdf")


def need_matplotlib(command: str) -> None:
    try:
        import matplotlib  # noqa: F401
    except ImportError as error:
        raise Failure(f"cannot import matplotlib, which {command} needs ({error}); on Debian, "
                      "apt-get install python3-matplotlib") from error


def number_list(text: str) -> list[float]:
    """Comma-separated numbers, or START:STOP:COUNT for COUNT evenly spaced values."""
    import numpy as np
    try:
        if ":" in text:
            parts = text.split(":")
            if len(parts) != 3:
                raise ValueError("expected START:STOP:COUNT, three numbers and two colons")
            start, stop, count = parts
            if not count.strip().isdigit() or int(count) < 1:
                raise ValueError(f"COUNT must be a whole number of at least 1, not '{count}'")
            values = np.linspace(float(start), float(stop), int(count)).tolist()
        else:
            values = [float(item) for item in text.split(",")]
    except ValueError as error:
        reason = str(error)
        if reason.startswith("could not convert"):
            reason = "expected numbers separated by commas, or START:STOP:COUNT"
        raise ValueError(f"'{text}': {reason}") from None
    return values


def write_csv(table, out) -> None:
    """The table as CSV: a header of field names, reals at full precision (repr)."""
    names = table.dtype.names
    out.write(",".join(names) + "\n")
    for row in table.tolist():
        out.write(",".join(repr(v) for v in row) + "\n")


def write_table(table, path: str | None) -> None:
    """The table as CSV to path, or to standard output for None."""
    from ._outputs import write_error
    try:
        if path is None:
            write_csv(table, sys.stdout)
            sys.stdout.flush()
        else:
            with open(path, "w") as out:
                write_csv(table, out)
    except OSError as error:
        if path is None:  # what is left in the buffer cannot go out at exit either
            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        raise write_error(path, error) from None


# ---- one function per command ---------------------------------------------------

def run_plot(args) -> None:
    import seedmatch
    from ._outputs import check_paths, save_figure
    check_picture_format(args.output)
    need_matplotlib("plot")
    check_paths([args.file1, args.file2], {"-o": args.output})
    set1 = seedmatch.read_seeds(args.file1)
    set2 = seedmatch.read_seeds(args.file2)
    matching = seedmatch.match(set1, set2, args.seed_weight, args.hist_weight,
                               args.rpd_weight, args.cost_limit)
    figure = seedmatch.plot(set1, set2, matching, args.seed_weight, args.hist_weight,
                            args.cost_limit)
    save_figure(figure, args.output, dpi=120)


def run_sweep(args) -> None:
    import seedmatch
    from ._outputs import STANDARD_OUTPUT, check_paths, save_figure

    lists = []
    for name in WEIGHTS:
        try:
            lists.append(number_list(getattr(args, name)))
        except ValueError as error:
            raise Failure(f"--{name.replace('_', '-')}: {error}") from None
    if args.plot:
        check_picture_format(args.plot)
        for name, values in zip(WEIGHTS, lists):
            if any(v != v for v in values):
                raise Failure(f"--{name.replace('_', '-')}: a weight of NaN has no place on "
                              "the picture's axes (--plot)")
    check_paths([args.file1, args.file2, args.truth],
                {"-o": args.output if args.output is not None else STANDARD_OUTPUT,
                 "--plot": args.plot})
    set1 = seedmatch.read_seeds(args.file1)
    set2 = seedmatch.read_seeds(args.file2)
    truth = None if args.truth is None else seedmatch.read_truth(args.truth, set1, set2)
    table = seedmatch.sweep(set1, set2, seedmatch.grid(*lists), truth=truth)

    write_table(table, args.output)
    if args.plot:
        save_figure(seedmatch.plot_sweep(table), args.plot, dpi=110)
    if truth is not None and len(table):
        best = table[int(table["f1"].argmax())]
        print("best by F1: " + " ".join(f"--{n.replace('_', '-')} {float(best[n])!r}"
                                        for n in WEIGHTS)
              + f" (f1 {best['f1']:.6g}, precision {best['precision']:.6g}, recall "
              f"{best['recall']:.6g}, {best['pairs']} pairs)", file=sys.stderr)


# ---- running a command ----------------------------------------------------------

def one_line(error: BaseException) -> str:
    """The error as the line the commands print."""
    from ._errors import FileError
    if isinstance(error, FileError):
        return str(error)
    if isinstance(error, KeyboardInterrupt):
        text = "interrupted"
    elif isinstance(error, MemoryError):
        text = "out of memory"
    else:
        text = "; ".join(line.strip() for line in str(error).splitlines() if line.strip())
        text = text or type(error).__name__
    return f"seedmatch: {text}"


def main(argv: list[str] | None = None, unavailable: str | None = None) -> int:
    """Runs one command; returns the exit status.

    unavailable: why the package cannot work here (NumPy or the native module
    missing); --help and --version still answer, anything else fails with it.
    """
    # Standard error carries the one line of a failure and nothing else.
    if not logging.getLogger().handlers:
        logging.getLogger().addHandler(logging.NullHandler())
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            args = parser().parse_args(argv)
            if unavailable is not None:
                raise Failure(unavailable)
            args.run(args)
        except (Exception, KeyboardInterrupt) as error:
            if unavailable is not None:
                error = Failure(unavailable)
            print(one_line(error), file=sys.stderr)
            return EXIT_ERROR
    return EXIT_DONE


def command_arguments() -> list[str] | None:
    """The arguments after ``-m seedmatch`` while Python is still importing the
    package to run it (sys.argv holds them only once it runs __main__)."""
    given = getattr(sys, "orig_argv", None)
    for k, arg in enumerate(given or []):
        option = re.fullmatch(r"-\w*m(seedmatch(\.__main__)?)?", arg)
        if option:
            return given[k + (1 if option.group(1) else 2):]
    return None
