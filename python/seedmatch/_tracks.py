"""Tracks through a time series: every seed of every frame, the links between
consecutive frames, and the tracklets they make; the text writers."""
from __future__ import annotations

import os
import secrets
from typing import Any, Sequence

import numpy as np

from ._truth import integer_rows

NODE = np.dtype([("track_id", "i8"), ("t", "i8"), ("seed", "i8"), ("x", "f8"), ("y", "f8"),
                 ("z", "f8"), ("parent_track_id", "i8")])
LINK = np.dtype([("t", "i8"), ("seed1", "i8"), ("seed2", "i8"), ("cost", "f8"), ("kind", "U8")])
TRACKLET = np.dtype([("track_id", "i8"), ("start", "i8"), ("end", "i8"),
                     ("parent_track_id", "i8")])
CSV_HEADER = "track_id,t,seed,x,y,z,parent_track_id"


def tracklet_ids(frame_sizes: np.ndarray, links: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """Tracklet and parent tracklet of every node, in (t, seed) order, from the links.

    A node continues the tracklet of its source when that source has no other
    link out; otherwise it starts a tracklet, whose parent is the source's
    (a division) or 0 (an arrival). Ids count from 1 in frame, then seed order.
    Raises ValueError for a node linked from two seeds or to more than two.
    """
    offsets = np.concatenate([[0], np.cumsum(frame_sizes)]).astype(np.int64)
    track = np.zeros(offsets[-1], np.int64)
    parent = np.zeros(offsets[-1], np.int64)
    links = links[np.argsort(links["t"], kind="stable")]
    bounds = np.searchsorted(links["t"], np.arange(len(frame_sizes)))
    next_id = 1
    for t, size in enumerate(frame_sizes):
        source = np.full(size, -1, np.int64)  # the node of frame t-1 linked to each seed
        continues = np.zeros(size, bool)
        if t:
            step = links[bounds[t - 1]:bounds[t]]
            mothers = np.bincount(step["seed2"], minlength=size)
            if (mothers > 1).any():
                raise ValueError(f"frames {t - 1} and {t}: seed {int(np.argmax(mothers > 1))} "
                                 f"of frame {t} is linked from two seeds")
            children = np.bincount(step["seed1"], minlength=frame_sizes[t - 1])
            if (children > 2).any():
                raise ValueError(f"frames {t - 1} and {t}: seed {int(np.argmax(children > 2))} "
                                 f"of frame {t - 1} is linked to more than two seeds")
            source[step["seed2"]] = offsets[t - 1] + step["seed1"]
            continues[step["seed2"]] = children[step["seed1"]] == 1
        new = ~continues
        ids = np.zeros(size, np.int64)
        ids[new] = next_id + np.arange(np.count_nonzero(new))
        next_id += np.count_nonzero(new)
        ids[continues] = track[source[continues]]
        parents = np.zeros(size, np.int64)
        parents[continues] = parent[source[continues]]
        born = new & (source >= 0)
        parents[born] = track[source[born]]
        track[offsets[t]:offsets[t + 1]], parent[offsets[t]:offsets[t + 1]] = ids, parents
    return track, parent


class Tracks:
    """Lineages through a time series of seed files.

    Attributes
    ----------
    nodes : numpy structured array
        One row per seed of every frame, in (t, seed) order: ``track_id``,
        ``t``, ``seed`` (index in its frame's file), ``x``, ``y``, ``z`` and
        ``parent_track_id`` (0 for none). At a division the mother's tracklet
        ends and each daughter starts one whose parent is the mother's.
    links : numpy structured array
        One row per link from frame t to t+1, sorted by (t, seed1, seed2):
        ``t``, ``seed1``, ``seed2``, ``cost`` (the stored cost) and ``kind``,
        "matched" for a pair of the frames' pairing, "division" for the link
        a division adds to the second daughter.
    linkers : (T-1,) str array
        What made each frame pair's pairs ("auction" or "positions").
    frame_precision : (T-1,) float64 array
        The estimated precision of each frame pair's pairs, NaN if not computed.
    frame_sizes : (T,) int64 array
        Seeds per frame.
    sources : tuple of str, or None
        The frames' files, when they were read from files; writers refuse to
        write over them.
    """

    def __init__(self, nodes: np.ndarray, links: np.ndarray, linkers: np.ndarray,
                 frame_precision: np.ndarray, frame_sizes: np.ndarray,
                 sources: Sequence[str] | None = None):
        self.nodes = nodes
        self.links = links
        self.linkers = linkers
        self.frame_precision = frame_precision
        self.frame_sizes = frame_sizes
        self.sources = None if sources is None else tuple(os.fspath(s) for s in sources)

    @classmethod
    def from_frames(cls, positions: Sequence[Any], frame_links: Sequence[Any],
                    sources: Sequence[str] | None = None) -> "Tracks":
        """Build the tracks from each frame's positions and each frame pair's links.

        Parameters
        ----------
        positions : sequence of (n_t, 3) arrays
            The seeds' positions, one array per frame, in time order.
        frame_links : sequence of T-1 records
            Per frame pair t, t+1, anything with the attributes ``pairs``
            ((K, 2) ints: seed in t, seed in t+1), ``costs`` ((K,) floats),
            ``divisions`` ((D, 2) ints: the mother in t, her second daughter
            in t+1; the first is her pair), ``division_costs`` ((D,) floats),
            ``linker`` (str) and ``estimate`` (float).
        sources : sequence of paths, optional
            The frames' files, kept so that writers do not overwrite them.

        Returns
        -------
        Tracks

        Raises
        ------
        ValueError
            Naming the frames, for links that name seeds the frames do not
            hold, a seed paired twice, a division whose mother has no pair, or
            a seed with two mothers.
        """
        frames = [_positions(p, t) for t, p in enumerate(positions)]
        frame_links = list(frame_links)
        if len(frame_links) != max(len(frames) - 1, 0):
            raise ValueError(f"{len(frames)} frames need {max(len(frames) - 1, 0)} frame "
                             f"pairs' links, got {len(frame_links)}")
        sizes = np.array([len(p) for p in frames], np.int64)
        links = np.concatenate([np.zeros(0, LINK)] + [
            _frame_links(step, t, sizes[t], sizes[t + 1]) for t, step in enumerate(frame_links)])
        links = links[np.lexsort((links["seed2"], links["seed1"], links["t"]))]
        track, parent = tracklet_ids(sizes, links)
        nodes = np.zeros(int(sizes.sum()), NODE)
        nodes["track_id"], nodes["parent_track_id"] = track, parent
        nodes["t"] = np.repeat(np.arange(len(sizes)), sizes)
        nodes["seed"] = np.concatenate([np.zeros(0, np.int64)] + [np.arange(n) for n in sizes])
        if len(nodes):
            xyz = np.concatenate(frames)
            nodes["x"], nodes["y"], nodes["z"] = xyz[:, 0], xyz[:, 1], xyz[:, 2]
        linkers = np.array([str(step.linker) for step in frame_links], dtype=str)
        precision = np.array([float(step.estimate) for step in frame_links], np.float64)
        return cls(nodes, links, linkers.astype("U16"), precision, sizes, sources)

    @property
    def tracklets(self) -> np.ndarray:
        """One row per tracklet, by id: ``track_id``, ``start`` and ``end``
        (first and last frame, both included) and ``parent_track_id``."""
        nodes = self.nodes[np.lexsort((self.nodes["t"], self.nodes["track_id"]))]
        ids, first, counts = np.unique(nodes["track_id"], return_index=True,
                                       return_counts=True)
        table = np.zeros(len(ids), TRACKLET)
        table["track_id"] = ids
        table["start"] = nodes["t"][first]
        table["end"] = nodes["t"][first + counts - 1]
        table["parent_track_id"] = nodes["parent_track_id"][first]
        return table

    def to_csv(self, path) -> None:
        """Write the nodes as CSV, header ``track_id,t,seed,x,y,z,parent_track_id``,
        one row per node in (t, seed) order, coordinates at full precision."""
        lines = [CSV_HEADER] + [f"{k},{t},{s},{x!r},{y!r},{z!r},{p}"
                                for k, t, s, x, y, z, p in self.nodes.tolist()]
        self._write(path, "\n".join(lines) + "\n")

    def to_ctc(self, path) -> None:
        """Write ``res_track.txt``: per tracklet ``L B E P``, its id, first and last
        frame and parent (0 for none)."""
        self._write(path, "".join(f"{k} {b} {e} {p}\n" for k, b, e, p in self.tracklets.tolist()))

    def napari(self) -> tuple[np.ndarray, dict]:
        """``(data, graph)`` for ``viewer.add_tracks(data, graph=graph)``.

        ``data`` is (N, 5) float64, columns ``track_id, t, z, y, x``, rows by
        tracklet then frame; ``graph`` maps each tracklet with a parent to
        ``[parent_track_id]``.
        """
        nodes = self.nodes[np.lexsort((self.nodes["t"], self.nodes["track_id"]))]
        data = np.stack([nodes["track_id"], nodes["t"], nodes["z"], nodes["y"], nodes["x"]],
                        axis=1).astype(np.float64).reshape(-1, 5)
        table = self.tracklets
        table = table[table["parent_track_id"] > 0]
        return data, {int(k): [int(p)] for k, p in zip(table["track_id"],
                                                       table["parent_track_id"])}

    def to_geff(self, path, overwrite: bool = False) -> None:
        """Write the tracks as a GEFF graph, a zarr (format 2) group.

        Nodes are numbered by their row in ``nodes``; their properties are
        ``t``, ``z``, ``y``, ``x``, ``seed``, ``track_id`` and
        ``parent_track_id``; edges are the links, with properties ``cost`` and
        ``division`` (True for a division's added link). Needs zarr
        (``apt-get install python3-zarr``). An existing GEFF group at path is
        replaced only with ``overwrite``; anything else there is left alone.
        """
        from ._geff import write_geff
        write_geff(self, path, overwrite)

    def plot(self):
        """A picture of the lineages.

        The tracklets in 3D, one colour each, divisions in red; per frame the
        seeds and links, and the divisions, the tracklets that start without a
        parent and those that end without dividing; the tracklet lengths; the
        estimated precision of each frame pair's pairs, marked by linker.

        Returns
        -------
        matplotlib.figure.Figure
            Made without pyplot; saving it renders with Agg.
        """
        from ._track_picture import lineage_figure
        return lineage_figure(self)

    def _write(self, path, text: str) -> None:
        """Write text to path whole or not at all, never over a frame's file."""
        path = os.fspath(path)
        self._refuse_source(path)
        partial = partial_name(path)
        try:
            with open(partial, "x") as out:  # made with the usual permissions
                out.write(text)
            os.replace(partial, path)
        except BaseException:
            if os.path.exists(partial):
                os.unlink(partial)
            raise

    def _refuse_source(self, path: str) -> None:
        for source in self.sources or ():
            try:
                same = os.path.samefile(path, source)
            except OSError:  # one of them does not exist
                same = False
            if same:
                raise ValueError(f"will not write the tracks over {path}, the frame "
                                 f"{source}")

    def view(self):
        """The lineages in 3D, to turn and hover in a browser.

        Each tracklet a line in a colour of its own, each division marked at the
        mother's last position and joined to where both daughters start, and a
        frame slider showing one frame's seeds (hover: seed, tracklet, parent)
        and its links to the next frame (divisions in red).

        Returns
        -------
        plotly.graph_objects.Figure
            ``figure.write_html(path)`` writes one page that opens offline.

        Raises
        ------
        ImportError
            When plotly is missing, saying how to install it.
        """
        from ._view import lineage_view
        return lineage_view(self)

    def __len__(self) -> int:
        return len(self.nodes)

    def __repr__(self) -> str:
        frames = len(self.frame_sizes)
        if frames == 0:
            return "<seedmatch.Tracks: no frame>"
        divisions = int(np.count_nonzero(self.links["kind"] == "division"))
        tracklets = int(self.nodes["track_id"].max(initial=0))
        used = [(int(np.count_nonzero(self.linkers == name)), name)
                for name in dict.fromkeys(self.linkers.tolist())]
        sizes = (f"{self.frame_sizes.min()}-{self.frame_sizes.max()}"
                 if self.frame_sizes.min() != self.frame_sizes.max() else f"{self.frame_sizes[0]}")
        linked = ", ".join([f"{used[0][0]} frame pairs linked by {used[0][1]}"] +
                           [f"{n} by {name}" for n, name in used[1:]]) if used else ""
        return (f"<seedmatch.Tracks: {frames} frames of {sizes} seeds, {len(self.nodes)} nodes, "
                f"{tracklets} tracklets, {len(self.links)} links of which {divisions} "
                f"divisions" + (f"; {linked}>" if linked else ">"))


def partial_name(path: str) -> str:
    """A fresh name beside path for writing it before it replaces path."""
    folder, name = os.path.split(path)
    return os.path.join(folder, f".{name}.{secrets.token_hex(6)}.partial")


def _positions(value, t: int) -> np.ndarray:
    array = np.asarray(value, dtype=np.float64)
    if array.size == 0:
        return np.zeros((0, 3))
    if array.ndim != 2 or array.shape[1] != 3:
        raise ValueError(f"positions of frame {t} must be an (n, 3) array, got shape "
                         f"{array.shape}")
    return array


def _indices(value, name: str, where: str) -> np.ndarray:
    return integer_rows(value, 2, f"{where}: {name} must be a (K, 2) array of integers")


def _costs(value, count: int, what: str, name: str, where: str) -> np.ndarray:
    array = np.asarray(value, dtype=np.float64).reshape(-1)
    if len(array) != count:
        raise ValueError(f"{where}: {count} {what} but {len(array)} {name}")
    return array


def _frame_links(step, t: int, size1: int, size2: int) -> np.ndarray:
    """The links of frame pair t as LINK rows, after checking what they name."""
    where = f"frames {t} and {t + 1}"
    pairs = _indices(step.pairs, "pairs", where)
    divisions = _indices(step.divisions, "divisions", where)
    for name, array in (("pairs", pairs), ("divisions", divisions)):
        for column, size, frame in ((0, size1, t), (1, size2, t + 1)):
            bad = (array[:, column] < 0) | (array[:, column] >= size)
            if bad.any():
                raise ValueError(f"{where}: {name} name seed {int(array[bad][0, column])} of "
                                 f"frame {frame}, which holds {size} seeds")
    for column, frame in ((0, t), (1, t + 1)):
        values, counts = np.unique(pairs[:, column], return_counts=True)
        if (counts > 1).any():
            raise ValueError(f"{where}: seed {int(values[counts > 1][0])} of frame {frame} "
                             f"is in two pairs")
    values, counts = np.unique(divisions[:, 0], return_counts=True)
    if (counts > 1).any():
        raise ValueError(f"{where}: seed {int(values[counts > 1][0])} of frame {t} divides "
                         f"twice")
    lonely = ~np.isin(divisions[:, 0], pairs[:, 0])
    if lonely.any():
        raise ValueError(f"{where}: mother {int(divisions[lonely][0, 0])} of frame {t} has no "
                         f"pair, so no first daughter")
    second = divisions[:, 1]
    _, first, counts = np.unique(second, return_index=True, return_counts=True)
    repeated = np.ones(len(second), bool)
    repeated[first[counts == 1]] = False
    taken = np.isin(second, pairs[:, 1]) | repeated
    if taken.any():
        raise ValueError(f"{where}: daughter {int(second[taken][0])} of frame {t + 1} "
                         f"has two mothers")
    rows = np.zeros(len(pairs) + len(divisions), LINK)
    rows["t"] = t
    rows["seed1"] = np.concatenate([pairs[:, 0], divisions[:, 0]])
    rows["seed2"] = np.concatenate([pairs[:, 1], divisions[:, 1]])
    rows["cost"] = np.concatenate([_costs(step.costs, len(pairs), "pairs", "costs", where),
                                   _costs(step.division_costs, len(divisions), "divisions",
                                          "division costs", where)])
    rows["kind"][:len(pairs)] = "matched"
    rows["kind"][len(pairs):] = "division"
    return rows
