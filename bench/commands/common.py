"""What the benchmarks share: the programs of a build, timed runs, the
matching step's report, Markdown tables."""
import dataclasses
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from typing import Dict, List, Optional, Sequence

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir,
                                     os.pardir))
BUILD = os.path.join(ROOT, "build", "release")

# Weights are seedWeight histWeight rpdWeight costLimit, as the command takes them.
USUAL = ("1", "0.5", "1", "2")
CONTESTED = ("1", "0.5", "1", "6")
# The weights each kind of scene is run at: the look-alike scenes at the
# usual, structure-heavy, structure-only and contested weights; consecutive
# frames of a series at weights that trust the structure, the usual ones and
# weights that trust the descriptors; frames in which every seed divides at the
# first two.
WEIGHTS = {
    "lookalike": [USUAL, ("0.2", "0.1", "1", "2"), ("0", "0", "1", "2"), CONTESTED],
    "easy": [USUAL, CONTESTED],
    "series": [("0.5", "0", "4", "2"), USUAL, ("2", "0", "0.5", "2")],
    "series-diameter": [("0.5", "0", "4", "2"), USUAL, ("2", "0", "0.5", "2")],
    "sisters": [("0.5", "0", "4", "2"), USUAL],
}
DIFFICULTY = {0: "easy", 2: "medium", 4: "hard"}


class Failure(Exception):
    """A benchmark that cannot go on; bench.py prints it on one line."""


COMMANDS = ("seedmatch", "seedmatch-pairs", "seedmatch-random")


def program(build: str, name: str) -> str:
    """The path of a program of the build: the commands at its top, the
    benchmark programs in bench/."""
    path = os.path.join(build, name) if name in COMMANDS else os.path.join(build, "bench", name)
    if not os.access(path, os.X_OK):
        raise Failure("%s: not built (cmake --build --preset test)" % path)
    return path


@dataclasses.dataclass
class Run:
    seconds: Optional[float]    # None: stopped at the timeout
    rss_mb: float               # peak resident set
    output: str
    cpu: Optional[float] = None     # user + system seconds of all its threads


def measure(argv: Sequence[str], timeout: Optional[float] = None, output: bool = False,
        env: Optional[Dict[str, str]] = None) -> Run:
    """One run of a program, its standard output kept when asked for; a run
    that fails (status other than 0 or 1) stops the benchmark."""
    with tempfile.TemporaryFile(mode="w+") as out:
        killed = threading.Event()
        start = time.perf_counter()
        proc = subprocess.Popen(list(argv), stdout=out if output else subprocess.DEVNULL, env=env)

        def kill() -> None:
            killed.set()
            proc.kill()
        timer = threading.Timer(timeout, kill) if timeout else None
        if timer:
            timer.start()
        _, status, usage = os.wait4(proc.pid, 0)
        seconds = time.perf_counter() - start
        if timer:
            timer.cancel()
        proc.returncode = code = os.waitstatus_to_exitcode(status)
        if killed.is_set():
            return Run(None, usage.ru_maxrss / 1024, "")
        if code not in (0, 1):
            raise Failure("%s exited with status %d" % (" ".join(argv), code))
        out.seek(0)
        return Run(seconds, usage.ru_maxrss / 1024, out.read(), usage.ru_utime + usage.ru_stime)


def engine_runs(output: str) -> List[Dict]:
    """The runs that seedmatch-engines reports, one dict each: engine, then
    every "key value" that follows (passes, rows, seconds, contenders, table
    ...), numbers as numbers."""
    runs = []
    for line in output.splitlines():
        fields = line.split()
        if len(fields) % 2 == 0 or "passes" not in fields:
            continue    # preparing seconds, stopped after ...
        record: Dict = {"engine": fields[0]}
        for key, value in zip(fields[1::2], fields[2::2]):
            record[key] = value if key == "table" else number(value)
        runs.append(record)
    return runs


def number(text: str):
    """An int or a float, whichever the text is; the text when neither."""
    for kind in (int, float):
        try:
            return kind(text)
        except ValueError:
            pass
    return text


def engines(build: str, a: str, b: str, weights: Sequence[str], engine: str = "fast",
            repeat: int = 1, timeout: Optional[float] = None) -> Optional[List[Dict]]:
    """The runs of the matching step alone; None when stopped at the timeout."""
    done = measure([program(build, "seedmatch-engines"), "--engine", engine, "--repeat",
                    str(repeat), a, b, *weights], timeout, output=True)
    return None if done.seconds is None else engine_runs(done.output)


def seed_count(path: str) -> int:
    with open(path) as f:
        return int(f.readline().split()[0])


def median(values: Sequence[float]) -> float:
    return statistics.median(values)


def numpy_python() -> str:
    """An interpreter that imports NumPy: this one, or Debian's."""
    try:
        import numpy  # noqa: F401
        return sys.executable
    except ImportError:
        return "/usr/bin/python3"


def module_env(build: str) -> Dict[str, str]:
    """The environment in which the build's Python package imports."""
    return dict(os.environ, PYTHONPATH=os.path.join(build, "python"))


class Table:
    """A Markdown table printed a row at a time, each cell in its fixed format."""

    def __init__(self, columns: Sequence[str], right: str = "") -> None:
        """columns: the headers; right: for each column, "r" to align right."""
        self.columns = len(columns)
        print("| %s |" % " | ".join(columns))
        print("|%s|" % "|".join("---:" if a == "r" else "---" for a in
                                right.ljust(len(columns), "-")), flush=True)

    def row(self, *cells: object) -> None:
        assert len(cells) == self.columns
        print("| %s |" % " | ".join(map(str, cells)), flush=True)


def seconds(value: Optional[float], digits: int = 3, timeout: Optional[float] = None) -> str:
    """A time in a cell: ">T" when stopped at the timeout T, "-" when none."""
    if value is None:
        return ">%g" % timeout if timeout else "-"
    return "%.*f" % (digits, value)
