"""The README's and the docs' examples run as they stand (the sweep on a smaller scene)."""
import os
import re
import subprocess
import sys

import pytest

from conftest import EXAMPLES, SOURCE_DIR

PAGES = ["README.md", "docs/python.md", "docs/estimate.md"]


def blocks(page: str, language: str) -> list:
    return re.findall(rf"```{language}\n(.*?)```", (SOURCE_DIR / page).read_text(), re.S)


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    """A folder where the README's sweep example has run, with examples/ beside."""
    here = tmp_path_factory.mktemp("docs")
    os.symlink(EXAMPLES, here / "examples")
    sweep = [block for block in blocks("README.md", "sh") if "-m seedmatch sweep" in block]
    assert len(sweep) == 1, sweep
    lines = sweep[0].splitlines()
    assert len(lines) == 3, lines
    command = " ".join(line.rstrip("\\") for line in lines[1:])
    for line in (lines[0].replace(" 2000 ", " 300 "), command):  # a smaller scene, for speed
        line = line.replace("python3 bench/", f"{sys.executable} {SOURCE_DIR}/bench/")
        line = line.replace("python3 -m", f"{sys.executable} -m")
        done = subprocess.run(line, shell=True, cwd=here, capture_output=True, text=True,
                              timeout=600)
        assert done.returncode == 0, line + "\n" + done.stderr
    assert (here / "sweep.csv").exists() and (here / "pairs.tsv").exists()
    return here


@pytest.mark.parametrize("page, number, code", [
    (page, number, code) for page in PAGES
    for number, code in enumerate(blocks(page, "python"), start=1)
    if "scheduler.example" not in code])  # a cluster that is not there
def test_python_block_runs(folder, page, number, code):
    if "plot" in code:
        pytest.importorskip("matplotlib")
    done = subprocess.run([sys.executable, "-c", code], cwd=folder, capture_output=True,
                          text=True, timeout=600)
    assert done.returncode == 0, f"{page}, Python block {number}:\n{done.stderr}"
