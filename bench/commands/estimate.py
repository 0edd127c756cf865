"""How well the estimate without known pairs judges a sweep, and its cost.

On each scene (look-alike pairs at --noises, rigid motion; frames 0 and 1 of
series at --noises, a turning, growing, drifting tissue with divisions,
arrivals and departures), --n seeds, and frames 0 and 1 of diameter-only
series at --diameter-noises of --diameter-sizes seeds, runs the 90
weightings of --seed-weight 0.5,1,2 --hist-weight 0,0.5 --rpd-weight
0.5,1,2,4,8 --cost-limit 2,4,8, judges each matching with
seedmatch.consistency and scores it against the scene's true pairs. Per
scene it prints:

  Spearman      rank correlation of estimated and true F1 over the weightings
  picked F1     the true F1 of the weighting with the best estimated F1
  best F1       the best true F1 of the sweep
  est / true    estimated true pairs against the true pairs made, at the pick
  trusted prec  precision of the pairs the estimate trusts, at the pick and
                with all weightings pooled
  trusted kept  share of the true pairs made that are trusted, likewise

and a last row with the worst of each column. Then, on the look-alike pair of
--cost-n seeds at --noise 2, the median seconds of a matching at weights
1 0.5 1 2 against those of its estimate, the first one of a seed set (which
finds every seed's nearest seeds, an O(N^2) scan) and a later one (which reuses
them, as the sweep does), over --rounds rounds. With --csv DIR each scene's
rows are written there; with --plot PICTURE, estimated against true F1 of every
weighting of every scene. The Python parts run in an interpreter that imports
NumPy, on the build's package.
"""
import argparse
import json
import os
import subprocess
import tempfile
from typing import Dict, List

import scenes
from commands.common import Failure, Table, median, module_env, numpy_python

LISTS = {"seed_weight": [0.5, 1, 2], "hist_weight": [0, 0.5], "rpd_weight": [0.5, 1, 2, 4, 8],
         "cost_limit": [2, 4, 8]}
HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Runs in the NumPy interpreter: one scene's sweep, judged and scored, as JSON.
SCENE = """
import json, sys
sys.path.insert(0, sys.argv[1])
from commands.estimate import judge_scene
print(json.dumps(judge_scene(*sys.argv[2:5], json.loads(sys.argv[5]), sys.argv[6] or None)))
"""

PLOT = """
import json, sys
sys.path.insert(0, sys.argv[1])
from commands.estimate import plot
with open(sys.argv[2]) as f:
    plot(json.load(f), sys.argv[3])
print("{}")
"""

COST = """
import json, sys
sys.path.insert(0, sys.argv[1])
from commands.estimate import cost
print(json.dumps(cost(sys.argv[2], sys.argv[3], int(sys.argv[4]))))
"""


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--n", type=int, default=1000, help="seeds of a scene (default 1000)")
    parser.add_argument("--noises", default="1,2,3,4",
                        help="look-alike and rich series difficulties (default 1,2,3,4)")
    parser.add_argument("--diameter-noises", default="2",
                        help="diameter-only series difficulties (default 2)")
    parser.add_argument("--diameter-sizes", default="300,1000",
                        help="seeds of the diameter-only scenes (default 300,1000)")
    parser.add_argument("--cost-n", type=int, default=2000,
                        help="seeds of the scene the cost is measured on (default 2000)")
    parser.add_argument("--rounds", type=int, default=3, help="rounds of the cost (default 3)")
    parser.add_argument("--csv", metavar="DIR", help="write each scene's sweep here")
    parser.add_argument("--plot", metavar="PICTURE", help="estimated against true F1, a PNG")


def spearman(x, y) -> float:
    """Spearman's rank correlation, ties given their mean rank; NaN when either is constant."""
    import numpy as np

    def ranks(v):
        v = np.asarray(v, dtype=np.float64)
        order = np.argsort(v, kind="stable")
        r = np.empty(len(v))
        r[order] = np.arange(len(v), dtype=np.float64)
        for value in np.unique(v):
            tied = v == value
            r[tied] = r[tied].mean()
        return r
    a, b = ranks(x), ranks(y)
    a, b = a - a.mean(), b - b.mean()
    scale = np.sqrt((a * a).sum() * (b * b).sum())
    return float((a * b).sum() / scale) if scale > 0 else float("nan")


def ratio(part: int, whole: int) -> float:
    return part / whole if whole else float("nan")


def judge_scene(a: str, b: str, truth_path: str, lists: Dict, csv: str = None) -> Dict:
    """The sweep of lists on files a and b, each matching judged and scored."""
    import numpy as np
    import seedmatch
    from seedmatch._truth import matched_pairs
    set1, set2 = seedmatch.read_seeds(a), seedmatch.read_seeds(b)
    truth = seedmatch.read_truth(truth_path)
    weightings = seedmatch.grid(*(lists[k] for k in LISTS))
    fields, tables = seedmatch._core.sweep(set1, set2, np.asarray(weightings, float), 2)
    partner = np.full(len(set1), -1)
    partner[truth[:, 0]] = truth[:, 1]
    rows = []
    trusted = trusted_true = true_made = 0
    for w, table in zip(weightings, tables):
        made = matched_pairs(table)
        c = seedmatch.consistency(set1, set2, made)
        right = partner[made[:, 0]] == made[:, 1]
        s = seedmatch.score(table, truth)
        trusted += int(c.trusted.sum())
        trusted_true += int((c.trusted & right).sum())
        true_made += int(right.sum())
        rows.append([*w, len(made), s.true_pairs, s.f1, c.est_true_pairs, c.est_f1,
                     int(c.trusted.sum()), int((c.trusted & right).sum())])
    if csv:
        with open(csv, "w") as out:
            out.write("seed_weight,hist_weight,rpd_weight,cost_limit,pairs,true_pairs,f1,"
                      "est_true_pairs,est_f1,trusted,trusted_true\n")
            out.writelines(",".join(repr(v) for v in row) + "\n" for row in rows)
    f1 = [r[6] for r in rows]
    est = [r[8] for r in rows]
    pick = int(np.argmax(est))
    return {"spearman": spearman(est, f1), "picked_f1": f1[pick], "best_f1": max(f1),
            "est_true": rows[pick][7], "true": rows[pick][5],
            "picked_precision": ratio(rows[pick][10], rows[pick][9]),
            "picked_kept": ratio(rows[pick][10], rows[pick][5]),
            "trusted_precision": ratio(trusted_true, trusted),
            "trusted_kept": ratio(trusted_true, true_made),
            "seeds": [len(set1), len(set2)], "f1": f1, "est_f1": est}


def cost(a: str, b: str, rounds: int) -> Dict:
    """Median seconds of a matching, of the first estimate of fresh seed sets
    and of a later one, the three interleaved over the rounds."""
    import time
    import seedmatch
    times = {"match": [], "first": [], "later": []}
    for _ in range(rounds):
        set1, set2 = seedmatch.read_seeds(a), seedmatch.read_seeds(b)
        start = time.perf_counter()
        matching = seedmatch.match(set1, set2, 1, 0.5, 1, 2)
        times["match"].append(time.perf_counter() - start)
        for kind in ("first", "later"):
            start = time.perf_counter()
            seedmatch.consistency(set1, set2, matching)
            times[kind].append(time.perf_counter() - start)
    return {kind: sorted(t)[len(t) // 2] for kind, t in times.items()}


def in_python(script: str, args: List[str], build: str) -> Dict:
    done = subprocess.run([numpy_python(), "-c", script, HERE, *args], env=module_env(build),
                          capture_output=True, text=True)
    if done.returncode != 0:
        raise Failure((done.stderr.strip().splitlines() or ["status %d" % done.returncode])[-1])
    return json.loads(done.stdout)


def numbers(text: str) -> List[float]:
    try:
        return [float(v) for v in text.split(",") if v.strip()]
    except ValueError:
        raise Failure("expected numbers separated by commas, not %r" % text)


def run(args: argparse.Namespace) -> int:
    wanted = [("lookalike", args.n, noise) for noise in numbers(args.noises)] + \
        [("series", args.n, noise) for noise in numbers(args.noises)] + \
        [("series-diameter", int(n), noise) for noise in numbers(args.diameter_noises)
         for n in numbers(args.diameter_sizes)]
    count = 1
    for values in LISTS.values():
        count *= len(values)
    print("%d weightings (%s); trusted pairs at the pick, and pooled over the weightings\n"
          % (count, " ".join("--%s %s" % (k.replace("_", "-"), ",".join("%g" % v for v in vs))
                             for k, vs in LISTS.items())))
    table = Table(["scene", "seeds", "Spearman", "picked F1", "best F1", "est / true pairs",
                   "trusted prec", "trusted kept", "pooled prec", "pooled kept"], "lrrrrrrrrr")
    results = []
    for kind, n, noise in wanted:
        pair = scenes.pair(kind, n, noise, cache=args.scenes)
        csv = os.path.join(args.csv, "%s-n%d-noise%g.csv" % (kind, n, noise)) \
            if args.csv else ""
        if args.csv:
            os.makedirs(args.csv, exist_ok=True)
        r = in_python(SCENE, [pair.a, pair.b, pair.truth, json.dumps(LISTS), csv], args.build)
        r["scene"] = "%s %g" % (kind, noise)
        results.append(r)
        table.row(r["scene"], "%d/%d" % tuple(r["seeds"]), "%.3f" % r["spearman"],
                  "%.4f" % r["picked_f1"], "%.4f" % r["best_f1"],
                  "%.1f / %d (%s)" % (r["est_true"], r["true"], percent(error(r))),
                  "%.4f" % r["picked_precision"], "%.4f" % r["picked_kept"],
                  "%.4f" % r["trusted_precision"], "%.4f" % r["trusted_kept"])
    if results:
        table.row("worst", "", "%.3f" % worst(r["spearman"] for r in results),
                  "%+.4f" % min(r["picked_f1"] - r["best_f1"] for r in results), "",
                  percent(max((e for e in map(error, results) if e == e), key=abs,
                              default=float("nan"))),
                  "%.4f" % worst(r["picked_precision"] for r in results),
                  "%.4f" % worst(r["picked_kept"] for r in results),
                  "%.4f" % worst(r["trusted_precision"] for r in results),
                  "%.4f" % worst(r["trusted_kept"] for r in results))
    if args.plot:
        with tempfile.NamedTemporaryFile("w", suffix=".json") as f:
            json.dump(results, f)
            f.flush()
            in_python(PLOT, [f.name, args.plot], args.build)

    pair = scenes.pair("lookalike", args.cost_n, 2, cache=args.scenes)
    t = in_python(COST, [pair.a, pair.b, str(args.rounds)], args.build)
    print("\ncost on lookalike %d --noise 2, weights 1 0.5 1 2, medians of %d rounds: matching "
          "%.3f s; first estimate of the sets %.3f s (%.1f%%); later estimate %.4f s (%.2f%%)"
          % (args.cost_n, args.rounds, t["match"], t["first"], 100 * t["first"] / t["match"],
             t["later"], 100 * t["later"] / t["match"]))
    return 0


def worst(values) -> float:
    """The least of the values, NaN (nothing to measure) being the worst."""
    values = list(values)
    return float("nan") if any(v != v for v in values) else min(values)


def error(result: Dict) -> float:
    """Estimated against true pairs, in percent of the true; NaN when none is true."""
    return 100.0 * (result["est_true"] - result["true"]) / result["true"] if result["true"] \
        else float("nan")


def percent(value: float) -> str:
    return "-" if value != value else "%+.2f%%" % value


def plot(results: List[Dict], path: str) -> None:
    """Estimated against true F1, one colour a scene, the diagonal for reference."""
    import matplotlib
    matplotlib.use("Agg")
    from matplotlib.figure import Figure
    fig = Figure(figsize=(6.5, 6), layout="constrained")
    ax = fig.subplots()
    ax.plot([0, 1], [0, 1], color="0.6", linewidth=1, zorder=0)
    for r in results:
        ax.scatter(r["f1"], r["est_f1"], s=14, label="%s, %d seeds (Spearman %.3f)"
                   % (r["scene"], r["seeds"][0], r["spearman"]))
    ax.set_xlabel("true F1")
    ax.set_ylabel("estimated F1")
    ax.set_title("every weighting of the sweep, per scene")
    ax.legend(fontsize="x-small")
    fig.savefig(path, dpi=110)
