"""Reading at scale, against a one-core from_chars loop over the same files.

On look-alike pairs (default N = 2000 and 8000 at noise 4, 16000 at noise 2;
32 MB to 2 GB a file), each run alternates: seedmatch-read-loop (one core
maps each file and converts every token with std::from_chars, storing
nothing: the yardstick), seedmatch-read, seedmatch at 1 0.5 1 0 (nothing can
be won) and at 1 0.5 1 2, and read_seeds of file A timed inside a Python
that imports NumPy, beside the loop over file A alone. Prints medians, each
one's ratio to the loop, and seedmatch's peak RSS beside
1.1 x (8 bytes x all distances) + 64 MB. With --other DIR, the build in DIR
is timed too, alternated with this one.
"""
import argparse
import os
import subprocess

import scenes
from commands.common import (Table, measure, median, module_env, numpy_python, program,
                             seed_count)

PYTHON_READ = """
import sys, time
import seedmatch
start = time.perf_counter()
seedmatch.read_seeds(sys.argv[1])
print(time.perf_counter() - start)
"""


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--runs", type=int, default=3, help="runs (default 3)")
    parser.add_argument("--sizes", type=int, nargs="+", default=[2000, 8000, 16000])
    parser.add_argument("--noise", type=float, nargs="+",
                        help="one per size (default 4, and 2 from N = 16000)")
    parser.add_argument("--other", metavar="DIR", help="another build, timed alternately")


def python_read(build: str, path: str) -> float:
    done = subprocess.run([numpy_python(), "-c", PYTHON_READ, path], env=module_env(build),
                          capture_output=True, text=True)
    return float(done.stdout) if done.returncode == 0 else float("nan")


def run(args: argparse.Namespace) -> int:
    loop = program(args.build, "seedmatch-read-loop")
    builds = [("this", args.build)] + ([("other", args.other)] if args.other else [])
    print("reading at scale; medians of %d runs alternated; ratios to the one-core map + "
          "from_chars loop over the same files in the same runs%s\n"
          % (args.runs, "; other = " + args.other if args.other else ""))
    table = Table(["N", "noise", "MB", "build", "loop s", "read s", "ratio", "1 0.5 1 0 s",
                   "ratio", "1 0.5 1 2 s", "ratio", "loop(A) s", "read_seeds(A) s", "ratio",
                   "RSS MB", "bound MB"], "rrrlrrrrrrrrrrrr")
    noises = args.noise or [4.0 if n < 16000 else 2.0 for n in args.sizes]
    for n, noise in zip(args.sizes, noises):
        pair = scenes.pair("lookalike", n, noise, cache=args.scenes)
        a, b = pair.a, pair.b
        loops = {"loop": [], "loopA": []}
        times = [{k: [] for k in ("read", "zero", "two", "pyA")} for _ in builds]
        rss = [0.0 for _ in builds]
        for _ in range(args.runs):
            loops["loop"].append(measure([loop, a, b]).seconds)
            loops["loopA"].append(measure([loop, a]).seconds)
            for i, (_, build) in enumerate(builds):
                read = measure([program(build, "seedmatch-read"), a, b])
                times[i]["read"].append(read.seconds)
                for key, limit in (("zero", "0"), ("two", "2")):
                    done = measure([program(build, "seedmatch"), a, b, "1", "0.5", "1", limit])
                    times[i][key].append(done.seconds)
                    rss[i] = max(rss[i], done.rss_mb)
                times[i]["pyA"].append(python_read(build, a))
        n1, n2 = seed_count(a), seed_count(b)
        bound = (1.1 * 8 * (n1 * n1 + n2 * n2) + 64e6) / 2**20
        megabytes = (os.path.getsize(a) + os.path.getsize(b)) / 1e6
        lp, la = median(loops["loop"]), median(loops["loopA"])
        for (name, _), t, peak in zip(builds, times, rss):
            m = {k: median(v) for k, v in t.items()}
            table.row(n, "%g" % noise, "%.0f" % megabytes, name, "%.2f" % lp,
                      "%.2f" % m["read"], "%.2f" % (m["read"] / lp), "%.2f" % m["zero"],
                      "%.2f" % (m["zero"] / lp), "%.2f" % m["two"], "%.2f" % (m["two"] / lp),
                      "%.2f" % la, "%.2f" % m["pyA"], "%.2f" % (m["pyA"] / la),
                      "%.0f" % peak, "%.0f" % bound)
    return 0
