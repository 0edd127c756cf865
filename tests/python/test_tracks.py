"""Tracks: tracklets from frame links, the writers read back, scores against known lineages."""
import sys
from types import SimpleNamespace

import numpy as np
import pytest

import seedmatch
from conftest import command_in_process, read_back, step


def frames(*sizes):
    """Positions whose x is 10 t + seed, to see which node went where."""
    return [np.array([[10.0 * t + s, s, -t] for s in range(n)]).reshape(-1, 3)
            for t, n in enumerate(sizes)]


def build(sizes, steps, sources=None):
    return seedmatch.Tracks.from_frames(frames(*sizes), steps, sources=sources)


LINEAGES = {
    # name: frame sizes, frame pair links, expected track_id and parent_track_id per node
    "one frame": ((3,), [], [1, 2, 3], [0, 0, 0]),
    "no frame": ((), [], [], []),
    "swap and division": ((2, 3), [step([(0, 1), (1, 0)], [(0, 2)])],
                          [1, 2, 2, 3, 4], [0, 0, 0, 1, 1]),
    "arrival and departure": ((2, 2), [step([(0, 1)])], [1, 2, 3, 1], [0, 0, 0, 0]),
    "empty frame ends all": ((2, 0, 2), [step(), step()], [1, 2, 3, 4], [0, 0, 0, 0]),
    "daughter divides": ((1, 2, 3), [step([(0, 0)], [(0, 1)]), step([(0, 0), (1, 1)], [(1, 2)])],
                         [1, 2, 3, 2, 4, 5], [0, 1, 1, 1, 3, 3]),
}


@pytest.mark.parametrize("name", LINEAGES)
def test_tracklets_follow_the_links(name):
    sizes, steps, track_ids, parents = LINEAGES[name]
    tracks = build(sizes, steps)
    assert tracks.nodes["track_id"].tolist() == track_ids
    assert tracks.nodes["parent_track_id"].tolist() == parents
    assert tracks.frame_sizes.tolist() == list(sizes) and len(tracks) == sum(sizes)
    assert tracks.nodes["x"].tolist() == [10.0 * t + s for t, n in enumerate(sizes)
                                          for s in range(n)]


def test_links_carry_costs_kinds_and_order():
    tracks = build((3, 3), [step([(2, 0), (0, 1)], [(2, 2)], costs=[0.25, 0.5],
                                 division_costs=[1.5], linker="positions", estimate=0.9)])
    assert tracks.links.tolist() == [(0, 0, 1, 0.5, "matched"), (0, 2, 0, 0.25, "matched"),
                                     (0, 2, 2, 1.5, "division")]
    assert tracks.linkers.tolist() == ["positions"] and tracks.frame_precision.tolist() == [0.9]
    assert tracks.tracklets.tolist() == [(1, 0, 1, 0), (2, 0, 0, 0), (3, 0, 0, 0),
                                         (4, 1, 1, 3), (5, 1, 1, 3)]


@pytest.mark.parametrize("positions, steps, message", [
    (frames(2, 2), [step([(0, 2)])],
     "frames 0 and 1: pairs name seed 2 of frame 1, which holds 2"),
    (frames(2, 2), [step([(-1, 0)])], "frames 0 and 1: pairs name seed -1 of frame 0"),
    (frames(2, 2), [step([(0, 0), (0, 1)])], "seed 0 of frame 0 is in two pairs"),
    (frames(2, 2), [step([(0, 1), (1, 1)])], "seed 1 of frame 1 is in two pairs"),
    (frames(2, 3), [step([(0, 0)], [(1, 1)])], "mother 1 of frame 0 has no pair"),
    (frames(2, 3), [step([(0, 0), (1, 1)], [(0, 1)])], "daughter 1 of frame 1 has two mothers"),
    (frames(2, 3), [step([(0, 0)], [(0, 1), (0, 2)])], "seed 0 of frame 0 divides twice"),
    (frames(2, 2), [step([(0, 0)], costs=[1.0, 2.0])], "frames 0 and 1: 1 pairs but 2 costs"),
    (frames(2, 2), [], "2 frames need 1 frame pairs' links, got 0"),
    (frames(2, 2), [SimpleNamespace(pairs=np.array([[0.0, 1.0]]), costs=[0.0], divisions=[],
                                    division_costs=[], linker="auction", estimate=0.5)],
     "pairs must be a .K, 2. array of integers"),
    ([np.zeros((1, 3)), np.zeros((2, 2))], [step()],
     r"positions of frame 1 must be an \(n, 3\) array"),
])
def test_from_frames_refuses_bad_links(positions, steps, message):
    with pytest.raises(ValueError, match=message):
        seedmatch.Tracks.from_frames(positions, steps)


def true_steps(links: np.ndarray, frames_count: int) -> list:
    """The true links as frame links: a mother's first daughter her pair, the second a division."""
    steps = []
    for t in range(frames_count - 1):
        here = links[links[:, 0] == t][:, 1:]
        first = np.unique(here[:, 0], return_index=True)[1]
        second = np.setdiff1d(np.arange(len(here)), first)
        steps.append(step(here[first], here[second]))
    return steps


def test_generated_truth_rebuilds_its_tracklets_and_scores_itself(series):
    truth = np.loadtxt(series / "tracks.csv", delimiter=",", skiprows=1)
    links = np.loadtxt(series / "links.txt", dtype=np.int64).reshape(-1, 3)
    sizes = np.bincount(truth[:, 1].astype(int))
    positions = [truth[truth[:, 1] == t][np.argsort(truth[truth[:, 1] == t][:, 2])][:, 3:6]
                 for t in range(len(sizes))]
    tracks = seedmatch.Tracks.from_frames(positions, true_steps(links, len(sizes)))
    expected = truth[np.lexsort((truth[:, 2], truth[:, 1]))]
    assert (tracks.links["kind"] == "division").sum() > 0
    np.testing.assert_array_equal(tracks.nodes["track_id"], expected[:, 0])
    np.testing.assert_array_equal(tracks.nodes["parent_track_id"], expected[:, 6])
    for path in ("links.txt", "tracks.csv"):
        got = seedmatch.score_tracks(tracks, series / path)
        assert (got.link_f1, got.division_f1, got.complete_tracklets) == (1.0, 1.0, 1.0)
        assert got.truth_tracklets == truth[:, 0].max() and got.true_links == len(links)
    np.testing.assert_array_equal(
        np.unique(seedmatch.read_track_truth(series / "tracks.csv"), axis=0), links)


@pytest.fixture
def lineage():
    """Three frames: seed 0 divides, a daughter goes on, one seed leaves, one arrives."""
    return build((2, 3, 2), [step([(0, 0), (1, 2)], [(0, 1)], costs=[0.5, 0.25],
                                  division_costs=[2.0], estimate=0.75),
                             step([(1, 0)], costs=[0.125], linker="positions")],
                 sources=[])


def test_csv_reads_back(tmp_path, lineage):
    lineage.nodes["x"][0] = 0.1 + 0.2  # full precision survives
    lineage.to_csv(tmp_path / "tracks.csv")
    text = (tmp_path / "tracks.csv").read_text().splitlines()
    assert text[0] == "track_id,t,seed,x,y,z,parent_track_id"
    back = np.genfromtxt(tmp_path / "tracks.csv", delimiter=",", names=True)
    for name in lineage.nodes.dtype.names:
        assert back[name].tolist() == lineage.nodes[name].tolist()


def test_ctc_and_napari(tmp_path, lineage):
    lineage.to_ctc(tmp_path / "res_track.txt")
    assert (tmp_path / "res_track.txt").read_text() == \
        "1 0 0 0\n2 0 1 0\n3 1 1 1\n4 1 2 1\n5 2 2 0\n"
    data, graph = lineage.napari()
    assert data.tolist() == [[1, 0, 0, 0, 0], [2, 0, 0, 1, 1], [2, 1, -1, 2, 12],
                             [3, 1, -1, 0, 10], [4, 1, -1, 1, 11], [4, 2, -2, 0, 20],
                             [5, 2, -2, 1, 21]]
    assert graph == {3: [1], 4: [1]}


def test_geff_reads_back(tmp_path, lineage):
    zarr = pytest.importorskip("zarr")
    lineage.to_geff(tmp_path / "tracks.geff")
    group = zarr.open_group(str(tmp_path / "tracks.geff"), mode="r")
    meta = group.attrs["geff"]
    assert (meta["geff_version"], meta["directed"], meta["track_node_props"]) == (
        "1.0", True, {"tracklet": "track_id"})
    assert [(a["name"], a["type"], a.get("min"), a.get("max")) for a in meta["axes"]] == [
        ("t", "time", None, None), ("z", "space", -2, 0), ("y", "space", 0, 2),
        ("x", "space", 0, 21)]
    ids = group["nodes/ids"][:]
    assert ids.dtype == np.uint64 and ids.tolist() == list(range(7))
    for name in ("t", "z", "y", "x", "seed", "track_id", "parent_track_id"):
        assert group[f"nodes/props/{name}/values"][:].tolist() == lineage.nodes[name].tolist()
    edges = group["edges/ids"][:]
    assert edges.dtype == np.uint64 and edges.tolist() == [[0, 2], [0, 3], [1, 4], [3, 5]]
    assert group["edges/props/cost/values"][:].tolist() == [0.5, 2.0, 0.25, 0.125]
    assert group["edges/props/division/values"][:].tolist() == [False, True, False, False]


def test_geff_of_no_link_and_replacing(tmp_path):
    zarr = pytest.importorskip("zarr")
    target = tmp_path / "one.geff"
    build((2,), []).to_geff(target)
    assert zarr.open_group(str(target), mode="r")["edges/ids"].shape == (0, 2)
    with pytest.raises(ValueError, match="exists; pass overwrite=True"):
        build((3,), []).to_geff(target)
    build((3,), []).to_geff(target, overwrite=True)
    assert zarr.open_group(str(target), mode="r")["nodes/ids"].shape == (3,)
    (tmp_path / "data").mkdir()
    with pytest.raises(ValueError, match="will not replace .*data: it is not a GEFF group"):
        build((3,), []).to_geff(tmp_path / "data", overwrite=True)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["data", "one.geff"]


def test_geff_without_zarr_says_what_to_install(tmp_path, lineage, monkeypatch):
    monkeypatch.setitem(sys.modules, "zarr", None)
    with pytest.raises(ImportError, match="apt-get install python3-zarr"):
        lineage.to_geff(tmp_path / "tracks.geff")


def test_writers_keep_off_the_frames_and_write_whole(tmp_path):
    frame = tmp_path / "frame_0.seeds"
    frame.write_text("seeds")
    tracks = build((2,), [], sources=[frame])
    for write in (tracks.to_csv, tracks.to_ctc):
        with pytest.raises(ValueError, match="will not write the tracks over .*frame_0.seeds"):
            write(tmp_path / "." / "frame_0.seeds")
        with pytest.raises(OSError):
            write(tmp_path / "missing" / "out.txt")
    assert frame.read_text() == "seeds" and [p.name for p in tmp_path.iterdir()] == [frame.name]


SCORES = {
    # name: made tracks, known links, (links made, known, true), (divisions found, known,
    # true), (known tracklets, complete)
    "all right": (((2, 3, 2), [step([(0, 0), (1, 2)], [(0, 1)]), step([(1, 0)])]),
                  [[0, 0, 0], [0, 0, 1], [0, 1, 2], [1, 1, 0]], (4, 4, 4), (1, 1, 1), (5, 5)),
    "wrong daughters": (((2, 3), [step([(0, 0), (1, 2)], [(0, 1)])]),
                        [[0, 0, 0], [0, 0, 2], [0, 1, 1]], (3, 3, 1), (1, 1, 0), (4, 2)),
    "missed division": (((1, 2), [step([(0, 0)])]), [[0, 0, 0], [0, 0, 1]],
                        (1, 2, 1), (0, 1, 0), (3, 1)),
    "division for a link": (((1, 2), [step([(0, 0)], [(0, 1)])]), [[0, 0, 0]],
                            (2, 1, 1), (1, 0, 0), (2, 1)),
    "nothing to link": (((2,), []), np.zeros((0, 3), int), (0, 0, 0), (0, 0, 0), (2, 2)),
}


def ratios(true, made, known):
    return (true / made if made else 0.0, true / known if known else 0.0,
            2 * true / (made + known) if made + known else 0.0)


@pytest.mark.parametrize("name", SCORES)
def test_score_tracks(name):
    (sizes, steps), truth, links, divisions, (tracklets, complete) = SCORES[name]
    got = seedmatch.score_tracks(build(sizes, steps), np.array(truth, np.int64))
    assert (got.links, got.truth_links, got.true_links) == links
    assert (got.link_precision, got.link_recall, got.link_f1) == ratios(links[2], *links[:2])
    assert (got.divisions, got.truth_divisions, got.true_divisions) == divisions
    assert (got.division_precision, got.division_recall, got.division_f1) == ratios(
        divisions[2], *divisions[:2])
    assert (got.truth_tracklets, got.complete, got.complete_tracklets) == (
        tracklets, complete, complete / tracklets)


CSV = "track_id,t,seed,x,y,z,parent_track_id\n"


@pytest.mark.parametrize("text, expected", [
    ("t i j\n0 0 1\n1,1\t0  # a comment\n\n", [[0, 0, 1], [1, 1, 0]]),
    ("", []),
    (CSV + "1,0,0,0,0,0,0\n1,1,1,0,0,0,0\n3,2,0,0,0,0,1\n2,2,1,0,0,0,1\n",
     [[0, 0, 1], [1, 1, 0], [1, 1, 1]]),
    ("0 0 1\n0 0\n", "2:4: expected a frame and two seeds, found 2 fields"),
    ("0 0 x\n", "1:5: expected an integer, found 'x'"),
    ("0 -1 1\n", "1:3: seed -1 is negative"),
    ("t i j\n0 0 1\n\n0 0 1\n", "4:1: link 0 0 1 comes again (first at line 2)"),
    ("0 0 1\n0 1 1\n", "2:5: seed 1 of frame 1 has two mothers (the other at line 1)"),
    ("0 0 0\n0 0 1\n0 0 2\n",
     "3:3: seed 0 of frame 0 has a third daughter (the others at line 1 and line 2)"),
    ("0 2 0\n", "1:3: seed 2 of frame 0 is not in the tracks, whose frame 0 holds 2 seeds"),
    ("0 0 3\n", "1:5: seed 3 of frame 1 is not in the tracks, whose frame 1 holds 3 seeds"),
    ("2 0 0\n", "1:1: frame 2 has no next frame in the tracks, which have 3 frames"),
    ("track_id,t,seed\n1,0,0\n",
     "1:1: the header lacks parent_track_id (expected " + CSV[:-1] + ")"),
    (CSV + "1,0,0,0,0,0,0\n1,2,0,0,0,0,0\n", "3:1: tracklet 1 skips from frame 0 to 2"),
    (CSV + "1,0,0,0,0,0,0\n2,0,0,0,0,0,0\n",
     "3:5: seed 0 of frame 0 comes again (first on line 2)"),
    (CSV + "1,0,0,0,0,0,0\n1,0,1,0,0,0,0\n",
     "3:3: tracklet 1 holds two seeds of frame 0 (the other on line 2)"),
    (CSV + "1,0,0,0,0,0,0\n2,1,0,0,0,0,3\n",
     "3:13: parent tracklet 3 of tracklet 2 is not in the table"),
    (CSV + "1,0,0,0,0,0,0\n2,2,0,0,0,0,1\n",
     "3:13: tracklet 2 starts in frame 2, not right after its parent 1 ends in frame 0"),
    (CSV + "1,0,0,0,0,0,0\n1,1,0,0,0,0,2\n", "3:13: tracklet 1 has parent 2 here but 0 on line 2"),
    (CSV + "1,0,0,0,0,0\n", "2:12: expected 7 fields, found 6"),
    (CSV + "0,0,0,0,0,0,0\n", "2:1: track_id must be an integer, positive, not '0'"),
    (CSV + "1,0,5,0,0,0,0\n",
     "2:5: seed 5 of frame 0 is not in the tracks, whose frame 0 holds 2 seeds"),
])
def test_read_track_truth(tmp_path, text, expected):
    assert read_back(seedmatch.read_track_truth, tmp_path / "truth.txt", text, [2, 3, 2]) == \
        expected


@pytest.mark.parametrize("truth, message", [
    ([[0, 0, 5]], "truth link 1: seed 5 of frame 1 is not in the tracks"),
    ([[0, 0, 0], [0, 1, 0]],
     "truth link 2: seed 0 of frame 1 has two mothers .the other at link 1"),
    ([[0.0, 0, 0]], r"truth links must be an \(L, 3\) array of integers"),
])
def test_score_tracks_refuses_bad_truth(truth, message):
    with pytest.raises(ValueError, match=message):
        seedmatch.score_tracks(build((2, 2), [step()]), np.array(truth))


WEIGHTS = ("--seed-weight", 1, "--hist-weight", 0.5, "--rpd-weight", 1, "--cost-limit", 2)


@pytest.fixture
def fake_track(monkeypatch, lineage):
    """seedmatch.track giving the lineage, recording its calls."""
    calls = []

    def track(frames, *weights, **options):
        calls.append((list(frames), weights, options))
        return lineage
    monkeypatch.setattr(seedmatch, "track", track)
    return calls


def test_track_command_writes_what_is_asked(tmp_path, capsys, fake_track, lineage):
    (tmp_path / "truth.txt").write_text("0 0 0\n0 0 1\n0 1 2\n1 0 0\n")
    status, out, err = command_in_process(
        capsys, "track", "a.seeds", "b.seeds", "c.seeds", *WEIGHTS, "--linker", "auto",
        "-o", tmp_path / "tracks.csv", "--ctc", tmp_path / "res_track.txt",
        "--truth", tmp_path / "truth.txt", "--plot", tmp_path / "lineage.svg",
        "--geff", tmp_path / "tracks.geff", "--html", tmp_path / "lineages.html")
    assert (status, out) == (0, "")
    assert (tmp_path / "tracks.geff" / "nodes" / "ids" / ".zarray").exists()
    page = (tmp_path / "lineages.html").read_text()
    assert len(page) > 3_000_000 and '"label":"2","method":"restyle"' in page  # the last frame
    assert (tmp_path / "lineage.svg").read_bytes().startswith(b"<?xml")
    assert err == ("links: precision 0.7500, recall 0.7500, f1 0.7500 (3 of 4 made, 4 known); "
                   "divisions: precision 1.0000, recall 1.0000, f1 1.0000 (1 of 1 found, "
                   "1 known); complete tracklets 0.6000 (3 of 5)\n")
    assert fake_track == [(["a.seeds", "b.seeds", "c.seeds"], (1.0, 0.5, 1.0, 2.0),
                           {"linker": "auto", "estimate": True})]
    lineage.to_csv(tmp_path / "expected.csv")
    assert (tmp_path / "tracks.csv").read_text() == (tmp_path / "expected.csv").read_text()
    assert (tmp_path / "res_track.txt").read_text().startswith("1 0 0 0\n2 0 1 0\n")


@pytest.mark.parametrize("options, message", [
    (["-o", "{a}"], "-o {a} would overwrite the input {a}"),
    (["-o", "t.csv", "--plot", "lineage.gif"], "cannot tell the picture format of 'lineage.gif'"),
    (["-o", "t.csv", "--linker", "nearest"], "argument --linker: invalid choice: 'nearest'"),
    (["-o", "t.csv", "--truth", "bad.txt"], "seedmatch:bad.txt:1:3: expected an integer"),
    (["-o", "t.csv", "--truth", "far.txt"],
     "seedmatch:far.txt:1:5: seed 7 of frame 1 is not in the tracks"),
    ([], "the following arguments are required: -o/--output"),
])
def test_track_command_fails_in_one_line_writing_nothing(tmp_path, capsys, monkeypatch,
                                                          fake_track, options, message):
    monkeypatch.chdir(tmp_path)
    for name, text in (("a.seeds", "frame"), ("bad.txt", "0 x 1\n"), ("far.txt", "0 0 7\n")):
        (tmp_path / name).write_text(text)
    before = sorted(p.name for p in tmp_path.iterdir())
    status, out, err = command_in_process(capsys, "track", "a.seeds", "b.seeds", *WEIGHTS,
                                          *[o.format(a="a.seeds") for o in options])
    assert (status, out) == (2, "")
    assert err.startswith("seedmatch") and err.count("\n") == 1
    assert message.format(a="a.seeds") in err
    assert sorted(p.name for p in tmp_path.iterdir()) == before


def test_track_command_refuses_a_broken_frame(series, tmp_path, capsys):
    (tmp_path / "broken.seeds").write_text("7 1 1 1 1 1 1\n")
    status, out, err = command_in_process(capsys, "track", min(series.glob("frame_*.seeds")),
                                          tmp_path / "broken.seeds", *WEIGHTS,
                                          "-o", tmp_path / "again.csv")
    assert (status, out) == (2, "") and err.startswith(f"seedmatch:{tmp_path}/broken.seeds:")
    assert not (tmp_path / "again.csv").exists()


def test_lineage_picture(tmp_path, lineage, monkeypatch):
    pytest.importorskip("matplotlib")
    from seedmatch import _track_picture
    events = _track_picture.frame_events(lineage)
    assert {name: values.tolist() for name, values in events.items()} == {
        "seeds": [2, 3, 2], "links": [0, 3, 1], "divisions": [0, 1, 0], "starts": [0, 0, 1],
        "ends": [0, 2, 0]}
    figure = lineage.plot()
    figure.savefig(tmp_path / "lineage.png", dpi=40)
    assert (tmp_path / "lineage.png").read_bytes().startswith(b"\x89PNG")
    scene = figure.axes[0]  # projected once drawn
    assert [len(c.get_segments()) for c in scene.collections[:2]] == [2, 2]  # within, division
    assert [p.get_height() for p in figure.axes[4].patches] == [3, 2, 0]  # lengths 1 2 1 2 1

    monkeypatch.setattr(_track_picture, "SLAB_TRACKLETS", 2)
    shown, which = _track_picture.slab(lineage)
    assert shown.sum() == 2 and which.startswith("the 2 of 5 tracklets whose mean ")
    for tracks in (build((), []), build((3,), []), build((2, 0), [step()])):
        tracks.plot().savefig(tmp_path / "small.png", dpi=30)
