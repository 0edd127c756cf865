"""The picture of a pairing, the python3 -m seedmatch command, and many pairs at once."""
import os
import shutil
import subprocess
import sys

import numpy as np
import pytest

import seedmatch
from conftest import BIN_DIR, FORTY, THREE, command_in_process, run_command


@pytest.mark.parametrize("files, weights, axes, slab", [(FORTY, (1, 0.5, 1, 2), (0, 1), 400),
                                                        (THREE, (1, 0.5, 1, 2), (0, 2), 400),
                                                        (FORTY, (1, 0.5, 1, 0), (0, 1), 400),
                                                        (FORTY, (1, 0.5, 1, 2), (0, 1), 10),
                                                        (FORTY, (0, 0, 0, 1), (0, 1), 400)])
def test_picture_shows_the_pairs_in_its_slab(files, weights, axes, slab, monkeypatch):
    LineCollection = pytest.importorskip("matplotlib.collections").LineCollection
    monkeypatch.setattr("seedmatch._picture.SLAB_SEEDS", slab)
    set1, set2 = map(seedmatch.read_seeds, files)
    matching = seedmatch.match(set1, set2, *weights)
    report = seedmatch.evaluate(set1, set2, matching, *weights[:2])
    figure = seedmatch.plot(set1, set2, matching, weights[0], weights[1], weights[3])
    scene = figure.axes[0]
    trusted, doubtful = [c for c in scene.collections if isinstance(c, LineCollection)]
    # The slab holds the middle seeds of file 1 along the third axis; each segment
    # joins a pair's positions on the two widest axes, the doubtful ones apart.
    depth = set1.positions[:, 3 - sum(axes)]
    shown = np.sort(depth)[(len(depth) - slab) // 2:][:slab] if len(depth) > slab else depth
    in_slab = (depth[report.p] >= shown.min()) & (depth[report.p] <= shown.max())
    axes = list(axes)

    def expected(kept):
        return sorted([set1.positions[p, axes].tolist(), set2.positions[q, axes].tolist()]
                      for p, q in zip(report.p[kept], report.q[kept]))
    judged = report.consistency.trusted
    assert sorted(s.tolist() for s in trusted.get_segments()) == expected(in_slab & judged)
    assert sorted(s.tolist() for s in doubtful.get_segments()) == expected(in_slab & ~judged)
    assert doubtful.get_linestyle() != trusted.get_linestyle()
    assert (~judged).sum() > 10 if weights == (0, 0, 0, 1) else (~judged).sum() <= 2
    drawn = in_slab.sum()
    assert 0 < drawn < len(report) if slab == 10 else drawn == len(report)
    legend = [t.get_text() for t in scene.get_legend().get_texts()]
    assert legend[:3] == [f"doubtful pairs ({(~judged).sum()}{' in all' if slab == 10 else ''})",
                          f"{files[0].name} (file 1)", f"{files[1].name} (file 2)"]


def python_command(*args, python=sys.executable, path=os.pathsep.join(sys.path)):
    done = subprocess.run([python, *map(str, args)], capture_output=True, text=True,
                          env=dict(os.environ, PYTHONPATH=path))
    return done.returncode, done.stdout, done.stderr


def test_plot_command_writes_each_format(tmp_path, capsys):
    pytest.importorskip("matplotlib")
    starts = {".png": b"\x89PNG", ".svg": b"<?xml", ".pdf": b"%PDF"}
    for extension, start in starts.items():
        picture = tmp_path / f"pairing{extension}"
        assert command_in_process(capsys, "plot", *FORTY, 1, 0.5, 1, 2, "-o", picture) == \
            (0, "", "")
        assert picture.read_bytes().startswith(start) and picture.stat().st_size > 5000


def test_command_errors(tmp_path, capsys):
    cases = [
        (["plot", *FORTY, 1, 0.5, 1, 2, "-o", tmp_path / "p.jpg"],
         f"seedmatch: cannot tell the picture format of '{tmp_path}/p.jpg'; end it in .png, .svg or .pdf\n"),
        (["plot", *FORTY, 1], "seedmatch: the following arguments are required: "
                              "HIST_WEIGHT, RPD_WEIGHT, COST_LIMIT, -o/--output\n"),
        ([], "seedmatch: the following arguments are required: COMMAND\n"),
    ]
    for args, message in cases:
        assert command_in_process(capsys, *args) == (2, "", message)
    version = subprocess.run([BIN_DIR / "seedmatch", "--version"], capture_output=True, text=True)
    assert command_in_process(capsys, "--version") == (0, version.stdout, "")
    assert version.stdout == f"seedmatch {seedmatch.__version__}\n"


def test_a_missing_import_fails_with_one_line(tmp_path):
    # Without NumPy, the native module or matplotlib: one line and status 2; --help and
    # --version still answer.
    package = os.path.dirname(seedmatch.__file__)
    shutil.copytree(package, tmp_path / "bare" / "seedmatch",
                    ignore=lambda _, names: [n for n in names if n.startswith("_core")])
    for missing in ("matplotlib", "numpy"):
        (tmp_path / missing / missing).mkdir(parents=True)
        (tmp_path / missing / missing / "__init__.py").write_text("raise ImportError('none here')")
    plot = ["-m", "seedmatch", "plot", *FORTY, 1, 0.5, 1, 2, "-o", tmp_path / "p.png"]
    beside = os.pathsep + os.path.dirname(package)
    no_native = dict(path=tmp_path / "bare")
    no_numpy = dict(path=f"{tmp_path / 'numpy'}{beside}")
    no_numpy_message = "seedmatch: cannot import NumPy, which seedmatch needs (none here)"
    cases = [
        (plot, no_native, 2, "", "seedmatch: the native part of seedmatch is not built in "
         f"{tmp_path / 'bare' / 'seedmatch'}; build it with CMake"),
        (plot, dict(path=f"{tmp_path / 'matplotlib'}{beside}"), 2, "",
         "seedmatch: cannot import matplotlib, which plot needs (none here)"),
        (plot, no_numpy, 2, "", no_numpy_message),
        (["-m", "seedmatch", "sweep", "--bad"], no_numpy, 2, "", no_numpy_message),
        (["-m", "seedmatch", "--help"], no_numpy, 0, "usage: python3 -m seedmatch", ""),
        (["-mseedmatch", "--version"], no_numpy, 0, f"seedmatch {seedmatch.__version__}\n", ""),
        (["-m", "seedmatch", "--help"], no_native, 0, "usage: python3 -m seedmatch", ""),
        (["-m", "seedmatch", "--version"], no_native, 0,
         f"seedmatch {seedmatch.__version__}\n", ""),
    ]
    for args, how, status, out_start, err_start in cases:
        done = python_command(*args, **how)
        assert (done[0], done[1][:len(out_start)], done[2].count("\n"),
                done[2][:len(err_start)]) == (status, out_start, bool(err_start), err_start), done
    # Imported, not run: the same text as an ImportError.
    status, _, err = python_command("-c", "import seedmatch", path=tmp_path / "bare")
    assert status == 1 and err.splitlines()[-1].startswith(
        "ImportError: the native part of seedmatch is not built in ")
    assert "circular" not in err


@pytest.mark.parametrize("text, number", [
    ("0x10", 16.0), ("1e400", float("inf")), ("nan", float("nan")), ("  2abc", 2.0),
    ("abc", 0.0), ("-0", -0.0), ("", 0.0), ("2e", 2.0), (".5", 0.5), ("+7junk", 7.0)])
def test_weights_are_read_by_the_c_library_atof(text, number):
    from seedmatch._cli import atof
    assert np.float64(atof(text)).tobytes() == np.float64(number).tobytes()


@pytest.mark.parametrize("on_cluster", [False, True])
def test_match_many_gives_each_report_or_error(tmp_path, request, on_cluster):
    bad = tmp_path / "bad.seeds"
    bad.write_text("1 0 0 0 0 0 0 1 2 3 0 0 0 0 0 0 0 0 0 0 0 0 7 8.0 9")
    pairs = [FORTY, (THREE[0], bad), THREE, (FORTY[0], THREE[1]), FORTY[::-1]]
    client = request.getfixturevalue("client") if on_cluster else None
    results = seedmatch.match_many(pairs, 1, 0.5, 1, 2, client=client)
    assert len(results) == len(pairs) and seedmatch.match_many([], 1, 0.5, 1, 2) == []
    for (file1, file2), result in zip(pairs, results):
        if file2 == bad:
            assert isinstance(result, seedmatch.SeedFileError)
            assert str(result) == (f"seedmatch:{bad}:1:47: expected point count 1 of seed 0 "
                                   "(an integer), found '8.0'")
            assert (result.path, result.line, result.column) == (str(bad), 1, 47)
        else:
            assert str(result) == run_command("seedmatch", file1, file2, 1, 0.5, 1, 2)
            # Its estimate made where it was matched, and the sets let go.
            assert result._sets is None
            a, b = seedmatch.read_seeds(file1), seedmatch.read_seeds(file2)
            expected = seedmatch.consistency(a, b, seedmatch.match(a, b, 1, 0.5, 1, 2))
            assert result.consistency.score.tobytes() == expected.score.tobytes()
            assert result.consistency.est_f1 == expected.est_f1
