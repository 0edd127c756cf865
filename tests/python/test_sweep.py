"""Known pairs, scores, the sweep of weightings, its command and its picture."""
import importlib.util
import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import seedmatch
from conftest import command_in_process, read_back
from seedmatch import _core


@pytest.mark.parametrize("text, expected", [
    ("index1\tindex2\n0\t4\n1\t16\n", [[0, 4], [1, 16]]),
    ("# made by hand\n\n3,1  # a comment\n 2 , 0\n", [[3, 1], [2, 0]]),
    ("", []),
    ("a b\n1 x\n", "2:3: expected an index of file 2 (an integer), found 'x'"),
    ("0 1\n1.5 2\n", "2:1: expected an index of file 1 (an integer), found '1.5'"),
    ("0 -2\n", "1:3: index -2 of file 2 is negative"),
    ("0 1\n\n0 2\n", "3:1: seed 0 of file 1 is paired again (first on line 1)"),
    ("0 1\n2 1\n", "2:3: seed 1 of file 2 is paired again (first on line 1)"),
    ("0 1 2\n", "1:5: expected two indices, found 3 fields"),
    ("0\n", "1:2: expected two indices, found 1 fields"),
    ("0 1\nindex1 index2\n", "2:1: expected an index of file 1 (an integer), found 'index1'"),
    (None, " cannot open: no such file"),
])
def test_read_truth(tmp_path, text, expected):
    assert read_back(seedmatch.read_truth, tmp_path / "pairs.txt", text) == expected


TABLE = np.array([[0, 0, 0.5], [1, 2, 0.2], [2, 1, -1.0], [3, 3, 0.1], [4, 5, np.nan]])


@pytest.mark.parametrize("table, truth, partial, expected", [
    # matched rows: (0,0) (1,2) (3,3) (4,5); the -1.0 row is unmatched
    (TABLE, [[0, 0], [1, 1], [4, 5], [7, 7]], False, (4, 4, 2, 0.5, 0.5, 0.5)),
    (TABLE, [[0, 0], [1, 1], [4, 5], [7, 7]], True, (3, 4, 2, 2 / 3, 0.5, 4 / 7)),
    (TABLE, [[3, 3]], False, (4, 1, 1, 0.25, 1.0, 0.4)),
    (TABLE, np.zeros((0, 2), int), False, (4, 0, 0, 0.0, 0.0, 0.0)),
    (np.zeros((0, 3)), [[1, 1]], False, (0, 1, 0, 0.0, 0.0, 0.0)),
    (np.zeros((0, 3)), np.zeros((0, 2), int), True, (0, 0, 0, 0.0, 0.0, 0.0)),
    (TABLE, [[0, 1], [0, 2]], False, "truth pairs a seed of file 1 twice"),
    (TABLE, [[0, -1]], False, "truth holds a negative index"),
    (TABLE, [[0.5, 1]], False, "truth must be an .M, 2. array"),
])
def test_score(table, truth, partial, expected):
    if isinstance(expected, str):
        with pytest.raises(ValueError, match=expected):
            seedmatch.score(table, truth)
        return
    got = seedmatch.score(table, truth, partial=partial)
    assert (got.pairs, got.truth_pairs, got.true_pairs, got.precision, got.recall,
            got.f1) == expected


def test_grid_and_lists():
    from seedmatch._cli import number_list
    assert seedmatch.grid([1, 2], 0.5, (0, 1), [3]) == [
        (1.0, 0.5, 0.0, 3.0), (1.0, 0.5, 1.0, 3.0), (2.0, 0.5, 0.0, 3.0), (2.0, 0.5, 1.0, 3.0)]
    table = {"1,2.5,-3": [1.0, 2.5, -3.0], "0:1:3": [0.0, 0.5, 1.0], "2:2:1": [2.0], "1e1": [10.0]}
    assert {text: number_list(text) for text in table} == table
    for bad in ("1,,2", "a", "0:1", "0:1:0", "0:1:x", "0:x:2"):
        with pytest.raises(ValueError, match=f"^'{bad}': "):
            number_list(bad)


WEIGHTINGS = [(1, 0.5, 1, 2), (0, 0, 1, 2), (2, 0, 0.5, 4), (0.5, 1, 0, 3), (1, 0.5, 1, 0),
              (1, -0.5, 1, 2)]


@pytest.fixture(scope="module")
def scene(generated):
    """The 300-seed pair, its true pairs (found by position) and the sweep of WEIGHTINGS."""
    set1, set2 = map(seedmatch.read_seeds, generated[300])
    nearest = np.linalg.norm(set2.positions[:, None] - set1.positions[None], axis=2).argmin(1)
    _, first = np.unique(nearest, return_index=True)
    truth = np.stack([nearest[first], first], 1)
    return set1, set2, truth, seedmatch.sweep(set1, set2, WEIGHTINGS, truth=truth)


def test_rows_are_what_match_and_evaluate_give(scene):
    set1, set2, truth, table = scene
    fields, tables = _core.sweep(set1, set2, np.array(WEIGHTINGS, float), 2)
    for k, w in enumerate(WEIGHTINGS):
        matching = seedmatch.match(set1, set2, *w)
        report = seedmatch.evaluate(set1, set2, matching, *w[:2])
        row = table[k]
        assert tuple(row[["seed_weight", "hist_weight", "rpd_weight", "cost_limit"]]) == w
        assert tables[k].tolist() == matching.table.tolist()
        assert (row["pairs"], row["passes"]) == (len(report), matching.passes)
        summary = [report.sum_cost, report.avg_cost, report.avg_rp, report.navg_rp]
        # No row: NaN where the report prints its fixed line.
        np.testing.assert_array_equal(row[["sum_cost", "avg_cost", "avg_rp", "navg_rp"]].tolist(),
                                      [np.nan if v is None else v for v in summary])
        s = seedmatch.score(matching, truth)
        assert row[["true_pairs", "precision", "recall", "f1"]].tolist() == (
            s.true_pairs, s.precision, s.recall, s.f1)
        c = seedmatch.consistency(set1, set2, matching)
        assert row[["est_true_pairs", "est_precision", "est_recall", "est_f1"]].tolist() == (
            c.est_true_pairs, c.est_precision, c.est_recall, c.est_f1)
    assert table["pairs"][4] == 0 and table["est_f1"][4] == 0.0
    assert table["f1"][0] > 0.9 and table["est_f1"][0] > 0.9


def test_sweep_on_a_cluster_gives_the_same_rows(scene, client):
    set1, set2, truth, table = scene
    on_cluster = seedmatch.sweep(set1, set2, WEIGHTINGS, truth=truth, client=client)
    assert on_cluster.dtype == table.dtype
    for name in set(table.dtype.names) - {"seconds"}:
        np.testing.assert_array_equal(on_cluster[name], table[name])


def test_sweep_arguments(scene, generated, capsys):
    set1, set2, truth, _ = scene
    assert len(seedmatch.sweep(*generated[60], [])) == 0
    if importlib.util.find_spec("tqdm"):
        seedmatch.sweep(*generated[60], [(1, 0.5, 1, 2)] * 3, progress=True)
        assert "/3 [" in capsys.readouterr().err  # a bar on standard error
    seedmatch.sweep(*generated[60], [(1, 0.5, 1, 2)])
    assert capsys.readouterr().err == ""
    with pytest.raises(ValueError, match="shape \\(2, 3\\)"):
        seedmatch.sweep(set1, set2, [(1, 2, 3)] * 2)
    n = len(set2)
    with pytest.raises(ValueError, match=f"^the truth pairs seed {n} of file 2, which holds {n} "):
        seedmatch.sweep(set1, set2, WEIGHTINGS[:1], truth=[[0, n]])


def test_sweep_command(scene, generated, tmp_path, capsys):
    set1, set2, truth, table = scene
    truth_file = tmp_path / "truth.tsv"
    truth_file.write_text("".join(f"{p}\t{q}\n" for p, q in truth))
    args = ["sweep", *generated[300], "--seed-weight", "1,2", "--hist-weight", "0.5",
            "--rpd-weight", "0:1:2", "--cost-limit", "2", "--truth", truth_file]
    status, out, err = command_in_process(capsys, *args, "--plot", tmp_path / "sweep.png")
    expected = seedmatch.sweep(set1, set2, seedmatch.grid([1, 2], 0.5, [0, 1], 2), truth=truth)
    assert status == 0
    rows = [line.split(",") for line in out.splitlines()]
    assert rows[0] == list(expected.dtype.names)
    names = [n for n in expected.dtype.names if n != "seconds"]
    got = [[float(row[rows[0].index(n)]) for n in names] for row in rows[1:]]
    assert got == [list(r) for r in expected[names].tolist()]
    best, by_estimate = (expected[int(np.argmax(expected[f]))] for f in ("f1", "est_f1"))
    lines = err.splitlines()
    assert len(lines) == 2
    assert lines[0].startswith(f"best by F1: --seed-weight {float(best['seed_weight'])!r} "
                               "--hist-weight 0.5 ")
    assert lines[1].startswith(
        f"best by estimated F1: --seed-weight {float(by_estimate['seed_weight'])!r} "
        f"--hist-weight 0.5 --rpd-weight {float(by_estimate['rpd_weight'])!r} "
        f"--cost-limit 2.0 (est_f1 {by_estimate['est_f1']:.6g}, ")
    assert f"; f1 {by_estimate['f1']:.6g}, " in lines[1]
    assert (tmp_path / "sweep.png").read_bytes().startswith(b"\x89PNG")

    csv = tmp_path / "table.csv"
    assert command_in_process(capsys, *args, "-o", csv)[:2] == (0, "")
    lines = csv.read_text().splitlines()
    assert lines[0] == out.splitlines()[0] and len(lines) == len(rows)

    # Without a truth: the estimate's columns, and the best weighting by them.
    status, out, err = command_in_process(capsys, *args[:-2])
    header = out.splitlines()[0].split(",")
    assert status == 0 and header == [n for n, _ in seedmatch._sweep.FIELDS
                                      + seedmatch._sweep.ESTIMATE_FIELDS]
    assert err.startswith("best by estimated F1: --seed-weight ")
    assert len(err.splitlines()) == 1 and "; f1" not in err

    assert command_in_process(capsys, *args[:3], "--seed-weight", "1,x", *args[5:]) == (
        2, "", "seedmatch: --seed-weight: '1,x': expected numbers separated by commas, or "
        "START:STOP:COUNT\n")


def test_picture_of_a_sweep(scene):
    set1, set2, truth, table = scene
    four = seedmatch.sweep(set1, set2, seedmatch.grid([0.5, 1], [0, 0.5], [1, 2], [2, 4]),
                           truth=truth)
    figure = seedmatch.plot_sweep(four)
    panels = [ax for ax in figure.axes if ax.get_images()]
    assert len(panels) == 8  # F1 and estimated F1 side by side
    ringed = [ax for ax in panels if ax.collections]
    for (field, label), ax in zip([("f1", "F1"), ("est_f1", "estimated F1")], ringed):
        best = four[int(np.argmax(four[field]))]
        assert ax.get_title() == (f"{label}\nhist {best['hist_weight']:g}, "
                                  f"limit {best['cost_limit']:g}")
        assert ax.collections[0].get_offsets().tolist() == [
            [[1, 2].index(best["rpd_weight"]), [0.5, 1].index(best["seed_weight"])]]
    assert len(ringed) == 2
    names = [n for n, _ in seedmatch._sweep.FIELDS]
    estimated = seedmatch.plot_sweep(four[names + ["est_f1", "est_precision"]])
    panels = [ax for ax in estimated.axes if ax.get_images()]
    assert len(panels) == 4 and all(ax.get_title().startswith("estimated F1\n") for ax in panels)
    unscored = seedmatch.plot_sweep(four[names])
    assert len([ax for ax in unscored.axes if ax.get_images()]) == 8  # pairs and navg_rp


# A hard structure-only scene, built in the child, that matches for several seconds.
LONG_RUN = """
import os, time, numpy as np, seedmatch
rng = np.random.default_rng(1)
n = 3000
p1 = rng.uniform(0, 10 * n ** (1 / 3), (n, 3))
p2 = p1[rng.permutation(n)] + rng.normal(0, 1.0, (n, 3))
def seeds(p):
    d = np.sqrt(sum((p[:, None, k] - p[None, :, k]) ** 2 for k in range(3)))
    return seedmatch.SeedSet.from_arrays(p, [np.ones((n, 1))] + [np.zeros((n, 0))] * 5,
                                         np.full((n, 3), 100), d)
a, b = seeds(p1), seeds(p2)
threads = len(os.listdir("/proc/self/task"))
print("ready", flush=True)
try:
    CALL
    print("finished", flush=True)
except KeyboardInterrupt:
    for _ in range(50):  # a joined thread may take a moment to leave the list
        if len(os.listdir("/proc/self/task")) == threads:
            break
        time.sleep(0.01)
    print("interrupted, threads left:", len(os.listdir("/proc/self/task")) - threads, flush=True)
"""


@pytest.mark.parametrize("call", ["seedmatch.match(a, b, 0, 0, 1, 2)",
                                  "seedmatch.sweep(a, b, [(0, 0, 1, 2), (0, 0, 1, 3)] * 2)",
                                  "seedmatch._linking.link_frames([a, b, a], 0, 0, 1, 2)"])
def test_ctrl_c_stops_a_long_run(call):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    child = subprocess.Popen([sys.executable, "-c", LONG_RUN.replace("CALL", call)],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                             env=env)
    assert child.stdout.readline() == "ready\n"
    time.sleep(1.0)
    child.send_signal(signal.SIGINT)
    sent = time.monotonic()
    out, _ = child.communicate(timeout=30)
    assert (out, child.returncode) == ("interrupted, threads left: 0\n", 0)
    assert time.monotonic() - sent < 2.0
