"""Links between consecutive frames: the candidates, the divisions, the series."""
import importlib.util

import numpy as np
import pytest

import seedmatch
from conftest import EXAMPLES, run_command, seed_set
from seedmatch._divisions import find_divisions
from seedmatch._linking import FrameLinks, link_frames, positions_candidate

WEIGHTS = (1, 0.5, 1, 2)


@pytest.fixture(scope="module")
def frames(series):
    return sorted(series.glob("frame_*.seeds"))


def printed_pairs(file1, file2, weights):
    """(p, q) and the stored cost as printed, of every row line of seedmatch."""
    lines = run_command("seedmatch", file1, file2, *weights).splitlines()[:-1]
    return [(int(f[0]), int(f[1]), f[2]) for f in (line.split() for line in lines)]


@pytest.mark.parametrize("weights", [WEIGHTS, (0.5, 0, 4, 2)])
def test_auction_links_are_what_the_command_prints(frames, weights):
    positions, links = link_frames(frames, *weights, divisions=False, estimate=True)
    in_memory = link_frames([seedmatch.read_seeds(f) for f in frames], *weights, threads=1)[1]
    assert len(links) == len(frames) - 1 and len(positions) == len(frames)
    for t, (made, again) in enumerate(zip(links, in_memory)):
        assert made.linker == "auction" and 0.0 < made.estimate <= 1.0
        assert [(p, q, "%.3f" % c) for (p, q), c in zip(made.pairs.tolist(), made.costs)] == \
            printed_pairs(frames[t], frames[t + 1], weights)
        np.testing.assert_array_equal(again.pairs, made.pairs)
        assert again.costs.tobytes() == made.costs.tobytes() and np.isnan(again.estimate)
        assert made.divisions.shape == (0, 2)
        np.testing.assert_array_equal(positions[t], seedmatch.read_seeds(frames[t]).positions)


def test_divisions_add_only_second_daughters(frames, series):
    _, links = link_frames(frames, *WEIGHTS, linker="positions")
    known = set(map(tuple, np.loadtxt(series / "links.txt", dtype=int).tolist()))
    found = right = 0
    for t, made in enumerate(links):
        mothers, daughters = made.divisions.T
        assert len(set(mothers)) == len(mothers)  # one second daughter per mother
        assert not set(daughters) & set(made.pairs[:, 1])  # a daughter nobody else holds
        assert set(mothers) <= set(made.pairs[:, 0])  # whose mother is paired
        assert np.isnan(made.division_costs).all() and len(made.division_costs) == len(mothers)
        partner = dict(made.pairs.tolist())
        found += len(mothers)
        right += sum((t, m, d) in known and (t, m, partner[m]) in known
                     for m, d in made.divisions.tolist())
    assert found > 10 and right >= 0.8 * found


# A mother at the origin among eight neighbours 10 apart, who move out by 0.6 on
# every axis as the tissue grows. Diameters of 10 and 9; daughters of half the
# volume have a diameter of 10 / 2^(1/3).
AROUND = [[10 * x, 10 * y, 10 * z] for x in (-1, 1) for y in (-1, 1) for z in (-1, 1)]
HALF = 10 / 2 ** (1 / 3)


@pytest.mark.parametrize("second, diameter, expected", [
    ([-2.5, 0, 0], None, [[0, 9]]),      # the daughters either side of her place
    ([-2.5, 0.5, 0.3], None, [[0, 9]]),
    ([6.0, 0, 0], None, []),             # a newcomer beyond her partner: the midpoint moves off
    ([30.0, 30.0, 30.0], None, []),      # too far to be a sister
    ([-1.0, 3.0, 0], None, [[0, 9]]),    # the midpoint a little nearer her place
    ([-1.0, 3.0, 0], 10, []),            # ... but nobody halved
    ([0.5, 5.5, 0], None, []),           # a newcomer beside her
    ([0.5, 5.5, 0], HALF, [[0, 9]]),     # ... but both halved
])
def test_division_rule(second, diameter, expected):
    moved = [[c + 0.6 * np.sign(c) for c in p] for p in AROUND]
    sizes = None if diameter is None else [10, *[10, 9] * 4]
    before = seed_set([[0, 0, 0]] + AROUND, sizes)
    after = seed_set([[2.5, 0, 0]] + moved + [second],
                  None if diameter is None else [diameter, *[10, 9] * 4, diameter])
    pairs = np.array([[i, i] for i in range(9)])
    assert find_divisions(before, after, pairs).tolist() == expected


def test_each_daughter_has_one_mother():
    # Two mothers, one unpaired seed between their partners: it goes to the one it fits best.
    before = seed_set([[0, 0, 0], [8, 0, 0]] + AROUND)
    after = seed_set([[-2, 0, 0], [10, 0, 0]] + AROUND + [[2.2, 0, 0]])
    pairs = np.array([[i, i] for i in range(10)])
    assert find_divisions(before, after, pairs).tolist() == [[0, 10]]


@pytest.mark.parametrize("moved, expected", [
    (2.0, [[0, 0], [1, 1], [2, 2]]),    # within half the spacing of 10
    (6.0, [[1, 1], [2, 2]]),            # beyond it, seed 0 is left alone
])
def test_positions_pair_within_the_gate(moved, expected):
    before = seed_set([[0, 0, 0], [10, 0, 0], [0, 10, 0]])
    after = seed_set([[0, -moved, 0], [10, 0, 0], [0, 10, 0]])
    candidate = positions_candidate(before, after)
    assert candidate.pairs.tolist() == expected
    np.testing.assert_allclose(candidate.costs, [moved] * (len(expected) == 3) + [0, 0])


def test_positions_undo_a_shuffle():
    rng = np.random.default_rng(2)
    p = rng.uniform(0, 100, (300, 3))
    order = rng.permutation(300)
    candidate = positions_candidate(seed_set(p), seed_set(p[order] + rng.normal(0, 0.3, (300, 3))))
    assert sorted(candidate.pairs.tolist()) == sorted([int(o), k] for k, o in enumerate(order))
    assert candidate.pairs[:, 1].tolist() == list(range(300))  # by seed of t+1, as the auction


def test_auto_takes_positions_where_the_auction_goes_wrong():
    # Every diameter alike and no structure term: the auction pairs by index alone,
    # while the frames come shuffled.
    rng = np.random.default_rng(5)
    p = rng.uniform(0, 60, (120, 3))
    orders = [np.arange(120), rng.permutation(120), rng.permutation(120)]
    frames = [seed_set(p[order] + 0.5 * t) for t, order in enumerate(orders)]
    truth = [sorted([int(np.flatnonzero(a == i)[0]), int(np.flatnonzero(b == i)[0])]
                    for i in range(120)) for a, b in zip(orders, orders[1:])]
    _, links = link_frames(frames, 1, 0, 0, 2, linker="auto")
    assert [f.linker for f in links] == ["positions", "positions"]
    assert [sorted(f.pairs.tolist()) for f in links] == truth
    _, auction = link_frames(frames, 1, 0, 0, 2, estimate=True)
    assert [f.pairs.tolist() for f in auction] == [[[i, i] for i in range(120)]] * 2
    assert all(f.estimate < 0.2 for f in auction)


def test_frames_of_every_kind(tmp_path, capsys):
    three = EXAMPLES / "three_a.seeds"
    bad = tmp_path / "bad.seeds"
    bad.write_text("2 0 0 0 0 0 0\n1 2 3")
    forty = seedmatch.read_seeds(EXAMPLES / "forty_a.seeds")  # other descriptor lengths
    empty = seed_set(np.zeros((0, 3)))
    positions, links = link_frames([three], *WEIGHTS)
    assert (len(positions), links) == (1, [])
    if importlib.util.find_spec("tqdm"):
        link_frames([three, three, three], *WEIGHTS, progress=True)
        assert "/2 [" in capsys.readouterr().err  # a bar on standard error
    assert link_frames([], *WEIGHTS) == ([], [])
    _, links = link_frames([three, empty, three], *WEIGHTS, linker="auto")
    assert [len(f.pairs) for f in links] == [0, 0]
    _, links = link_frames([three, forty, three], *WEIGHTS)
    assert all(isinstance(f, FrameLinks) for f in links)
    for at in (0, 2):
        frames = [three, three, three]
        frames[at] = bad
        with pytest.raises(seedmatch.SeedFileError, match=f"^seedmatch:{bad}:2:"):
            link_frames(frames, *WEIGHTS)
    with pytest.raises(ValueError, match="linker must be one of auction, positions, auto"):
        link_frames([three], *WEIGHTS, linker="nearest")
    with pytest.raises(TypeError, match=r"frames\[1\] must be a SeedSet or a path, not int"):
        link_frames([three, 3], *WEIGHTS)


def test_on_a_cluster_the_links_are_the_same(frames, client, tmp_path):
    # Five frame pairs: more than the four the two worker threads are given at a time.
    mixed = [frames[0], seedmatch.read_seeds(frames[1]), *frames[2:]]
    bad = tmp_path / "bad.seeds"
    bad.write_text("2 0 0 0 0 0 0\n1 2 3")
    positions, links = link_frames(mixed, *WEIGHTS, linker="auto", client=client)
    with pytest.raises(seedmatch.SeedFileError, match=f"^seedmatch:{bad}:2:"):
        link_frames([*frames, bad, frames[0]], *WEIGHTS, client=client)
    alone, none = link_frames(frames[:1], *WEIGHTS, client=client)
    here_positions, here = link_frames(frames, *WEIGHTS, linker="auto")
    assert none == [] and alone[0].tolist() == here_positions[0].tolist()
    for a, b in zip(positions, here_positions):
        np.testing.assert_array_equal(a, b)
    for a, b in zip(links, here):
        for name in ("pairs", "costs", "divisions"):
            np.testing.assert_array_equal(getattr(a, name), getattr(b, name))
        assert (a.linker, a.estimate) == (b.linker, b.estimate)


def test_track_holds_every_seed_and_link(frames):
    tracks = seedmatch.track(frames, *WEIGHTS, linker="auto")
    _, links = link_frames(frames, *WEIGHTS, linker="auto")
    assert len(tracks) == sum(len(seedmatch.read_seeds(f)) for f in frames)
    expected = sorted((t, p, q, kind) for t, f in enumerate(links)
                      for kind, pairs in (("matched", f.pairs), ("division", f.divisions))
                      for p, q in pairs.tolist())
    assert sorted(zip(*(tracks.links[n].tolist() for n in ("t", "seed1", "seed2", "kind")))) \
        == expected
    assert tracks.linkers.tolist() == [f.linker for f in links]
    assert tracks.sources == tuple(map(str, frames))
