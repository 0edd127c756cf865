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

from ._errors import error_line

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
    add_track(commands)
    add_view(commands)
    return top


def add_pairing_arguments(command, output: str, output_help: str) -> None:
    """FILE1 FILE2, the four weights as seedmatch takes them, and -o OUTPUT."""
    command.add_argument("file1", metavar="FILE1")
    command.add_argument("file2", metavar="FILE2")
    for name in WEIGHTS:
        command.add_argument(name, metavar=name.upper(), type=atof)
    command.add_argument("-o", "--output", required=True, metavar=output, help=output_help)


def drawn_pairing(args, draw):
    """draw(set1, set2, matching, seed_weight, hist_weight, cost_limit) of the
    pairing seedmatch makes of the command's two files."""
    import seedmatch
    set1 = seedmatch.read_seeds(args.file1)
    set2 = seedmatch.read_seeds(args.file2)
    matching = seedmatch.match(set1, set2, args.seed_weight, args.hist_weight,
                               args.rpd_weight, args.cost_limit)
    return draw(set1, set2, matching, args.seed_weight, args.hist_weight, args.cost_limit)


def add_plot(commands) -> None:
    plot = commands.add_parser(
        "plot", help="draw a pairing of two seed files to a PNG, SVG or PDF",
        description="Pairs the seeds of FILE1 with those of FILE2 by auction, as seedmatch "
                    "does, and draws the pairing: both sets on their two widest axes with "
                    "each pair coloured by its evaluation cost, the unmatched seeds, and "
                    "histograms of the stored costs and the displacements.")
    add_pairing_arguments(plot, "PICTURE",
                          "the file to write; .png, .svg or .pdf chooses the format")
    plot.set_defaults(run=run_plot)


def add_sweep(commands) -> None:
    command = commands.add_parser(
        "sweep", help="match two seed files under many weightings and tabulate the results",
        description="Pairs the seeds of FILE1 with those of FILE2 under every combination of "
                    "the weights given, as seedmatch does for each, and writes one CSV row "
                    "per weighting: the weights, the pairs made, the report's summary at full "
                    "precision, the passes, the seconds, and the estimated true pairs, "
                    "precision, recall and F1 of the pairing, judged from the stored "
                    "distances without known pairs; with --truth also the pairs that are "
                    "true, precision, recall and F1. On standard error it names the best "
                    "weighting by estimated F1 (and with --truth first the best by F1) as "
                    "options to paste. LIST is comma-separated numbers or START:STOP:COUNT.")
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


def add_view(commands) -> None:
    command = commands.add_parser(
        "view", help="write a pairing of two seed files as a 3D page for any browser",
        description="Pairs the seeds of FILE1 with those of FILE2 by auction, as seedmatch "
                    "does, and writes the pairing in 3D as one HTML page that opens offline: "
                    "both sets, each pair a segment coloured by its evaluation cost, the "
                    "unmatched and the doubtful pairs apart; hovering over a pair shows its "
                    "line of the report.")
    add_pairing_arguments(command, "PAGE.html", "the page to write")
    command.set_defaults(run=run_view)


def add_track(commands) -> None:
    command = commands.add_parser(
        "track", help="follow seeds through a time series of seed files: tracks with divisions",
        description="Pairs each FRAME with the next, as seedmatch does with the same weights "
                    "(or by positions, with --linker), adds the divisions, and writes the "
                    "tracks: one CSV row per seed of every frame (track_id,t,seed,x,y,z,"
                    "parent_track_id), and on request the Cell Tracking Challenge's "
                    "res_track.txt, a GEFF group and a picture of the lineages. With --truth, "
                    "scores the tracks against known links and prints the scores on standard "
                    "error. Frames are numbered from 0 in the order given.")
    command.add_argument("frames", nargs="+", metavar="FRAME", help="seed files in time order")
    for name in WEIGHTS:
        command.add_argument("--" + name.replace("_", "-"), required=True, metavar="W",
                             dest=name, type=atof)
    command.add_argument("--linker", choices=("auction", "positions", "auto"),
                         default="auction",
                         help="what pairs each frame pair: the auction (the default), optimal "
                              "assignment on positions, or per frame pair whichever of the two "
                              "the estimate trusts more")
    command.add_argument("--estimate", action="store_true",
                         help="estimate the precision of each frame pair's pairs (about the "
                              "auction's time again); made anyway with --linker auto or --plot, "
                              "whose picture draws it")
    command.add_argument("-o", "--output", required=True, metavar="TRACKS.csv")
    command.add_argument("--ctc", metavar="FILE", help="also write res_track.txt here")
    command.add_argument("--geff", metavar="DIR", help="also write a GEFF group here (zarr)")
    command.add_argument("--truth", metavar="FILE",
                         help="known lineages: lines 't i j', one per link, or a track CSV")
    command.add_argument("--plot", metavar="PICTURE",
                         help="draw the lineages; .png, .svg or .pdf")
    command.add_argument("--html", metavar="PAGE.html",
                         help="write the lineages in 3D, with a frame slider, as one HTML page "
                              "that opens offline")
    command.set_defaults(run=run_track)


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
    save_figure(drawn_pairing(args, seedmatch.plot), args.output, dpi=120)


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
    if not len(table):
        return
    if truth is not None:
        print_best("best by F1", table, "", file=sys.stderr)
    print_best("best by estimated F1", table, "est_", file=sys.stderr)


def print_best(title: str, table, prefix: str, file) -> None:
    """The weighting with the highest {prefix}f1, as options to paste, and its scores."""
    best = table[int(table[prefix + "f1"].argmax())]
    scores = f"{prefix}f1 {best[prefix + 'f1']:.6g}, {prefix}precision " \
        f"{best[prefix + 'precision']:.6g}, {prefix}recall {best[prefix + 'recall']:.6g}"
    if prefix and "f1" in table.dtype.names:
        scores += f"; f1 {best['f1']:.6g}"
    print(f"{title}: " + " ".join(f"--{n.replace('_', '-')} {float(best[n])!r}" for n in WEIGHTS)
          + f" ({scores}, {best['pairs']} pairs)", file=file)


def run_view(args) -> None:
    import seedmatch
    from ._view import need_plotly
    try:
        need_plotly()
    except ImportError as error:
        raise Failure(str(error)) from None
    from ._outputs import check_paths
    check_paths([args.file1, args.file2], {"-o": args.output})
    write_page(drawn_pairing(args, seedmatch.view), args.output)


def write_page(figure, path: str) -> None:
    """The figure as one self-contained page at path, whole or not at all."""
    import tempfile
    temporary = None
    try:
        with tempfile.NamedTemporaryFile("w", dir=os.path.dirname(os.path.abspath(path)),
                                         prefix=".", suffix=".html", delete=False,
                                         encoding="utf-8") as out:
            temporary = out.name
            figure.write_html(out, include_plotlyjs=True, full_html=True)
        os.chmod(temporary, 0o666 & ~current_umask())
        os.replace(temporary, path)
        temporary = None
    except OSError as error:
        raise Failure(f"cannot write {path}: {(error.strerror or str(error)).lower()}") \
            from None
    finally:
        if temporary is not None:
            os.unlink(temporary)


def current_umask() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return mask


def run_track(args) -> None:
    import seedmatch
    from ._outputs import check_paths, save_figure
    check_paths(args.frames, {"-o": args.output, "--ctc": args.ctc, "--geff": args.geff,
                              "--plot": args.plot, "--html": args.html})
    if args.html:
        from ._view import need_plotly
        try:
            need_plotly()
        except ImportError as error:
            raise Failure(str(error)) from None
    if args.plot:
        check_picture_format(args.plot)
        need_matplotlib("track --plot")
    if args.geff:
        from ._geff import need_zarr
        try:
            need_zarr()
        except ImportError as error:
            raise Failure(str(error)) from None
    if args.truth is not None:
        seedmatch.read_track_truth(args.truth)  # a bad file fails before the long part
    tracks = seedmatch.track(args.frames, args.seed_weight, args.hist_weight, args.rpd_weight,
                             args.cost_limit, linker=args.linker,
                             estimate=args.estimate or args.plot is not None)
    score = None
    if args.truth is not None:
        score = seedmatch.score_tracks(tracks, args.truth)
    where = args.output
    try:
        tracks.to_csv(args.output)
        if args.ctc:
            where = args.ctc
            tracks.to_ctc(args.ctc)
        if args.geff:
            where = args.geff
            tracks.to_geff(args.geff, overwrite=True)
    except OSError as error:
        raise Failure(f"cannot write {where}: {(error.strerror or str(error)).lower()}") \
            from None
    if args.plot:
        save_figure(tracks.plot(), args.plot, dpi=110)
    if args.html:
        write_page(tracks.view(), args.html)
    if score is not None:
        print(str(score), file=sys.stderr)


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
    return error_line(text)


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
