"""The picture of a pairing, the plot command, and many pairs at once."""
import os
import subprocess
import sys

import pytest

import seedmatch
from conftest import EXAMPLES, run_command

THREE = (EXAMPLES / "three_a.seeds", EXAMPLES / "three_b.seeds")
FORTY = (EXAMPLES / "forty_a.seeds", EXAMPLES / "forty_b.seeds")


@pytest.mark.parametrize("files, weights, axes", [(FORTY, (1, 0.5, 1, 2), (0, 1)),
                                                  (THREE, (1, 0.5, 1, 2), (0, 2)),
                                                  (FORTY, (1, 0.5, 1, 0), (0, 1))])
def test_picture_has_one_segment_per_pair(files, weights, axes):
    LineCollection = pytest.importorskip("matplotlib.collections").LineCollection
    set1, set2 = map(seedmatch.read_seeds, files)
    matching = seedmatch.match(set1, set2, *weights)
    report = seedmatch.evaluate(set1, set2, matching, *weights[:2])
    figure = seedmatch.plot(set1, set2, matching, weights[0], weights[1], weights[3])
    scene = figure.axes[0]
    (lines,) = [c for c in scene.collections if isinstance(c, LineCollection)]
    segments = lines.get_segments()
    assert len(segments) == len(report)
    # Each segment joins the pair's two positions on the two widest axes
    # (the three-seed pair lies along x, with z differing between its files).
    axes = list(axes)
    for segment, p, q in zip(segments, report.p.astype(int), report.q.astype(int)):
        assert segment.tolist() == [set1.positions[p, axes].tolist(),
                                    set2.positions[q, axes].tolist()]
    if len(report):
        assert f"SUM {report.sum_cost:.3f}" in figure._suptitle.get_text()


def plot_command(*args):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    return subprocess.run([sys.executable, "-m", "seedmatch", *map(str, args)],
                          capture_output=True, text=True, env=env)


def plot_in_process(capsys, *args):
    """(status, stdout, stderr) of python3 -m seedmatch, run in this process for speed."""
    from seedmatch.__main__ import main
    try:
        status = main([str(a) for a in args])
    except SystemExit as exit:
        status = exit.code
    out, err = capsys.readouterr()
    return status, out, err


def test_plot_command_writes_each_format(tmp_path, capsys):
    pytest.importorskip("matplotlib")
    done = plot_command("plot", *FORTY, 1, 0.5, 1, 2, "-o", tmp_path / "by_command.png")
    assert (done.returncode, done.stdout, done.stderr) == (1, "", "")
    starts = {".png": b"\x89PNG", ".svg": b"<?xml", ".pdf": b"%PDF"}
    for extension, start in starts.items():
        picture = tmp_path / f"pairing{extension}"
        assert plot_in_process(capsys, "plot", *FORTY, 1, 0.5, 1, 2, "-o", picture) == (1, "", "")
        assert picture.read_bytes().startswith(start) and picture.stat().st_size > 5000
    assert (tmp_path / "by_command.png").read_bytes() == (tmp_path / "pairing.png").read_bytes()


def test_plot_command_errors(tmp_path, capsys):
    cases = [
        (["plot", *FORTY, 1, 0.5, 1, 2, "-o", tmp_path / "p.jpg"],
         f"seedmatch: cannot tell the picture format of '{tmp_path}/p.jpg'; end it in .png, .svg or .pdf\n"),
        (["plot", THREE[0], tmp_path / "none", 1, 0.5, 1, 2, "-o", tmp_path / "p.png"],
         f"seedmatch:{tmp_path}/none: cannot open: no such file\n"),
        (["plot", *FORTY, 1, 0.5, 1, 2, "-o", tmp_path / "no" / "p.png"],
         f"seedmatch: cannot write {tmp_path}/no/p.png: no such file or directory\n"),
        (["plot", *FORTY, 1], "seedmatch: the following arguments are required: "
                              "HIST_WEIGHT, RPD_WEIGHT, COST_LIMIT, -o/--output\n"),
        (["draw"], "seedmatch: argument COMMAND: invalid choice: 'draw' (choose from 'plot', 'sweep')\n"),
    ]
    for args, message in cases:
        assert plot_in_process(capsys, *args) == (2, "", message)
    status, out, err = plot_in_process(capsys, "--help")
    assert (status, err) == (0, "") and "plot " in out


def test_weights_are_read_as_the_commands_read_them():
    from seedmatch.__main__ import atof
    table = {"1": 1.0, " -2.5e1x": -25.0, "abc": 0.0, "": 0.0, ".5": 0.5, "3.": 3.0,
             "2e": 2.0, "1e+": 1.0, "inf": float("inf"), "+7junk": 7.0}
    assert {text: atof(text) for text in table} == table


def many_pairs(tmp_path):
    bad = tmp_path / "bad.seeds"
    bad.write_text("1 0 0 0 0 0 0 1 2 3 0 0 0 0 0 0 0 0 0 0 0 0 7 8.0 9")
    return [FORTY, (THREE[0], bad), THREE, (FORTY[0], THREE[1])], bad


def check_many(results, pairs, bad):
    assert len(results) == len(pairs)
    for (file1, file2), result in zip(pairs, results):
        if file2 == bad:
            assert isinstance(result, seedmatch.SeedFileError)
            assert str(result) == (f"seedmatch:{bad}:1:47: expected point count 1 of seed 0 "
                                   "(an integer), found '8.0'")
            assert (result.path, result.line, result.column) == (str(bad), 1, 47)
        else:
            assert str(result) == run_command("seedmatch", file1, file2, 1, 0.5, 1, 2)


def test_match_many_in_local_processes(tmp_path):
    pairs, bad = many_pairs(tmp_path)
    check_many(seedmatch.match_many(pairs, 1, 0.5, 1, 2), pairs, bad)
    assert seedmatch.match_many([], 1, 0.5, 1, 2) == []


def test_match_many_on_a_cluster(tmp_path):
    distributed = pytest.importorskip("distributed")
    pairs, bad = many_pairs(tmp_path)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        results = seedmatch.match_many(pairs, 1, 0.5, 1, 2, client=client)
        assert len(client.scheduler_info()["workers"]) == 2
    check_many(results, pairs, bad)
