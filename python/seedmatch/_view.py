"""A pairing in 3D: a plotly figure that a browser turns, zooms and hovers,
written as one page that opens offline."""
from __future__ import annotations

import math

import numpy as np

from ._picture import file_label, title

# The 2D picture's colours (matplotlib's tab10 and viridis), so both read alike.
# The markers are those whose glyphs every system font has ("x" often lacks one).
FILE1, FILE2, UNMATCHED1, UNMATCHED2 = "#1f77b4", "#ff7f0e", "#d62728", "#9467bd"
COST_COLOURS = "Viridis"
# The report's thirteen row fields, as the hover names them.
FIELDS = ("p", "q", "stored cost", "seedDist", "pcal", "evaluation cost", "dDesc0", "dDesc1",
          "dDesc2", "dPts01", "dDesc4", "dPts2", "displacement")
# Coordinates are rounded to this fraction of the scene's extent: a tenth of a
# pixel on a 10,000-pixel view, and a third of the page's size at 8,000 seeds.
RESOLUTION = 1e-5

PLOTLY_MISSING = "cannot import plotly, which the 3D view needs ({}); on Debian, " \
                 "apt-get install python3-plotly"


def need_plotly():
    """plotly.graph_objects, or ImportError saying how to install it."""
    try:
        import plotly.graph_objects as go
    except ImportError as error:
        raise ImportError(PLOTLY_MISSING.format(error)) from error
    return go


def decimals(*positions: np.ndarray) -> int:
    """Decimal places that keep every coordinate within RESOLUTION of the extent."""
    points = [p for p in positions if len(p)]
    if not points:
        return 0
    points = np.concatenate(points)
    finite = points[np.isfinite(points)]
    extent = float(np.ptp(finite)) if len(finite) else 0.0
    if extent == 0.0:
        extent = max(float(np.abs(finite).max()) if len(finite) else 0.0, 1.0)
    return max(0, math.ceil(-math.log10(extent * RESOLUTION)))


def rounded(points: np.ndarray, places: int) -> np.ndarray:
    return np.round(points, places)


def report_rows(report) -> list[list[str]]:
    """Each matched row's thirteen fields as the report prints them."""
    lines = str(report).splitlines()[:len(report)]
    return [line.split() for line in lines]


def segments(a: np.ndarray, b: np.ndarray) -> np.ndarray:
    """Rows a[k], b[k], NaN for each k: one polyline whose gaps part the segments."""
    out = np.full((3 * len(a), 3), np.nan)
    out[0::3], out[1::3] = a, b
    return out


def xyz(points: np.ndarray) -> dict:
    """x, y, z columns; a NaN is written as null, plotly's gap in a line."""
    return {axis: points[:, k] for k, axis in enumerate("xyz")}


def pair_trace(go, name: str, pos1, pos2, rows, cost, trust, dash: str, places: int):
    """One trace drawing the given pairs, each a segment coloured by its cost."""
    points = rounded(segments(pos1, pos2), places)
    data = [row + ([f"{t:.2f}"] if trust is not None else []) for row, t in
            zip(rows, trust if trust is not None else [None] * len(rows))]
    custom = [item for row in data for item in (row, row, None)]
    colour = np.repeat(cost, 3)
    trusted = "<br>trust %{customdata[13]}" if trust is not None else ""
    template = ("file 1 seed %{customdata[0]} → file 2 seed %{customdata[1]}<br>"
                "stored cost %{customdata[2]}<br>evaluation cost %{customdata[5]} = "
                "seedDist %{customdata[3]}, pcal %{customdata[4]}<br>"
                "dDesc0 %{customdata[6]}  dDesc1 %{customdata[7]}  dDesc2 %{customdata[8]}<br>"
                "dPts01 %{customdata[9]}  dDesc4 %{customdata[10]}  dPts2 %{customdata[11]}<br>"
                "displacement %{customdata[12]}" + trusted + "<extra></extra>")
    return go.Scatter3d(name=name, mode="lines", **xyz(points), customdata=custom,
                        hovertemplate=template,
                        line=dict(color=colour, coloraxis="coloraxis", width=4,
                                  dash=dash))


def seed_trace(go, name: str, points, indices, file: int, symbol: str, colour: str,
               size: float, places: int, hover: bool):
    """The seeds at indices of one file as markers."""
    extra = dict(customdata=indices,
                 hovertemplate=f"file {file} seed %{{customdata}}, unmatched<extra></extra>") \
        if hover else dict(hoverinfo="skip")
    return go.Scatter3d(name=name, mode="markers", **xyz(rounded(points[indices], places)),
                        marker=dict(symbol=symbol, color=colour, size=size, line_width=0),
                        **extra)


def pairing_view(set1, set2, report, cost_limit: float):
    """The figure that ``seedmatch.view`` returns."""
    go = need_plotly()
    pos1, pos2 = set1.positions, set2.positions
    name1, name2 = file_label(set1, 1), file_label(set2, 2)
    p, q = report.p, report.q
    places = decimals(pos1, pos2)
    rows = report_rows(report)
    score = report.consistency.score if len(report) else None
    trusted = score > 0.5 if score is not None else np.ones(len(p), bool)
    matched1 = np.zeros(len(pos1), bool)
    matched1[p] = True
    matched2 = np.zeros(len(pos2), bool)
    matched2[q] = True
    size = 3 if len(pos1) + len(pos2) > 2000 else 5

    traces = [
        # Matched seeds answer no hover: the pair's segment, which ends on them, does.
        seed_trace(go, f"{name1} (file 1)", pos1, np.flatnonzero(matched1), 1, "circle",
                   FILE1, size, places, hover=False),
        seed_trace(go, f"{name2} (file 2)", pos2, np.flatnonzero(matched2), 2, "circle",
                   FILE2, size, places, hover=False),
    ]
    for kept, name, dash in ((trusted, f"pairs ({int(trusted.sum())})", "solid"),
                             (~trusted, f"doubtful pairs ({int((~trusted).sum())})", "dash")):
        if kept.any() or dash == "solid":
            k = np.flatnonzero(kept)
            traces.append(pair_trace(go, name, pos1[p[k]], pos2[q[k]], [rows[i] for i in k],
                                     report.cost[k], score[k] if score is not None else None,
                                     dash, places))
    traces += [
        seed_trace(go, f"unmatched in {name1} ({int((~matched1).sum())})", pos1,
                   np.flatnonzero(~matched1), 1, "diamond", UNMATCHED1, size + 1, places, hover=True),
        seed_trace(go, f"unmatched in {name2} ({int((~matched2).sum())})", pos2,
                   np.flatnonzero(~matched2), 2, "cross", UNMATCHED2, size + 1, places,
                   hover=True),
    ]
    finite = report.cost[np.isfinite(report.cost)]
    low, high = (float(finite.min()), float(finite.max())) if len(finite) else (0.0, 1.0)
    summary = str(report).splitlines()[-1]
    layout = go.Layout(
        title=dict(text=title(report, len(pos1), len(pos2)), x=0.5, font_size=15),
        scene=dict(aspectmode="data", xaxis_title="x", yaxis_title="y", zaxis_title="z"),
        coloraxis=dict(colorscale=COST_COLOURS, cmin=low, cmax=high,
                       colorbar=dict(title="evaluation cost", len=0.6)),
        legend=dict(itemsizing="constant", x=0, y=1),
        margin=dict(l=0, r=0, t=50, b=30),
        annotations=[dict(text=f"{summary}   (cost limit {cost_limit:g})", showarrow=False,
                          xref="paper", yref="paper", x=0.5, y=0, yanchor="top",
                          font=dict(size=10, color="#595959"))],
        paper_bgcolor="white")
    return go.Figure(data=traces, layout=layout)
