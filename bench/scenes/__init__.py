"""The scenes the benchmarks run on, and the one cache that keeps them.

  lookalike.py  pairs of look-alike seeds, 0 (easy) to 4 (hard): only the
                arrangement of the neighbours tells many seeds apart
  easy.py       pairs whose uniformly drawn descriptors find the partners
  series.py     time series with known lineages: divisions, arrivals,
                departures, a turning and growing tissue, drift
  files.py      the writer of seed files that lookalike and series share

pair() and cached_series() return a scene from the cache, writing it first
when it is missing or was written by other generator code. The cache (by default
build/bench-data, or the folder given) holds one folder a scene, named after
its kind and its knobs, e.g. lookalike-n2000-noise4-seed1, easy-n1000-seed1,
series-n2000-frames2-noise2-rich-seed1; scene.json in it records the knobs
and a hash of the generator's source.

A new kind of scene is a module here and an entry in KINDS.
"""
import dataclasses
import hashlib
import json
import os
import shutil
import sys
import tempfile
from typing import Dict, Optional, Sequence, Tuple

from . import easy, lookalike, series

HERE = os.path.dirname(os.path.abspath(__file__))
CACHE = os.path.normpath(os.path.join(HERE, os.pardir, os.pardir, "build", "bench-data"))


@dataclasses.dataclass(frozen=True)
class Pair:
    """Two seed files and their true pairs (None when the kind has none)."""
    a: str
    b: str
    truth: Optional[str]


def _source_hash(modules: Sequence[str]) -> str:
    digest = hashlib.sha256()
    for name in modules:
        with open(os.path.join(HERE, name + ".py"), "rb") as f:
            digest.update(f.read())
    return digest.hexdigest()


def _cached(cache: Optional[str], name: str, knobs: Dict, modules: Sequence[str], write
            ) -> Tuple[str, Dict]:
    """The folder of a scene, written by write(folder) -> extra record unless
    a folder of the same knobs and generator source is there already; and the
    record write returned."""
    root = cache or CACHE
    folder = os.path.join(root, name)
    stamp = {"knobs": knobs, "source": _source_hash(modules)}
    try:
        with open(os.path.join(folder, "scene.json")) as f:
            record = json.load(f)
        if {k: record.get(k) for k in stamp} == stamp:
            return folder, record
    except (OSError, ValueError):
        pass
    print("generating %s ..." % name, file=sys.stderr, flush=True)
    os.makedirs(root, exist_ok=True)
    scratch = tempfile.mkdtemp(prefix="." + name + ".", dir=root)
    try:
        record = dict(stamp, **write(scratch))
        with open(os.path.join(scratch, "scene.json"), "w") as f:
            json.dump(record, f, indent=1)
        shutil.rmtree(folder, ignore_errors=True)
        os.replace(scratch, folder)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    return folder, record


def cached_series(model: series.Model, pairs: Sequence[int] = (),
                  cache: Optional[str] = None) -> series.Series:
    """The series of model from the cache, with the true pairs of the frame
    pairs (t, t+1) named."""
    defaults = series.Model()
    name = "series-n%d-frames%d-noise%g-%s-seed%d" % (model.seeds, model.frames, model.noise,
                                                     model.descriptors, model.seed)
    for field in dataclasses.fields(model):
        value = getattr(model, field.name)
        if field.name not in ("seeds", "frames", "noise", "descriptors", "seed") \
                and value != getattr(defaults, field.name):
            name += "-%s%g" % (field.name, value)
    pairs = sorted(set(pairs))
    knobs = dict(dataclasses.asdict(model), pairs=pairs)

    def write(folder: str) -> Dict:
        made = series.generate_series(folder, model, pairs)
        return {"sizes": made.sizes, "steps": [dataclasses.astuple(s) for s in made.steps]}

    folder, record = _cached(cache, name, knobs, ("files", "lookalike", "series"), write)
    return series.Series(
        series.frame_paths(folder, model.frames),
        os.path.join(folder, "links.txt"), os.path.join(folder, "tracks.csv"),
        series.pair_paths(folder, model.frames, pairs), record["sizes"],
        [series.Step(*s) for s in record["steps"]])


KINDS = ("lookalike", "easy", "series", "series-diameter", "sisters")


def pair(kind: str, n: int, noise: float = 4.0, seed: int = 1,
         cache: Optional[str] = None) -> Pair:
    """A pair of seed files of the given kind (KINDS) from the cache:
    lookalike (n seeds in file 1, difficulty noise), easy (noise unused), or
    frames 0 and 1 of a series of n seeds at the default rates, with rich
    descriptors or a diameter only, or sisters: frames 0 and 1 of a series
    of n seeds, diameter only, in which every seed divides (2n in frame 1),
    so that each bidder has two look-alike sisters near it."""
    if kind == "lookalike":
        def write(folder: str) -> Dict:
            lookalike.write_pair(n, os.path.join(folder, "a.seeds"),
                                 os.path.join(folder, "b.seeds"), noise, seed,
                                 truth=os.path.join(folder, "truth.tsv"))
            return {}
        folder, _ = _cached(cache, "lookalike-n%d-noise%g-seed%d" % (n, noise, seed),
                            {"n": n, "noise": noise, "seed": seed}, ("files", "lookalike"),
                            write)
        return Pair(os.path.join(folder, "a.seeds"), os.path.join(folder, "b.seeds"),
                    os.path.join(folder, "truth.tsv"))
    if kind == "easy":
        def write(folder: str) -> Dict:
            easy.write_pair(n, os.path.join(folder, "a.seeds"), os.path.join(folder, "b.seeds"),
                            seed)
            return {}
        folder, _ = _cached(cache, "easy-n%d-seed%d" % (n, seed), {"n": n, "seed": seed},
                            ("easy",), write)
        return Pair(os.path.join(folder, "a.seeds"), os.path.join(folder, "b.seeds"), None)
    if kind in ("series", "series-diameter"):
        model = series.Model(frames=2, seeds=n, noise=noise, seed=seed,
                             descriptors="rich" if kind == "series" else "diameter")
        made = cached_series(model, pairs=[0], cache=cache)
        return Pair(made.frames[0], made.frames[1], made.pairs[0])
    if kind == "sisters":
        model = series.Model(frames=2, seeds=n, noise=noise, seed=seed, divisions=1.0,
                             arrivals=0.0, departures=0.0, descriptors="diameter")
        made = cached_series(model, pairs=[0], cache=cache)
        return Pair(made.frames[0], made.frames[1], made.pairs[0])
    raise ValueError("no scene kind %r (%s)" % (kind, ", ".join(KINDS)))
