"""Reports and listings from Python equal the commands' output byte for byte, and
the fields at full precision are the ones the text shows."""
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


def pair_files(generated, name):
    if name in ("three", "forty"):
        return EXAMPLES / f"{name}_a.seeds", EXAMPLES / f"{name}_b.seeds"
    return generated[name]


def row_line(report, i):
    fields = [getattr(report, f)[i] for f in (
        "stored_cost", "seed_dist", "pcal", "cost", "d_desc0", "d_desc1", "d_desc2",
        "d_pts01", "d_desc4", "d_pts2", "pos_disp")]
    return "%2d %2d " % (report.p[i], report.q[i]) + " ".join("%6.3f" % v for v in fields)


def summary_line(r):
    return ("SUM: %6.3f AVG: %6.3f avgRP: %6.3f navgRP: %6.3f" % (
        r.sum_cost, r.avg_cost, r.avg_rp, r.navg_rp) + " AVGSd:" + "".join(" %6.3f" % v for v in (
            r.avg_d_desc0, r.avg_d_desc1, r.avg_d_desc2, r.avg_d_pts01, r.avg_d_desc4,
            r.avg_d_pts2)))


@pytest.mark.parametrize("name", ["three", "forty", 60, 300])
@pytest.mark.parametrize("weights", WEIGHTS)
def test_report_and_listing_equal_the_commands(generated, name, weights):
    file1, file2 = pair_files(generated, name)
    set1, set2 = seedmatch.read_seeds(file1), seedmatch.read_seeds(file2)
    matching = seedmatch.match(set1, set2, *weights)
    report = seedmatch.evaluate(set1, set2, matching, *weights[:2])

    assert str(report) == run_command("seedmatch", file1, file2, *weights)
    assert seedmatch.pair_listing(set1, set2, matching) == run_command(
        "seedmatch-pairs", file1, file2, *weights)

    lines = str(report).splitlines()
    if report.sum_cost is None:
        assert len(matching.table) == 0 and len(report) == 0 and len(lines) == 1
        return
    assert report.rows == len(matching.table)
    assert lines == [row_line(report, i) for i in range(len(report))] + [summary_line(report)]
    assert weights[3] <= 0 or (report.stored_cost < weights[3]).all()


def test_random_baseline_reports_like_its_command():
    set1 = seedmatch.read_seeds(EXAMPLES / "forty_a.seeds")
    set2 = seedmatch.read_seeds(EXAMPLES / "forty_b.seeds")
    matching = seedmatch.random_match(set1, set2, 1, 0.5, 1, 2)
    assert matching.passes is None
    table = matching.table  # each seed in one row at most
    assert len(set(table[:, 0])) == len(set(table[:, 1])) == len(table) > 0
    report = seedmatch.evaluate(set1, set2, matching, 1, 0.5)
    assert str(report).splitlines()[:-1] == [row_line(report, i) for i in range(len(report))]


def test_matching_of_other_sets_is_refused():
    big1 = seedmatch.read_seeds(EXAMPLES / "forty_a.seeds")
    big2 = seedmatch.read_seeds(EXAMPLES / "forty_b.seeds")
    small = seedmatch.read_seeds(EXAMPLES / "three_a.seeds")
    matching = seedmatch.match(big1, big2, 1, 0.5, 1, 2)
    with pytest.raises(ValueError, match="^matching does not fit these seed sets: match row "):
        seedmatch.evaluate(small, big2, matching, 1, 0.5)
    with pytest.raises(ValueError, match="outside seed set 2"):
        seedmatch.pair_listing(big1, small, matching)


def test_threads_give_the_results_of_one(generated):
    from concurrent.futures import ThreadPoolExecutor
    set1, set2 = (seedmatch.read_seeds(f) for f in generated[300])
    alone = seedmatch.match(set1, set2, 1, 0.5, 1, 6).table.tobytes()
    with ThreadPoolExecutor(2) as pool:
        tables = list(pool.map(lambda _: seedmatch.match(set1, set2, 1, 0.5, 1, 6).table.tobytes(),
                               range(4)))
    assert tables == [alone] * 4
