"""Writes a time series of seed files with known lineages: cells that move,
divide, arrive and leave, one seed file per frame.

The tissue is a ball of seeds at the density of lookalike.py (about 30
neighbours within distance 40 inside it, fewer near its surface; the mean
distance to the nearest neighbour, the spacing, is about 11.5). From one
frame to the next every seed

  - turns with the tissue about a fixed axis through its centre (--turn
    degrees a frame) and moves out as the tissue grows (--growth, a linear
    scale a frame; by default as much as keeps the density while the seed
    count grows by divisions, arrivals and departures);
  - drifts with a velocity of its own, smooth in time (each frame keeps
    0.8 of the last one's and draws the rest afresh; --drift is its root
    mean square length a frame);
  - is measured again: positional jitter of 0.1 + 0.2 L per axis and
    descriptor noise of level L (--noise, 0 easy to 4 hard), split so that
    two consecutive frames differ as the two views of a look-alike pair do:
    most of it drawn afresh in every frame, a quarter of it the slow change
    of what the cell itself looks like.

All of this together moves a seed by about a seventh of the spacing a frame.

Events, drawn for each seed of frame t at the given rates:
  departure  the seed is absent from frame t+1;
  division   the mother is absent from frame t+1; two daughters lie on either
             side of where she would be, half a spacing apart (log-normal,
             sigma 0.15), each with half her volume (point counts halved,
             diameter divided by 2^(1/3)) and descriptors derived from hers
             with the noise of level L; sisters are close neighbours;
  arrival    new seeds, as many as the rate times the count of frame t, are
             placed at random in the tissue, no closer than 5 to any other.
Cells grow back: every frame a cell's volume grows by 2^(divisions rate), so
that it doubles over a mean cell cycle. No seed is empty.

Descriptors (--descriptors):
  rich      the look-alike descriptors and point counts of lookalike.py;
  diameter  what a nucleus atlas gives, a diameter only: descriptor lengths
            1 0 0 0 0 0, desc[0] the diameter (about 9 at the median
            volume, measured with a log-normal error of 0.02 + 0.02 L),
            point counts 1 1 1, so that seedDist is the difference of the
            diameters.

Files written to OUTDIR:
  frame_000.seeds ...  one per frame, its seeds in a shuffled order, the
                       distances those between the positions as written;
  links.txt            one line "t i j" per true link, from seed i of frame t
                       to seed j of frame t+1, both links of every division
                       included, sorted;
  tracks.csv           the true tracklets, one row per seed of every frame:
                       track_id,t,seed,x,y,z,parent_track_id. A tracklet
                       ends when its seed leaves or divides; each daughter
                       starts one whose parent is the mother's. Ids count
                       from 1 in order of the first frame, then of the seed
                       index; parent 0 is none;
  pairs_T.tsv          (pairs) the true pairs of frames T and T+1 as
                       seedmatch.read_truth reads them: a header, then seed
                       of frame T, tab, seed of frame T+1; a mother is paired
                       with the daughter nearer to her position as written.

The same arguments give the same files. The writer formats the distance
rows as files.py says; the frames are written several at once (by default
one per core).

With the default rates the seed count grows by 2% a frame (7 times over 100
frames); --departures 0.03 holds it steady.
"""
import concurrent.futures
import dataclasses
import math
import os
import random
from typing import Dict, List, Optional, Sequence, Tuple

from . import files, lookalike

DENSITY = lookalike.NEIGHBOURS / (4.0 / 3.0 * math.pi * lookalike.NEIGHBOUR_RADIUS**3)
SPACING = math.gamma(4.0 / 3.0) * (4.0 / 3.0 * math.pi * DENSITY) ** (-1.0 / 3.0)
SISTER_DISTANCE = 0.5 * SPACING         # between the two daughters
SISTER_SIGMA = 0.15                     # log-normal spread of that distance
DIAMETER = 0.8 * SPACING                # of a nucleus of the median volume
MEDIAN_SIZE = 700.0                     # lookalike.py's median point count
PERSISTENCE = 0.8                       # share of a drift velocity kept a frame
WANDER = 0.25                           # the cell's own change, in shares of the
                                        # noise between two frames
KINDS = ("rich", "diameter")


@dataclasses.dataclass(frozen=True)
class Model:
    """The knobs of a series; see the module's docstring."""
    frames: int = 10
    seeds: int = 1000
    noise: float = 2.0
    divisions: float = 0.02
    arrivals: float = 0.01
    departures: float = 0.01
    descriptors: str = "rich"
    turn: float = 0.5
    growth: Optional[float] = None
    drift: float = 1.0
    seed: int = 1

    def scale(self) -> float:
        """The tissue's linear growth factor a frame."""
        if self.growth is not None:
            return 1.0 + self.growth
        count = 1.0 + self.divisions + self.arrivals - self.departures
        return count ** (1.0 / 3.0) if count > 0.0 else 1.0   # none left: stand still


@dataclasses.dataclass(frozen=True)
class Step:
    """What happened between frame t and frame t+1."""
    seeds: int          # in frame t
    divisions: int
    departures: int
    arrivals: int


@dataclasses.dataclass
class Series:
    """The files of a series and its events."""
    frames: List[str]
    links: str
    tracks: str
    pairs: Dict[int, str]
    sizes: List[int]
    steps: List[Step]


@dataclasses.dataclass
class Cell:
    pos: List[float]                    # where it truly is
    vel: List[float]
    latent: lookalike.Seed              # what it truly looks like
    track: int = 0
    origin: Optional[int] = None        # its seed in the last frame
    daughter: bool = False


def validate(model: Model) -> None:
    """Raises ValueError naming the knob that is out of range."""
    if model.frames < 1 or model.seeds < 0:
        raise ValueError("--frames must be at least 1 and --seeds not negative")
    for name in ("divisions", "arrivals", "departures", "noise", "drift"):
        if not getattr(model, name) >= 0.0:
            raise ValueError("--%s must not be negative" % name)
    if model.divisions + model.departures > 1.0:
        raise ValueError("--divisions and --departures add up to more than 1")
    if model.descriptors not in KINDS:
        raise ValueError("--descriptors is rich or diameter")
    if not model.scale() > 0.0:
        raise ValueError("--growth must be above -1")


def rotation(rng: random.Random, degrees: float) -> List[List[float]]:
    """A rotation by degrees about a random axis."""
    axis = [rng.gauss(0.0, 1.0) for _ in range(3)]
    norm = math.sqrt(sum(a * a for a in axis)) or 1.0
    x, y, z = (a / norm for a in axis)
    angle = math.radians(degrees)
    c, s, t = math.cos(angle), math.sin(angle), 1.0 - math.cos(angle)
    return [[t * x * x + c, t * x * y - s * z, t * x * z + s * y],
            [t * x * y + s * z, t * y * y + c, t * y * z - s * x],
            [t * x * z - s * y, t * y * z + s * x, t * z * z + c]]


class Grid:
    """Points bucketed by cells of the minimum spacing, to test for room."""

    def __init__(self, points: Sequence[Sequence[float]]) -> None:
        self.cells: Dict[Tuple[int, ...], List[Sequence[float]]] = {}
        for p in points:
            self.add(p)

    @staticmethod
    def key(p: Sequence[float]) -> Tuple[int, ...]:
        return tuple(int(math.floor(x / lookalike.MIN_SPACING)) for x in p)

    def add(self, p: Sequence[float]) -> None:
        self.cells.setdefault(self.key(p), []).append(p)

    def has_room(self, p: Sequence[float]) -> bool:
        k = self.key(p)
        return all(math.dist(p, q) >= lookalike.MIN_SPACING
                   for a in (-1, 0, 1) for b in (-1, 0, 1) for c in (-1, 0, 1)
                   for q in self.cells.get((k[0] + a, k[1] + b, k[2] + c), ()))


def place(rng: random.Random, grid: Grid, radius: float) -> List[float]:
    """A point in the ball of the given radius about the origin, with room
    around it where the ball has room."""
    for _attempt in range(100):
        while True:
            p = [rng.uniform(-radius, radius) for _ in range(3)]
            if sum(x * x for x in p) <= radius * radius:
                break
        if grid.has_room(p):
            break
    grid.add(p)
    return p


def velocity(rng: random.Random, model: Model, last: Optional[List[float]] = None) -> List[float]:
    sigma = model.drift / math.sqrt(3.0)
    if last is None:
        return [rng.gauss(0.0, sigma) for _ in range(3)]
    keep, fresh = PERSISTENCE, math.sqrt(1.0 - PERSISTENCE**2) * sigma
    return [keep * v + rng.gauss(0.0, fresh) for v in last]


def level_of(share: float, level: float) -> float:
    """The noise level of lookalike.seen_again that draws share times the noise
    of level (noise_scale is linear in the level)."""
    return (share * lookalike.noise_scale(level) - lookalike.noise_scale(0.0)) \
        / (lookalike.noise_scale(1.0) - lookalike.noise_scale(0.0))


def new_cell(rng: random.Random, model: Model, pos: List[float]) -> Cell:
    latent = lookalike.new_seed(rng, pos, lookalike.spread(model.noise))
    latent["empty"] = False
    return Cell(pos, velocity(rng, model), latent)


def next_frame(rng: random.Random, model: Model, cells: List[Cell], rotate, radius: float
               ) -> Tuple[List[Cell], Step]:
    """The cells of frame t+1, in file order, each knowing its seed in frame t."""
    scale, level = model.scale(), model.noise
    wander = level_of(WANDER, level)
    following: List[Cell] = []
    divisions = departures = 0
    for i, cell in enumerate(cells):
        u = rng.random()
        if u < model.departures:
            departures += 1
            continue
        turned = [sum(rotate[r][k] * cell.pos[k] for k in range(3)) for r in range(3)]
        ahead = [scale * turned[k] + cell.vel[k] for k in range(3)]
        if u < model.departures + model.divisions:
            divisions += 1
            direction = [rng.gauss(0.0, 1.0) for _ in range(3)]
            norm = math.sqrt(sum(d * d for d in direction)) or 1.0
            half = 0.5 * SISTER_DISTANCE * rng.lognormvariate(0.0, SISTER_SIGMA) / norm
            for side in (1.0, -1.0):
                latent = lookalike.seen_again(rng, cell.latent, level)
                latent["size"] *= 0.5
                pos = [ahead[k] + side * half * direction[k] for k in range(3)]
                following.append(Cell(pos, velocity(rng, model, cell.vel), latent, 0, i, True))
        else:
            latent = lookalike.seen_again(rng, cell.latent, wander)
            latent["size"] *= 2.0 ** model.divisions
            following.append(Cell(ahead, velocity(rng, model, cell.vel), latent, cell.track, i))
    arrivals = sum(1 for _ in cells if rng.random() < model.arrivals)
    grid = Grid([c.pos for c in following])
    for _ in range(arrivals):
        following.append(new_cell(rng, model, place(rng, grid, radius)))
    rng.shuffle(following)
    return following, Step(len(cells), divisions, departures, arrivals)


def diameter_line(rng: random.Random, cell: Cell, position: List[float], n: int,
                  level: float) -> str:
    error = rng.lognormvariate(0.0, 0.02 + 0.02 * level)
    diameter = DIAMETER * (cell.latent["size"] / MEDIAN_SIZE) ** (1.0 / 3.0) * error
    return "%.3f %.3f %.3f 0 0 %.6g 0 0 0 0 0 0 0 0 0 0 1 1 1 %d\n" % (*position, diameter, n)


def frame_text(rng: random.Random, model: Model, cells: List[Cell]
               ) -> Tuple[bytes, List[bytes], List[List[float]]]:
    """The first line, the seed lines and the written positions of a frame."""
    n, level = len(cells), model.noise
    jitter = 0.1 + 0.2 * level
    measured = level_of(math.sqrt((1.0 - WANDER**2) / 2.0), level)
    positions = [files.written_position([x + rng.gauss(0.0, jitter) for x in c.pos])
                 for c in cells]
    if model.descriptors == "rich":
        head = b"%d %s\n" % (n, " ".join(map(str, lookalike.DESC_LENS)).encode())
        lines = [lookalike.seed_line(lookalike.seen_again(rng, c.latent, measured), p, n)
                 for c, p in zip(cells, positions)]
    else:
        head = b"%d 1 0 0 0 0 0\n" % n
        lines = [diameter_line(rng, c, p, n, level) for c, p in zip(cells, positions)]
    return head, [line.encode() for line in lines], positions


def write_pairs(path: str, cells: List[Cell], positions: List[List[float]],
                earlier: List[List[float]]) -> None:
    """The true pairs of frames t and t+1: a mother goes with the daughter
    nearer to her position as written."""
    partner: Dict[int, int] = {}
    for j, cell in enumerate(cells):
        i = cell.origin
        if i is None:
            continue
        if i not in partner or (math.dist(earlier[i], positions[j])
                                < math.dist(earlier[i], positions[partner[i]])):
            partner[i] = j
    with open(path, "w") as out:
        out.write("index1\tindex2\n")
        out.writelines("%d\t%d\n" % (i, partner[i]) for i in sorted(partner))


def _width(frames: int) -> int:
    return max(3, len(str(frames - 1)))


def frame_paths(outdir: str, frames: int) -> List[str]:
    """The seed files of a series, in time order."""
    return [os.path.join(outdir, "frame_%0*d.seeds" % (_width(frames), t)) for t in range(frames)]


def pair_paths(outdir: str, frames: int, pairs: Sequence[int]) -> Dict[int, str]:
    """The true pairs files of the frame pairs (t, t+1) named."""
    return {t: os.path.join(outdir, "pairs_%0*d.tsv" % (_width(frames), t)) for t in pairs}


def generate_series(outdir: str, model: Model = Model(), pairs: Sequence[int] = (),
                    writer: Optional[str] = None, jobs: Optional[int] = None) -> Series:
    """Writes the series of model to outdir (made if missing) and returns its
    files and events. pairs: frames T whose true pairs with T+1 are written."""
    validate(model)
    for t in pairs:
        if not 0 <= t < model.frames - 1:
            raise ValueError("--pairs %d: no frame pair (%d, %d)" % (t, t, t + 1))
    writer = writer or files.default_writer()
    os.makedirs(outdir, exist_ok=True)
    series = Series(frame_paths(outdir, model.frames), os.path.join(outdir, "links.txt"),
                    os.path.join(outdir, "tracks.csv"), pair_paths(outdir, model.frames, pairs),
                    [], [])
    rng = random.Random(model.seed)
    rotate = rotation(rng, model.turn)
    radius = (model.seeds / DENSITY / (4.0 / 3.0 * math.pi)) ** (1.0 / 3.0)
    grid = Grid([])
    cells = [new_cell(rng, model, place(rng, grid, radius)) for _ in range(model.seeds)]
    parents: Dict[int, int] = {}
    nodes: List[Tuple[int, int, int, List[float]]] = []
    tracks = 0
    earlier: List[List[float]] = []
    pending: List[concurrent.futures.Future] = []
    jobs = jobs or os.cpu_count() or 1
    with open(series.links, "w") as links, \
            concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        for t in range(model.frames):
            if t > 0:
                previous = cells
                radius *= model.scale()
                cells, step = next_frame(rng, model, cells, rotate, radius)
                series.steps.append(step)
                links.writelines("%d %d %d\n" % (t - 1, i, j) for i, j in
                                 sorted((c.origin, j) for j, c in enumerate(cells)
                                        if c.origin is not None))
            for cell in cells:
                if cell.track == 0:
                    tracks += 1
                    cell.track = tracks
                    if cell.daughter:
                        parents[tracks] = previous[cell.origin].track
            head, lines, positions = frame_text(rng, model, cells)
            if t - 1 in series.pairs:
                write_pairs(series.pairs[t - 1], cells, positions, earlier)
            nodes.extend((c.track, t, j, p) for j, (c, p) in enumerate(zip(cells, positions)))
            series.sizes.append(len(cells))
            earlier = positions
            if len(pending) >= 2 * jobs:
                pending.pop(0).result()
            pending.append(pool.submit(files.write_lines, series.frames[t], head, lines,
                                       positions, writer))
        for job in pending:
            job.result()
    nodes.sort(key=lambda node: node[0])   # stable: each tracklet stays in time order
    with open(series.tracks, "w") as out:
        out.write("track_id,t,seed,x,y,z,parent_track_id\n")
        out.writelines("%d,%d,%d,%.3f,%.3f,%.3f,%d\n" % (track, t, j, *p, parents.get(track, 0))
                       for track, t, j, p in nodes)
    return series
