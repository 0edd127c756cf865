"""Writes an easy pair of seed files, whose descriptors alone find the partners.

File 1 holds N seeds scattered in a box whose size grows with N, so that the
density of seeds stays the same. File 2 is file 1 seen again: every seed moved a
little, its descriptors and point counts perturbed, about a tenth of the seeds
missing, about as many new ones added, and the whole shuffled. Each file stores
the Euclidean distances between its own seeds. The same arguments always give
the same files. The descriptors are drawn uniformly, so that they tell the
seeds apart.
"""
import math
import random

DESC_LENS = (8, 4, 4, 2, 3, 2)
EMPTY_FRACTION = 0.02     # seeds whose first descriptor sums to zero
MISSING_FRACTION = 0.1    # seeds of file 1 absent from file 2
ADDED_FRACTION = 0.1      # seeds of file 2 absent from file 1


def new_seed(rng, side):
    empty = rng.random() < EMPTY_FRACTION
    return {
        "pos": [rng.uniform(0.0, side) for _ in range(3)],
        "desc": [[0.0] * n if (d == 0 and empty) else [rng.uniform(0.0, 1.0) for _ in range(n)]
                 for d, n in enumerate(DESC_LENS)],
        "pts": [rng.randint(50, 5000) for _ in range(3)],
    }


def perturbed(rng, seed):
    return {
        "pos": [x + rng.gauss(0.0, 0.3) for x in seed["pos"]],
        "desc": [[v + rng.gauss(0.0, 0.05) if v != 0.0 else 0.0 for v in values]
                 for values in seed["desc"]],
        "pts": [max(0, int(round(p * rng.uniform(0.95, 1.05)))) for p in seed["pts"]],
    }


def write_seed_file(path, seeds):
    with open(path, "w") as out:
        out.write("%d %s\n" % (len(seeds), " ".join(str(n) for n in DESC_LENS)))
        positions = [s["pos"] for s in seeds]
        for seed in seeds:
            parts = ["%.3f %.3f %.3f" % tuple(seed["pos"])]
            for values in seed["desc"]:
                parts.append("0 0")
                parts.extend("%.4f" % v for v in values)
            parts.append("%d %d %d" % tuple(seed["pts"]))
            parts.append(str(len(seeds)))
            out.write(" ".join(parts) + "\n")
            p = seed["pos"]
            out.write(" ".join("%.3f" % math.dist(p, q) for q in positions))
            out.write("\n")


def write_pair(n: int, out1: str, out2: str, seed: int = 1) -> None:
    """Writes the pair of n seeds."""
    if n < 0:
        raise ValueError("N must not be negative")
    rng = random.Random(seed)
    side = 4.0 * max(n, 1) ** (1.0 / 3.0)
    first = [new_seed(rng, side) for _ in range(n)]
    second = [perturbed(rng, s) for s in first if rng.random() >= MISSING_FRACTION]
    second += [new_seed(rng, side) for _ in range(int(round(n * ADDED_FRACTION)))]
    rng.shuffle(second)
    write_seed_file(out1, first)
    write_seed_file(out2, second)
