"""Seed sets: from files and from arrays, their views, and everything refused."""
import numpy as np
import pytest

import seedmatch
from conftest import EXAMPLES, outcome


def arrays_of(seeds):
    return seeds.positions, seeds.descriptors, seeds.point_counts, seeds.distances


def test_from_arrays_gives_the_report_of_the_file(forty):
    set1, set2, _ = forty
    copy1 = seedmatch.SeedSet.from_arrays(*arrays_of(set1))
    # Plain lists, other integer types and NumPy numbers are taken too.
    copy2 = seedmatch.SeedSet.from_arrays(set2.positions.tolist(), list(set2.descriptors),
                                          set2.point_counts.astype(np.uint16),
                                          set2.distances.tolist())
    assert copy1.histograms.tobytes() == set1.histograms.tobytes()
    assert (set2.path, copy1.path) == (f"{EXAMPLES}/forty_b.seeds", None)
    expected = str(seedmatch.evaluate(set1, set2, seedmatch.match(set1, set2, 1, 0.5, 1, 2), 1, 0.5))
    weights = (np.float32(1), np.array(0.5), np.int64(1), np.float64(2))
    got = seedmatch.evaluate(copy1, copy2, seedmatch.match(copy1, copy2, *weights), 1, 0.5)
    assert str(got) == expected


def test_views_are_read_only_and_outlive_their_set():
    set1 = seedmatch.read_seeds(EXAMPLES / "forty_a.seeds")
    views = [set1.positions, set1.point_counts, set1.distances, set1.histograms,
             *set1.descriptors]
    # The same memory on every call: nothing is copied per access.
    assert np.shares_memory(set1.positions, set1.positions)
    assert np.shares_memory(set1.distances, set1.distances)
    for view in views:
        with pytest.raises(ValueError, match="read-only"):
            view[0, 0] = 1
    expected = [v.copy() for v in views]
    del set1
    assert all((v == e).all() for v, e in zip(views, expected))


def test_an_empty_set_has_empty_views():
    empty = seedmatch.SeedSet.from_arrays(np.zeros((0, 3)), [np.zeros((0, 2))] * 6,
                                          np.zeros((0, 3), np.int32), np.zeros((0, 0)))
    assert len(empty) == 0
    assert [empty.positions.shape, empty.point_counts.shape, empty.distances.shape,
            empty.histograms.shape, empty.descriptors[0].shape] == [(0, 3), (0, 3), (0, 0),
                                                                     (0, 40), (0, 0)]


def good_arrays(n=3):
    return dict(positions=np.zeros((n, 3)), descriptors=[np.zeros((n, 2))] * 6,
                point_counts=np.ones((n, 3), np.int32), distances=np.zeros((n, n)))


def descriptors_with(d, value):
    descriptors = [np.zeros((3, 2))] * 6
    descriptors[d] = value
    return descriptors


BAD_ARRAYS = [
    ("positions", np.zeros((3, 2)), "positions must have shape (N, 3), got (3, 2)"),
    ("positions", [[0, 0], [1]], "positions must be an array of numbers"),
    ("positions", None, "positions must hold real numbers, not object"),
    ("positions", np.full((3, 3), np.inf), "positions[0, 0] is inf; a seed file holds only finite numbers"),
    ("descriptors", np.zeros((3, 2)), "descriptors must hold six arrays, got 3"),
    ("descriptors", "abcdef", "descriptors must be a sequence of six arrays"),
    ("descriptors", descriptors_with(2, np.zeros((4, 2))), "descriptors[2] has 4 rows, positions has 3"),
    ("descriptors", descriptors_with(1, np.zeros((3, 2, 1))), "descriptors[1] must have shape (N, L), got (3, 2, 1)"),
    ("point_counts", np.ones((3, 3)), "point_counts must hold integers, not float64"),
    ("point_counts", np.ones((3, 3), bool), "point_counts must hold integers, not bool"),
    ("point_counts", np.ones((3, 2), np.int32), "point_counts must have shape (N, 3), got (3, 2)"),
    ("point_counts", np.ones((2, 3), np.int32), "point_counts has 2 rows, positions has 3"),
    ("point_counts", np.array([[1, 1, 1], [1, 2**31, 1], [1, 1, 1]]), "point_counts[1, 1] = 2147483648 does not fit in 32 bits"),
    ("point_counts", np.array([[1, 1, 1], [1, 1, 1], [1, 1, -2**31 - 1]]), "point_counts[2, 2] = -2147483649 does not fit in 32 bits"),
    ("point_counts", np.full((3, 3), 2**63, np.uint64), "point_counts[0, 0] = 9223372036854775808 does not fit in 32 bits"),
    ("distances", np.zeros((3, 2)), "distances must have at least one column per seed (3), got 2"),
    ("distances", np.zeros((2, 3)), "distances has 2 rows, positions has 3"),
    ("distances", [[0, 0, 0], [0, 0, np.nan], [0, 0, 0]],
     "distances[1, 2] is nan; a seed file holds only finite numbers"),
]


@pytest.mark.parametrize("argument, value, message", BAD_ARRAYS)
def test_bad_arrays_are_refused_naming_the_argument(argument, value, message):
    arrays = good_arrays()
    arrays[argument] = value
    assert outcome(lambda: seedmatch.SeedSet.from_arrays(**arrays)) == "ValueError: " + message


@pytest.mark.filterwarnings("ignore::DeprecationWarning", "ignore::RuntimeWarning")
def test_random_arrays_never_crash():
    rng = np.random.default_rng(11)
    dtypes = [np.float64, np.float32, np.int32, np.int64, np.uint64, np.int8, bool, object, "U2"]
    values = [0, 1, -1, 2**31, np.nan, np.inf, 1e300]

    def junk(n):
        shape = (n, int(rng.integers(0, 5))) if rng.random() < 0.7 else \
            tuple(int(x) for x in rng.integers(0, 4, size=rng.integers(0, 4)))
        array = np.full(shape, values[rng.integers(len(values))], dtype=object)
        try:
            return array.astype(dtypes[rng.integers(len(dtypes))])
        except (ValueError, OverflowError, TypeError):
            return array

    outcomes = set()
    for _ in range(300):
        n = int(rng.integers(0, 4))
        arrays = good_arrays(n)
        for name in rng.choice(list(arrays), size=int(rng.integers(1, 3)), replace=False):
            arrays[name] = [junk(n) for _ in range(6)] if name == "descriptors" else junk(n)
        try:
            seeds = seedmatch.SeedSet.from_arrays(**arrays)
        except ValueError:
            outcomes.add("refused")
            continue
        outcomes.add("built")
        seedmatch.evaluate(seeds, seeds, seedmatch.match(seeds, seeds, 1, 1, 1, 9), 1, 1)
    assert outcomes == {"refused", "built"}


@pytest.mark.parametrize("name, text, message, place", [
    ("bad.seeds", b"1 0 0 0 0 0 0\n1 2 x",
     ":2:5: expected position z of seed 0 (a real number), found 'x'", (2, 5)),
    ("missing.seeds", None, ": cannot open: no such file", (None, None)),
    ("", None, ": cannot open: is a directory", (None, None)),
    ("missing/frame.seeds", "write", ": cannot create: no such file", (None, None)),
])
def test_file_errors_carry_file_line_and_column(tmp_path, forty, name, text, message, place):
    path = tmp_path / name
    if isinstance(text, bytes):
        path.write_bytes(text)
    with pytest.raises(ValueError) as refused:
        forty[0].write(path) if text == "write" else seedmatch.read_seeds(path)
    error = refused.value
    assert isinstance(error, seedmatch.SeedFileError)
    assert str(error) == f"seedmatch:{path}{message}"
    assert (error.path, error.line, error.column) == (str(path), *place)
    with pytest.raises(ValueError, match="^path must not contain a NUL byte$"):
        seedmatch.read_seeds(f"{path}\0.txt")


@pytest.mark.parametrize("name", ["frame.seeds", "frame.seeds.gz"])
def test_write_reads_back_bit_for_bit(tmp_path, forty, name):
    # Values of every magnitude are the writer's own tests' (writer_test); here, the binding's.
    forty[0].write(tmp_path / name)
    again = seedmatch.read_seeds(str(tmp_path / name))

    def every(s):
        return [s.positions, *s.descriptors, s.point_counts, s.distances, s.histograms]
    assert [a.tobytes() for a in every(again)] == [a.tobytes() for a in every(forty[0])]
    assert sorted(p.name for p in tmp_path.iterdir()) == [name]


@pytest.mark.parametrize("call, message", [
    (lambda s: seedmatch.match(s, s, "1", 1, 1, 1), "seed_weight must be a number, not str"),
    (lambda s: seedmatch.random_match(s, s, 1, 1, 1, 1j),
     "cost_limit must be a number, not complex"),
    (lambda s: seedmatch.match(s, [], 1, 1, 1, 1), "set2 must be a SeedSet, not list"),
    (lambda s: seedmatch.evaluate(s, s, s, 1, 1), "matching must be a Matching, not SeedSet"),
    (lambda s: seedmatch.pair_listing(1, s, None), "set1 must be a SeedSet, not int"),
    (lambda s: seedmatch.read_seeds(3), "path must be a str, bytes or os.PathLike, not int"),
    (lambda s: s.write(3), "path must be a str, bytes or os.PathLike, not int"),
])
def test_a_wrong_type_names_the_parameter(forty, call, message):
    assert outcome(lambda: call(forty[0])) == "TypeError: " + message

