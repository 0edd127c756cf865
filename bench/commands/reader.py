"""Reader throughput, plain and gzip, beside from_chars and zcat.

On the easy pair of --size seeds and gzip copies of it (kept beside it in
the cache), prints the table of seedmatch-read-throughput: in each of --runs
runs, a bare std::from_chars loop over the same bytes in memory, the reader
on one file, on the pair in turn and at once, plain and gzip, and zcat; then
the medians of seedmatch-read on the pair and on the gzip pair, a fresh
process each time. With --other DIR, that build's programs run too,
interleaved with this one's.
"""
import argparse
import gzip
import os
import shutil

import scenes
from commands.common import Table, measure, median, program


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--size", type=int, default=2000, help="seeds (default 2000)")
    parser.add_argument("--runs", type=int, default=11, help="runs (default 11)")
    parser.add_argument("--other", metavar="DIR", help="another build, run alongside")


def gzipped(path: str) -> str:
    packed = path + ".gz"
    if not os.path.exists(packed) or os.path.getmtime(packed) < os.path.getmtime(path):
        with open(path, "rb") as plain, open(packed + ".tmp", "wb") as raw, \
                gzip.GzipFile("", "wb", 6, raw, mtime=0) as out:
            shutil.copyfileobj(plain, out, 1 << 22)
        os.replace(packed + ".tmp", packed)
    return packed


def run(args: argparse.Namespace) -> int:
    pair = scenes.pair("easy", args.size, cache=args.scenes)
    files = [pair.a, pair.b]
    packed = [gzipped(f) for f in files]
    sizes = [os.path.getsize(f) for f in files + packed]
    print("pair of %d seeds: %d + %d bytes, gzip %d + %d bytes\n" % (args.size, *sizes))
    builds = [("this", args.build)] + ([("other", args.other)] if args.other else [])
    for name, build in builds:
        print("%s (%s):" % (name, build), flush=True)
        done = measure([program(build, "seedmatch-read-throughput"), "--runs", str(args.runs),
                    *files, *packed], output=True)
        print(done.output, flush=True)
    times = {(name, kind): [] for name, _ in builds for kind in ("plain", "gzip")}
    for _ in range(args.runs):
        for name, build in builds:
            for kind, inputs in (("plain", files), ("gzip", packed)):
                read = measure([program(build, "seedmatch-read"), *inputs])
                times[name, kind].append(read.seconds)
    print("seedmatch-read, a fresh process each time; medians of %d runs\n" % args.runs)
    table = Table(["build", "pair ms", "gzip pair ms"], "lrr")
    for name, _ in builds:
        table.row(name, "%.1f" % (1000 * median(times[name, "plain"])),
                  "%.1f" % (1000 * median(times[name, "gzip"])))
    return 0
