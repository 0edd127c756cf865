"""seedmatch.track on generated series: its scores against the known lineages,
its time beside a loop of seedmatch runs, and its memory.

Quality. Each scene is a series of --frames frames of --seeds seeds at
--noise, with 2% of the seeds dividing, 1% arriving and 1% leaving a frame
(bench/scenes/series.py), for each --scene-seeds: "rich" with the look-alike
descriptors, "diameter" with a diameter only and small motion (drift 0.5,
turn 0.2 degrees a frame). On each, track runs at every weighting of the
sweep with the auction and with auto, and once with positions (which uses no
weight); each row gives the link, division and complete-tracklet scores of
score_tracks. Then, per scene and linker, the row of the weighting the sweep
chooses (the best link F1), and per kind and linker the worst of them.

Positions as a descriptor. On the diameter scenes, the positions divided by
--position-scale written into the empty desc[1], and the auction at every
weighting of the sweep.

Timing. On a series of --timing-frames frames of --timing-seeds seeds, each
of --rounds rounds times the --timing-frames - 1 seedmatch runs over the
consecutive pairs in a row (output discarded), then track over the frames
(the auction, divisions found, one thread per core); medians and the ratio.

Memory. On a steady series (departures 3%) of --memory-frames frames of
--timing-seeds seeds, the peak resident set of a process running track over
the frames as paths, beside one running it over the first two frames alone
and the seedmatch command on those two.

Runs in an interpreter that imports NumPy, on the build's package.
"""
import argparse
import os
import resource
import subprocess
import sys
import time
from typing import Dict, Sequence

import scenes
from commands.common import Failure, Table, measure, median, module_env, numpy_python, program
from scenes import series

SWEEP = [("0.5", "0", "4", "2"), ("0.5", "0", "2", "4"), ("0.5", "0", "4", "8"),
         ("1", "0.5", "1", "2"), ("1", "0.5", "1", "4")]
KINDS = {"rich": {"descriptors": "rich"},
         "diameter": {"descriptors": "diameter", "drift": 0.5, "turn": 0.2}}
COLUMNS = ["scene", "weights", "linker", "link P", "link R", "link F1", "division P",
           "division R", "division F1", "complete", "track s"]

TRACK = """
import sys
import seedmatch
frames = sys.argv[5:]
seedmatch.track(frames, *map(float, sys.argv[1:5]), progress=False)
"""


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--seeds", type=int, default=1000, help="seeds (default 1000)")
    parser.add_argument("--frames", type=int, default=20, help="frames (default 20)")
    parser.add_argument("--noise", type=float, default=2.0, help="noise (default 2)")
    parser.add_argument("--scene-seeds", type=int, nargs="+", default=[1, 2],
                        help="random seeds of the scenes of each kind (default 1 2)")
    parser.add_argument("--kinds", nargs="+", choices=list(KINDS), default=list(KINDS),
                        help="kinds of scene (default both)")
    parser.add_argument("--timing-seeds", type=int, default=2000,
                        help="seeds of the timing and memory series (default 2000)")
    parser.add_argument("--timing-frames", type=int, default=20,
                        help="frames of the timing series (default 20)")
    parser.add_argument("--rounds", type=int, default=5, help="timing rounds (default 5)")
    parser.add_argument("--memory-frames", type=int, default=100,
                        help="frames of the memory series (default 100)")
    parser.add_argument("--position-scale", type=float, default=5.0,
                        help="the divisor of the positions in desc[1] (default 5)")
    parser.add_argument("--parts", nargs="+",
                        choices=("quality", "descriptor", "timing", "memory"),
                        default=["quality", "descriptor", "timing", "memory"],
                        help="what to run (default all)")


def scene_name(kind: str, model: series.Model) -> str:
    return "%s %dx%d seed %d" % (kind, model.frames, model.seeds, model.seed)


def quality(args: argparse.Namespace, seedmatch) -> None:
    print("quality: %d frames of %d seeds, noise %g, divisions 2%%, arrivals 1%%, departures 1%%"
          " a frame; weights seed hist rpd costLimit\n" % (args.frames, args.seeds, args.noise))
    table = Table(COLUMNS, "lllrrrrrrrr")
    chosen: Dict = {}
    for kind in args.kinds:
        for seed in args.scene_seeds:
            model = series.Model(frames=args.frames, seeds=args.seeds, noise=args.noise,
                                 seed=seed, **KINDS[kind])
            made = scenes.cached_series(model, cache=args.scenes)
            runs = [(w, linker) for linker in ("auction", "auto") for w in SWEEP]
            runs.append((SWEEP[0], "positions"))
            for weights, linker in runs:
                start = time.perf_counter()
                tracks = seedmatch.track(made.frames, *map(float, weights), linker=linker,
                                         progress=False)
                took = time.perf_counter() - start
                score = seedmatch.score_tracks(tracks, made.links)
                cells = [scene_name(kind, model), "-" if linker == "positions" else
                         " ".join(weights), linker] + ["%.4f" % v for v in (
                             score.link_precision, score.link_recall, score.link_f1,
                             score.division_precision, score.division_recall,
                             score.division_f1, score.complete_tracklets)] + ["%.1f" % took]
                table.row(*cells)
                key = (kind, seed, linker)
                if key not in chosen or score.link_f1 > chosen[key][0]:
                    chosen[key] = (score.link_f1, cells)
    print("\nthe weighting the sweep chooses (best link F1), per scene and linker\n")
    table = Table(COLUMNS, "lllrrrrrrrr")
    for _, cells in chosen.values():
        table.row(*cells)
    print("\nworst of the chosen rows over the scenes of a kind, per linker\n")
    table = Table(["kind", "linker", "link F1", "division F1", "complete"], "llrrr")
    for kind in args.kinds:
        for linker in ("auction", "auto", "positions"):
            rows = [cells for (k, _, l), (_, cells) in chosen.items() if (k, l) == (kind, linker)]
            table.row(kind, linker, *["%.4f" % min(float(c[n]) for c in rows) for n in (5, 8, 9)])


def descriptor(args: argparse.Namespace, seedmatch) -> None:
    """The auction on diameter-only frames whose empty desc[1] holds the
    positions divided by --position-scale."""
    print("\npositions / %g in desc[1] of the diameter-only frames, the auction at each weighting"
          "\n" % args.position_scale)
    table = Table(COLUMNS, "lllrrrrrrrr")
    for seed in args.scene_seeds:
        model = series.Model(frames=args.frames, seeds=args.seeds, noise=args.noise,
                             seed=seed, **KINDS["diameter"])
        made = scenes.cached_series(model, cache=args.scenes)
        frames = []
        for path in made.frames:
            seeds = seedmatch.read_seeds(path)
            descriptors = list(seeds.descriptors)
            descriptors[1] = seeds.positions / args.position_scale
            frames.append(seedmatch.SeedSet.from_arrays(
                seeds.positions, descriptors, seeds.point_counts, seeds.distances))
        for weights in SWEEP:
            start = time.perf_counter()
            tracks = seedmatch.track(frames, *map(float, weights), progress=False)
            took = time.perf_counter() - start
            score = seedmatch.score_tracks(tracks, made.links)
            table.row(scene_name("diameter", model), " ".join(weights), "auction",
                      *["%.4f" % v for v in (
                          score.link_precision, score.link_recall, score.link_f1,
                          score.division_precision, score.division_recall, score.division_f1,
                          score.complete_tracklets)], "%.1f" % took)


def timing(args: argparse.Namespace, seedmatch) -> None:
    model = series.Model(frames=args.timing_frames, seeds=args.timing_seeds, noise=args.noise)
    made = scenes.cached_series(model, cache=args.scenes)
    command = program(args.build, "seedmatch")
    weights = SWEEP[3]
    print("\ntiming: %s, weights %s; %d rounds, the loop then track; load is the 1-minute "
          "load average at the start of a round; CPU s of all threads\n"
          % (scene_name("rich", model), " ".join(weights), args.rounds))
    table = Table(["round", "load", "loop s", "loop CPU s", "track s", "track CPU s",
                   "track/loop", "of CPU"], "rrrrrrrr")
    rows = []
    seedmatch.track(made.frames[:2], *map(float, weights), progress=False)  # warm
    for r in range(1, args.rounds + 1):
        load = os.getloadavg()[0]
        start, cpu = time.perf_counter(), children_cpu()
        for a, b in zip(made.frames, made.frames[1:]):
            measure([command, a, b, *weights])
        loop, loop_cpu = time.perf_counter() - start, children_cpu() - cpu
        start, cpu = time.perf_counter(), time.process_time()
        seedmatch.track(made.frames, *map(float, weights), progress=False)
        took, took_cpu = time.perf_counter() - start, time.process_time() - cpu
        rows.append((loop, loop_cpu, took, took_cpu, took / loop, took_cpu / loop_cpu))
        table.row(r, "%.1f" % load, *["%.2f" % v for v in rows[-1][:4]],
                  *["%.3f" % v for v in rows[-1][4:]])
    middle = [median([row[k] for row in rows]) for k in range(6)]
    table.row("median", "", *["%.2f" % v for v in middle[:4]],
              "%.3f" % (middle[2] / middle[0]), "%.3f" % (middle[3] / middle[1]))
    ratios = [row[4] for row in rows]
    print("\ntrack/loop by round: median %.3f (min %.3f, max %.3f)"
          % (median(ratios), min(ratios), max(ratios)))


def children_cpu() -> float:
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def peak_mb(argv: Sequence[str], env: Dict[str, str]) -> float:
    """The peak resident set of a run, as /usr/bin/time -v gives it: of the
    program alone, not of this process it was forked from."""
    done = subprocess.run(["/usr/bin/time", "-f", "%M", *argv], env=env, capture_output=True,
                          text=True)
    if done.returncode not in (0, 1):
        raise Failure("%s exited with status %d: %s" % (argv[0], done.returncode,
                                                         done.stderr.strip()))
    return int(done.stderr.split()[-1]) / 1024


def memory(args: argparse.Namespace, python: str) -> None:
    model = series.Model(frames=args.memory_frames, seeds=args.timing_seeds, noise=args.noise,
                         departures=0.03)
    made = scenes.cached_series(model, cache=args.scenes)
    weights = SWEEP[3]
    pair = made.frames[:2]
    env = module_env(args.build)
    whole = peak_mb([python, "-c", TRACK, *weights, *made.frames], env)
    first = peak_mb([python, "-c", TRACK, *weights, *pair], env)
    command = peak_mb([program(args.build, "seedmatch"), *pair, *weights], env)
    print("\nmemory: %s (%d-%d seeds), weights %s" % (
        scene_name("steady", model), min(made.sizes), max(made.sizes), " ".join(weights)))
    print("peak resident set (/usr/bin/time -v): track over %d frames %.1f MB; over the "
          "first pair %.1f MB (ratio %.2f); seedmatch on that pair %.1f MB (ratio %.2f)"
          % (len(made.frames), whole, first, whole / first, command, whole / command))


def run(args: argparse.Namespace) -> int:
    python = numpy_python()
    if python != sys.executable:
        os.execv(python, [python, *sys.argv])
    sys.path.insert(0, os.path.join(args.build, "python"))
    import seedmatch
    if "quality" in args.parts:
        quality(args, seedmatch)
    if "descriptor" in args.parts:
        descriptor(args, seedmatch)
    if "timing" in args.parts:
        timing(args, seedmatch)
    if "memory" in args.parts:
        memory(args, python)
    return 0

