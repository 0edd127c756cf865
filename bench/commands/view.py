"""The 3D view's page: its size, and how long headless Chromium takes to load
it and draw its first frame.

On the easy pair of each --n, the pairing at the usual weights (1 0.5 1 2) is
written as a page by seedmatch.view. Beside them, a page holding an empty 3D
scene: plotly.js alone. One headless Chromium (software WebGL, offline) opens
a page untimed, then --rounds rounds of every page in turn; a time runs from
the start of navigation to two animation frames after the load event, as the
page measures it. Prints, per page, its size, the seconds seedmatch.view and
write_html took, and the median, least and most load+draw time, with its ratio
to the empty scene's median. --screenshot PNG also writes what the browser
shows of the forty-seed example (examples/forty_*.seeds) at the same weights.
"""
import argparse
import os
import sys
import tempfile
import time

import scenes
from commands.common import ROOT, Failure, Table, USUAL, median, numpy_python


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--n", type=int, nargs="+", default=[2000, 8000],
                        help="seeds in file 1 of each easy pair (default 2000 8000)")
    parser.add_argument("--rounds", type=int, default=3, help="rounds (default 3)")
    parser.add_argument("--screenshot", metavar="PNG",
                        help="write the forty-seed example's view as the browser shows it")


def run(args: argparse.Namespace) -> int:
    python = numpy_python()
    if python != sys.executable:
        os.execv(python, [python, *sys.argv])
    sys.path.insert(0, os.path.join(args.build, "python"))
    import seedmatch
    import plotly.graph_objects as go
    from headless import Browser, chromium
    if chromium() is None:
        raise Failure("chromium is not installed (apt-get install chromium)")

    weights = [float(w) for w in USUAL]
    with tempfile.TemporaryDirectory(prefix="seedmatch-view-") as folder:
        pages = []  # (label, path, seeds, pairs, doubtful, seconds to make)
        empty = os.path.join(folder, "empty.html")
        go.Figure(go.Scatter3d(x=[], y=[], z=[])).write_html(empty)
        pages.append(("empty scene", empty, "-", "-", "-", None))
        for n in args.n:
            pair = scenes.pair("easy", n, cache=args.scenes)
            set1, set2 = seedmatch.read_seeds(pair.a), seedmatch.read_seeds(pair.b)
            matching = seedmatch.match(set1, set2, *weights)
            start = time.perf_counter()
            figure = seedmatch.view(set1, set2, matching, weights[0], weights[1], weights[3])
            path = os.path.join(folder, "%d.html" % n)
            figure.write_html(path)
            made = time.perf_counter() - start
            report = seedmatch.evaluate(set1, set2, matching, weights[0], weights[1])
            doubtful = int((~report.consistency.trusted).sum()) if len(report) else 0
            pages.append(("easy N=%d" % n, path, "%d+%d" % (len(set1), len(set2)),
                          len(report), doubtful, made))

        sizes = {path: os.path.getsize(path) / 1e6 for _, path, *_ in pages}
        times = {path: [] for _, path, *_ in pages}
        with Browser() as browser:
            browser.open(empty)  # the browser's own start-up, WebGL included, is not timed
            for _ in range(args.rounds):
                for _, path, *_ in pages:
                    times[path].append(browser.open(path) / 1000)
            if args.screenshot:
                forty = [seedmatch.read_seeds(os.path.join(ROOT, "examples", "forty_%s.seeds" % k))
                         for k in "ab"]
                path = os.path.join(folder, "forty.html")
                seedmatch.view(*forty, seedmatch.match(*forty, *weights), weights[0], weights[1],
                               weights[3]).write_html(path)
                browser.open(path)
                with open(args.screenshot, "wb") as out:
                    out.write(browser.screenshot())
            if browser.problems:
                raise Failure("the pages reported: " + "; ".join(browser.problems))

    print("Weights %s; headless Chromium, software WebGL; %d rounds, pages in turn\n"
          % (" ".join(USUAL), args.rounds))
    table = Table(["page", "seeds", "pairs", "doubtful", "MB", "view+write s",
                   "load+draw s", "least", "most", "ratio to empty"], "lrrrrrrrrr")
    base = median(times[empty])
    for label, path, seeds, pairs, doubtful, made in pages:
        t = times[path]
        table.row(label, seeds, pairs, doubtful, "%.1f" % sizes[path],
                  "-" if made is None else "%.2f" % made,
                  "%.2f" % median(t), "%.2f" % min(t), "%.2f" % max(t), "%.2f" % (median(t) / base))
    return 0
