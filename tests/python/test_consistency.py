"""The estimate without known pairs: its record, its arguments, the report's."""
import pickle

import numpy as np
import pytest

import seedmatch
from conftest import outcome


def fields(c):
    return (c.pairs.tolist(), c.score.tolist(), c.trusted.tolist(), c.est_true_pairs,
            c.est_missed_pairs, c.est_precision, c.est_recall, c.est_f1, c.neighbours)


def test_a_matching_and_its_pairs_give_one_estimate(forty):
    a, b, m = forty
    c = seedmatch.consistency(a, b, m)
    assert fields(c) == fields(seedmatch.consistency(a, b, m.pairs)) \
        == fields(seedmatch.consistency(a, b, m.pairs.astype(np.uint32).tolist()))
    assert c.pairs.tolist() == m.pairs.tolist() and len(c) == len(m.pairs) == 35
    assert (c.pairs.dtype, c.score.dtype, c.trusted.dtype) == (np.int64, np.float64, bool)
    assert all(not v.flags.writeable for v in (c.pairs, c.score, c.trusted))
    assert c.neighbours == 10 and seedmatch.consistency(a, b, m, neighbours=4).neighbours == 4
    with pytest.raises(AttributeError):
        c.est_f1 = 1.0


@pytest.mark.parametrize("pairs, neighbours, error, message", [
    ([[0, 1, 2]], None, ValueError, "pairs must be a Matching or an (M, 2) array of integers, "
                                    "got an array of shape (1, 3) and type int64"),
    ([[0.0, 1.0]], None, ValueError, "pairs must be a Matching or an (M, 2) array of integers, "
                                     "got an array of shape (1, 2) and type float64"),
    ([[0, -1]], None, ValueError, "pairs[0, 1] = -1 is outside set2, which holds 39 seeds"),
    ([[0, 2**40]], None, ValueError, "pairs[0, 1] = 1099511627776 is outside set2, which holds "
                                     "39 seeds"),
    ([[0, 0]], 0, ValueError, "neighbours must be a whole number of at least 1, not 0"),
    ([[0, 0]], 2.5, ValueError, "neighbours must be a whole number of at least 1, not 2.5"),
    ([[0, 0]], "4", TypeError, "neighbours must be a number, not str"),
])
def test_refuses_what_it_cannot_judge(forty, pairs, neighbours, error, message):
    a, b, _ = forty
    assert outcome(lambda: seedmatch.consistency(a, b, pairs, neighbours=neighbours)) == \
        f"{error.__name__}: {message}"


def test_extra_distances_are_not_read(forty):
    # A file may store more distances than it has seeds; only the first N count.
    a, b, m = forty
    wide = np.hstack([a.distances, np.full((len(a), 3), 1e9)])
    a2 = seedmatch.SeedSet.from_arrays(a.positions, a.descriptors, a.point_counts, wide)
    assert fields(seedmatch.consistency(a2, b, m)) == fields(seedmatch.consistency(a, b, m))


def test_the_report_judges_its_rows(forty):
    a, b, m = forty
    report = seedmatch.evaluate(a, b, m, 1, 0.5)
    c = report.consistency
    assert c is report.consistency
    assert fields(c) == fields(seedmatch.consistency(a, b, np.stack([report.p, report.q], 1)))
    again = pickle.loads(pickle.dumps(seedmatch.evaluate(a, b, m, 1, 0.5)))
    assert fields(again.consistency) == fields(c) and str(again) == str(report)
