"""Writes a pair of seed files of look-alike seeds, with a difficulty knob.

File 1 is a scene of N seeds scattered in a cube, no two closer than a few
units, at a density that gives a seed about 30 neighbours within distance 40.
Their descriptors come from shared, correlated distributions, so that many
seeds look alike and only their arrangement tells them apart:

  desc[0]  an intensity, log-normal around a common value, and its peak
  desc[1]  a normalised profile of five bins around a common shape
  desc[2]  a decaying profile exp(-k / tau) of four bins, tau log-normal
  desc[4]  three gamma-distributed shape values
  pts      one log-normal size (hundreds to thousands) and two counts
           proportional to it
  desc[3], desc[5]  orientation-like values that no cost reads

File 2 is file 1 seen again after a small rigid motion (a rotation of one to
two degrees about the scene's centre and a shift of a few units), with
positional jitter and descriptor noise, some seeds lost and about as many new
ones added, shuffled. Each file stores the Euclidean distances between its own
seeds, computed from the positions as written. The same arguments always give
the same files.

--noise sets the difficulty, from 0 (easy) to 4 (hard): the jitter and the
descriptor noise of the second view grow with it, and the shared distributions
narrow, so that more seeds look alike. At weights 1 0.5 1 2 a hard scene keeps
the auction busy for many passes per bidder, an easy one for one to a few.

A truth file holds the true pairs: a header, then one line per seed of
file 1 that file 2 holds again, its index in file 1, a tab, its index in
file 2. files.py writes the files.
"""
import math
import os
import random
from typing import Dict, List, Optional, Sequence

from .files import default_writer, write_lines, written_position

DESC_LENS = (2, 5, 4, 2, 3, 2)
PROFILE = (0.35, 0.25, 0.2, 0.12, 0.08)   # the common shape of desc[1]
PROFILE_CONCENTRATION = 60.0              # Dirichlet: higher is more alike
NEIGHBOUR_RADIUS = 40.0
NEIGHBOURS = 30.0                         # mean seeds within NEIGHBOUR_RADIUS
MIN_SPACING = 5.0                         # no two seeds of a scene closer
EMPTY_FRACTION = 0.01                     # seeds whose desc[0] is all zero
SIZE_SIGMA = 1.0                          # log-normal sigma of the seed size

Seed = Dict[str, List]


def spread(level: float) -> float:
    """How far apart the seeds of a scene lie in descriptor space: the harder
    the scene, the more seeds look alike."""
    return max(1.0, 6.0 - 0.875 * level)


def noise_scale(level: float) -> float:
    """Descriptor noise of the second view, in units of the spread of the
    population at spread 1."""
    return 0.03 + 0.08 * level


def jitter_scale(level: float) -> float:
    """Standard deviation of the second view's positional jitter per axis."""
    return 0.2 + 0.45 * level


def ball_in_cube(r: float, side: float) -> float:
    """Volume of a ball of radius r <= side around a point drawn uniformly in a
    cube, that lies inside the cube, averaged over the point."""
    return (4.0 / 3.0 * math.pi * r**3 - 1.5 * math.pi * r**4 / side
            + 1.6 * r**5 / side**2 - r**6 / (6.0 * side**3))


def cube_side(n: int) -> float:
    """Side of the cube that gives n seeds NEIGHBOURS neighbours on average."""
    lo, hi = NEIGHBOUR_RADIUS, 1e5
    for _ in range(100):
        side = 0.5 * (lo + hi)
        if (n - 1) * ball_in_cube(NEIGHBOUR_RADIUS, side) / side**3 > NEIGHBOURS:
            lo = side
        else:
            hi = side
    return max(side, NEIGHBOUR_RADIUS)


def scatter(rng: random.Random, n: int, side: float) -> List[List[float]]:
    """n points in the cube, no two closer than MIN_SPACING (where the cube
    has room for them)."""
    cells: Dict[tuple, List[List[float]]] = {}
    points: List[List[float]] = []
    for _ in range(n):
        for _attempt in range(100):
            p = [rng.uniform(0.0, side) for _ in range(3)]
            key = tuple(int(x // MIN_SPACING) for x in p)
            near = (cells.get((key[0] + a, key[1] + b, key[2] + c), ())
                    for a in (-1, 0, 1) for b in (-1, 0, 1) for c in (-1, 0, 1))
            if all(math.dist(p, q) >= MIN_SPACING for group in near for q in group):
                break
        cells.setdefault(key, []).append(p)
        points.append(p)
    return points


def new_seed(rng: random.Random, pos: List[float], width: float) -> Seed:
    """A seed with latent values drawn from the scene's shared distributions,
    each as wide as width times its width at spread 1."""
    weights = [rng.gammavariate(PROFILE_CONCENTRATION / width**2 * w, 1.0) for w in PROFILE]
    return {
        "pos": pos,
        "empty": rng.random() < EMPTY_FRACTION,
        "intensity": rng.lognormvariate(0.0, 0.2 * width),
        "peak": rng.lognormvariate(math.log(1.6), 0.08 * width),
        "profile": [w / sum(weights) for w in weights],
        "tau": rng.lognormvariate(math.log(1.5), 0.2 * width),
        "shape": [rng.gammavariate(6.0 / width**2, width**2 / 6.0) for _ in range(DESC_LENS[4])],
        "size": rng.lognormvariate(math.log(700.0), SIZE_SIGMA),
        "ratios": [1.0, rng.lognormvariate(math.log(0.6), 0.08 * width),
                   rng.lognormvariate(math.log(0.25), 0.15 * width)],
        "angles": [rng.uniform(-math.pi, math.pi) for _ in range(4)],
    }


def seen_again(rng: random.Random, seed: Seed, level: float) -> Seed:
    """The same seed measured once more, with noise of the given level: each
    latent value moves by noise_scale(level) times its population's spread at
    spread 1."""
    q = noise_scale(level)
    weights = [w * math.exp(0.13 * q * rng.gauss(0.0, 1.0)) for w in seed["profile"]]
    return {
        "pos": seed["pos"],
        "empty": seed["empty"],
        "intensity": seed["intensity"] * math.exp(0.2 * q * rng.gauss(0.0, 1.0)),
        "peak": seed["peak"] * math.exp(0.08 * q * rng.gauss(0.0, 1.0)),
        "profile": [w / sum(weights) for w in weights],
        "tau": seed["tau"] * math.exp(0.2 * q * rng.gauss(0.0, 1.0)),
        "shape": [max(0.0, v + 0.41 * q * rng.gauss(0.0, 1.0)) for v in seed["shape"]],
        "size": seed["size"] * math.exp(0.5 * q * rng.gauss(0.0, 1.0)),
        "ratios": [r * math.exp(0.1 * q * rng.gauss(0.0, 1.0)) for r in seed["ratios"]],
        "angles": [a + 0.3 * q * rng.gauss(0.0, 1.0) for a in seed["angles"]],
    }


def descriptors(seed: Seed) -> List[List[float]]:
    intensity = 0.0 if seed["empty"] else seed["intensity"]
    return [
        [intensity, intensity * seed["peak"]],
        seed["profile"],
        [math.exp(-k / seed["tau"]) for k in range(DESC_LENS[2])],
        seed["angles"][:2],
        seed["shape"],
        seed["angles"][2:],
    ]


def point_counts(seed: Seed) -> List[int]:
    return [max(1, int(round(seed["size"] * r))) for r in seed["ratios"]]


def rigid_motion(rng: random.Random, centre: Sequence[float]):
    """A rotation of one to two degrees about a random axis through centre,
    then a shift of two to five units in a random direction."""
    axis = [rng.gauss(0.0, 1.0) for _ in range(3)]
    norm = math.sqrt(sum(a * a for a in axis))
    x, y, z = (a / norm for a in axis)
    angle = math.radians(rng.uniform(1.0, 2.0)) * rng.choice((-1.0, 1.0))
    c, s, t = math.cos(angle), math.sin(angle), 1.0 - math.cos(angle)
    rot = [[t * x * x + c, t * x * y - s * z, t * x * z + s * y],
           [t * x * y + s * z, t * y * y + c, t * y * z - s * x],
           [t * x * z - s * y, t * y * z + s * x, t * z * z + c]]
    shift = [rng.gauss(0.0, 1.0) for _ in range(3)]
    length = rng.uniform(2.0, 5.0) / math.sqrt(sum(v * v for v in shift))
    shift = [v * length for v in shift]

    def move(p: Sequence[float]) -> List[float]:
        d = [p[i] - centre[i] for i in range(3)]
        return [centre[i] + sum(rot[i][k] * d[k] for k in range(3)) + shift[i]
                for i in range(3)]
    return move


def seed_line(seed: Seed, position: List[float], n: int) -> str:
    """The line of a seed that goes before its distance row."""
    parts = ["%.3f %.3f %.3f" % tuple(position)]
    for values in descriptors(seed):
        parts.append("0 0")
        parts.extend("%.6g" % v for v in values)
    parts.append("%d %d %d %d\n" % (*point_counts(seed), n))
    return " ".join(parts)


def write_seed_file(path: str, seeds: List[Seed], writer: str = "python") -> int:
    """Writes seeds to path; writer is "python" (the plain path) or the path
    of the compiled helper, both giving the same bytes. Returns how many
    near-tie pairs the helper left to math.dist."""
    n = len(seeds)
    positions = [written_position(s["pos"]) for s in seeds]
    head = b"%d %s\n" % (n, " ".join(str(k) for k in DESC_LENS).encode())
    lines = [seed_line(s, p, n).encode() for s, p in zip(seeds, positions)]
    return write_lines(path, head, lines, positions, writer)


def scenes(n: int, level: float, seed: int, lost: float, added: float):
    """The two seed lists of one scene pair."""
    rng = random.Random(seed)
    side = cube_side(max(n, 2))
    points = scatter(rng, n + int(round(n * added)), side)
    width = spread(level)
    first = [new_seed(rng, p, width) for p in points[:n]]
    move = rigid_motion(rng, [side / 2.0] * 3)
    jitter = jitter_scale(level)
    second = []
    for i, s in enumerate(first + [new_seed(rng, p, width) for p in points[n:]]):
        if i < n and rng.random() < lost:
            continue
        again = seen_again(rng, s, level)
        again["pos"] = [x + rng.gauss(0.0, jitter) for x in move(s["pos"])]
        again["origin"] = i if i < n else None
        second.append(again)
    rng.shuffle(second)
    return first, second


def write_truth(path: str, second: List[Seed]) -> None:
    pairs = sorted((s["origin"], j) for j, s in enumerate(second) if s["origin"] is not None)
    with open(path, "w") as out:
        out.write("index1\tindex2\n")
        out.writelines("%d\t%d\n" % pair for pair in pairs)


def write_pair(n: int, out1: str, out2: str, noise: float = 4.0, seed: int = 1,
               lost: float = 0.08, added: float = 0.08, truth: Optional[str] = None,
               writer: Optional[str] = None) -> None:
    """Writes the pair of n seeds (and its true pairs to truth, if given).
    Raises ValueError for a knob out of range, OSError when a file cannot be
    written."""
    if n < 0 or not 0.0 <= lost <= 1.0 or not added >= 0.0 or not noise >= 0.0:
        raise ValueError("N, --noise and --added must not be negative, --lost lies in [0, 1]")
    writer = writer or default_writer()
    first, second = scenes(n, noise, seed, lost, added)
    # The two files on two processes: at N = 16000 each is 2 GB of text.
    child = os.fork()
    if child == 0:
        status = 1
        try:
            write_seed_file(out2, second, writer)
            status = 0
        finally:
            os._exit(status)
    try:
        write_seed_file(out1, first, writer)
    finally:
        status = os.waitpid(child, 0)[1]
    if os.waitstatus_to_exitcode(status) != 0:
        raise OSError("writing %s failed" % out2)
    if truth:
        write_truth(truth, second)
