"""The weight sweep against running seedmatch once a weighting; match_many.

On the look-alike pair of --n seeds at --noise, for the 36 weightings of
--seed-weight 0.5,1,2 --hist-weight 0,0.5 --rpd-weight 0.5,1,2 --cost-limit
2,4, each round times, one after the other:

  loop     36 runs of the seedmatch command in a row, output discarded
  sweep    python3 -m seedmatch sweep with --truth, the CSV discarded
  threads  a Python process that reads the pair once and runs the 36 plain
           matchings on two threads, without shared pair terms

and prints wall and CPU seconds (of all threads) of each round and their
medians, with the ratio of each to the loop. Then the peak memory of a
process that reads the pair and runs one matching, against one that reads it
and sweeps on one thread, beside the size of the shared pair terms (16 bytes
a pair of seeds). With --many, match_many on 8 pairs (--seed 1 to 8) on its
local threads against the process pool it replaced. The Python parts run in
an interpreter that imports NumPy, on the build's package.
"""
import argparse
import os
import resource
import subprocess
import time
from typing import Dict, List, Tuple

import scenes
from commands.common import (Failure, Table, median, module_env, numpy_python, program,
                             seed_count)

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


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--n", type=int, default=2000, help="seeds (default 2000)")
    parser.add_argument("--noise", type=float, default=4.0, help="difficulty (default 4)")
    parser.add_argument("--rounds", type=int, default=3, help="rounds (default 3)")
    parser.add_argument("--many", action="store_true", help="also time match_many")


def children_cpu() -> float:
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def timed(command: List[str], env: Dict[str, str] = None) -> Tuple[float, float]:
    """(wall, CPU) seconds of a command, the CPU time of all its threads."""
    start, cpu = time.perf_counter(), children_cpu()
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
    if done.returncode not in (0, 1):
        raise Failure(done.stderr.decode(errors="replace").strip())
    return time.perf_counter() - start, children_cpu() - cpu


def run(args: argparse.Namespace) -> int:
    pair = scenes.pair("lookalike", args.n, args.noise, cache=args.scenes)
    python, env = numpy_python(), module_env(args.build)
    command = program(args.build, "seedmatch")

    def loop() -> Tuple[float, float]:
        times = [timed([command, pair.a, pair.b, *w]) for w in WEIGHTINGS]
        return sum(t[0] for t in times), sum(t[1] for t in times)
    runs = {
        "loop": loop,
        "sweep": lambda: timed([python, "-m", "seedmatch", "sweep", pair.a, pair.b,
                                *(x for k, v in LISTS.items() for x in ("--" + k, v)),
                                "--truth", pair.truth, "-o", os.devnull], env),
        "threads": lambda: timed([python, "-c", THREADS, pair.a, pair.b,
                                  *(" ".join(w) for w in WEIGHTINGS)], env),
    }
    print("scene: lookalike %d --noise %g --seed 1; 36 weightings %s; wall seconds and the CPU "
          "seconds of all threads; load average before each round\n"
          % (args.n, args.noise, " ".join("--%s %s" % kv for kv in LISTS.items())))
    table = Table(["round", "load", "loop s", "loop CPU s", "sweep s", "sweep CPU s",
                   "threads s", "threads CPU s", "sweep/loop", "threads/loop"], "r" * 10)
    times: Dict[str, List[Tuple[float, float]]] = {name: [] for name in runs}

    def row(label: str, load: str, values: List[Tuple[float, float]]) -> None:
        (loop_s, loop_cpu), (sweep_s, sweep_cpu), (threads_s, threads_cpu) = values
        table.row(label, load, "%.2f" % loop_s, "%.2f" % loop_cpu, "%.2f" % sweep_s,
                  "%.2f" % sweep_cpu, "%.2f" % threads_s, "%.2f" % threads_cpu,
                  "%.3f" % (sweep_s / loop_s), "%.3f" % (threads_s / loop_s))
    for r in range(args.rounds):
        load = os.getloadavg()[0]
        for name, call in runs.items():
            times[name].append(call())
        row(str(r + 1), "%.2f" % load, [times[name][-1] for name in runs])
    row("median", "", [(median([t[0] for t in times[name]]), median([t[1] for t in times[name]]))
                       for name in runs])
    print()
    for name in ("sweep", "threads"):
        ratios = [s[0] / lp[0] for s, lp in zip(times[name], times["loop"])]
        cpu = [s[1] / lp[1] for s, lp in zip(times[name], times["loop"])]
        print("%s/loop by round: median %.3f (min %.3f); of CPU seconds %.3f"
              % (name, median(ratios), min(ratios), median(cpu)))

    peaks = {}
    for what, count in (("match", 1), ("sweep", 1), ("sweep", 36)):
        out = subprocess.run([python, "-c", PEAK, pair.a, pair.b, what, str(count)], env=env,
                             capture_output=True, text=True, check=True).stdout
        peaks[what, count] = int(out) / 2**20
    one = peaks["match", 1]
    n1, n2 = seed_count(pair.a), seed_count(pair.b)
    print("peak memory: read + one matching %.1f MiB; read + sweep of that weighting %.1f MiB "
          "(%.1f more), of it 36 times on one thread %.1f MiB (%.1f more); "
          "2 x 8 B x N1 x N2 = %.1f MiB"
          % (one, peaks["sweep", 1], peaks["sweep", 1] - one, peaks["sweep", 36],
             peaks["sweep", 36] - one, 16 * n1 * n2 / 2**20))
    if args.many:
        many(args, python, env)
    return 0


def many(args: argparse.Namespace, python: str, env: Dict[str, str]) -> None:
    pairs = [scenes.pair("lookalike", args.n, args.noise, seed, cache=args.scenes)
             for seed in range(1, 9)]
    files = [f for p in pairs for f in (p.a, p.b)]
    print("\nmatch_many: 8 pairs of lookalike %d --noise %g --seed 1..8, weights 1 0.5 1 2, "
          "each in a fresh process\n" % (args.n, args.noise))
    table = Table(["round", "threads s", "processes s", "threads/processes"], "rrrr")
    seconds: Dict[str, List[float]] = {"threads": [], "processes": []}
    for r in range(args.rounds):
        for name in seconds:
            out = subprocess.run([python, "-c", MANY, name, *files], env=env,
                                 capture_output=True, text=True, check=True).stdout
            seconds[name].append(float(out))
        table.row(r + 1, "%.2f" % seconds["threads"][-1], "%.2f" % seconds["processes"][-1],
                  "%.3f" % (seconds["threads"][-1] / seconds["processes"][-1]))
    t, p = median(seconds["threads"]), median(seconds["processes"])
    table.row("median", "%.2f" % t, "%.2f" % p, "%.3f" % (t / p))
    ratio = median([a / b for a, b in zip(seconds["threads"], seconds["processes"])])
    print("\nmedian of the rounds' ratios %.3f" % ratio)
