#!/usr/bin/env python3
"""Checks the pairs of bench/scenes: look-alike pairs well formed, each
file's distances those between its own seeds as written, the seed counts
asked for, the same bytes for the same arguments whichever writer formats
them, and loaded by seedmatch; the easy pair that examples/ holds made again;
the cache reusing a scene and writing it again when its generator changed.

usage: scenes_test.py SEEDMATCH_EXE GEN_ROWS_EXE
"""
import math
import os
import random
import statistics
import subprocess
import sys
import tempfile
from typing import List, Tuple

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir,
                                     os.pardir))
BENCH = os.path.join(ROOT, "bench", "bench.py")
sys.path.insert(0, os.path.join(ROOT, "bench"))
import scenes  # noqa: E402
from scenes import lookalike  # noqa: E402

failures: List[str] = []
checks = [0]


def check(ok: bool, what: str) -> None:
    checks[0] += 1
    if not ok:
        failures.append(what)


def read(path: str) -> Tuple[List[List[float]], List[List[List[float]]], List[List[float]]]:
    """Positions, descriptors and distance rows of a seed file; checks the layout."""
    with open(path) as f:
        tokens = f.read().split()
    n, lens = int(tokens[0]), [int(t) for t in tokens[1:7]]
    at, positions, descs, rows = 7, [], [], []
    for _ in range(n):
        positions.append([float(t) for t in tokens[at:at + 3]])
        at += 3
        desc = []
        for length in lens:
            desc.append([float(t) for t in tokens[at + 2:at + 2 + length]])
            at += 2 + length
        descs.append(desc)
        pts = [int(t) for t in tokens[at:at + 3]]
        check(all(p > 0 for p in pts), "%s: point counts %s" % (path, pts))
        count = int(tokens[at + 3])
        check(count == n, "%s: neibCount %d of %d seeds" % (path, count, n))
        rows.append([float(t) for t in tokens[at + 4:at + 4 + count]])
        at += 4 + count
    check(at == len(tokens), "%s: %d tokens after the last seed" % (path, len(tokens) - at))
    return positions, descs, rows


def check_distances(path: str, positions: List[List[float]], rows: List[List[float]]) -> None:
    worst = 0.0
    for i, row in enumerate(rows):
        check(row[i] == 0.0, "%s: seed %d is %g from itself" % (path, i, row[i]))
        for j, d in enumerate(row):
            check(d == rows[j][i], "%s: distance %d-%d differs from %d-%d" % (path, i, j, j, i))
            worst = max(worst, abs(d - math.dist(positions[i], positions[j])) / max(d, 1e-300))
    check(worst <= 5e-6, "%s: distances off the positions by %g" % (path, worst))


def main() -> int:
    seedmatch, helper = sys.argv[1:3]
    with tempfile.TemporaryDirectory() as tmp:
        def generate(name: str, *args: str, writer: str = helper) -> Tuple[str, str]:
            a, b = os.path.join(tmp, name + "_1"), os.path.join(tmp, name + "_2")
            subprocess.run([sys.executable, BENCH, "scenes", "lookalike", *args[:1], a, b,
                            *args[1:], "--writer", writer], check=True)
            return a, b

        # (arguments, seeds in file 1, seeds in file 2)
        for args, n1, n2 in [(("120", "--noise", "0", "--lost", "0", "--added", "0.1"), 120, 132),
                             (("120", "--noise", "4", "--lost", "0", "--added", "0"), 120, 120),
                             (("50", "--lost", "1", "--added", "0.2"), 50, 10),
                             (("1",), 1, None)]:
            a, b = generate("case", *args)
            for path, expected in ((a, n1), (b, n2)):
                positions, descs, rows = read(path)
                check(expected is None or len(rows) == expected,
                      "%s %s: %d seeds, expected %s" % (args, path, len(rows), expected))
                check_distances(path, positions, rows)
                empty = sum(1 for d in descs if sum(d[0]) <= 0.0)
                check(empty <= max(2, len(descs) // 20), "%s: %d empty seeds" % (path, empty))

        truth = os.path.join(tmp, "truth")
        a, b = generate("same", "200", "--noise", "2", "--seed", "7", "--truth", truth)
        other = generate("other", "200", "--noise", "2", "--seed", "8")
        contents = [open(p, "rb").read() for p in (a, b) + other]
        check(contents[0] != contents[2], "another --seed gave the same file")
        again = generate("python", "200", "--noise", "2", "--seed", "7", writer="python")
        check(contents[:2] == [open(p, "rb").read() for p in again],
              "--writer python gave other bytes than the helper")

        # Distances on or next to a rounding tie of six digits are left to
        # math.dist: 1234.565, 100000.5, and 1000.405, where the sum of squares
        # gives 1000.4050000000001 ("1000.41", not "1000.4"); and one value
        # is printed with an exponent.
        rng = random.Random(3)
        seeds = [lookalike.new_seed(rng, list(p), 1.0) for p in
                 [(0, 0, 0), (1234.565, 0, 0), (285.83, 428.745, 857.49), (100000.5, 0, 0),
                  (2e6, 1, 0)]]
        plain, fast = os.path.join(tmp, "ties_plain"), os.path.join(tmp, "ties_helper")
        lookalike.write_seed_file(plain, seeds, "python")
        asked = lookalike.write_seed_file(fast, seeds, helper)
        check(asked == 3, "the helper asked for %d near-tie pairs, expected 3" % asked)
        check(open(plain, "rb").read() == open(fast, "rb").read(),
              "the helper's near-tie scene differs from the plain path's")
        run = subprocess.run([helper, "--check", "1000000"], capture_output=True, text=True)
        check(run.returncode == 0, "seedmatch-gen-rows --check: %s" % run.stdout.strip())

        # Some 20 to 40 neighbours within distance 40, in both views.
        for path in (a, b):
            _, _, rows = read(path)
            within = statistics.median(sum(1 for d in row if 0.0 < d < 40.0) for row in rows)
            check(20 <= within <= 40, "%s: median %g neighbours within 40" % (path, within))

        run = subprocess.run([seedmatch, a, b, "1", "0.5", "1", "2"],
                             capture_output=True, text=True)
        check(run.returncode == 1 and run.stderr == "",
              "seedmatch: status %d, %r" % (run.returncode, run.stderr))
        matched = len(run.stdout.splitlines()) - 1
        check(matched > 150, "seedmatch matched %d of 200 seeds" % matched)

        # The true pairs: a header, each seed once, every seed of file 2 that
        # is one of file 1 (the 16 added ones are not), near where it was, and
        # most of them found by seedmatch.
        with open(truth) as f:
            lines = f.read().splitlines()
        pairs = [tuple(map(int, line.split("\t"))) for line in lines[1:]]
        positions1, positions2 = read(a)[0], read(b)[0]
        check(lines[0] == "index1\tindex2", "truth header %r" % lines[0])
        check(len({p for p, _ in pairs}) == len({q for _, q in pairs}) == len(pairs)
              == len(positions2) - 16, "truth: %d pairs for %d seeds of file 2"
              % (len(pairs), len(positions2)))
        far = max(math.dist(positions1[p], positions2[q]) for p, q in pairs)
        check(far < 15.0, "a true pair lies %g apart" % far)
        found = {tuple(map(int, line.split()[:2])) for line in run.stdout.splitlines()[:-1]}
        check(len(found & set(pairs)) > 0.9 * matched,
              "%d of seedmatch's %d pairs are true" % (len(found & set(pairs)), matched))

        # The easy pair of examples/, made again.
        a, b = os.path.join(tmp, "forty_a"), os.path.join(tmp, "forty_b")
        subprocess.run([sys.executable, BENCH, "scenes", "easy", "40", a, b, "--seed", "7"],
                       check=True)
        for made, kept in ((a, "forty_a.seeds"), (b, "forty_b.seeds")):
            with open(made, "rb") as f, open(os.path.join(ROOT, "examples", kept), "rb") as g:
                check(f.read() == g.read(), "scenes easy 40 --seed 7: not examples/" + kept)

        # The cache: a scene is written once, and again when the knobs or
        # the generator's source it was written by differ.
        cache = os.path.join(tmp, "cache")
        first = scenes.pair("lookalike", 30, 2, cache=cache)
        check(first.a.startswith(os.path.join(cache, "lookalike-n30-noise2-seed1") + os.sep),
              "cached as %s" % first.a)
        written = os.stat(first.a).st_mtime_ns
        check(scenes.pair("lookalike", 30, 2, cache=cache) == first
              and os.stat(first.a).st_mtime_ns == written, "a cached scene was written again")
        stamp = os.path.join(os.path.dirname(first.a), "scene.json")
        with open(stamp) as f:
            record = f.read()
        with open(stamp, "w") as f:
            f.write(record.replace('"source": "', '"source": "x'))
        scenes.pair("lookalike", 30, 2, cache=cache)
        with open(stamp) as f:
            check(f.read() == record and os.stat(first.a).st_mtime_ns != written,
                  "a scene of other generator code was kept")
        check(sorted(os.listdir(cache)) == ["lookalike-n30-noise2-seed1"],
              "the cache holds %s" % os.listdir(cache))
        series = scenes.pair("series", 40, 2, cache=cache)
        check(os.path.basename(os.path.dirname(series.a)) == "series-n40-frames2-noise2-rich-seed1"
              and series.truth.endswith("pairs_000.tsv"), "series pair %s" % (series,))

    for failure in failures:
        print("FAIL:", failure)
    print("scenes: %d checks, %d failed" % (checks[0], len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
