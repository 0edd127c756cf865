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

--matrix runs the look-alike scenes of gen_scenes.py instead: every size
(default 1000 2000 4000) x difficulty (--noise, default 0 2 4: easy, medium,
hard) x weights (1 0.5 1 2; 0.2 0.1 1 2; 0 0 1 2; 1 0.5 1 6), and prints a
Markdown table of passes per bidder, contenders per pass (objects whose fixed
part plus price is below the winner's pair cost plus price) as a fraction of
all objects, the medians of seedmatch and seedmatch-read run interleaved and
their ratio, the matching step's median (fast engine), the plain engine's
matching time where it finishes within --plain-timeout, and seedmatch's peak
RSS beside the bound. A run over --timeout prints ">T". --quick is the short
table: N 1000 and 2000, hard, the four weights, 3 runs.

--versus DIR times the matching step of this build and of the build in DIR
(an earlier commit, say) alternately: on the easy pairs of gen_seeds.py with
costLimit 2 and 6 (contested), and on the look-alike scenes with the four
weights; default N 1000 and 2000, hard.

--check replays scenes of --check-size seeds (default 300), every difficulty
and the four weights, through both engines and fails unless they make the
same passes and rows.

--large times reading at scale on look-alike scenes (default N = 2000 and
8000 at noise 4, 16000 at noise 2; 32 MB to 2 GB a file), kept in --scenes
(default build/bench-data) as nN_noiseL_a.seeds and _b.seeds and generated
when missing. Each run alternates, on the same pair: seedmatch-read-loop (one
core maps each file and converts every token with std::from_chars, storing
nothing: the yardstick), seedmatch-read, seedmatch at 1 0.5 1 0 (nothing can
be won) and at 1 0.5 1 2, and read_seeds of file A timed inside /usr/bin/python3
beside the loop over file A alone. It prints medians, each one's ratio to the
loop, and seedmatch's peak RSS beside 1.1 x (8 bytes x all distances) + 64 MB.
With --versus DIR, the build in DIR is timed too, alternated with this one.

usage: run_bench.py [--build DIR] [--runs R] [--sizes N ...] [--contested]
       run_bench.py --matrix [--quick] [--runs R] [--sizes N ...] [--noise L ...]
                    [--timeout S] [--plain-timeout S]
       run_bench.py --check [--check-size N]
       run_bench.py --large [--runs R] [--sizes N ...] [--noise L ...] [--scenes DIR]
                    [--versus DIR]
       run_bench.py --versus DIR [--runs R] [--sizes N ...] [--noise L ...]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WEIGHTS = ["1", "0.5", "1", "2"]
NEGATIVE = ["1", "0.5", "-1", "2"]
CONTESTED = ["1", "0.5", "1", "6"]
MATRIX_WEIGHTS = [WEIGHTS, ["0.2", "0.1", "1", "2"], ["0", "0", "1", "2"], CONTESTED]


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


def scene(data, n, noise):
    """The look-alike pair of n seeds at difficulty noise, generated once and
    again whenever gen_scenes.py changes."""
    script = os.path.join(ROOT, "bench", "gen_scenes.py")
    a = os.path.join(data, "scene_n%d_noise%g_1.seeds" % (n, noise))
    b = os.path.join(data, "scene_n%d_noise%g_2.seeds" % (n, noise))
    mtime = os.path.getmtime(script)
    if not all(os.path.exists(f) and os.path.getmtime(f) >= mtime for f in (a, b)):
        print("generating N=%d noise %g ..." % (n, noise), file=sys.stderr, flush=True)
        subprocess.run([sys.executable, script, str(n), a + ".tmp", b + ".tmp",
                        "--noise", str(noise)], check=True)
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


def limited(argv, timeout, keep_output=False):
    """Seconds (None when killed after timeout seconds), peak RSS (KB) and,
    with keep_output, the standard output of one run."""
    with tempfile.TemporaryFile(mode="w+") as out:
        fired = threading.Event()
        start = time.perf_counter()
        proc = subprocess.Popen(argv, stdout=out if keep_output else subprocess.DEVNULL)

        def kill():
            fired.set()
            proc.kill()
        timer = threading.Timer(timeout, kill)
        timer.start()
        _, status, usage = os.wait4(proc.pid, 0)
        seconds = time.perf_counter() - start
        timer.cancel()
        proc.returncode = code = os.waitstatus_to_exitcode(status)
        if fired.is_set():
            return None, usage.ru_maxrss, ""
        if code not in (0, 1):
            sys.exit("%s exited with %d" % (" ".join(argv), code))
        out.seek(0)
        return seconds, usage.ru_maxrss, out.read()


def engine_runs(output):
    """Per run of seedmatch-engines: name, passes, rows, seconds, contenders, table hash."""
    return [(f[0], int(f[2]), int(f[4]), float(f[6]), int(f[8]), f[-1])
            for f in (line.split() for line in output.splitlines())]


def seed_count(path):
    with open(path) as f:
        return int(f.readline().split()[0])


def matrix(args):
    """One Markdown row per size x difficulty x weights; see the module notes."""
    data = os.path.join(ROOT, "build", "bench-data")
    os.makedirs(data, exist_ok=True)
    read = os.path.join(args.build, "bench", "seedmatch-read")
    full = os.path.join(args.build, "seedmatch")
    engines_bin = os.path.join(args.build, "bench", "seedmatch-engines")
    names = {0: "easy", 2: "medium", 4: "hard"}

    print("look-alike scenes (bench/gen_scenes.py); medians of %d runs, seedmatch and "
          "seedmatch-read interleaved; plain engine once, up to %g s; timeout %g s\n"
          % (args.runs, args.plain_timeout, args.timeout))
    print("| N | noise | weights | passes/bidder | contenders/pass | read s | seedmatch s "
          "| ratio | match s | plain s | RSS MB | bound MB |")
    print("|---:|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|", flush=True)
    plain_seen = {}   # (noise, weights) -> (N, plain seconds or None, passes)
    for n in sorted(args.sizes):
        for noise in args.noise:
            a, b = scene(data, n, noise)
            n1, n2 = seed_count(a), seed_count(b)
            bidders, objects = min(n1, n2), max(n1, n2)
            bound = 1.5 * 8 * (n1 * n1 + n2 * n2) / 2**20 + 32
            for weights in MATRIX_WEIGHTS:
                reads, fulls, rss = [], [], 0
                for _ in range(args.runs):
                    reads.append(limited([read, a, b], args.timeout)[0])
                    if reads[-1] is None:
                        sys.exit("seedmatch-read took over %g s on %s" % (args.timeout, a))
                    seconds, peak, _ = limited([full, a, b] + weights, args.timeout)
                    rss = max(rss, peak)
                    if seconds is None:
                        fulls = None
                        break
                    fulls.append(seconds)

                passes = contenders = match = None
                if fulls is not None:
                    seconds, _, out = limited([engines_bin, "--engine", "fast", "--repeat",
                                               str(args.runs), a, b] + weights,
                                              args.timeout * args.runs, keep_output=True)
                    if seconds is not None:
                        runs = engine_runs(out)
                        match = statistics.median(r[3] for r in runs)
                        passes = runs[0][1]
                    if n <= args.count_up_to:
                        seconds, _, out = limited([engines_bin, "--engine", "counted", a, b] + weights,
                                                  args.timeout, keep_output=True)
                        if seconds is not None:
                            contenders = engine_runs(out)[0][4] or None

                key = (noise, tuple(weights))
                plain = None
                seen = plain_seen.get(key)
                hopeless = seen is not None and (seen[1] is None or (
                    passes is not None and seen[1] * (n / seen[0])**2 * passes / seen[2]
                    > args.plain_timeout))
                if not hopeless:
                    seconds, _, out = limited([engines_bin, "--engine", "plain", a, b] + weights,
                                              args.plain_timeout, keep_output=True)
                    if seconds is not None:
                        _, passes, _, plain, counted, _ = engine_runs(out)[0]
                        contenders = contenders or counted
                    plain_seen[key] = (n, plain, passes)

                ratio = "-"
                if fulls is not None and reads:
                    r, f = statistics.median(reads), statistics.median(fulls)
                    ratio = "%.2f" % (f / r)
                print("| %d | %g %s | %s | %s | %s | %.3f | %s | %s | %s | %s | %.1f | %.1f |" % (
                    n, noise, names.get(noise, ""), " ".join(weights),
                    "-" if passes is None else "%.2f" % (passes / bidders),
                    "-" if not (contenders and passes) else
                    "%.2f%%" % (100.0 * contenders / passes / objects),
                    statistics.median(reads),
                    ">%g" % args.timeout if fulls is None else "%.3f" % statistics.median(fulls),
                    ratio,
                    ">%g" % args.timeout if match is None else "%.4f" % match,
                    "-" if plain is None else "%.3f" % plain,
                    rss / 1024, bound), flush=True)


def versus(args):
    """The matching step of this build and of --versus DIR, alternated, per scene and weights."""
    data = os.path.join(ROOT, "build", "bench-data")
    os.makedirs(data, exist_ok=True)
    builds = [os.path.join(args.versus, "bench", "seedmatch-engines"),
              os.path.join(args.build, "bench", "seedmatch-engines")]
    print("matching step (fast engine), medians of %d runs alternated; this build against %s\n"
          % (args.runs, args.versus))
    print("| N | scene (noise) | weights | passes | other s | this s | speed-up |")
    print("|---:|---|---|---:|---:|---:|---:|", flush=True)
    cases = [(n, "uniform", pair(data, n), weights) for n in sorted(args.sizes)
             for weights in (WEIGHTS, CONTESTED)]
    cases += [(n, "%g" % noise, scene(data, n, noise), weights) for n in sorted(args.sizes)
              for noise in args.noise for weights in MATRIX_WEIGHTS]
    for n, kind, (a, b), weights in cases:
        times = [[], []]
        passes = None
        for _ in range(args.runs):
            for side, binary in enumerate(builds):
                seconds, _, out = limited([binary, "--engine", "fast", a, b] + weights,
                                          args.timeout, keep_output=True)
                times[side].append(float("inf") if seconds is None
                                   else engine_runs(out)[0][3])
                if seconds is not None:
                    passes = engine_runs(out)[0][1]
        other, this = (statistics.median(t) for t in times)
        print("| %d | %s | %s | %s | %.3f | %.3f | %.1fx |" % (
            n, kind, " ".join(weights), passes, other, this, other / this), flush=True)


def check(args):
    """Replays small scenes through both engines; 1 when any differ."""
    data = os.path.join(ROOT, "build", "bench-data")
    os.makedirs(data, exist_ok=True)
    engines_bin = os.path.join(args.build, "bench", "seedmatch-engines")
    differ = 0
    for noise in (0, 2, 4):
        a, b = scene(data, args.check_size, noise)
        for weights in MATRIX_WEIGHTS:
            out = subprocess.run([engines_bin, "--engine", "both", a, b] + weights,
                                 check=True, capture_output=True, text=True).stdout
            runs = {r[0]: r for r in engine_runs(out)}
            fast, plain = runs["fast"], runs["plain"]
            same = (fast[1], fast[2], fast[5]) == (plain[1], plain[2], plain[5])
            differ += not same
            print("%s N=%d noise %g weights %s: fast passes %d rows %d, plain passes %d rows %d"
                  % ("same   " if same else "DIFFER ", args.check_size, noise, " ".join(weights),
                     fast[1], fast[2], plain[1], plain[2]), flush=True)
    print("%d of %d cases differ" % (differ, 3 * len(MATRIX_WEIGHTS)))
    return 1 if differ else 0


PYTHON_READ = """
import sys, time
import seedmatch
start = time.perf_counter()
seedmatch.read_seeds(sys.argv[1])
print(time.perf_counter() - start)
"""


def large(args):
    """Reading at scale: the loop, the reader, two full runs and the Python
    reader, alternated; with --versus, the build in that directory too."""
    data = args.scenes or os.path.join(ROOT, "build", "bench-data")
    os.makedirs(data, exist_ok=True)
    loop = os.path.join(args.build, "bench", "seedmatch-read-loop")
    python = "/usr/bin/python3"
    builds = [args.build] + ([args.versus] if args.versus else [])
    names = ["this"] + (["other"] if args.versus else [])
    print("reading at scale; medians of %d runs alternated; ratios to the one-core "
          "map + from_chars loop over the same files in the same runs%s\n"
          % (args.runs, "; other = " + args.versus if args.versus else ""))
    print("| N | noise | MB | build | loop s | read s | ratio | 1 0.5 1 0 s | ratio | 1 0.5 1 2 s "
          "| ratio | loop(A) s | read_seeds(A) s | ratio | RSS MB | bound MB |")
    print("|---:|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|",
          flush=True)
    noises = args.noise or [4.0 if n < 16000 else 2.0 for n in args.sizes]
    for n, noise in zip(args.sizes, noises):
        a = os.path.join(data, "n%d_noise%g_a.seeds" % (n, noise))
        b = os.path.join(data, "n%d_noise%g_b.seeds" % (n, noise))
        if not (os.path.exists(a) and os.path.exists(b)):
            print("generating N=%d noise %g ..." % (n, noise), file=sys.stderr, flush=True)
            subprocess.run([python, os.path.join(ROOT, "bench", "gen_scenes.py"), str(n),
                            a + ".tmp", b + ".tmp", "--noise", str(noise)], check=True)
            os.replace(a + ".tmp", a)
            os.replace(b + ".tmp", b)
        loops = {"loop": [], "loopA": []}
        times = [{k: [] for k in ("read", "zero", "two", "pyA")} for _ in builds]
        rss = [0 for _ in builds]
        for _ in range(args.runs):
            loops["loop"].append(timed([loop, a, b])[0])
            loops["loopA"].append(timed([loop, a])[0])
            for build, t, i in zip(builds, times, range(len(builds))):
                t["read"].append(timed([os.path.join(build, "bench", "seedmatch-read"), a, b])[0])
                for key, limit in (("zero", "0"), ("two", "2")):
                    seconds, peak = timed([os.path.join(build, "seedmatch"), a, b,
                                           "1", "0.5", "1", limit])
                    t[key].append(seconds)
                    rss[i] = max(rss[i], peak)
                env = dict(os.environ, PYTHONPATH=os.path.join(build, "python"))
                out = subprocess.run([python, "-c", PYTHON_READ, a], env=env,
                                     capture_output=True, text=True)
                if out.returncode == 0:
                    t["pyA"].append(float(out.stdout))
        n1, n2 = seed_count(a), seed_count(b)
        bound = (1.1 * 8 * (n1 * n1 + n2 * n2) + 64e6) / 2**20
        megabytes = (os.path.getsize(a) + os.path.getsize(b)) / 1e6
        lp, la = statistics.median(loops["loop"]), statistics.median(loops["loopA"])
        for name, t, peak in zip(names, times, rss):
            m = {k: statistics.median(v) if v else float("nan") for k, v in t.items()}
            print("| %d | %g | %.0f | %s | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f "
                  "| %.2f | %.2f | %.0f | %.0f |" % (
                      n, noise, megabytes, name, lp, m["read"], m["read"] / lp,
                      m["zero"], m["zero"] / lp, m["two"], m["two"] / lp,
                      la, m["pyA"], m["pyA"] / la, peak / 1024, bound), flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--runs", type=int, help="runs per timing (default 5, --quick 3)")
    parser.add_argument("--sizes", type=int, nargs="+",
                        help="default 500 1000 2000 4000; --matrix 1000 2000 4000")
    parser.add_argument("--contested", action="store_true",
                        help="costLimit 6: every run reaches the pass limit")
    parser.add_argument("--matrix", action="store_true",
                        help="look-alike scenes: sizes x difficulties x four weights")
    parser.add_argument("--quick", action="store_true",
                        help="the short matrix: N 1000 and 2000, hard, 3 runs")
    parser.add_argument("--noise", type=float, nargs="+",
                        help="matrix difficulties, 0 easy to 4 hard (default 0 2 4)")
    parser.add_argument("--timeout", type=float, default=300.0,
                        help="seconds before a seedmatch run is given up (default 300)")
    parser.add_argument("--plain-timeout", type=float, default=60.0,
                        help="seconds before the plain engine is given up (default 60)")
    parser.add_argument("--count-up-to", type=int, default=2000,
                        help="count contenders (a slow run of their own) up to this N")
    parser.add_argument("--check", action="store_true",
                        help="both engines on small scenes: same passes and rows")
    parser.add_argument("--versus", metavar="DIR",
                        help="the matching step of this build beside that of the build in DIR")
    parser.add_argument("--check-size", type=int, default=300)
    parser.add_argument("--large", action="store_true",
                        help="reading at scale: N 2000, 8000 and 16000 against the from_chars loop")
    parser.add_argument("--scenes", metavar="DIR",
                        help="where --large keeps its scenes (default build/bench-data)")
    args = parser.parse_args()
    if args.check:
        sys.exit(check(args))
    if args.large:
        args.runs = args.runs or 3
        args.sizes = args.sizes or [2000, 8000, 16000]
        large(args)
        return
    if args.versus:
        args.runs = args.runs or 3
        args.sizes = args.sizes or [1000, 2000]
        args.noise = args.noise or [4.0]
        versus(args)
        return
    if args.matrix or args.quick:
        args.runs = args.runs or (3 if args.quick else 5)
        args.sizes = args.sizes or ([1000, 2000] if args.quick else [1000, 2000, 4000])
        args.noise = args.noise or ([4.0] if args.quick else [0.0, 2.0, 4.0])
        matrix(args)
        return
    args.runs = args.runs or 5
    args.sizes = args.sizes or [500, 1000, 2000, 4000]
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
