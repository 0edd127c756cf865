"""A picture of a pairing: where the pairs go, what they cost, how far they move."""
from __future__ import annotations

# Figures are made without pyplot: they need no display, render with Agg when
# saved, and leave the caller's own backend alone.
import numpy as np
from matplotlib.collections import LineCollection
from matplotlib.figure import Figure


def widest_axes(*positions: np.ndarray) -> tuple[int, int]:
    """The two coordinates along which the seeds spread furthest, in axis order."""
    points = np.concatenate([p for p in positions if len(p)]) if any(len(p) for p in positions) \
        else np.zeros((1, 3))
    spread = np.ptp(points, axis=0)
    first, second = sorted(np.argsort(-spread, kind="stable")[:2])
    return int(first), int(second)


def summary_title(report) -> str:
    if report.sum_cost is None:
        return "no pair made"
    return (f"{len(report)} pairs of {report.rows} rows   SUM {report.sum_cost:.3f}   "
            f"AVG {report.avg_cost:.3f}   avgRP {report.avg_rp:.3f}   "
            f"navgRP {report.navg_rp:.3f}\nAVGSd {report.avg_d_desc0:.3f} "
            f"{report.avg_d_desc1:.3f} {report.avg_d_desc2:.3f} {report.avg_d_pts01:.3f} "
            f"{report.avg_d_desc4:.3f} {report.avg_d_pts2:.3f}")


def pairing_figure(set1, set2, report, cost_limit: float) -> Figure:
    """The figure that ``seedmatch.plot`` returns."""
    pos1, pos2 = set1.positions, set2.positions
    a, b = widest_axes(pos1, pos2)
    p = report.p.astype(np.intp)
    q = report.q.astype(np.intp)
    many = max(len(pos1), len(pos2)) > 300
    size, alpha = (4, 0.5) if many else (16, 0.8)

    fig = Figure(figsize=(11, 6.5), layout="constrained")
    grid = fig.add_gridspec(2, 2, width_ratios=(1.6, 1))
    scene = fig.add_subplot(grid[:, 0])
    costs = fig.add_subplot(grid[0, 1])
    moves = fig.add_subplot(grid[1, 1])

    segments = np.stack([pos1[p][:, [a, b]], pos2[q][:, [a, b]]], axis=1) if len(p) \
        else np.zeros((0, 2, 2))
    lines = LineCollection(segments, cmap="viridis", linewidths=1.0 if many else 1.5,
                           alpha=0.9)
    lines.set_array(report.cost)
    scene.add_collection(lines)
    if len(p):
        fig.colorbar(lines, ax=scene, label="evaluation cost", shrink=0.8)

    matched1 = np.zeros(len(pos1), bool)
    matched1[p] = True
    matched2 = np.zeros(len(pos2), bool)
    matched2[q] = True
    scene.scatter(pos1[matched1, a], pos1[matched1, b], s=size, c="tab:blue", alpha=alpha,
                  linewidths=0, label="file 1")
    scene.scatter(pos2[matched2, a], pos2[matched2, b], s=size, c="tab:orange", alpha=alpha,
                  linewidths=0, label="file 2")
    scene.scatter(pos1[~matched1, a], pos1[~matched1, b], s=size * 4, marker="x",
                  c="tab:red", linewidths=1, label=f"unmatched in file 1 ({(~matched1).sum()})")
    scene.scatter(pos2[~matched2, a], pos2[~matched2, b], s=size * 4, marker="+",
                  c="tab:purple", linewidths=1,
                  label=f"unmatched in file 2 ({(~matched2).sum()})")
    scene.set_xlabel("xyz"[a])
    scene.set_ylabel("xyz"[b])
    scene.set_aspect("equal", adjustable="datalim")
    scene.autoscale_view()
    scene.legend(loc="upper right", fontsize="small", markerscale=1.5, framealpha=0.8)
    scene.set_title("pairs, coloured by evaluation cost")

    bins = "auto" if len(p) > 1 else 10
    finite = report.stored_cost[np.isfinite(report.stored_cost)]
    costs.hist(finite, bins=bins, color="tab:gray")
    costs.axvline(cost_limit, color="tab:red", linestyle="--", label=f"cost limit {cost_limit:g}")
    costs.set_xlabel("stored cost")
    costs.set_ylabel("pairs")
    costs.legend(fontsize="small")

    moves.hist(report.pos_disp, bins=bins, color="tab:green")
    moves.set_xlabel("displacement")
    moves.set_ylabel("pairs")

    fig.suptitle(summary_title(report), fontsize="medium")
    return fig
