#!/usr/bin/env python3
"""Times seedmatch end to end against the reader-only baseline.

For each size N it generates a realistic pair with gen_seeds.py (cached under
build/bench-data), then runs seedmatch-read and seedmatch on it in turn, RUNS
times each, interleaved, and prints the medians, their ratio, the auction's
pass count and seedmatch's peak RSS beside the bound
1.5 x (8 bytes x all distances of both files) + 32 MB.
For N <= 1000 it also times the matching step alone with seedmatch-engines,
fast and plain engine, and at N = 1000 once more with a negative rpdWeight.

Weights: seedWeight 1, histWeight 0.5, rpdWeight 1, costLimit 2. With these a
generated pair of N seeds gets about 0.87 N pairs (the seeds present in both
files, less those of an empty descriptor), so the auction does real work.
There is little competition, though: about one pass per bidder.

--contested raises costLimit to 6, the worst case for the auction: a seed
whose partner is missing from the other file then finds objects it may win,
takes one from its rightful holder, and the two outbid each other at one
increment of 1 / (objects + 1) per pass until the price covers their cost
difference of several units. Those contests outlast the pass limit, so every
run makes 30 passes per bidder. The matching-step table then covers N = 1000
only, with these weights.

usage: run_bench.py [--build DIR] [--runs R] [--sizes N ...] [--contested]
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WEIGHTS = ["1", "0.5", "1", "2"]
NEGATIVE = ["1", "0.5", "-1", "2"]
CONTESTED = ["1", "0.5", "1", "6"]


def pair(data, n):
    a = os.path.join(data, "n%d_1.seeds" % n)
    b = os.path.join(data, "n%d_2.seeds" % n)
    if not (os.path.exists(a) and os.path.exists(b)):
        print("generating N=%d ..." % n, file=sys.stderr, flush=True)
        subprocess.run([sys.executable, os.path.join(ROOT, "bench", "gen_seeds.py"), str(n),
                        a + ".tmp", b + ".tmp"], check=True)
        os.replace(a + ".tmp", a)
        os.replace(b + ".tmp", b)
    return a, b


def timed(argv):
    """Seconds and peak RSS (KB) of one run; stdout discarded."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.perf_counter() - start
    code = os.waitstatus_to_exitcode(status)
    if code not in (0, 1):
        sys.exit("%s exited with %d" % (" ".join(argv), code))
    return seconds, usage.ru_maxrss


def engines(build, a, b, engine, weights, runs):
    """Median matching seconds and the pass count from seedmatch-engines."""
    out = subprocess.run([os.path.join(build, "bench", "seedmatch-engines"), "--engine", engine,
                          "--repeat", str(runs), a, b] + weights,
                         check=True, capture_output=True, text=True).stdout
    fields = [line.split() for line in out.splitlines()]
    return statistics.median(float(f[6]) for f in fields), int(fields[0][2])


def distances(path):
    with open(path) as f:
        return int(f.readline().split()[0]) ** 2


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--sizes", type=int, nargs="+", default=[500, 1000, 2000, 4000])
    parser.add_argument("--contested", action="store_true",
                        help="costLimit 6: every run reaches the pass limit")
    args = parser.parse_args()
    weights = CONTESTED if args.contested else WEIGHTS
    data = os.path.join(ROOT, "build", "bench-data")
    os.makedirs(data, exist_ok=True)
    read = os.path.join(args.build, "bench", "seedmatch-read")
    full = os.path.join(args.build, "seedmatch")

    print("weights (seed hist rpd costLimit): %s" % " ".join(weights))
    print("%6s %9s %10s %12s %6s %7s %9s %9s" % ("N", "input MB", "read s", "seedmatch s",
                                                 "ratio", "passes", "RSS MB", "bound MB"))
    small = []
    for n in args.sizes:
        a, b = pair(data, n)
        megabytes = (os.path.getsize(a) + os.path.getsize(b)) / 1e6
        reads, fulls, rss = [], [], 0
        for _ in range(args.runs):
            reads.append(timed([read, a, b])[0])
            seconds, peak = timed([full, a, b] + weights)
            fulls.append(seconds)
            rss = max(rss, peak)
        _, passes = engines(args.build, a, b, "fast", weights, 1)
        bound = 1.5 * 8 * (distances(a) + distances(b)) / 2**20 + 32
        r, f = statistics.median(reads), statistics.median(fulls)
        print("%6d %9.1f %10.3f %12.3f %6.2f %7d %9.1f %9.1f" % (
            n, megabytes, r, f, f / r, passes, rss / 1024, bound), flush=True)
        if n <= 1000 and (n == 1000 or not args.contested):
            small.append((n, a, b))

    if small:
        print("\nmatching step alone (median of %d fast, 1 plain)" % args.runs)
        print("%6s %9s %10s %10s %9s" % ("N", "rpdWeight", "fast s", "plain s", "speed-up"))
        cases = [(n, a, b, weights) for n, a, b in small]
        if not args.contested:
            cases += [(n, a, b, NEGATIVE) for n, a, b in small if n == 1000]
        for n, a, b, weights in cases:
            fast, _ = engines(args.build, a, b, "fast", weights, args.runs)
            plain, _ = engines(args.build, a, b, "plain", weights, 1)
            print("%6d %9s %10.4f %10.3f %8.0fx" % (n, weights[2], fast, plain, plain / fast),
                  flush=True)


if __name__ == "__main__":
    main()
