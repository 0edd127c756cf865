"""A picture of a pairing: where the pairs go, what they cost, how far they move."""
from __future__ import annotations

import os

import numpy as np

# Beyond this many seeds in file 1 a projection of the whole scene is a tangle;
# the scene then shows a slab across its narrowest axis holding about this many.
SLAB_SEEDS = 400


def widest_axes(*positions: np.ndarray) -> tuple[int, int]:
    """The two coordinates along which the seeds spread furthest, in axis order."""
    points = np.concatenate([p for p in positions if len(p)]) if any(len(p) for p in positions) \
        else np.zeros((1, 3))
    spread = np.ptp(points, axis=0)
    first, second = sorted(np.argsort(-spread, kind="stable")[:2])
    return int(first), int(second)


def middle_slab(depth: np.ndarray) -> tuple[float, float]:
    """The closed range of depths holding the middle SLAB_SEEDS values (all of them if fewer)."""
    if len(depth) <= SLAB_SEEDS:
        return -np.inf, np.inf
    ordered = np.sort(depth)
    first = (len(ordered) - SLAB_SEEDS) // 2
    return float(ordered[first]), float(ordered[first + SLAB_SEEDS - 1])


def file_label(seeds, number: int) -> str:
    path = seeds.path
    return os.path.basename(path) if path else f"set {number}"


def title(report, size1: int, size2: int) -> str:
    """The summary in words."""
    if report.sum_cost is None:
        return f"no pair made between {size1} and {size2} seeds"
    stored, positions = f"{report.avg_rp:.3f}", f"{report.navg_rp:.3f}"
    error = stored if stored == positions else \
        f"{stored} (stored distances), {positions} (positions)"
    judged = report.consistency
    return (f"{len(report)} pairs of {size1} and {size2} seeds, mean cost "
            f"{report.avg_cost:.3f}, mean relative-position error {error}\n"
            f"estimated without known pairs: precision {judged.est_precision:.3f}, recall "
            f"{judged.est_recall:.3f}, F1 {judged.est_f1:.3f}; "
            f"{int((~judged.trusted).sum())} doubtful pairs")


def pairing_figure(set1, set2, report, cost_limit: float):
    """The figure that ``seedmatch.plot`` returns."""
    # Made without pyplot: it needs no display, renders with Agg when saved, and
    # leaves the caller's own backend alone. Imported here, so that the 3D view,
    # which shares the titles, works without matplotlib.
    from matplotlib.collections import LineCollection
    from matplotlib.figure import Figure

    pos1, pos2 = set1.positions, set2.positions
    a, b = widest_axes(pos1, pos2)
    depth = 3 - a - b
    name1, name2 = file_label(set1, 1), file_label(set2, 2)
    p, q = report.p, report.q

    low, high = middle_slab(pos1[:, depth])
    sliced = np.isfinite(low)
    shown1 = (pos1[:, depth] >= low) & (pos1[:, depth] <= high)
    shown2 = (pos2[:, depth] >= low) & (pos2[:, depth] <= high)
    matched1 = np.zeros(len(pos1), bool)
    matched1[p] = True
    matched2 = np.zeros(len(pos2), bool)
    matched2[q] = True
    # A pair is in the slab when its file-1 seed is; the costliest are drawn last, on top.
    pairs = np.flatnonzero(shown1[p])
    pairs = pairs[np.argsort(report.cost[pairs], kind="stable")]
    # Pairs that disagree with the pairs around them are drawn apart, dashed.
    judged = report.consistency
    doubtful = pairs[~judged.trusted[pairs]]
    pairs = pairs[judged.trusted[pairs]]

    fig = Figure(figsize=(11, 7), layout="constrained")
    grid = fig.add_gridspec(2, 2, width_ratios=(1.6, 1))
    scene = fig.add_subplot(grid[:, 0])
    costs = fig.add_subplot(grid[0, 1])
    moves = fig.add_subplot(grid[1, 1])

    def segments(chosen: np.ndarray) -> np.ndarray:
        return np.stack([pos1[p[chosen]][:, [a, b]], pos2[q[chosen]][:, [a, b]]], axis=1) \
            if len(chosen) else np.zeros((0, 2, 2))
    lines = LineCollection(segments(pairs), cmap="viridis", linewidths=1.5)
    lines.set_array(report.cost[pairs])
    scene.add_collection(lines)
    if len(pairs):
        fig.colorbar(lines, ax=scene, label="evaluation cost (trusted pairs)", shrink=0.8)
    in_all = " in all" if sliced else ""
    scene.add_collection(LineCollection(
        segments(doubtful), colors="tab:red", linewidths=1.5, linestyles="dashed",
        label=f"doubtful pairs ({(~judged.trusted).sum()}{in_all})"))
    pairs = np.concatenate([pairs, doubtful])

    size = 10 if sliced or len(pos1) > 100 else 16
    scene.scatter(*pos1[matched1 & shown1][:, [a, b]].T, s=size, c="tab:blue", linewidths=0,
                  label=f"{name1} (file 1)")
    scene.scatter(*pos2[q[pairs]][:, [a, b]].T, s=size, c="tab:orange", linewidths=0,
                  label=f"{name2} (file 2)")
    scene.scatter(*pos1[~matched1 & shown1][:, [a, b]].T, s=size * 4, marker="x", c="tab:red",
                  linewidths=1, label=f"unmatched in {name1} ({(~matched1).sum()}{in_all})")
    scene.scatter(*pos2[~matched2 & shown2][:, [a, b]].T, s=size * 4, marker="+",
                  c="tab:purple", linewidths=1,
                  label=f"unmatched in {name2} ({(~matched2).sum()}{in_all})")
    scene.set_xlabel("xyz"[a])
    scene.set_ylabel("xyz"[b])
    scene.set_aspect("equal", adjustable="datalim")
    scene.autoscale_view()
    scene.legend(loc="upper center", bbox_to_anchor=(0.5, -0.08), ncols=2,
                 fontsize="small", frameon=False)
    scene.set_title(f"the {len(pairs)} of {len(p)} pairs whose file-1 seed lies in "
                    f"{low:.4g} ≤ {'xyz'[depth]} ≤ {high:.4g}" if sliced
                    else "each pair a segment from file 1 to file 2", fontsize="medium")

    bins = int(np.clip(np.sqrt(len(p)), 10, 40))
    finite = report.stored_cost[np.isfinite(report.stored_cost)]
    costs.hist(finite, bins=bins, color="tab:gray")
    costs.axvline(cost_limit, color="tab:red", linestyle="--", label=f"cost limit {cost_limit:g}")
    costs.set_xlabel("stored cost of all pairs")
    costs.set_ylabel("pairs")
    costs.legend(fontsize="small")

    moves.hist(report.pos_disp, bins=bins, color="tab:green")
    moves.set_xlabel("displacement of all pairs")
    moves.set_ylabel("pairs")
    if len(p) > SLAB_SEEDS:  # the few pairs that moved far are the ones to see
        moves.set_yscale("log")
        moves.set_ylabel("pairs (log scale)")

    fig.suptitle(title(report, len(pos1), len(pos2)))
    summary = str(report).splitlines()[-1]  # the report's own summary line, as a caption
    fig.supxlabel(summary, fontsize="x-small", color="0.35")
    return fig
