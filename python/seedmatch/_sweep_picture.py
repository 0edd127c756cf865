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


def describe(row: np.ndarray, field: str, label: str) -> str:
    """The weighting of row in words, with its F1s."""
    scores = f"{label} {row[field]:.4f}"
    if field == "est_f1" and "f1" in row.dtype.names:
        scores += f" (true F1 {row['f1']:.4f})"
    return (f"{scores}: seed weight {row['seed_weight']:g}, hist weight {row['hist_weight']:g}, "
            f"rpd weight {row['rpd_weight']:g}, cost limit {row['cost_limit']:g}, "
            f"{row['pairs']} pairs")


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
    names = table.dtype.names
    fields = [(f, label) for f, label in (("f1", "F1"), ("est_f1", "estimated F1"))
              if f in names]
    if fields:
        cmaps = ["viridis"] * len(fields)
        # One colour scale for all, so that true and estimated F1 compare by eye.
        shared = np.concatenate([table[f] for f, _ in fields])
    else:  # a table from before the estimate
        fields = [("pairs", "pairs made"), ("navg_rp", "navg_rp (lower is closer)")]
        cmaps = ["viridis", "magma_r"]
        shared = None
    best = {f: table[int(np.nanargmax(table[f]))] for f, _ in fields
            if f in ("f1", "est_f1") and np.isfinite(table[f]).any()}

    columns = len(fields) * len(limits)
    cell = 0.55 + 0.05 * max(len(rpds), 4)
    fig = Figure(figsize=(max(6.5, 1.2 + columns * cell * max(len(rpds), 2) * 0.75),
                          1.2 + len(hists) * cell * max(len(seeds), 2) * 0.6),
                 layout="constrained")
    axes = fig.subplots(len(hists), columns, squeeze=False, sharex=True, sharey=True)
    for f, ((field, label), cmap) in enumerate(zip(fields, cmaps)):
        values_all = shared if shared is not None else table[field]
        finite = values_all[np.isfinite(values_all)]
        # The table's own range, so that close candidates still differ in colour.
        low, high = (finite.min(), finite.max()) if len(finite) else (0.0, 1.0)
        for h, hist in enumerate(hists):
            for c, limit in enumerate(limits):
                ax = axes[h, f * len(limits) + c]
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
                top = best.get(field)
                if top is not None and top["hist_weight"] == hist \
                        and top["cost_limit"] == limit:
                    ax.scatter([rpds.index(top["rpd_weight"])],
                               [seeds.index(top["seed_weight"])], s=900, marker="o",
                               facecolors="none", edgecolors="red", linewidths=2)
                ax.set_title(f"{label}\nhist {hist:g}, limit {limit:g}", fontsize="medium")
                ax.set_xticks(range(len(rpds)), [f"{v:g}" for v in rpds])
                ax.set_yticks(range(len(seeds)), [f"{v:g}" for v in seeds])
                if f * len(limits) + c == 0:
                    ax.set_ylabel("seed weight")
                if h == len(hists) - 1:
                    ax.set_xlabel("rpd weight")
        fig.colorbar(image, ax=axes[:, f * len(limits):(f + 1) * len(limits)].ravel().tolist(),
                     label=label, shrink=0.9)
    if best:
        fig.suptitle("\n".join(f"best {describe(row, field, dict(fields)[field])} (ringed)"
                               for field, row in best.items()), fontsize="medium")
    return fig
