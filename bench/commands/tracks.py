"""The Tracks record made, written and scored: from_frames, each writer,
napari(), plot() and score_tracks, on the true lineages of a generated series.

The series: --frames frames of --seeds seeds at --noise, with 2% of the seeds
dividing, 1% arriving and 1% leaving a frame (bench/scenes/series.py). Its true
links become the frame links (a mother's first daughter is her pair, the
second a division), so what is timed is the record's own work, not the
linking's. Each of --rounds rounds runs every step once, in turn; prints per
step the median, least and most seconds and the size of what it wrote.
"""
import argparse
import os
import sys
import tempfile
import time
from types import SimpleNamespace

import scenes
from commands.common import Table, median, numpy_python
from scenes import series


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--frames", type=int, default=20, help="frames (default 20)")
    parser.add_argument("--seeds", type=int, default=2000, help="seeds in frame 0 (default 2000)")
    parser.add_argument("--noise", type=float, default=2.0, help="noise (default 2)")
    parser.add_argument("--rounds", type=int, default=3, help="rounds (default 3)")


def true_record(seedmatch, np, made: series.Series):
    """Tracks.from_frames's arguments from the series' true links and track table."""
    table = np.loadtxt(made.tracks, delimiter=",", skiprows=1, ndmin=2)
    links = np.loadtxt(made.links, dtype=np.int64, ndmin=2).reshape(-1, 3)
    positions = []
    for t in range(len(made.frames)):
        rows = table[table[:, 1] == t]
        positions.append(rows[np.argsort(rows[:, 2])][:, 3:6])
    steps = []
    for t in range(len(made.frames) - 1):
        here = links[links[:, 0] == t][:, 1:]
        first = np.unique(here[:, 0], return_index=True)[1]
        second = np.setdiff1d(np.arange(len(here)), first)
        steps.append(SimpleNamespace(pairs=here[first], costs=np.zeros(len(first)),
                                     divisions=here[second],
                                     division_costs=np.full(len(second), np.nan),
                                     linker="auction", estimate=float("nan")))
    return positions, steps


def size(path: str) -> int:
    if os.path.isdir(path):
        return sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(path) for f in fs)
    return os.path.getsize(path)


def run(args: argparse.Namespace) -> int:
    python = numpy_python()
    if python != sys.executable:
        os.execv(python, [python, *sys.argv])
    sys.path.insert(0, os.path.join(args.build, "python"))
    import numpy as np
    import seedmatch

    model = series.Model(frames=args.frames, seeds=args.seeds, noise=args.noise)
    made = scenes.cached_series(model, cache=args.scenes)
    positions, steps = true_record(seedmatch, np, made)
    tracks = seedmatch.Tracks.from_frames(positions, steps)
    with tempfile.TemporaryDirectory(prefix="seedmatch-tracks-") as folder:
        out = {name: os.path.join(folder, name) for name in
               ("tracks.csv", "res_track.txt", "tracks.geff", "lineage.png")}
        work = [("from_frames", lambda: seedmatch.Tracks.from_frames(positions, steps), None),
                ("to_csv", lambda: tracks.to_csv(out["tracks.csv"]), out["tracks.csv"]),
                ("to_ctc", lambda: tracks.to_ctc(out["res_track.txt"]), out["res_track.txt"]),
                ("napari", tracks.napari, None)]
        try:
            import zarr  # noqa: F401
            work.append(("to_geff", lambda: tracks.to_geff(out["tracks.geff"], overwrite=True),
                         out["tracks.geff"]))
        except ImportError:
            pass
        try:
            import matplotlib  # noqa: F401
            work.append(("plot + PNG at 110 dpi",
                         lambda: tracks.plot().savefig(out["lineage.png"], dpi=110),
                         out["lineage.png"]))
        except ImportError:
            pass
        work += [("score_tracks, links file", lambda: seedmatch.score_tracks(tracks, made.links),
                  None),
                 ("score_tracks, track CSV", lambda: seedmatch.score_tracks(tracks, made.tracks),
                  None)]
        times = {name: [] for name, _, _ in work}
        for _ in range(args.rounds):
            for name, step, _ in work:
                start = time.perf_counter()
                step()
                times[name].append(time.perf_counter() - start)
        print("series: %d frames of %d-%d seeds, noise %g; %d nodes, %d tracklets, %d links "
              "(%d divisions); %d rounds, steps in turn"
              % (len(made.frames), min(made.sizes), max(made.sizes), args.noise, len(tracks),
                 len(tracks.tracklets), len(tracks.links),
                 int((tracks.links["kind"] == "division").sum()), args.rounds))
        print()
        table = Table(["step", "median s", "least s", "most s", "written MB"], "-rrrr")
        for name, _, path in work:
            table.row(name, "%.3f" % median(times[name]), "%.3f" % min(times[name]),
                      "%.3f" % max(times[name]), "%.2f" % (size(path) / 1e6) if path else "-")
    return 0
