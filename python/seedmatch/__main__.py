"""python3 -m seedmatch: the commands live in seedmatch._cli."""
import sys

from seedmatch._cli import main

if __name__ == "__main__":
    sys.exit(main())
