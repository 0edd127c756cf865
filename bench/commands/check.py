"""Both engines on small scenes: the same passes and the same rows.

Replays scenes of --size seeds, each kind (--kinds) at each difficulty and
at the weights of its kind, through the fast and the plain engine; status 1
unless every case gives the same pass count and the same table, bit for bit.
"""
import argparse

import scenes
from commands.common import WEIGHTS, Table, engines


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--size", type=int, default=300, help="seeds a scene (default 300)")
    parser.add_argument("--kinds", nargs="+", default=["lookalike", "series"],
                        choices=sorted(WEIGHTS), help="default lookalike series")
    parser.add_argument("--noise", type=float, nargs="+", default=[0.0, 2.0, 4.0],
                        help="difficulties (default 0 2 4)")


def run(args: argparse.Namespace) -> int:
    table = Table(["scene", "N", "noise", "weights", "fast passes", "fast rows", "plain passes",
                   "plain rows", "same"], "lrrlrrrrl")
    cases = differ = 0
    for kind in args.kinds:
        for noise in args.noise:
            pair = scenes.pair(kind, args.size, noise, cache=args.scenes)
            for weights in WEIGHTS[kind]:
                runs = {r["engine"]: r for r in engines(args.build, pair.a, pair.b, weights,
                                                        "both")}
                fast, plain = runs["fast"], runs["plain"]
                same = all(fast[k] == plain[k] for k in ("passes", "rows", "table"))
                cases += 1
                differ += not same
                table.row(kind, args.size, "%g" % noise, " ".join(weights), fast["passes"],
                          fast["rows"], plain["passes"], plain["rows"], "yes" if same else "NO")
    print("\n%d of %d cases differ" % (differ, cases))
    return 1 if differ else 0
