#!/usr/bin/env python3
"""Runs every subcommand of bench/bench.py on tiny scenes and checks its
output line by line against the pattern of each line: the tables keep their
fixed formats, and every command the docs name still runs.

usage: bench_test.py BUILD_DIR [--without-python]

--without-python leaves out the commands that need the Python module.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
from typing import List

BENCH = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "bench",
                     "bench.py")

D = r"\d+"                      # a count
S = r"\d+\.\d+"                 # seconds, ratios, sizes
W = r"-?[\d.]+ -?[\d.]+ -?[\d.]+ -?[\d.]+"   # a weighting
T = r"(?:%s|-|>\d+)" % S        # a time that may be missing or stopped
G = r"\d+(?:\.\d+)?(?:e\+\d+)?"   # a number printed by %g
SPREAD = r"%s / %s / %s" % (G, G, G)  # percentiles 10, 50 and 90


def row(*cells: str) -> str:
    return r"\| " + " \\| ".join(cells) + r" \|"


def separator(*aligns: str) -> str:
    return re.escape("|" + "|".join("---:" if a == "r" else "---" for a in aligns) + "|")


def header(*names: str) -> str:
    return re.escape("| " + " | ".join(names) + " |")


def repeat(line: str, times: int) -> List[str]:
    return [line] * times


TRACK_HEADER = header("scene", "weights", "linker", "link P", "link R", "link F1", "division P",
                      "division R", "division F1", "complete", "track s")
TRACK_ROW = row(r"rich 3x40 seed 1", "%s", "%s", *[S] * 8)
MATRIX_COLUMNS = ("N", "scene", "weights", "passes/bidder", "contenders/pass", "read s",
                  "seedmatch s", "ratio", "match s", "plain s", "RSS MB", "bound MB")
MATRIX_CELLS = (D, r"(lookalike|series|sisters) 4 hard", W, S, r"(?:%s%%|-)" % S, S, S, S, S, S,
                S, S)
MATRIX_HEADER = header(*MATRIX_COLUMNS)
MATRIX_ROW = row(*MATRIX_CELLS)

CASES = [
    (["matrix", "--sizes", "40", "--noise", "4", "--runs", "1", "--kinds", "lookalike",
      "series", "sisters"],
     [r"medians of 1 runs, seedmatch and seedmatch-read interleaved; plain engine once, up to "
      r"60 s; timeout 300 s", "", MATRIX_HEADER, separator(*"rllrrrrrrrrr"),
      *repeat(MATRIX_ROW, 9)]),
    (["matrix", "--sizes", "40", "--noise", "4", "--runs", "1", "--kinds", "sisters",
      "--other", "{build}", "--cpu", "--bare"],
     [r"medians of 1 runs, seedmatch and seedmatch-read interleaved, CPU seconds; .*", "",
      header(*MATRIX_COLUMNS, "bare s", "÷ bare", "other s", "other ratio"),
      separator(*"rllrrrrrrrrrrrrr"), *repeat(row(*MATRIX_CELLS, S, S, S, S), 2)]),
    (["easy", "--sizes", "40", "--runs", "1"],
     [r"easy pairs; weights \(seed hist rpd costLimit\) 1 0\.5 1 2; medians of 1 runs", "",
      header("N", "input MB", "read s", "seedmatch s", "ratio", "passes", "RSS MB", "bound MB"),
      separator(*"rrrrrrrr"), row("40", S, S, S, S, D, S, S), "",
      r"matching step alone \(median of 1 fast, 1 plain\)", "",
      header("N", "rpdWeight", "fast s", "plain s", "speed-up"), separator(*"rrrrr"),
      row("40", "1", S, S, D + "x")]),
    (["check", "--size", "40", "--noise", "4"],
     [header("scene", "N", "noise", "weights", "fast passes", "fast rows", "plain passes",
             "plain rows", "same"), separator(*"lrrlrrrrl"),
      *repeat(row("lookalike", "40", "4", W, D, D, D, D, "yes"), 4),
      *repeat(row("series", "40", "4", W, D, D, D, D, "yes"), 3), "", "0 of 7 cases differ"]),
    (["versus", "{build}", "--sizes", "40", "--runs", "1", "--kinds", "easy", "lookalike"],
     [r"matching step, medians of 1 runs alternated; this: .* \(fast\), other: .* \(fast\)", "",
      header("N", "scene", "weights", "passes", "other s", "this s", "other / this",
             "same rows"), separator(*"rllrrrrl"),
      *repeat(row("40", "easy", W, D, S, S, S, "yes"), 2),
      *repeat(row("40", "lookalike 4", W, D, S, S, S, "yes"), 4)]),
    (["versus", "{build}", "--pair", "{a}", "{b}", "--weights", "1 0.5 1 0", "1 0.5 1 2",
      "--engine", "prepared", "--runs", "2"],
     [r"matching step, medians of 2 runs alternated; this: .* \(prepared\), other: .* \(fast\)",
      "", r".*", r".*", row(D, r"a\.seeds", r"1 0\.5 1 0", D, S, S, S, "yes"),
      row(D, r"a\.seeds", r"1 0\.5 1 2", D, S, S, S, "yes")]),
    (["large", "--sizes", "50", "--noise", "4", "--runs", "1"],
     [r"reading at scale; medians of 1 runs alternated; ratios to the one-core map \+ "
      r"from_chars loop over the same files in the same runs", "",
      header("N", "noise", "MB", "build", "loop s", "read s", "ratio", "1 0.5 1 0 s", "ratio",
             "1 0.5 1 2 s", "ratio", "loop(A) s", "read_seeds(A) s", "ratio", "RSS MB",
             "bound MB"), separator(*"rrrlrrrrrrrrrrrr"),
      row("50", "4", D, "this", *[S] * 10, D, D)]),
    (["reader", "--size", "50", "--runs", "1"],
     [r"pair of 50 seeds: \d+ \+ \d+ bytes, gzip \d+ \+ \d+ bytes", "", r"this \(.*\):",
      r"1 runs; one file .*", r" +median s +MB/s +time / bare loop",
      *repeat(r"[a-zA-Z_, ]+ +%s +%s +%s" % (S, S, S), 9), "",
      r"seedmatch-read, a fresh process each time; medians of 1 runs", "",
      header("build", "pair ms", "gzip pair ms"), separator(*"lrr"), row("this", S, S)]),
    (["sweep", "--n", "40", "--rounds", "1"],
     [r"scene: lookalike 40 --noise 4 --seed 1; 36 weightings --seed-weight 0\.5,1,2 "
      r"--hist-weight 0,0\.5 --rpd-weight 0\.5,1,2 --cost-limit 2,4; .*", "",
      header("round", "load", "loop s", "loop CPU s", "sweep s", "sweep CPU s", "threads s",
             "threads CPU s", "sweep/loop", "threads/loop"), separator(*"r" * 10),
      row("1", S, *[S] * 8), row("median", "", *[S] * 8), "",
      r"sweep/loop by round: median %s \(min %s\); of CPU seconds %s" % (S, S, S),
      r"threads/loop by round: median %s \(min %s\); of CPU seconds %s" % (S, S, S),
      r"peak memory: read \+ one matching %s MiB; .* = %s MiB" % (S, S)]),
    (["python", "--n", "40", "--rounds", "1", "--repeat", "1"],
     [r"N = 40 \(easy pair, 40 and \d+ seeds\); medians of 1 rounds x 1 runs, interleaved", "",
      header("weights", "C++ step s", "Python match s", "ratio", "round min", "round median",
             "round max"), separator(*"lrrrrrr"), *repeat(row(W, *[S] * 6), 2), "",
      r"SeedSet\.from_arrays of file 1 \(40 seeds, 1600 distances\): median %s s; "
      r"read_seeds of the same file: %s s" % (S, S)]),
    (["writers", "40", "--runs", "1", "--out", "{tmp}"],
     [r"lookalike 40 --noise 2 --seed 1, 1 runs alternated", "",
      header("run", "writer", "wall s", "CPU s", "bytes"), separator(*"rlrrl"),
      row("1", "seedmatch-gen-rows", S, S, "the reference"), row("1", "python", S, S, "the same"),
      "", "medians", "", header("writer", "wall s", "CPU s"), separator(*"lrr"),
      row("seedmatch-gen-rows", S, S), row("python", S, S)]),
    (["track", "--seeds", "40", "--frames", "3", "--scene-seeds", "1", "--kinds", "rich",
      "--timing-seeds", "40", "--timing-frames", "3", "--rounds", "1", "--memory-frames", "3"],
     [r"quality: 3 frames of 40 seeds, noise 2, divisions 2%, arrivals 1%, departures 1% a "
      r"frame; weights seed hist rpd costLimit", "", TRACK_HEADER, separator(*"lllrrrrrrrr"),
      *repeat(TRACK_ROW % (W, "auction"), 5), *repeat(TRACK_ROW % (W, "auto"), 5),
      TRACK_ROW % ("-", "positions"), "",
      r"the weighting the sweep chooses \(best link F1\), per scene and linker", "",
      TRACK_HEADER, separator(*"lllrrrrrrrr"), TRACK_ROW % (W, "auction"),
      TRACK_ROW % (W, "auto"), TRACK_ROW % ("-", "positions"), "",
      r"worst of the chosen rows over the scenes of a kind, per linker", "",
      header("kind", "linker", "link F1", "division F1", "complete"), separator(*"llrrr"),
      *[row("rich", linker, S, S, S) for linker in ("auction", "auto", "positions")], "",
      r"positions / 5 in desc\[1\] of the diameter-only frames, the auction at each weighting",
      "", TRACK_HEADER, separator(*"lllrrrrrrrr"),
      *repeat(row(r"diameter 3x40 seed 1", W, "auction", *[S] * 8), 5), "",
      r"timing: rich 3x40 seed 1, weights 1 0\.5 1 2; 1 rounds, the loop then track; load is "
      r"the 1-minute load average at the start of a round; CPU s of all threads", "",
      header("round", "load", "loop s", "loop CPU s", "track s", "track CPU s", "track/loop",
             "of CPU"), separator(*"rrrrrrrr"),
      row("1", *[S] * 7), row("median", "", *[S] * 6), "",
      r"track/loop by round: median %s \(min %s, max %s\)" % (S, S, S), "",
      r"memory: steady 3x40 seed 1 \(\d+-\d+ seeds\), weights 1 0\.5 1 2",
      r"peak resident set \(/usr/bin/time -v\): track over 3 frames %s MB; over the first "
      r"pair %s MB \(ratio %s\); seedmatch on that pair %s MB \(ratio %s\)" % ((S,) * 5)]),
    (["view", "--n", "40", "--rounds", "1"],
     [r"Weights 1 0\.5 1 2; headless Chromium, software WebGL; 1 rounds, pages in turn", "",
      header("page", "seeds", "pairs", "doubtful", "MB", "view+write s", "load+draw s", "least",
             "most", "ratio to empty"), separator(*"lrrrrrrrrr"),
      row("empty scene", "-", "-", "-", S, "-", S, S, S, S),
      row(r"easy N=40", r"40\+\d+", D, D, S, S, S, S, S, S)]),
    (["tracks", "--frames", "3", "--seeds", "40", "--rounds", "1"],
     [r"series: 3 frames of 40-\d+ seeds, noise 2; %s nodes, %s tracklets, %s links \(%s "
      r"divisions\); 1 rounds, steps in turn" % (D, D, D, D), "",
      header("step", "median s", "least s", "most s", "written MB"), separator(*"lrrrr"),
      row("from_frames", S, S, S, "-"),
      row("to_csv", S, S, S, S), row("to_ctc", S, S, S, S), row("napari", S, S, S, "-"),
      row("to_geff", S, S, S, S), row(re.escape("plot + PNG at 110 dpi"), S, S, S, S),
      row("score_tracks, links file", S, S, S, "-"),
      row("score_tracks, track CSV", S, S, S, "-")]),
    (["estimate", "--n", "40", "--noises", "2", "--diameter-sizes", "40", "--cost-n", "40",
      "--rounds", "1"],
     [r"90 weightings \(--seed-weight 0\.5,1,2 --hist-weight 0,0\.5 --rpd-weight 0\.5,1,2,4,8 "
      r"--cost-limit 2,4,8\); trusted pairs at the pick, and pooled over the weightings", "",
      header("scene", "seeds", "Spearman", "picked F1", "best F1", "est / true pairs",
             "trusted prec", "trusted kept", "pooled prec", "pooled kept"),
      separator(*"lrrrrrrrrr"),
      *[row(scene, r"\d+/\d+", r"-?%s" % S, S, S, r"%s / %s \([+-]%s%%\)" % (S, D, S),
            *[S] * 4) for scene in ("lookalike 2", "series 2", "series-diameter 2")],
      row("worst", "", r"-?%s" % S, r"[+-]%s" % S, "", r"[+-]%s%%" % S, *[S] * 4), "",
      r"cost on lookalike 40 --noise 2, weights 1 0\.5 1 2, medians of 1 rounds: matching %s s; "
      r"first estimate of the sets %s s \(%s%%\); later estimate %s s \(%s%%\)"
      % (S, S, S, S, S)]),
    (["churn", "--sizes", "40", "--noise", "4", "--kinds", "sisters"],
     [header("N", "scene", "weights", "passes/bidder", "handovers", "newly held",
             "moved distance", "fall in increments", "unchanged prefix"),
      separator(*"rllrrrrrr"),
      *repeat(row("40", "sisters 4 hard", W, S, SPREAD, G, G, SPREAD, S + "%"), 2)]),
    (["scenes", "series", "{tmp}/series", "--frames", "3", "--seeds", "60"],
     [header("frames", "seeds", "divisions", "arrivals", "departures", "wall s", "CPU s", "MB"),
      separator(*"rlllllrr"),
      row("3", r"\d+-\d+", *[r"%s \(%s-%s\)" % (S, S, S)] * 3, S, S, D)]),
]


def main() -> int:
    build = os.path.abspath(sys.argv[1])
    cases = CASES
    if "--without-python" in sys.argv[2:]:
        cases = [c for c in CASES if c[0][0] not in ("sweep", "python", "large", "track",
                                                      "view", "tracks", "estimate")]
    if shutil.which("chromium") is None:
        cases = [c for c in cases if c[0][0] != "view"]
    failures = checked = 0
    with tempfile.TemporaryDirectory() as tmp:
        a = os.path.join(tmp, "a.seeds")
        subprocess.run([sys.executable, BENCH, "scenes", "lookalike", "40", a,
                        os.path.join(tmp, "b.seeds")], check=True)
        # One file named twice is refused before anything is written over it.
        with open(a, "rb") as f:
            written = f.read()
        for argv in (["lookalike", "40", a, os.path.join(tmp, ".", "a.seeds")],
                     ["easy", "40", a, a],
                     ["lookalike", "40", os.path.join(tmp, "c.seeds"), a, "--truth", a]):
            done = subprocess.run([sys.executable, BENCH, "scenes", *argv], capture_output=True,
                                  text=True)
            with open(a, "rb") as f:
                kept = f.read() == written
            if done.returncode == 0 or "name the same file" not in done.stderr or not kept:
                failures += 1
                print("FAIL: bench.py scenes %s: status %d, %r, file %s"
                      % (" ".join(argv), done.returncode, done.stderr.strip(),
                         "kept" if kept else "overwritten"))
        for argv, patterns in cases:
            argv = [arg.format(build=build, tmp=tmp, a=a, b=os.path.join(tmp, "b.seeds"))
                    for arg in argv]
            done = subprocess.run([sys.executable, BENCH, *argv, "--build", build, "--scenes",
                                   os.path.join(tmp, "cache")] if argv[0] != "scenes" else
                                  [sys.executable, BENCH, argv[0], "--build", build, *argv[1:]],
                                  capture_output=True, text=True)
            lines = done.stdout.splitlines()
            problems = []
            if done.returncode != 0:
                problems.append("status %d: %s" % (done.returncode, done.stderr.strip()))
            if len(lines) != len(patterns):
                problems.append("%d lines, expected %d" % (len(lines), len(patterns)))
            for number, (line, pattern) in enumerate(zip(lines, patterns), 1):
                checked += 1
                if not re.fullmatch(pattern, line):
                    problems.append("line %d %r does not match %r" % (number, line, pattern))
            if problems:
                failures += 1
                print("FAIL: bench.py %s\n  %s\n%s" % (" ".join(argv), "\n  ".join(problems),
                                                      done.stdout))
    print("bench: %d commands, %d lines checked, %d commands failed"
          % (len(cases), checked, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
