#!/usr/bin/env python3
"""Checks the series that bench/scenes/series.py writes: well-formed frames that
seedmatch reads, a links file and a track table that tell the same lineages,
at most one mother a seed and two daughters a mother, event counts near the
rates asked, divisions as asked (close, smaller sisters), the same bytes for
the same arguments, and true pairs that agree with what seedmatch finds.

usage: series_test.py SEEDMATCH_EXE GEN_ROWS_EXE
"""
import collections
import math
import os
import statistics
import subprocess
import sys
import tempfile
from typing import Dict, List, Tuple

HERE = os.path.dirname(os.path.abspath(__file__))
BENCH = os.path.join(HERE, os.pardir, os.pardir, "bench")
sys.path.insert(0, HERE)
sys.path.insert(0, BENCH)
from scenes import lookalike, series  # noqa: E402
from scenes_test import check, check_distances, checks, failures, read  # noqa: E402

Link = Tuple[int, int, int]


def seed_lines(path: str) -> List[List[str]]:
    """The tokens of each seed's line, without its distance row."""
    with open(path) as f:
        lines = f.read().splitlines()
    return [line.split() for line in lines[1::2]]


def read_truth(outdir: str) -> Tuple[List[Link], List[List[str]]]:
    with open(os.path.join(outdir, "links.txt")) as f:
        links = [tuple(map(int, line.split())) for line in f]
    with open(os.path.join(outdir, "tracks.csv")) as f:
        rows = [line.split(",") for line in f.read().splitlines()]
    check(rows[0] == ["track_id", "t", "seed", "x", "y", "z", "parent_track_id"],
          "tracks.csv header %r" % rows[0])
    return links, rows[1:]


def check_lineages(outdir: str, frames: List[str], what: str) -> None:
    """The track table holds every seed of every frame once, at its position
    as written, and its tracklets are exactly the links file's lineages."""
    links, rows = read_truth(outdir)
    check(links == sorted(set(links)), "%s: links not sorted or repeated" % what)
    lines = [seed_lines(path) for path in frames]
    node_track: Dict[Tuple[int, int], int] = {}
    parent: Dict[int, int] = {}
    track_nodes: Dict[int, List[Tuple[int, int]]] = collections.defaultdict(list)
    for track, t, seed, x, y, z, up in rows:
        track, t, seed, up = int(track), int(t), int(seed), int(up)
        check((t, seed) not in node_track, "%s: node %d %d twice" % (what, t, seed))
        check(lines[t][seed][:3] == [x, y, z], "%s: node %d %d at %s, file %s"
              % (what, t, seed, [x, y, z], lines[t][seed][:3]))
        check(parent.setdefault(track, up) == up, "%s: tracklet %d, two parents" % (what, track))
        node_track[t, seed] = track
        track_nodes[track].append((t, seed))
    check(len(node_track) == sum(map(len, lines)), "%s: %d nodes for %d seeds"
          % (what, len(node_track), sum(map(len, lines))))
    check(sorted(track_nodes) == list(range(1, len(track_nodes) + 1)),
          "%s: tracklet ids not 1 to %d" % (what, len(track_nodes)))
    outgoing = collections.Counter(link[:2] for link in links)
    incoming = collections.Counter((t + 1, j) for t, _, j in links)
    check(max(incoming.values(), default=1) == 1, "%s: a seed with two mothers" % what)
    check(max(outgoing.values(), default=1) <= 2, "%s: a mother of three" % what)
    # The tracklets rebuilt from the links alone: a seed continues its
    # mother's tracklet unless she has two daughters.
    expected = set()
    for t, i, j in links:
        if outgoing[t, i] == 1:
            expected.add((t, i, j))
    made = set()
    for track, nodes in track_nodes.items():
        check([t for t, _ in nodes] == list(range(nodes[0][0], nodes[0][0] + len(nodes))),
              "%s: tracklet %d skips a frame" % (what, track))
        made.update((a[0], a[1], b[1]) for a, b in zip(nodes, nodes[1:]))
        t, seed = nodes[0]
        if parent[track]:
            last = track_nodes[parent[track]][-1]
            check(last[0] == t - 1 and outgoing[last] == 2 and (t - 1, last[1], seed) in links,
                  "%s: tracklet %d is no daughter of tracklet %d" % (what, track, parent[track]))
        else:
            check(incoming[t, seed] == 0,
                  "%s: tracklet %d has a mother but no parent" % (what, track))
    check(made == expected, "%s: %d links the tracklets hold, %d the links file"
          % (what, len(made), len(expected)))


def main() -> int:
    seedmatch, helper = sys.argv[1:3]
    gen = [sys.executable, os.path.join(BENCH, "bench.py"), "scenes", "series"]
    with tempfile.TemporaryDirectory() as tmp:
        def generate(name: str, *args: str) -> List[str]:
            out = os.path.join(tmp, name)
            subprocess.run([*gen, out, "--writer", helper, *args], check=True,
                           stdout=subprocess.DEVNULL)
            return sorted(os.path.join(out, f) for f in os.listdir(out) if f.endswith(".seeds"))

        # (arguments, seeds in each frame or None, descriptor lengths)
        for case, (args, sizes, lens) in enumerate([
                (("--frames", "4", "--seeds", "300"), None, lookalike.DESC_LENS),
                (("--frames", "3", "--seeds", "200", "--descriptors", "diameter"), None,
                 (1, 0, 0, 0, 0, 0)),
                (("--frames", "3", "--seeds", "150", "--divisions", "0", "--arrivals", "0",
                  "--departures", "0"), [150] * 3, lookalike.DESC_LENS),
                (("--frames", "3", "--seeds", "80", "--departures", "1", "--divisions", "0",
                  "--arrivals", "0"), [80, 0, 0], lookalike.DESC_LENS),
                (("--frames", "1", "--seeds", "50"), [50], lookalike.DESC_LENS),
                (("--frames", "2", "--seeds", "0"), [0, 0], lookalike.DESC_LENS)]):
            name = "case%d" % case
            frames = generate(name, *args)
            check(sizes is None or [len(seed_lines(f)) for f in frames] == sizes,
                  "%s: frames of %s seeds, expected %s"
                  % (args, [len(seed_lines(f)) for f in frames], sizes))
            for path in frames:
                positions, descs, rows = read(path)
                check_distances(path, positions, rows)
                check(all(len(d) == length for s in descs for d, length in zip(s, lens)),
                      "%s: descriptor lengths not %s" % (path, lens))
                check(all(sum(s[0]) > 0.0 for s in descs), "%s: an empty seed" % path)
            check_lineages(os.path.join(tmp, name), frames, " ".join(args))
            if len(frames) > 1:
                run = subprocess.run([seedmatch, frames[0], frames[1], "1", "0.5", "1", "2"],
                                     capture_output=True, text=True)
                check(run.returncode == 1 and run.stderr == "",
                      "%s: seedmatch status %d, %r" % (args, run.returncode, run.stderr))
        with open(os.path.join(tmp, "case2", "links.txt")) as f:
            check(len(f.readlines()) == 300, "no events: not one link a seed")
        with open(os.path.join(tmp, "case3", "links.txt")) as f:
            check(f.read() == "", "everyone left, yet links")

        # The same arguments give the same bytes, whichever writer; another
        # --seed other ones.
        args = ("--frames", "3", "--seeds", "120", "--pairs", "1")
        first = generate("again1", *args)
        second = generate("again2", *args, "--writer", "python")
        other = generate("again3", *args, "--seed", "2")
        for name in ("links.txt", "tracks.csv", "pairs_001.tsv"):
            first.append(os.path.join(tmp, "again1", name))
            second.append(os.path.join(tmp, "again2", name))
        contents = [open(path, "rb").read() for path in first]
        check(contents == [open(path, "rb").read() for path in second],
              "the same arguments gave other bytes")
        check(contents[0] != open(other[0], "rb").read(), "another --seed gave the same frame")

        # Knobs out of range stop the command with a usage error.
        for bad in (("--divisions", "0.6", "--departures", "0.5"), ("--pairs", "9"),
                    ("--arrivals", "-0.1"), ("--descriptors", "shape"), ("--frames", "0")):
            run = subprocess.run([*gen, os.path.join(tmp, "bad"), *bad], capture_output=True,
                                 text=True)
            check(run.returncode == 2 and ("error:" in run.stderr
                                           or run.stderr.startswith("bench.py scenes: ")),
                  "%s: status %d, %r" % (bad, run.returncode, run.stderr))

        # Rates, motion and divisions on a larger series, through the function.
        model = series.Model(frames=4, seeds=1500, divisions=0.04, arrivals=0.03,
                                 departures=0.05, seed=5)
        made = series.generate_series(os.path.join(tmp, "rates"), model, pairs=[1],
                                            writer=helper)
        links, _ = read_truth(os.path.join(tmp, "rates"))
        mothers = collections.Counter(link[:2] for link in links)
        born = {(t + 1, j) for t, _, j in links}
        seen = sum(made.sizes[:-1])
        for what, rate, count, told in [
                ("divisions", model.divisions, sum(1 for c in mothers.values() if c == 2),
                 sum(s.divisions for s in made.steps)),
                ("departures", model.departures, seen - len(mothers),
                 sum(s.departures for s in made.steps)),
                ("arrivals", model.arrivals, sum(made.sizes[1:]) - len(born),
                 sum(s.arrivals for s in made.steps))]:
            check(count == told and abs(count - rate * seen) < 4 * math.sqrt(rate * seen),
                  "%s: %d, told %d, expected about %.0f" % (what, count, told, rate * seen))
        check([s.seeds for s in made.steps] == made.sizes[:-1], "steps' seed counts")

        positions = [[[float(x) for x in line[:3]] for line in seed_lines(path)]
                     for path in made.frames]
        within = statistics.median(sum(1 for q in positions[0] if 0.0 < math.dist(p, q) < 40.0)
                                   for p in positions[0][::10])
        check(20 <= within <= 40, "median %g neighbours within 40" % within)
        moves = [math.dist(positions[t][i], positions[t + 1][j]) for t, i, j in links
                 if mothers[t, i] == 1]
        check(statistics.median(moves) < 0.3 * series.SPACING,
              "median move %g of spacing %g" % (statistics.median(moves), series.SPACING))
        sisters = collections.defaultdict(list)
        for t, i, j in links:
            if mothers[t, i] == 2:
                sisters[t, i].append(j)
        apart = [math.dist(positions[t + 1][a], positions[t + 1][b])
                 for (t, _), (a, b) in sisters.items()]
        check(0.35 < statistics.median(apart) / series.SPACING < 0.7,
              "sisters %g apart, spacing %g" % (statistics.median(apart), series.SPACING))
        lines = [seed_lines(path) for path in made.frames]
        ratio = statistics.median(int(lines[t + 1][j][-4]) / int(lines[t][i][-4])
                                  for (t, i), pair in sisters.items() for j in pair)
        check(0.35 < ratio < 0.65, "daughters hold %g of their mother's points" % ratio)

        # The true pairs of frames 1 and 2: each seed once, a mother with her
        # nearer daughter, and nearly all the pairs seedmatch makes among them.
        with open(made.pairs[1]) as f:
            rows = f.read().splitlines()
        pairs = [tuple(map(int, row.split("\t"))) for row in rows[1:]]
        check(rows[0] == "index1\tindex2", "pairs header %r" % rows[0])
        check(len({i for i, _ in pairs}) == len({j for _, j in pairs}) == len(pairs)
              == len(mothers.keys() & {(1, i) for i, _ in pairs}),
              "pairs: not one partner a seed, or not every one linked")
        for (t, i), (a, b) in sisters.items():
            if t == 1:
                near = min((a, b), key=lambda j: math.dist(positions[1][i], positions[2][j]))
                check((i, near) in pairs, "mother %d not paired with her nearer daughter" % i)
        run = subprocess.run([seedmatch, made.frames[1], made.frames[2], "0.5", "0", "4", "4"],
                             capture_output=True, text=True)
        found = {tuple(map(int, line.split()[:2])) for line in run.stdout.splitlines()[:-1]}
        check(len(found & set(pairs)) > 0.95 * len(found) > 0.9 * len(pairs),
              "%d of seedmatch's %d pairs true, of %d" % (len(found & set(pairs)), len(found),
                                                          len(pairs)))

        # A diameter-only daughter is smaller by the cube root of two.
        model = series.Model(frames=2, seeds=1500, divisions=0.1, descriptors="diameter")
        made = series.generate_series(os.path.join(tmp, "sizes"), model, writer=helper)
        links, _ = read_truth(os.path.join(tmp, "sizes"))
        mothers = collections.Counter(link[:2] for link in links)
        lines = [seed_lines(path) for path in made.frames]
        ratio = statistics.median(float(lines[1][j][5]) / float(lines[0][i][5])
                                  for t, i, j in links if mothers[t, i] == 2)
        check(abs(ratio - 2 ** (-1 / 3)) < 0.05, "daughters %g of their mother's diameter" % ratio)

    for failure in failures:
        print("FAIL:", failure)
    print("series: %d checks, %d failed" % (checks[0], len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
