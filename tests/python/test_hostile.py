"""Hostile use of the package and its commands: each ends in one error that says what is wrong."""
import os
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import seedmatch
from conftest import FORTY, THREE, command_in_process, outcome, read_back, seed_set


OTHER = "ValueError: the matching was made from other seed sets: their seeds differ from these"
SWAPPED = ("ValueError: the matching was made from these two seed sets the other way round; "
           "give them in the order they were matched")


@pytest.mark.parametrize("call, expected", [
    # Sets read again from the same files fit; other sets, or the same ones swapped, do not.
    (lambda a, b, m, t: len(seedmatch.evaluate(*map(seedmatch.read_seeds, FORTY), m, 1, 0.5)),
     35),
    (lambda a, b, m, t: seedmatch.evaluate(*t, m, 1, 0.5), OTHER),
    (lambda a, b, m, t: seedmatch.evaluate(b, a, m, 1, 0.5), SWAPPED),
    (lambda a, b, m, t: seedmatch.pair_listing(a, t[1], m), OTHER),
    (lambda a, b, m, t: seedmatch.consistency(*t, m), OTHER),
    # Indices that are not seed indices, and truths beyond any set.
    (lambda a, b, m, t: seedmatch.score(np.array([[0, 1, 1], [np.nan, 2, 1]]), [[0, 1]]),
     "ValueError: matching row 1 holds nan as its index in set 1, which is not a seed index "
     "(a whole number from 0 to 2147483647)"),
    (lambda a, b, m, t: seedmatch.score(np.array([[0, -1, 1]]), [[0, 1]]),
     "ValueError: matching row 0 holds -1.0 as its index in set 2, which is not a seed index "
     "(a whole number from 0 to 2147483647)"),
    # A huge true index takes no memory by its size.
    (lambda a, b, m, t: seedmatch.score(np.array([[0, 1, 1]]), [[2**40, 5], [0, 1]]).true_pairs,
     1),
])
def test_package_refuses(forty, call, expected):
    a, b, matching = forty
    three = tuple(map(seedmatch.read_seeds, THREE))
    with np.errstate(all="raise"):  # and no cast warning on the way
        assert outcome(lambda: call(a, b, matching, three)) == expected


@pytest.mark.parametrize("text, sets, expected", [
    ("0 268435456\n", True, "1:3: index 268435456 of file 2 is beyond its seeds (the file "
                            "holds 39)"),
    ("1 1\n40 0\n", True, "2:1: index 40 of file 1 is beyond its seeds (the file holds 40)"),
    ("0 5000000000\n", False, "1:3: index 5000000000 of file 2 is beyond any seed index (at "
                              "most 2147483647)"),
])
def test_read_truth_refuses_indices_beyond_the_sets(tmp_path, text, sets, expected):
    given = tuple(map(seedmatch.read_seeds, FORTY)) if sets else ()
    assert read_back(seedmatch.read_truth, tmp_path / "truth.tsv", text, *given) == expected


# ---- the commands ------------------------------------------------------------------------

@pytest.fixture()
def files(tmp_path):
    """The forty example files, a.png a hard link to a.seeds, a truth and /dev/full links."""
    a, b = tmp_path / "a.seeds", tmp_path / "b.seeds"
    a.write_bytes(FORTY[0].read_bytes())
    b.write_bytes(FORTY[1].read_bytes())
    os.link(a, tmp_path / "a.png")
    (tmp_path / "truth.tsv").write_text("0 0\n")
    for name in ("full.png", "full.csv"):
        os.symlink("/dev/full", tmp_path / name)
    return tmp_path


SWEEP = ["--seed-weight", "1", "--hist-weight", "0.5", "--rpd-weight", "1", "--cost-limit", "2"]


@pytest.mark.parametrize("args, message", [
    (["sweep", "a.seeds", "b.seeds", *SWEEP, "-o", "a.seeds"],
     "-o a.seeds would overwrite the input a.seeds"),
    (["sweep", "a.seeds", "b.seeds", *SWEEP, "--plot", "a.png"],
     "--plot a.png would overwrite the input a.seeds"),
    (["sweep", "a.seeds", "b.seeds", *SWEEP, "--truth", "truth.tsv", "-o", "./truth.tsv"],
     "-o ./truth.tsv would overwrite the input truth.tsv"),
    (["sweep", "a.seeds", "b.seeds", *SWEEP, "-o", "t.png", "--plot", "./t.png"],
     "--plot ./t.png and -o t.png name the same file"),
    (["sweep", "a.seeds", "b.seeds", *SWEEP, "-o", "t.csv", "--plot", "full.png"],
     "cannot write full.png: no space left on device"),
    (["sweep", "a.seeds", "b.seeds", *SWEEP, "-o", "full.csv"],
     "cannot write full.csv: no space left on device"),
    (["sweep", "a.seeds", "b.seeds", *SWEEP[:-1], "0:1"],
     "--cost-limit: '0:1': expected START:STOP:COUNT, three numbers and two colons"),
    (["sweep", "a.seeds", "b.seeds", "--seed-weight", "1,nan", *SWEEP[2:], "--plot", "s.png"],
     "--seed-weight: a weight of NaN has no place on the picture's axes (--plot)"),
])
def test_commands_refuse(files, capsys, monkeypatch, args, message):
    if "full.png" in args or "s.png" in args:
        pytest.importorskip("matplotlib")
    monkeypatch.chdir(files)
    before = {p.name: p.read_bytes() for p in files.iterdir() if p.is_file() and
              not p.is_symlink()}
    status, out, err = command_in_process(capsys, *args)
    assert (status, out, err) == (2, "", "seedmatch: " + message + "\n")
    assert {p.name: p.read_bytes() for p in files.iterdir() if p.name in before} == before


def python_command(args, stdin=None, stdout=subprocess.PIPE, cwd=None):
    return subprocess.run([sys.executable, "-m", "seedmatch", *map(str, args)], stdin=stdin,
                          stdout=stdout, stderr=subprocess.PIPE, text=True, cwd=cwd,
                          timeout=60)


@pytest.mark.parametrize("names, message", [
    (["-", "-"], "standard input is the same stream as standard input"),
    (["-", "/dev/stdin"], "/dev/stdin is the same stream as standard input"),
])
def test_one_stream_named_twice_is_refused(names, message):
    feeder = subprocess.Popen(["cat", str(FORTY[0]), str(FORTY[1])], stdout=subprocess.PIPE)
    done = python_command(["sweep", *names, *SWEEP], stdin=feeder.stdout)
    feeder.stdout.close()
    feeder.wait()
    assert (done.returncode, done.stdout, done.stderr) == \
        (2, "", f"seedmatch: {message}, which can stand for only one of the input files\n")


def test_broken_standard_output_is_one_line():
    read_end, write_end = os.pipe()
    os.close(read_end)  # gone before anything is written
    try:
        done = python_command(["sweep", *FORTY, *SWEEP], stdout=write_end)
    finally:
        os.close(write_end)
    assert (done.returncode, done.stderr) == \
        (2, "seedmatch: cannot write standard output: broken pipe\n")


# ---- reads that never end, memory limits, a cancelled cluster sweep -----------------------

INTERRUPTED = """
import os, signal, sys, threading, time
import seedmatch
what = sys.argv[1]
if what == "fifo":
    os.mkfifo(sys.argv[2])
call = {"fifo": lambda: seedmatch.read_seeds(sys.argv[2]),
        "-": lambda: seedmatch.read_seeds("-"),
        "many": lambda: seedmatch.match_many([(sys.argv[2], sys.argv[2])], 1, 0.5, 1, 2)}[what]
threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT)).start()
start = time.monotonic()
try:
    call()
    print("returned")
except KeyboardInterrupt:
    print("stopped %.3f s after Ctrl-C" % (time.monotonic() - start - 0.5))
"""


@pytest.mark.parametrize("what", ["fifo", "-", "many"])
def test_ctrl_c_stops_a_stalled_read(tmp_path, what):
    fifo = tmp_path / "fifo"
    if what == "many":
        os.mkfifo(fifo)
    # Standard input is a pipe whose writer, this process, never writes.
    read_end, write_end = os.pipe()
    try:
        done = subprocess.run([sys.executable, "-c", INTERRUPTED, what, str(fifo)],
                              stdin=read_end, capture_output=True, text=True, timeout=30)
    finally:
        os.close(read_end)
        os.close(write_end)
    assert done.stdout.startswith("stopped "), done.stdout + done.stderr
    assert float(done.stdout.split()[1]) < 0.1


LIMITED = """
import resource, sys
import numpy as np
import seedmatch
what, path, extra = sys.argv[1], sys.argv[2], int(sys.argv[3])
n = 1100  # int64 distances, which from_arrays makes float64: twice their memory
arrays = (np.zeros((n, 3)), [np.ones((n, 1))] + [np.zeros((n, 0))] * 5,
          np.ones((n, 3), np.int64), np.ones((n, 4 * n), np.int64))
with open("/proc/self/status") as status:
    size = next(int(line.split()[1]) for line in status if line.startswith("VmSize:"))
limit = (size + extra) * 1024
resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
try:
    if what == "read":
        print(len(seedmatch.read_seeds(path)))
    elif what == "arrays":
        print(len(seedmatch.SeedSet.from_arrays(*arrays)))
    else:
        a = seedmatch.read_seeds(path)
        print(len(seedmatch.sweep(a, a, seedmatch.grid([1, 2], [0.5], [1], [2, 4]))))
except MemoryError as error:
    print("MemoryError:", error)
"""


@pytest.fixture(scope="module")
def thousand_seeds(tmp_path_factory):
    """A file of 1,100 seeds: enough for the reader's second thread."""
    n = 1100
    path = tmp_path_factory.mktemp("limited") / "many.seeds"
    row = " ".join(["1"] * n)
    path.write_text(f"{n} 1 0 0 0 0 0\n" + "".join(
        f"{i} 0 0 0 0 1.0 0 0 0 0 0 0 0 0 0 0 1 1 1 {n} {row}\n" for i in range(n)))
    return path


@pytest.mark.parametrize("what", ["read", "arrays", "sweep"])
def test_no_abort_under_any_memory_limit(thousand_seeds, what):
    # From too little memory to enough: a result or MemoryError, never an abort.
    outcomes = set()
    for extra in range(0, 90_001, 6_000):  # kB beyond what the interpreter has mapped
        done = subprocess.run([sys.executable, "-c", LIMITED, what, str(thousand_seeds),
                               str(extra)], capture_output=True, text=True, timeout=120)
        assert done.returncode == 0, f"{extra} kB more: {done.returncode} {done.stderr[-300:]}"
        outcomes.add(done.stdout.strip())
    expected = {"read": "1100", "arrays": "1100", "sweep": "4"}[what]
    assert outcomes <= {expected, "MemoryError: out of memory"} and expected in outcomes


def test_cancelled_cluster_sweep_stops_the_workers(generated, client):
    a, b = map(seedmatch.read_seeds, generated[300])
    weightings = seedmatch.grid(np.linspace(0.5, 2, 100), [0.5], np.linspace(0.5, 2, 100),
                                [2])  # 10,000 auctions of 300 seeds: minutes of work
    threading.Timer(1.0, os.kill, (os.getpid(), signal.SIGINT)).start()
    with pytest.raises(KeyboardInterrupt):
        seedmatch.sweep(a, b, weightings, client=client)
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        busy = client.run(lambda dask_worker: dask_worker.state.executing_count)
        if not any(busy.values()):
            break
        time.sleep(0.1)
    assert not any(busy.values()), "the workers go on with the cancelled auctions"


def test_empty_seeds_are_counted():
    # A seed whose descriptor 0 sums to 0 or less is never paired.
    sets = [seed_set([[0, 0, 0], [1, 0, 0], [2, 0, 0]], d0) for d0 in ([1, 0, -2], [1, 1, 1])]
    matching = seedmatch.match(*sets, 1, 0.5, 1, 100)
    assert matching.empty_seeds == (2, 0)
    assert matching.pairs[:, 0].tolist() == [0]
