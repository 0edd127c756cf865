#!/usr/bin/python3
"""Times the Python package against the C++ matching step it wraps.

On a generated pair of N seeds (gen_seeds.py, cached under build/bench-data as
run_bench.py caches it), for each set of weights it alternates ROUNDS rounds of
seedmatch-engines --repeat REPEAT (the C++ matching step alone, timed inside
that program) with REPEAT calls of seedmatch.match on the same files read once,
and prints the medians, their ratio, and the spread of the ratio of the two
medians of each round. It then times SeedSet.from_arrays on the
arrays of file 1, and read_seeds of the same file for comparison.

Run it with an interpreter that imports NumPy, after the test build (which
makes the module and seedmatch-engines):

    cmake --preset release && cmake --build --preset test && /usr/bin/python3 bench/python_bench.py

usage: python_bench.py [--build DIR] [--n N] [--rounds R] [--repeat K]
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "bench"))
from run_bench import pair  # noqa: E402

WEIGHT_SETS = [("1", "0.5", "1", "2"), ("1", "0.5", "1", "6")]


# Each side makes one untimed run first, so neither is timed on memory it has
# never touched: each engines call is a fresh process.
def cpp_step(engines, files, weights, repeat):
    out = subprocess.run([engines, "--repeat", str(repeat + 1), *files, *weights],
                         capture_output=True, text=True, check=True).stdout
    seconds = [float(line.split()[line.split().index("seconds") + 1])
               for line in out.splitlines()]
    return seconds[1:]


def python_step(seedmatch, sets, weights, repeat):
    numbers = [float(w) for w in weights]
    seconds = []
    for _ in range(repeat + 1):
        start = time.perf_counter()
        seedmatch.match(*sets, *numbers)
        seconds.append(time.perf_counter() - start)
    return seconds[1:]


def median_of(repeat, call):
    seconds = []
    for _ in range(repeat):
        start = time.perf_counter()
        call()
        seconds.append(time.perf_counter() - start)
    return statistics.median(seconds)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--n", type=int, default=2000)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    sys.path.insert(0, os.path.join(args.build, "python"))
    import seedmatch

    data = os.path.join(ROOT, "build", "bench-data")
    os.makedirs(data, exist_ok=True)
    files = pair(data, args.n)
    engines = os.path.join(args.build, "bench", "seedmatch-engines")
    sets = [seedmatch.read_seeds(f) for f in files]

    print(f"N = {args.n} (gen_seeds.py pair, {len(sets[0])} and {len(sets[1])} seeds); "
          f"medians of {args.rounds} rounds x {args.repeat} runs, interleaved")
    print("weights (seed hist rpd costLimit)   C++ step s   Python match s   ratio   "
          "ratio by round (min median max)")
    for weights in WEIGHT_SETS:
        cpp, py, ratios = [], [], []
        for _ in range(args.rounds):
            c = cpp_step(engines, files, weights, args.repeat)
            p = python_step(seedmatch, sets, weights, args.repeat)
            cpp += c
            py += p
            ratios.append(statistics.median(p) / statistics.median(c))
        c, p = statistics.median(cpp), statistics.median(py)
        print(f"{' '.join(weights):33s}   {c:10.5f}   {p:14.5f}   {p / c:5.3f}   "
              f"{min(ratios):.3f} {statistics.median(ratios):.3f} {max(ratios):.3f}")

    arrays = (sets[0].positions, sets[0].descriptors, sets[0].point_counts, sets[0].distances)
    runs = args.rounds * args.repeat
    build = median_of(runs, lambda: seedmatch.SeedSet.from_arrays(*arrays))
    read = median_of(runs, lambda: seedmatch.read_seeds(files[0]))
    print(f"SeedSet.from_arrays of file 1 ({len(sets[0])} seeds, {sets[0].distances.size} "
          f"distances): median {build:.4f} s; read_seeds of the same file: {read:.4f} s")


if __name__ == "__main__":
    main()
