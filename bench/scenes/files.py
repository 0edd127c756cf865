"""Writes seed files: each seed's line, then its distances to every seed of
the file, formatted "%.6g" from the positions as written.

The distance rows, N^2 numbers a file, are most of the bytes and most of the
time. The writer is the compiled helper seedmatch-gen-rows (its path) or
python (math.dist and "%.6g"); both write the same bytes. The helper formats
every value itself and hands back to Python the few distances within a few
units in the last place of a rounding tie of six digits, where the sum of
squares and math.dist may differ in the last bits and print differently.
"""
import array
import math
import os
import struct
import subprocess
from typing import List, Sequence


def written_position(position: Sequence[float]) -> List[float]:
    """A position as the file holds it, to three decimals."""
    return [float("%.3f" % x) for x in position]


def write_lines(path: str, head: bytes, lines: List[bytes], positions: List[List[float]],
                writer: str) -> int:
    """Writes a seed file of the given first line and seed lines, each seed's
    line followed by its distances to the positions as written. Returns how
    many near-tie pairs the helper left to math.dist."""
    n = len(lines)
    if writer != "python":
        return write_with_helper(path, writer, head, lines, positions)
    with open(path, "wb") as out:
        out.write(head)
        for start in range(0, n, 64):
            out.write(b"".join(lines[i] + plain_row(positions, i)
                               for i in range(start, min(n, start + 64))))
    return 0


def plain_row(positions: List[List[float]], i: int) -> bytes:
    p = positions[i]
    return (" ".join(["%.6g"] * len(positions)) % tuple(map(math.dist, [p] * len(positions),
                                                              positions)) + "\n").encode()


def write_with_helper(path: str, program: str, head: bytes, lines: List[bytes],
                      positions: List[List[float]]) -> int:
    """Has the compiled helper write the file; it asks for the text of the few
    distances near a rounding tie, which math.dist gives here. Returns how
    many pairs it asked for."""
    text = head + b"".join(lines)
    helper = subprocess.Popen([program, path], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    count = 0
    try:
        helper.stdin.write(struct.pack("=Q", len(positions)))
        helper.stdin.write(array.array("d", (x for p in positions for x in p)).tobytes())
        helper.stdin.write(struct.pack("=Q", len(text)) + text)
        helper.stdin.flush()
        count = struct.unpack("=Q", helper.stdout.read(8))[0]
        pairs = array.array("Q", helper.stdout.read(16 * count))
        answers = []
        for i, j in zip(pairs[0::2], pairs[1::2]):
            answers.append("%.6g\n%.6g\n" % (math.dist(positions[i], positions[j]),
                                               math.dist(positions[j], positions[i])))
        helper.stdin.write("".join(answers).encode())
        helper.stdin.close()
    except (BrokenPipeError, struct.error, ValueError):
        pass  # the helper stopped early; its status says why
    if helper.wait() != 0:
        raise OSError("%s failed writing %s" % (program, path))
    return count


def default_writer() -> str:
    """The helper of the release build beside this file if there is one, else
    the plain path."""
    helper = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir,
                          "build", "release", "bench", "seedmatch-gen-rows")
    return os.path.normpath(helper) if os.access(helper, os.X_OK) else "python"
