"""A picture of tracks: the lineages in 3D, what happens in each frame, how long
tracklets last and how far each frame pair's pairs can be trusted."""
from __future__ import annotations

import numpy as np
from matplotlib import colormaps
from matplotlib.figure import Figure
from mpl_toolkits.mplot3d.art3d import Line3DCollection

DIVISION_COLOUR = "crimson"
LINKER_MARKERS = {"auction": "o", "positions": "s"}
# Beyond this many tracklets the 3D view is a tangle; it then shows the
# tracklets whose mean depth lies in the middle slab holding this many.
SLAB_TRACKLETS = 700


def frame_events(tracks) -> dict:
    """Per frame: seeds; links into it; divisions (mothers in the frame before);
    tracklets starting without a parent, after frame 0; tracklets ending without
    dividing, before the last frame."""
    frames = len(tracks.frame_sizes)
    table = tracks.tracklets
    links = tracks.links
    into = np.bincount(links["t"] + 1, minlength=frames)[:frames]
    divided = links["t"][links["kind"] == "division"] + 1
    first = table["start"][(table["parent_track_id"] == 0) & (table["start"] > 0)]
    parents = set(table["parent_track_id"].tolist())
    ended = [e for k, e in zip(table["track_id"].tolist(), table["end"].tolist())
             if k not in parents and e < frames - 1]
    return {"seeds": tracks.frame_sizes, "links": into,
            "divisions": np.bincount(divided, minlength=frames)[:frames],
            "starts": np.bincount(first, minlength=frames)[:frames],
            "ends": np.bincount(np.asarray(ended, np.int64), minlength=frames)[:frames]}


def colours(track_ids: np.ndarray) -> np.ndarray:
    """A colour per tracklet, neighbouring ids far apart on the palette."""
    palette = colormaps["tab20"].colors
    return np.asarray(palette)[(track_ids * 7) % len(palette)]


def slab(tracks) -> tuple[np.ndarray, str]:
    """Which tracklets the 3D view shows (a mask over ids from 0), and how they were chosen."""
    nodes = tracks.nodes
    count = int(nodes["track_id"].max(initial=0)) + 1
    if count - 1 <= SLAB_TRACKLETS:
        return np.ones(count, bool), "tracklets"
    xyz = np.stack([nodes["x"], nodes["y"], nodes["z"]], axis=1)
    axis = int(np.argmin(np.ptp(xyz, axis=0)))
    name = "xyz"[axis]
    depth = np.bincount(nodes["track_id"], xyz[:, axis], count)
    depth /= np.maximum(np.bincount(nodes["track_id"], minlength=count), 1)
    order = np.argsort(depth[1:], kind="stable") + 1
    chosen = order[(len(order) - SLAB_TRACKLETS) // 2:][:SLAB_TRACKLETS]
    shown = np.zeros(count, bool)
    shown[chosen] = True
    low, high = depth[chosen].min(), depth[chosen].max()
    return shown, (f"the {int(shown.sum())} of {count - 1} tracklets whose mean {name} lies in "
                   f"[{low:.4g}, {high:.4g}]")


def draw_lineages(axes, tracks) -> None:
    nodes, links = tracks.nodes, tracks.links
    shown, which = slab(tracks)
    offsets = np.concatenate([[0], np.cumsum(tracks.frame_sizes)]).astype(np.int64)
    source = nodes[offsets[links["t"]] + links["seed1"]]
    target = nodes[offsets[links["t"] + 1] + links["seed2"]]
    keep = shown[source["track_id"]]
    source, target = source[keep], target[keep]
    start = np.stack([source["x"], source["y"], source["z"]], axis=1)
    end = np.stack([target["x"], target["y"], target["z"]], axis=1)
    within = source["track_id"] == target["track_id"]
    axes.add_collection3d(Line3DCollection(
        np.stack([start[within], end[within]], axis=1).reshape(-1, 2, 3),
        colors=colours(target["track_id"][within]).reshape(-1, 3), linewidths=0.8))
    axes.add_collection3d(Line3DCollection(
        np.stack([start[~within], end[~within]], axis=1).reshape(-1, 2, 3),
        colors=DIVISION_COLOUR, linewidths=0.8))
    mothers = np.unique(np.stack([source["t"][~within], source["seed"][~within]], axis=1),
                        axis=0).reshape(-1, 2)
    mothers = nodes[offsets[mothers[:, 0]] + mothers[:, 1]]
    axes.scatter(mothers["x"], mothers["y"], mothers["z"], s=10, c=DIVISION_COLOUR,
                 marker="o", depthshade=False, label=f"divisions ({len(mothers)})")
    drawn = nodes[shown[nodes["track_id"]]]
    if len(drawn):
        for name, setter in (("x", axes.set_xlim), ("y", axes.set_ylim), ("z", axes.set_zlim)):
            setter(float(drawn[name].min()), float(drawn[name].max()) + 1e-9)
    axes.set_xlabel("x")
    axes.set_ylabel("y")
    axes.set_zlabel("z")
    axes.set_title(f"{which}, one colour each; divisions in red", wrap=True)
    if len(mothers):
        axes.legend(loc="upper left")


def draw_counts(axes, events) -> None:
    t = np.arange(len(events["seeds"]))
    axes.plot(t, events["seeds"], "-o", markersize=3, label="seeds")
    axes.plot(t[1:], events["links"][1:], "-o", markersize=3, label="links into the frame")
    axes.set_xlabel("frame")
    axes.set_ylabel("seeds, links")
    axes.set_title("seeds and links per frame")
    axes.legend(loc="lower right", fontsize="small")


def draw_events(axes, events) -> None:
    t = np.arange(len(events["seeds"]))
    width = 0.28
    for k, (name, label) in enumerate((("divisions", "divisions into t"),
                                       ("starts", "starts (no parent)"),
                                       ("ends", "ends (no division)"))):
        axes.bar(t + (k - 1) * width, events[name], width, label=label)
    axes.set_ylim(0, 1.3 * max(1, *(int(events[n].max(initial=0))
                                    for n in ("divisions", "starts", "ends"))))
    axes.set_xlabel("frame")
    axes.set_ylabel("count")
    axes.set_title("events per frame")
    axes.legend(loc="upper center", fontsize="small", ncols=3)


def draw_precision(axes, tracks) -> None:
    middle = np.arange(len(tracks.frame_precision)) + 0.5
    axes.plot(middle, tracks.frame_precision, "-", color="grey", linewidth=1)
    for linker in dict.fromkeys(tracks.linkers.tolist()):
        chosen = tracks.linkers == linker
        axes.plot(middle[chosen], tracks.frame_precision[chosen],
                  LINKER_MARKERS.get(linker, "^"), label=f"linked by {linker}")
    known = tracks.frame_precision[np.isfinite(tracks.frame_precision)]
    if len(known):
        axes.set_ylim(min(0.9, float(known.min()) - 0.02), 1.005)
        axes.legend(loc="lower left", fontsize="small")
    else:
        axes.text(0.5, 0.5, "not estimated (track(..., estimate=True), or --estimate)",
                  ha="center", va="center",
                  transform=axes.transAxes)
    axes.set_xlabel("frame pair (t, t+1) at t + 0.5")
    axes.set_ylabel("estimated precision")
    axes.set_title("estimated precision of each frame pair's pairs")


def draw_lengths(axes, tracks) -> None:
    table = tracks.tracklets
    lengths = table["end"] - table["start"] + 1
    frames = max(len(tracks.frame_sizes), 1)
    axes.hist(lengths, bins=np.arange(0.5, frames + 1.5), color="tab:blue",
              label=f"{len(table)} tracklets")
    if len(lengths) and np.bincount(lengths).max() > 20 * max(np.bincount(lengths)[1:].min(), 1):
        axes.set_yscale("log")
    axes.set_xlabel("length in frames")
    axes.set_ylabel("tracklets")
    axes.set_title("tracklet lengths")
    axes.legend(loc="upper center", fontsize="small")


def lineage_figure(tracks) -> Figure:
    """The figure that ``Tracks.plot`` returns."""
    figure = Figure(figsize=(17, 9.5), layout="constrained")
    grid = figure.add_gridspec(2, 3, width_ratios=(1.5, 1, 1))
    draw_lineages(figure.add_subplot(grid[:, 0], projection="3d"), tracks)
    events = frame_events(tracks)
    draw_counts(figure.add_subplot(grid[0, 1]), events)
    draw_events(figure.add_subplot(grid[0, 2]), events)
    draw_precision(figure.add_subplot(grid[1, 1]), tracks)
    draw_lengths(figure.add_subplot(grid[1, 2]), tracks)
    figure.suptitle(repr(tracks).strip("<>").replace("seedmatch.Tracks: ", ""))
    return figure
