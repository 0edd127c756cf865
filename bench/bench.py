#!/usr/bin/env python3
"""The benchmarks of seedmatch, one subcommand each.

  python3 bench/bench.py COMMAND [OPTIONS]     (bench.py COMMAND -h: its options)

Every benchmark runs the programs of one build (--build, default
build/release, made with cmake --build --preset test) on scenes from one
cache (--scenes, default build/bench-data; see bench/scenes/), alternates
what it compares, and prints Markdown tables a row at a time, each cell in a
fixed format. A new benchmark is a module of bench/commands/ with a
docstring (its help), add_arguments(parser) and run(args) -> status, named
in COMMANDS.
"""
import argparse
import importlib
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from commands.common import BUILD, Failure  # noqa: E402

COMMANDS = ("matrix", "easy", "check", "versus", "large", "reader", "sweep", "python",
            "writers", "scenes", "track", "view", "tracks", "estimate", "churn")


def main() -> int:
    parser = argparse.ArgumentParser(prog="bench.py", description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    for name in COMMANDS:
        module = importlib.import_module("commands." + name)
        doc = module.__doc__
        sub = commands.add_parser(name, help=doc.split("\n")[0], description=doc,
                                  formatter_class=argparse.RawDescriptionHelpFormatter)
        sub.add_argument("--build", default=BUILD,
                         help="the build whose programs run (default build/release)")
        sub.add_argument("--scenes", metavar="DIR",
                         help="the scene cache (default build/bench-data)")
        module.add_arguments(sub)
        sub.set_defaults(run=module.run)
    args = parser.parse_args()
    try:
        return args.run(args)
    except Failure as failure:
        print("bench.py %s: %s" % (args.command, failure), file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        return 130


if __name__ == "__main__":
    sys.exit(main())
