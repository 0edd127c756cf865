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
# Coordinates are rounded to this fraction of the scene's extent: a tenth of a
# pixel on a view 10,000 pixels across.
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


def report_rows(report) -> list[list[str]]:
    """Each matched row's thirteen fields as the report prints them."""
    lines = str(report).splitlines()[:len(report)]
    return [line.split() for line in lines]


def segments(a: np.ndarray, b: np.ndarray) -> np.ndarray:
    """Rows a[k], b[k], NaN for each k: one polyline whose gaps part the segments."""
    out = np.full((3 * len(a), 3), np.nan)
    out[0::3], out[1::3] = a, b
    return out


def at_both_ends(rows: list) -> np.ndarray:
    """Per segment of `segments`, its row at both ends and None at the gap; an
    object array, which plotly takes without checking every item."""
    out = np.full(3 * len(rows), None, dtype=object)
    for k, row in enumerate(rows):
        out[3 * k] = out[3 * k + 1] = row
    return out


def xyz(points: np.ndarray, places: int) -> dict:
    """x, y, z columns rounded to places; a NaN is written as null, plotly's gap in a line."""
    points = np.round(points, places)
    return {axis: points[:, k] for k, axis in enumerate("xyz")}


# A pair's hover: its line of the report, then its trust score.
PAIR_HOVER = ("file 1 seed %{customdata[0]} → file 2 seed %{customdata[1]}<br>"
              "stored cost %{customdata[2]}<br>evaluation cost %{customdata[5]} = "
              "seedDist %{customdata[3]}, pcal %{customdata[4]}<br>"
              "dDesc0 %{customdata[6]}  dDesc1 %{customdata[7]}  dDesc2 %{customdata[8]}<br>"
              "dPts01 %{customdata[9]}  dDesc4 %{customdata[10]}  dPts2 %{customdata[11]}<br>"
              "displacement %{customdata[12]}<br>trust %{customdata[13]}<extra></extra>")


def pair_trace(go, name: str, pos1, pos2, rows, cost, dash: str, places: int):
    """One trace drawing the given pairs, each a segment coloured by its cost."""
    return go.Scatter3d(name=name, mode="lines", **xyz(segments(pos1, pos2), places),
                        customdata=at_both_ends(rows), hovertemplate=PAIR_HOVER,
                        line=dict(color=np.repeat(cost, 3), coloraxis="coloraxis", width=4,
                                  dash=dash))


def seed_trace(go, name: str, points, symbol: str, colour: str, size: float, places: int,
               customdata, template: str):
    """Seeds as markers, each with its hover data."""
    custom = np.empty(len(customdata), dtype=object)
    for k, item in enumerate(customdata):
        custom[k] = item
    return go.Scatter3d(name=name, mode="markers", **xyz(points, places), customdata=custom,
                        hovertemplate=template,
                        marker=dict(symbol=symbol, color=colour, size=size, line_width=0))


def pairing_view(set1, set2, report, cost_limit: float):
    """The figure that ``seedmatch.view`` returns."""
    go = need_plotly()
    pos1, pos2 = set1.positions, set2.positions
    name1, name2 = file_label(set1, 1), file_label(set2, 2)
    p, q = report.p, report.q
    places = decimals(pos1, pos2)
    score = report.consistency.score if len(report) else np.zeros(0)
    rows = [row + [f"{t:.2f}"] for row, t in zip(report_rows(report), score)]
    trusted = score > 0.5
    unmatched1 = np.setdiff1d(np.arange(len(pos1)), p)
    unmatched2 = np.setdiff1d(np.arange(len(pos2)), q)
    size = 3 if len(pos1) + len(pos2) > 2000 else 5

    # A pair answers the hover at both its seeds and both ends of its segment,
    # whichever the browser finds on top.
    traces = [seed_trace(go, f"{name1} (file 1)", pos1[p], "circle", FILE1, size, places,
                         rows, PAIR_HOVER),
              seed_trace(go, f"{name2} (file 2)", pos2[q], "circle", FILE2, size, places,
                         rows, PAIR_HOVER)]
    for kept, name, dash in ((trusted, f"pairs ({int(trusted.sum())})", "solid"),
                             (~trusted, f"doubtful pairs ({int((~trusted).sum())})", "dash")):
        if kept.any() or dash == "solid":
            k = np.flatnonzero(kept)
            traces.append(pair_trace(go, name, pos1[p[k]], pos2[q[k]], [rows[i] for i in k],
                                     report.cost[k], dash, places))
    traces += [
        seed_trace(go, f"unmatched in {name1} ({len(unmatched1)})", pos1[unmatched1], "diamond",
                   UNMATCHED1, size + 1, places, unmatched1.tolist(),
                   "file 1 seed %{customdata}, unmatched<extra></extra>"),
        seed_trace(go, f"unmatched in {name2} ({len(unmatched2)})", pos2[unmatched2], "cross",
                   UNMATCHED2, size + 3, places, unmatched2.tolist(),
                   "file 2 seed %{customdata}, unmatched<extra></extra>"),
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


# Tracklets take colours spread round a cyclic scale, so that ids made one
# after another (neighbours in a frame) differ.
TRACKLET_COLOURS = "HSV"
GOLDEN = (math.sqrt(5) - 1) / 2


def tracklet_hue(track_id: np.ndarray) -> np.ndarray:
    return np.round(np.mod(np.asarray(track_id, float) * GOLDEN, 1.0), 3)


def polylines(points: np.ndarray, groups: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """Points of each group in order as one polyline, groups parted by a NaN row;
    returns the rows and, per row, its group (the gap's is its group's too)."""
    order = np.argsort(groups, kind="stable")
    points, groups = points[order], groups[order]
    starts = np.flatnonzero(np.r_[True, groups[1:] != groups[:-1]]) if len(groups) else \
        np.zeros(0, int)
    rows = np.insert(points, starts[1:], np.nan, axis=0) if len(starts) else points
    owner = np.insert(groups, starts[1:], groups[starts[1:] - 1]) if len(starts) else groups
    return rows, owner


def frame_traces(go, tracks, t: int, places: int, size: float) -> list:
    """Frame t's seeds, and its links to frame t+1 as segments."""
    nodes = tracks.nodes[tracks.nodes["t"] == t]
    xyz_t = np.stack([nodes["x"], nodes["y"], nodes["z"]], axis=1)
    seeds = go.Scatter3d(
        name="seeds of the frame", mode="markers", **xyz(xyz_t, places),
        customdata=np.stack([nodes["seed"], nodes["track_id"], nodes["parent_track_id"]], 1),
        hovertemplate=f"frame {t} seed %{{customdata[0]}}<br>tracklet %{{customdata[1]}}, "
                      "parent %{customdata[2]}<extra></extra>",
        marker=dict(size=size + 1, color=tracklet_hue(nodes["track_id"]),
                    colorscale=TRACKLET_COLOURS, cmin=0, cmax=1, line_width=0))
    links = tracks.links[tracks.links["t"] == t]
    offsets = np.concatenate([[0], np.cumsum(tracks.frame_sizes)])
    where = np.stack([tracks.nodes["x"], tracks.nodes["y"], tracks.nodes["z"]], axis=1)
    ends = segments(where[offsets[t] + links["seed1"]], where[offsets[t + 1] + links["seed2"]]) \
        if t + 1 < len(tracks.frame_sizes) else np.zeros((0, 3))
    # Numbers and a colour scale rather than strings: plotly checks each string.
    custom = np.full((3 * len(links), 3), np.nan)
    for column, field in enumerate(("seed1", "seed2", "cost")):
        custom[0::3, column] = custom[1::3, column] = links[field]
    link_trace = go.Scatter3d(
        name="links to the next frame", mode="lines", **xyz(ends, places),
        customdata=custom, text=np.repeat(links["kind"], 3),
        hovertemplate=f"frame {t} seed %{{customdata[0]}} → frame {t + 1} seed "
                      "%{customdata[1]}<br>%{text}, cost %{customdata[2]:.3f}<extra></extra>",
        line=dict(color=np.repeat((links["kind"] == "division").astype(float), 3), width=4,
                  colorscale=[[0, "#404040"], [1, UNMATCHED1]], cmin=0, cmax=1))
    return [seeds, link_trace]


def frame_restyle(seeds, links) -> dict:
    """What turns the frame traces into these two."""
    return {"x": [seeds.x, links.x], "y": [seeds.y, links.y], "z": [seeds.z, links.z],
            "customdata": [seeds.customdata, links.customdata], "text": [None, links.text],
            "hovertemplate": [seeds.hovertemplate, links.hovertemplate],
            "marker.color": [seeds.marker.color, None], "line.color": [None, links.line.color]}


def lineage_view(tracks):
    """The figure that ``Tracks.view`` returns."""
    go = need_plotly()
    nodes = tracks.nodes
    where = np.stack([nodes["x"], nodes["y"], nodes["z"]], axis=1)
    places = decimals(where)
    size = 2 if len(nodes) > 20000 else 3
    rows, owner = polylines(where, nodes["track_id"])  # nodes are in time order
    lines = go.Scatter3d(
        name=f"tracklets ({len(np.unique(nodes['track_id']))})", mode="lines",
        **xyz(rows, places), hoverinfo="skip",
        line=dict(color=tracklet_hue(owner), colorscale=TRACKLET_COLOURS, cmin=0, cmax=1,
                  width=2))
    # A division: the mother's last position, joined to where each daughter starts.
    tracklets = tracks.tracklets
    daughters = tracklets[tracklets["parent_track_id"] > 0]
    _, first = np.unique(nodes["track_id"], return_index=True)  # ids run from 1, each used
    _, from_end = np.unique(nodes["track_id"][::-1], return_index=True)
    last = len(nodes) - 1 - from_end
    mothers = last[daughters["parent_track_id"] - 1]
    starts = first[daughters["track_id"] - 1]
    split = segments(where[mothers], where[starts])
    division_lines = go.Scatter3d(
        name="to the daughters", mode="lines", **xyz(split, places), hoverinfo="skip",
        line=dict(color="#808080", width=2))
    unique_mothers = np.unique(mothers)
    division_marks = go.Scatter3d(
        name=f"divisions ({len(unique_mothers)})", mode="markers",
        **xyz(where[unique_mothers], places),
        customdata=np.stack([nodes["t"][unique_mothers], nodes["seed"][unique_mothers],
                             nodes["track_id"][unique_mothers]], 1),
        hovertemplate="division: frame %{customdata[0]} seed %{customdata[1]}, "
                      "tracklet %{customdata[2]}<extra></extra>",
        marker=dict(symbol="diamond", size=size + 1, color=UNMATCHED1, line_width=0))

    # The slider restyles the two frame traces: plotly's animation of 3D scenes
    # leaves a rejected promise in the console at every step.
    frames = len(tracks.frame_sizes)
    shown = [frame_traces(go, tracks, t, places, size) for t in range(frames)] or \
        [frame_traces(go, tracks, 0, places, size)]
    figure = go.Figure(data=[lines, division_lines, division_marks, *shown[0]])
    steps = [dict(label=str(t), method="restyle", args=[frame_restyle(*traces), [3, 4]])
             for t, traces in enumerate(shown[:frames])]
    tracklet_count = int(nodes["track_id"].max(initial=0))
    figure.update_layout(
        title=dict(text=f"{frames} frames, {len(nodes)} seeds, {tracklet_count} tracklets, "
                        f"{len(unique_mothers)} divisions", x=0.5, font_size=15),
        scene=dict(aspectmode="data", xaxis_title="x", yaxis_title="y", zaxis_title="z"),
        legend=dict(itemsizing="constant", x=0, y=1),
        margin=dict(l=0, r=0, t=50, b=0),
        sliders=[dict(active=0, steps=steps, currentvalue=dict(prefix="frame "),
                      pad=dict(t=10))] if frames else [],
        paper_bgcolor="white")
    return figure
