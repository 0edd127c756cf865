#!/usr/bin/env python3
"""Times the matching step of two builds on one pair of seed files, alternated.

Runs BUILD_A's and BUILD_B's seedmatch-engines in turn, RUNS times each, on
FILE1 FILE2 with each weighting given, and prints per weighting the medians of
the matching step, their ratio, the pass counts, and whether the two builds
appended the same rows (the hash of the rows' bits that seedmatch-engines
prints). Reading the files is outside the timing.

usage: engine_versus.py BUILD_A BUILD_B FILE1 FILE2 [--runs R]
                        [--weights "1 0.5 1 0" "1 0.5 1 2" ...] [--engine fast|prepared]
"""
import argparse
import os
import statistics
import subprocess


def run(build, engine, files, weights):
    binary = os.path.join(build, "bench", "seedmatch-engines")
    out = subprocess.run([binary, "--engine", engine] + files + weights.split(),
                         check=True, capture_output=True, text=True).stdout
    line = next(l for l in out.splitlines() if l.startswith(engine + " "))
    fields = line.split()
    return float(fields[fields.index("seconds") + 1]), int(fields[2]), fields[-1]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build_a")
    parser.add_argument("build_b")
    parser.add_argument("files", nargs=2)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--weights", nargs="+", default=["1 0.5 1 0", "1 0.5 1 2"])
    parser.add_argument("--engine", default="fast", help="engine of build B (A runs fast)")
    args = parser.parse_args()
    print("matching step, medians of %d runs alternated; A = %s, B = %s (%s)"
          % (args.runs, args.build_a, args.build_b, args.engine))
    print("| weights | passes | A s | B s | A / B | same rows |")
    print("|---|---:|---:|---:|---:|---|", flush=True)
    for weights in args.weights:
        times = ([], [])
        passes, hashes = set(), set()
        for _ in range(args.runs):
            for side, (build, engine) in enumerate(((args.build_a, "fast"),
                                                    (args.build_b, args.engine))):
                seconds, count, table = run(build, engine, args.files, weights)
                times[side].append(seconds)
                passes.add(count)
                hashes.add(table)
        a, b = (statistics.median(t) for t in times)
        print("| %s | %s | %.3f | %.3f | %.1f | %s |" % (
            weights, "/".join(str(p) for p in sorted(passes)), a, b, a / b,
            "yes" if len(hashes) == 1 else "NO"), flush=True)


if __name__ == "__main__":
    main()
