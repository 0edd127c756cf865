#!/usr/bin/python3
"""Times the weight sweep against running seedmatch once per weighting.

On one generated pair of seed files (gen_scenes.py N --noise L --truth), for
the 36 weightings of --seed-weight 0.5,1,2 --hist-weight 0,0.5 --rpd-weight
0.5,1,2 --cost-limit 2,4, each round times, one after the other:

  loop     36 runs of the seedmatch command in a row, output discarded
  sweep    python3 -m seedmatch sweep with --truth, the CSV discarded
  threads  a Python process that reads the pair once and runs the 36 plain
           matchings on two threads, without shared pair terms

and prints each round and the medians, with the ratio of each to the loop.
It then measures the peak memory of a process that reads the pair and runs
one matching, against one that reads it and sweeps on one thread, beside the
size of the shared pair terms (16 bytes per pair of seeds).

With --many it also times match_many on 8 pairs of files (gen_scenes.py N
--seed 1..8) on the local threads against the process pool it replaced.

Run it after a release build with an interpreter that imports NumPy:

    /usr/bin/python3 bench/sweep_bench.py --scenes /work/scenes --many

usage: sweep_bench.py [--build DIR] [--scenes DIR] [--n N] [--noise L]
                      [--rounds R] [--many]
"""
import argparse
import os
import resource
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LISTS = {"seed-weight": "0.5,1,2", "hist-weight": "0,0.5", "rpd-weight": "0.5,1,2",
         "cost-limit": "2,4"}
WEIGHTINGS = [(s, h, r, c) for s in LISTS["seed-weight"].split(",")
              for h in LISTS["hist-weight"].split(",") for r in LISTS["rpd-weight"].split(",")
              for c in LISTS["cost-limit"].split(",")]

THREADS = """
import sys
from concurrent.futures import ThreadPoolExecutor
import seedmatch
a, b = (seedmatch.read_seeds(f) for f in sys.argv[1:3])
weightings = [tuple(map(float, w.split())) for w in sys.argv[3:]]
with ThreadPoolExecutor(2) as pool:
    list(pool.map(lambda w: seedmatch.match(a, b, *w), weightings))
"""

PEAK = """
import resource, sys
import seedmatch
a, b = (seedmatch.read_seeds(f) for f in sys.argv[1:3])
w = [(1.0, 0.5, 0.5, 4.0)] * int(sys.argv[4])
if sys.argv[3] == "match":
    seedmatch.match(a, b, *w[0])
else:
    seedmatch._core.sweep(a, b, w, 1)
print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024)
"""


def scene(folder, n, noise, seed, truth=False):
    stem = os.path.join(folder, f"n{n}_noise{noise:g}" + ("" if seed == 1 else f"_s{seed}"))
    files = (stem + "_a.seeds", stem + "_b.seeds")
    truth_file = os.path.join(folder, f"n{n}_noise{noise:g}.truth") if truth else None
    if not all(map(os.path.exists, files)) or (truth and not os.path.exists(truth_file)):
        extra = ["--truth", truth_file] if truth else []
        subprocess.run([sys.executable, os.path.join(ROOT, "bench", "gen_scenes.py"), str(n),
                        *files, "--noise", str(noise), "--seed", str(seed), *extra], check=True)
    return files, truth_file


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def timed(command, env=None):
    """(wall, cpu) seconds of a command, the CPU time of all its threads."""
    start, cpu = time.perf_counter(), children_cpu()
    subprocess.run(command, check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   env=env)
    return time.perf_counter() - start, children_cpu() - cpu


def total(times):
    return tuple(map(sum, zip(*times)))


def line(start, row):
    (loop, loop_cpu), (sweep, sweep_cpu), (threads, threads_cpu) = row
    return (f"{start} {loop:7.2f} ({loop_cpu:6.2f}) {sweep:7.2f} ({sweep_cpu:6.2f}) "
            f"{threads:7.2f} ({threads_cpu:6.2f}) {sweep / loop:10.3f} {threads / loop:13.3f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--scenes", default=os.path.join(ROOT, "build", "bench-data"))
    parser.add_argument("--n", type=int, default=2000)
    parser.add_argument("--noise", type=float, default=4)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--many", action="store_true")
    args = parser.parse_args()
    os.makedirs(args.scenes, exist_ok=True)
    env = dict(os.environ, PYTHONPATH=os.path.join(args.build, "python"))
    (file1, file2), truth = scene(args.scenes, args.n, args.noise, 1, truth=True)
    command = os.path.join(args.build, "seedmatch")

    runs = {
        "loop": lambda: total(timed([command, file1, file2, *w]) for w in WEIGHTINGS),
        "sweep": lambda: timed([sys.executable, "-m", "seedmatch", "sweep", file1, file2,
                                *(x for k, v in LISTS.items() for x in (f"--{k}", v)),
                                "--truth", truth, "-o", os.devnull], env),
        "threads": lambda: timed([sys.executable, "-c", THREADS, file1, file2,
                                  *(" ".join(w) for w in WEIGHTINGS)], env),
    }
    print(f"scene: gen_scenes.py {args.n} --noise {args.noise:g} --seed 1; "
          f"36 weightings {' '.join(f'--{k} {v}' for k, v in LISTS.items())}")
    print("wall seconds (CPU seconds of all threads); load average before each round")
    print("round   load     loop s           sweep s          threads s        "
          "sweep/loop  threads/loop", flush=True)
    seconds = {name: [] for name in runs}
    for r in range(args.rounds):
        load = os.getloadavg()[0]
        for name, run in runs.items():
            seconds[name].append(run())
        print(line(f"{r + 1:5d} {load:6.2f}", [seconds[name][-1] for name in runs]), flush=True)
    print(line("median       ", [tuple(statistics.median(s[k] for s in seconds[name])
                                       for k in (0, 1)) for name in runs]))
    for name in ("sweep", "threads"):
        ratios = [s[0] / loop[0] for s, loop in zip(seconds[name], seconds["loop"])]
        cpu = [s[1] / loop[1] for s, loop in zip(seconds[name], seconds["loop"])]
        print(f"{name}/loop by round: median {statistics.median(ratios):.3f} (min "
              f"{min(ratios):.3f}); of CPU seconds {statistics.median(cpu):.3f}")

    peaks = {}
    for what, count in (("match", 1), ("sweep", 1), ("sweep", 36)):
        out = subprocess.run([sys.executable, "-c", PEAK, file1, file2, what, str(count)],
                             env=env, capture_output=True, text=True, check=True).stdout
        peaks[what, count] = int(out) / 2**20
    with open(file1) as f1, open(file2) as f2:
        n1, n2 = int(f1.readline().split()[0]), int(f2.readline().split()[0])
    one = peaks["match", 1]
    print(f"peak memory: read + one matching {one:.1f} MiB; read + sweep of that weighting "
          f"{peaks['sweep', 1]:.1f} MiB ({peaks['sweep', 1] - one:.1f} more), of it 36 times on "
          f"one thread {peaks['sweep', 36]:.1f} MiB ({peaks['sweep', 36] - one:.1f} more); "
          f"2 x 8 B x N1 x N2 = {16 * n1 * n2 / 2**20:.1f} MiB")

    if args.many:
        many(args, env)


MANY = """
import sys, time, multiprocessing
from concurrent.futures import ProcessPoolExecutor
import seedmatch
from seedmatch._many import run_pair

def processes(pairs, weights):
    context = multiprocessing.get_context("spawn")
    with ProcessPoolExecutor(max_workers=2, mp_context=context) as pool:
        return [f.result() for f in [pool.submit(run_pair, a, b, *weights) for a, b in pairs]]

if __name__ == "__main__":
    files = sys.argv[2:]
    pairs = list(zip(files[::2], files[1::2]))
    start = time.perf_counter()
    if sys.argv[1] == "threads":
        seedmatch.match_many(pairs, 1, 0.5, 1, 2, progress=False)
    else:
        processes(pairs, (1, 0.5, 1, 2))
    print(time.perf_counter() - start)
"""


def many(args, env):
    pairs = [scene(args.scenes, args.n, args.noise, seed)[0] for seed in range(1, 9)]
    files = [f for pair in pairs for f in pair]
    print(f"\nmatch_many: 8 pairs of gen_scenes.py {args.n} --noise {args.noise:g} --seed 1..8, "
          "weights 1 0.5 1 2, each in a fresh process")
    print("round  threads s  processes s  threads/processes", flush=True)
    seconds = {"threads": [], "processes": []}
    for r in range(args.rounds):
        for name in seconds:
            out = subprocess.run([sys.executable, "-c", MANY, name, *files], env=env,
                                 capture_output=True, text=True, check=True).stdout
            seconds[name].append(float(out))
        print(f"{r + 1:5d} {seconds['threads'][-1]:10.2f} {seconds['processes'][-1]:12.2f} "
              f"{seconds['threads'][-1] / seconds['processes'][-1]:18.3f}", flush=True)
    t, p = (statistics.median(seconds[k]) for k in ("threads", "processes"))
    ratio = statistics.median(a / b for a, b in zip(seconds["threads"], seconds["processes"]))
    print(f"median {t:9.2f} {p:12.2f} {t / p:18.3f}   median of the rounds' ratios {ratio:.3f}")


if __name__ == "__main__":
    main()
