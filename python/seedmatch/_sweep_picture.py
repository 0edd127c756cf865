"""A picture of a sweep: heat maps over seed weight x rpd weight."""
from __future__ import annotations

import numpy as np
from matplotlib.figure import Figure


def cell_grid(table: np.ndarray, field: str, hist: float, limit: float, seeds, rpds):
    """field over (seed weight, rpd weight) for one hist weight and cost limit;
    NaN where the table has no such weighting."""
    values = np.full((len(seeds), len(rpds)), np.nan)
    rows = table[(table["hist_weight"] == hist) & (table["cost_limit"] == limit)]
    for row in rows:
        values[seeds.index(row["seed_weight"]), rpds.index(row["rpd_weight"])] = row[field]
    return values


def sweep_figure(table: np.ndarray) -> Figure:
    """The figure that ``seedmatch.plot_sweep`` returns."""
    if len(table) == 0:
        raise ValueError("table holds no weighting to draw")
    for name in ("seed_weight", "hist_weight", "rpd_weight", "cost_limit"):
        if np.isnan(table[name]).any():
            raise ValueError(f"a {name.replace('_', ' ')} of NaN has no place on the "
                             "picture's axes")
    seeds = sorted(set(table["seed_weight"].tolist()))
    rpds = sorted(set(table["rpd_weight"].tolist()))
    hists = sorted(set(table["hist_weight"].tolist()))
    limits = sorted(set(table["cost_limit"].tolist()))
    scored = "f1" in table.dtype.names
    fields = [("f1", "F1", "viridis")] if scored else [
        ("pairs", "pairs made", "viridis"), ("navg_rp", "navg_rp (lower is closer)", "magma_r")]
    best = table[int(np.argmax(table["f1"]))] if scored and len(table) else None

    rows = len(hists) * len(fields)
    cell = 0.55 + 0.05 * max(len(rpds), 4)
    fig = Figure(figsize=(max(6.5, 1.2 + len(limits) * cell * max(len(rpds), 2) * 0.75),
                          0.9 + rows * cell * max(len(seeds), 2) * 0.6), layout="constrained")
    axes = fig.subplots(rows, len(limits), squeeze=False, sharex=True, sharey=True)
    for f, (field, label, cmap) in enumerate(fields):
        finite = table[field][np.isfinite(table[field])] if len(table) else np.array([])
        # The table's own range, so that close candidates still differ in colour.
        low, high = (finite.min(), finite.max()) if len(finite) else (0.0, 1.0)
        for h, hist in enumerate(hists):
            for c, limit in enumerate(limits):
                ax = axes[f * len(hists) + h, c]
                values = cell_grid(table, field, hist, limit, seeds, rpds)
                image = ax.imshow(values, cmap=cmap, vmin=low, vmax=high, aspect="auto")
                for (i, j), v in np.ndenumerate(values):
                    if np.isfinite(v):
                        text = f"{v:.0f}" if field == "pairs" else f"{v:.3f}"
                        dark = (v - low) / ((high - low) or 1.0) < 0.55
                        if cmap.endswith("_r"):
                            dark = not dark
                        ax.text(j, i, text, ha="center", va="center", fontsize="small",
                                color="white" if dark else "black")
                if best is not None and best["hist_weight"] == hist \
                        and best["cost_limit"] == limit:
                    ax.scatter([rpds.index(best["rpd_weight"])],
                               [seeds.index(best["seed_weight"])], s=900, marker="o",
                               facecolors="none", edgecolors="red", linewidths=2)
                ax.set_title(f"hist {hist:g}, limit {limit:g}", fontsize="medium")
                ax.set_xticks(range(len(rpds)), [f"{v:g}" for v in rpds])
                ax.set_yticks(range(len(seeds)), [f"{v:g}" for v in seeds])
                if c == 0:
                    ax.set_ylabel("seed weight")
                if f * len(hists) + h == rows - 1:
                    ax.set_xlabel("rpd weight")
        fig.colorbar(image, ax=axes[f * len(hists):(f + 1) * len(hists), :].ravel().tolist(),
                     label=label, shrink=0.9)
    if best is not None:
        fig.suptitle(f"best F1 {best['f1']:.4f} (ringed): seed weight {best['seed_weight']:g}, "
                     f"hist weight {best['hist_weight']:g}, rpd weight {best['rpd_weight']:g}, "
                     f"cost limit {best['cost_limit']:g}\n{best['pairs']} pairs, precision "
                     f"{best['precision']:.4f}, recall {best['recall']:.4f}", fontsize="medium")
    return fig
