"""The 3D view of a pairing and the view command."""
import html.parser
import re
import sys

import numpy as np
import pytest

import seedmatch
from conftest import FORTY, command_in_process, step
from seedmatch._view import RESOLUTION, decimals

pytest.importorskip("plotly")

FIELDS = ("stored_cost", "seed_dist", "pcal", "cost", "d_desc0", "d_desc1", "d_desc2",
          "d_pts01", "d_desc4", "d_pts2", "pos_disp")  # the report's columns after p and q


def by_name(figure):
    """The traces keyed by their name without the count in brackets."""
    return {re.sub(r" \(\d+\)$", "", trace.name): trace for trace in figure.data}


def segment_ends(trace):
    """(K, 2, 3): the two ends of each segment of a pairs trace."""
    points = np.stack([np.asarray(trace[a], float) for a in "xyz"], axis=1)
    assert np.isnan(points[2::3]).all()
    return np.stack([points[0::3], points[1::3]], axis=1)


@pytest.mark.parametrize("files, weights, doubtful", [
    ("forty", (1, 0.5, 1, 2), 0),
    (300, (1, 0.5, 1, 6), 19),        # the contested weights let wrong pairs in
    (300, (0, 0, 1, 2), 294),         # positions alone: the estimate trusts none
    ("forty", (1, 0.5, 1, 0), None),  # no pair at all
])
def test_view_draws_the_report(files, weights, doubtful, generated):
    set1, set2 = map(seedmatch.read_seeds, generated[files])
    matching = seedmatch.match(set1, set2, *weights)
    report = seedmatch.evaluate(set1, set2, matching, *weights[:2])
    figure = seedmatch.view(set1, set2, matching, weights[0], weights[1], weights[3])
    name1, name2 = (f.name for f in generated[files])
    traces = by_name(figure)
    step = 10.0 ** -decimals(set1.positions, set2.positions)

    # Every seed is drawn once among the markers: matched in its file's trace (in pair
    # order, with the pair's hover), or unmatched.
    unmatched1 = np.setdiff1d(np.arange(len(set1)), report.p)
    unmatched2 = np.setdiff1d(np.arange(len(set2)), report.q)
    for trace, positions, shown in [
            (traces[f"{name1} (file 1)"], set1.positions, report.p),
            (traces[f"{name2} (file 2)"], set2.positions, report.q),
            (traces[f"unmatched in {name1}"], set1.positions, unmatched1),
            (traces[f"unmatched in {name2}"], set2.positions, unmatched2)]:
        drawn = np.stack([np.asarray(trace[a], float) for a in "xyz"], axis=1).reshape(-1, 3)
        assert np.abs(drawn - positions[shown]).max(initial=0) <= step / 2
    assert list(traces[f"unmatched in {name1}"].customdata) == unmatched1.tolist()
    for name in (f"{name1} (file 1)", f"{name2} (file 2)"):
        assert [int(row[0]) for row in traces[name].customdata] == report.p.tolist()
        assert [int(row[1]) for row in traces[name].customdata] == report.q.tolist()
        assert traces[name].hovertemplate == traces["pairs"].hovertemplate

    # Each pair is one segment, coloured by its cost, whose hover data is its line of the report.
    place = {(p, q): i for i, (p, q) in enumerate(zip(report.p.tolist(), report.q.tolist()))}
    pairs = [t for name, t in traces.items() if name in ("pairs", "doubtful pairs")]
    seen = []
    for trace in pairs:
        for k, (a, b) in enumerate(segment_ends(trace)):
            row = trace.customdata[3 * k]
            assert trace.customdata[3 * k + 1] == row and trace.customdata[3 * k + 2] is None
            i = place[int(row[0]), int(row[1])]
            assert row[2:13] == [f"{getattr(report, field)[i]:.3f}" for field in FIELDS]
            assert np.abs(a - set1.positions[report.p[i]]).max() <= step / 2
            assert np.abs(b - set2.positions[report.q[i]]).max() <= step / 2
            assert list(trace.line.color[3 * k:3 * k + 3]) == [report.cost[i]] * 3
            if doubtful is not None:
                assert row[13] == f"{report.consistency.score[i]:.2f}"
                trusted = report.consistency.trusted[i]
                assert (trace.name.startswith("pairs"), trace.line.dash) == \
                    ((True, "solid") if trusted else (False, "dash"))
            seen.append(i)
    assert sorted(seen) == list(range(len(report)))
    if doubtful is None:
        assert len(report) == 0 and [t.name for t in pairs] == ["pairs (0)"]
    else:
        assert int((~report.consistency.trusted).sum()) == doubtful
        assert ("doubtful pairs" in traces) == (doubtful > 0)
        assert (figure.layout.coloraxis.cmin, figure.layout.coloraxis.cmax) == \
            (report.cost.min(), report.cost.max())


@pytest.mark.parametrize("positions, places", [
    ([[0, 0, 0], [500, 20, 3]], 3),          # extent 500: steps of 0.001
    ([[0.5, 0.5, 0.5], [0.7, 0.5, 0.5]], 6),  # extent 0.2
    ([[1e6, 0, 0], [2e6, 0, 0]], 0),         # no rounding to tens
    ([[7, 7, 7]], 5),                         # one point: its size sets the scale
    ([[0, np.nan, 0], [40, np.inf, 1]], 4),  # what is not finite takes no part
])
def test_coordinates_are_rounded_below_what_the_eye_tells(positions, places):
    points = np.array(positions, float)
    assert decimals(points, np.zeros((0, 3))) == places
    finite = points[np.isfinite(points)]
    extent = np.ptp(finite) or max(abs(finite).max(), 1)
    assert 10.0 ** -places / 2 <= RESOLUTION * extent  # the most a coordinate moves


def test_page_is_one_file_that_fetches_nothing(tmp_path, generated, capsys):
    page = tmp_path / "pairing.html"
    assert command_in_process(capsys, "view", *generated[300], 1, 0.5, 1, 2, "-o", page) == \
        (0, "", "")
    scripts = []

    class Scripts(html.parser.HTMLParser):
        def handle_starttag(self, tag, attrs):
            scripts.extend(dict(attrs) for t in [tag] if t in ("script", "link"))

    text = page.read_text()
    Scripts().feed(text)
    assert len(scripts) >= 2 and not [s for s in scripts if "src" in s or "href" in s]
    assert len(text) > 3_000_000  # plotly.js is inside
    assert not [p for p in tmp_path.iterdir() if p != page]  # no temporary left behind


@pytest.mark.parametrize("output, message", [
    ("missing/pairing.html", "seedmatch: cannot write {}: no such file or directory"),
    ("folder", "seedmatch: cannot write {}: is a directory"),
])
def test_view_command_cannot_write(output, message, tmp_path, capsys, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "folder").mkdir()
    assert command_in_process(capsys, "view", *FORTY, 1, 0.5, 1, 2, "-o", output) == \
        (2, "", message.format(output) + "\n")
    assert list(tmp_path.iterdir()) == [tmp_path / "folder"]
    assert list((tmp_path / "folder").iterdir()) == []


def test_without_plotly(tmp_path, capsys, monkeypatch):
    for name in [m for m in sys.modules if m == "plotly" or m.startswith("plotly.")]:
        monkeypatch.delitem(sys.modules, name)
    monkeypatch.setitem(sys.modules, "plotly", None)  # import plotly now fails
    status, out, err = command_in_process(capsys, "view", *FORTY, 1, 0.5, 1, 2, "-o",
                                          tmp_path / "pairing.html")
    assert (status, out) == (2, "") and err.count("\n") == 1
    assert err.startswith("seedmatch: cannot import plotly, which the 3D view needs (")
    assert err.endswith("); on Debian, apt-get install python3-plotly\n")
    assert list(tmp_path.iterdir()) == []


def division_series():
    """Three frames: a seed that goes on, and one that divides after frame 0."""
    positions = [[[0, 0, 0], [10, 0, 0]], [[1, 0, 0], [11, 0, 0], [12, 1, 0]],
                 [[2, 0, 0], [12, 0, 0], [13, 2, 0]]]
    links = [step([[0, 0], [1, 1]], [[1, 2]], [0.1, 0.2], [0.5], estimate=1.0),
             step([[0, 0], [1, 1], [2, 2]], costs=[0.1, 0.2, 0.3], estimate=1.0)]
    return seedmatch.Tracks.from_frames([np.array(p, float) for p in positions], links)


def nan_parted(trace):
    """The polylines of a trace, split at its gaps, as lists of (x, y, z)."""
    points = np.stack([np.asarray(trace[a], float) for a in "xyz"], axis=1)
    parts = np.split(points, np.flatnonzero(np.isnan(points[:, 0])))
    return [kept.tolist() for kept in (p[~np.isnan(p[:, 0])] for p in parts) if len(kept)]


def test_lineages_in_3d():
    figure = division_series().view()
    traces = by_name(figure)
    # Tracklets 1 (0..2 along x), 2 (the mother, frame 0 only), 3 and 4 (the daughters).
    assert nan_parted(traces["tracklets"]) == [
        [[0, 0, 0], [1, 0, 0], [2, 0, 0]], [[10, 0, 0]], [[11, 0, 0], [12, 0, 0]],
        [[12, 1, 0], [13, 2, 0]]]
    assert nan_parted(traces["to the daughters"]) == [[[10, 0, 0], [11, 0, 0]],
                                                      [[10, 0, 0], [12, 1, 0]]]
    assert nan_parted(traces["divisions"]) == [[[10, 0, 0]]]
    colours = traces["tracklets"].line.color
    assert len(set(colours[[0, 4, 6, 9]])) == 4  # one colour a tracklet
    # The slider shows one frame at a time: its seeds, and its links to the next.
    assert [s.label for s in figure.layout.sliders[0].steps] == ["0", "1", "2"]
    seeds, links = [figure.data[k] for k in (3, 4)]
    assert (seeds.name, links.name) == ("seeds of the frame", "links to the next frame")
    frames = []
    for shown in figure.layout.sliders[0].steps:
        assert shown.method == "restyle" and list(shown.args[1]) == [3, 4]
        frames.append([{"x": change["x"][k], "y": change["y"][k], "z": change["z"][k]}
                       for change in shown.args[:1] for k in (0, 1)])
    assert nan_parted(frames[1][0]) == [[[1, 0, 0], [11, 0, 0], [12, 1, 0]]]
    assert nan_parted(frames[1][1]) == [
        [[1, 0, 0], [2, 0, 0]], [[11, 0, 0], [12, 0, 0]], [[12, 1, 0], [13, 2, 0]]]
    frame1 = figure.layout.sliders[0].steps[1].args[0]
    assert [list(c) for c in frame1["customdata"][0]] == \
        [[0, 1, 0], [1, 3, 2], [2, 4, 2]]  # seed, tracklet, parent
    assert frames[0][0]["x"].tolist() == list(seeds.x)  # the page opens on frame 0
    frame0 = figure.layout.sliders[0].steps[0].args[0]
    assert (list(frame0["customdata"][1][6]), frame0["text"][1][6]) == ([1, 2, 0.5], "division")
    assert list(frame0["line.color"][1][6:9]) == [1, 1, 1]  # divisions at the scale's red
    assert len(frames[2][1]["x"]) == 0  # the last frame has no next
