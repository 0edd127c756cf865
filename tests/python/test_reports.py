"""Reports and listings from Python equal the commands' output byte for byte, and
every field at full precision equals a recomputation in Python's own doubles."""
import math

import numpy as np
import pytest

import seedmatch
from conftest import EXAMPLES, run_command

WEIGHTS = [
    (1, 0.5, 1, 2),      # the usual weights
    (1, 0.5, 0, 2),      # no rpd term: stored cost equals the evaluation cost
    (1, 0.5, -1, 2),     # negative rpdWeight: the engine's dense path
    (1, 0.5, 1, 6),      # contested: the pass limit is reached
    (1, 0.5, 1, 0),      # nothing is below the limit: the fixed line
    (0.3, 2.0, 0.7, 1.1),
]


def total(values):
    """Added one by one, first to last."""
    result = 0.0
    for value in values:
        result = result + value
    return result


def l2(a, b):
    return math.sqrt(total((x - y) * (x - y) for x, y in zip(a, b)))


def pts_diff(a, b):  # in single precision, then divided in double
    return float(abs(np.float32(a) - np.float32(b))) / 250.0


def recomputed(set1, set2, table, seed_weight, hist_weight):
    """The report's fields from the seeds, in plain Python doubles and NumPy element-wise."""
    rows = [(int(p), int(q), cost) for p, q, cost in table.tolist() if cost != -1.0]
    p, q = (np.array([row[k] for row in rows], np.int64) for k in (0, 1))
    fields = {name: [] for name in ("seed_dist", "pcal", "cost", "d_desc0", "d_desc1",
                                    "d_desc2", "d_pts01", "d_desc4", "d_pts2", "pos_disp")}
    for i, j, _ in rows:
        d1, d2 = [s1[i] for s1 in set1.descriptors], [s2[j] for s2 in set2.descriptors]
        c1, c2 = set1.point_counts[i], set2.point_counts[j]
        terms = [l2(d1[0], d2[0]), l2(d1[1], d2[1]), l2(d1[2], d2[2]),
                 pts_diff(c1[0], c2[0]) + pts_diff(c1[1], c2[1]), l2(d1[4], d2[4]),
                 pts_diff(c1[2], c2[2])]
        seed_dist = total(w * t for w, t in zip((1.0, 0.8, 1.4, 0.8, 0.1, 0.2), terms))
        hist = l2(set1.histograms[i], set2.histograms[j])
        for name, value in zip(fields, [seed_dist, hist, seed_weight * seed_dist +
                                        hist_weight * hist, *terms,
                                        l2(set1.positions[i], set2.positions[j])]):
            fields[name].append(value)
    n = len(table)
    fields.update(p=p, q=q, stored_cost=[r[2] for r in rows], sum_cost=total(fields["cost"]),
                  avg_cost=total(fields["cost"]) / n)
    for name in ("d_desc0", "d_desc1", "d_desc2", "d_pts01", "d_desc4", "d_pts2"):
        fields["avg_" + name] = total(fields[name]) / n

    def average(within):  # over pairs of matched rows i < j, i ascending, then j
        terms = [abs(within(set1, p[i], p[j]) - within(set2, q[i], q[j]))
                 for i in range(len(p)) for j in range(i + 1, len(p))]
        return 4.0 if n < 2 else total(terms) / len(terms)

    fields["avg_rp"] = average(lambda seeds, a, b: seeds.distances[a, b])
    fields["navg_rp"] = average(lambda seeds, a, b: l2(seeds.positions[a], seeds.positions[b]))
    return fields


def bits(value):
    return np.asarray(value, np.float64).tobytes()


@pytest.mark.parametrize("name", ["three", "forty", 60, 300])
@pytest.mark.parametrize("weights", WEIGHTS)
def test_report_and_listing_equal_the_commands(generated, name, weights):
    file1, file2 = generated[name]
    set1, set2 = seedmatch.read_seeds(file1), seedmatch.read_seeds(file2)
    matching = seedmatch.match(set1, set2, *weights)
    report = seedmatch.evaluate(set1, set2, matching, *weights[:2])

    assert str(report) == run_command("seedmatch", file1, file2, *weights)
    assert seedmatch.pair_listing(set1, set2, matching) == run_command(
        "seedmatch-pairs", file1, file2, *weights)
    assert report.rows == len(matching.table)
    assert report.p.dtype == report.q.dtype == matching.pairs.dtype == np.int64
    assert matching.pairs.tolist() == np.column_stack([report.p, report.q]).tolist()
    if report.sum_cost is None:
        assert len(matching.table) == 0 and len(report) == 0
        return
    for field, expected in recomputed(set1, set2, matching.table, *weights[:2]).items():
        assert bits(getattr(report, field)) == bits(expected), field


def test_matching_of_other_sets_is_refused():
    big1, big2, small = (seedmatch.read_seeds(EXAMPLES / f"{name}.seeds")
                         for name in ("forty_a", "forty_b", "three_a"))
    matching = seedmatch.match(big1, big2, 1, 0.5, 1, 2)
    with pytest.raises(ValueError, match="^the matching was made from other seed sets"):
        seedmatch.evaluate(small, big2, matching, 1, 0.5)
    with pytest.raises(ValueError, match="^the matching was made from other seed sets"):
        seedmatch.pair_listing(big1, small, matching)


def test_threads_give_the_results_of_one(generated):
    from concurrent.futures import ThreadPoolExecutor
    set1, set2 = (seedmatch.read_seeds(f) for f in generated[300])
    alone = seedmatch.match(set1, set2, 1, 0.5, 1, 6).table.tobytes()
    with ThreadPoolExecutor(2) as pool:
        tables = list(pool.map(lambda _: seedmatch.match(set1, set2, 1, 0.5, 1, 6).table.tobytes(),
                               range(4)))
    assert tables == [alone] * 4
