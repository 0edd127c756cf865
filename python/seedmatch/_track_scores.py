"""Known lineages, and how far tracks rebuild them: links, divisions, whole tracklets."""
from __future__ import annotations

import os
import re
from dataclasses import dataclass

import numpy as np

from ._tracks import CSV_HEADER, LINK, Tracks, tracklet_ids
from ._errors import error_line
from ._truth import TruthFileError, _ratio, integer_rows, truth_lines

_FIELD = re.compile(r"[^\t, ]+")
_INTEGER = re.compile(r"[+-]?\d+")
_CSV_NEEDS = ("track_id", "t", "seed", "parent_track_id")


@dataclass(frozen=True)
class TrackScore:
    """How tracks agree with known lineages.

    Links: ``links`` made, ``truth_links`` known, ``true_links`` made and
    known, and ``link_precision``, ``link_recall``, ``link_f1``. Divisions (a
    seed linked to two): ``divisions`` found, ``truth_divisions``,
    ``true_divisions`` (same mother and both daughters), ``division_precision``,
    ``division_recall``, ``division_f1``. Tracklets: ``truth_tracklets``,
    ``complete`` (those the tracks hold as one tracklet of exactly the same
    seeds) and their share ``complete_tracklets``. A ratio over nothing is 0.0.
    ``str(score)`` is the line the command prints.
    """

    links: int
    truth_links: int
    true_links: int
    link_precision: float
    link_recall: float
    link_f1: float
    divisions: int
    truth_divisions: int
    true_divisions: int
    division_precision: float
    division_recall: float
    division_f1: float
    truth_tracklets: int
    complete: int
    complete_tracklets: float

    def __str__(self) -> str:
        return (f"links: precision {self.link_precision:.4f}, recall {self.link_recall:.4f}, "
                f"f1 {self.link_f1:.4f} ({self.true_links} of {self.links} made, "
                f"{self.truth_links} known); divisions: precision "
                f"{self.division_precision:.4f}, recall {self.division_recall:.4f}, f1 "
                f"{self.division_f1:.4f} ({self.true_divisions} of {self.divisions} found, "
                f"{self.truth_divisions} known); complete tracklets "
                f"{self.complete_tracklets:.4f} ({self.complete} of {self.truth_tracklets})")


def _problem(links: np.ndarray, frame_sizes, place) -> tuple[int, int, str] | None:
    """The first link (its index, the column at fault from 0, what is wrong) that
    is negative, names a seed the frames do not hold, comes again, gives a seed
    a second mother or a mother a third daughter; None if there is none.
    place(k) names link k in the message ("line 3")."""
    first: dict = {}
    mother: dict = {}
    daughters: dict = {}
    frames = None if frame_sizes is None else len(frame_sizes)
    for k, (t, i, j) in enumerate(links.tolist()):
        for column, value, what in ((0, t, "frame"), (1, i, "seed"), (2, j, "seed")):
            if value < 0:
                return k, column, f"{what} {value} is negative"
        if frames is not None:
            if t + 1 >= frames:
                return k, 0, (f"frame {t} has no next frame in the tracks, which have "
                              f"{frames} frames")
            for column, seed, frame in ((1, i, t), (2, j, t + 1)):
                if seed >= frame_sizes[frame]:
                    return k, column, (f"seed {seed} of frame {frame} is not in the tracks, "
                                       f"whose frame {frame} holds {frame_sizes[frame]} seeds")
        if (t, i, j) in first:
            return k, 0, f"link {t} {i} {j} comes again (first at {place(first[(t, i, j)])})"
        first[(t, i, j)] = k
        if (t, j) in mother:
            return k, 2, (f"seed {j} of frame {t + 1} has two mothers (the other at "
                          f"{place(mother[(t, j)])})")
        mother[(t, j)] = k
        daughters.setdefault((t, i), []).append(k)
        if len(daughters[(t, i)]) > 2:
            return k, 1, (f"seed {i} of frame {t} has a third daughter (the others at "
                          + " and ".join(place(m) for m in daughters[(t, i)][:2]) + ")")
    return None


def _as_links(rows) -> np.ndarray:
    return integer_rows(rows, 3, "truth links must be an (L, 3) array of integers "
                                 "(t, seed in t, seed in t+1)")


def read_track_truth(path, frame_sizes=None) -> np.ndarray:
    """Read known lineages: a links file or a track table.

    Parameters
    ----------
    path : str or os.PathLike
        Either lines ``t i j``, one per known link from seed i of frame t to
        seed j of frame t+1, both links of every division included (fields
        separated by spaces, tabs or commas; ``#`` starts a comment; a first
        line without a number is a header), or a CSV with the header
        ``track_id,t,seed,...,parent_track_id`` as `Tracks.to_csv` writes.
    frame_sizes : sequence of int, optional
        Seeds per frame; a link naming a seed beyond them is an error.

    Returns
    -------
    numpy.ndarray
        (L, 3) int64 links, t, seed in t, seed in t+1, sorted.

    Raises
    ------
    TruthFileError
        Naming the file, line and column of the first problem.
    """
    name, lines = truth_lines(path)
    numbered = [(n, line.split("#", 1)[0].rstrip()) for n, line in enumerate(lines, start=1)]
    numbered = [(n, text) for n, text in numbered if text.strip()]
    table = bool(numbered) and numbered[0][1].strip().startswith("track_id,")
    if numbered and not table and not any(_INTEGER.fullmatch(f)
                                          for f in _FIELD.findall(numbered[0][1])):
        numbered = numbered[1:]  # a header
    # Sound files are read at NumPy speed; the scan below finds what is wrong.
    links = _fast_table(numbered, frame_sizes) if table else _fast_links(numbered)
    if links is not None and _sound(links, frame_sizes):
        return np.unique(links, axis=0).reshape(-1, 3)

    fail = _failing(name)
    if table:
        rows, places = _csv_links(numbered, fail, frame_sizes)
    else:
        rows, places = [], []  # per link: the line and the columns of its three fields
        for number, text in numbered:
            fields = [(m.start() + 1, m.group()) for m in _FIELD.finditer(text)]
            if len(fields) != 3:
                column = fields[3][0] if len(fields) > 3 else len(text) + 1
                fail(number, column, f"expected a frame and two seeds, found {len(fields)} "
                                     f"fields")
            for column, field in fields:
                if not _INTEGER.fullmatch(field):
                    fail(number, column, f"expected an integer, found '{field}'")
            rows.append([int(f) for _, f in fields])
            places.append((number, [c for c, _ in fields]))
    links = np.array(rows, np.int64).reshape(-1, 3)
    problem = _problem(links, frame_sizes, lambda k: f"line {places[k][0]}")
    if problem is not None:
        k, column, what = problem
        number, columns = places[k]
        fail(number, columns[column], what)
    return np.unique(links, axis=0).reshape(-1, 3)


def _failing(name: str):
    def fail(number: int, column: int, what: str):
        raise TruthFileError(error_line(what, name, number, column), name, number, column)
    return fail


def _fast_links(numbered) -> np.ndarray | None:
    """The links of lines of three integers split by blanks; None for anything else."""
    rows = [text.split() for _, text in numbered]
    if any(len(row) != 3 for row in rows):
        return None
    try:
        return np.array(rows, dtype=np.int64).reshape(-1, 3)
    except (ValueError, OverflowError):
        return None


def _fast_table(numbered, frame_sizes) -> np.ndarray | None:
    """The links of a sound track table (see _csv_links); None if it may not be."""
    names = [n.strip() for n in numbered[0][1].split(",")]
    if any(n not in names for n in _CSV_NEEDS):
        return None
    rows = [text.split(",") for _, text in numbered[1:]]
    if any(len(row) != len(names) for row in rows):
        return None
    at = [names.index(n) for n in _CSV_NEEDS]
    try:
        table = np.array([[row[k] for k in at] for row in rows], dtype=np.int64).reshape(-1, 4)
    except (ValueError, OverflowError):
        return None
    table = table[np.lexsort((table[:, 1], table[:, 0]))]
    track, t, seed, parent = table.T
    if (track < 1).any() or (table[:, 1:] < 0).any():
        return None
    if frame_sizes is not None and len(table):
        sizes = np.asarray(frame_sizes, np.int64)
        if t.max() >= len(sizes) or (seed >= sizes[t]).any():
            return None
    if len(np.unique(table[:, 1:3], axis=0)) != len(table):
        return None
    ids, first, counts = np.unique(track, return_index=True, return_counts=True)
    last = first + counts - 1
    if (t[last] - t[first] + 1 != counts).any():  # frames skipped or repeated
        return None
    if (parent != np.repeat(parent[first], counts)).any():
        return None
    same = track[1:] == track[:-1]
    within = np.stack([t[:-1][same], seed[:-1][same], seed[1:][same]], axis=1)
    children = np.flatnonzero(parent[first] > 0)
    at_parent = np.searchsorted(ids, parent[first][children])
    if (at_parent >= len(ids)).any() or (ids[at_parent.clip(0, len(ids) - 1)]
                                         != parent[first][children]).any():
        return None
    ends, starts = last[at_parent], first[children]
    if (t[starts] != t[ends] + 1).any():
        return None
    return np.concatenate([within.reshape(-1, 3),
                           np.stack([t[ends], seed[ends], seed[starts]], axis=1).reshape(-1, 3)])


def _sound(links: np.ndarray, frame_sizes) -> bool:
    """True when _problem finds nothing, checked at NumPy speed."""
    if len(links) == 0:
        return True
    if (links < 0).any():
        return False
    if frame_sizes is not None:
        sizes = np.asarray(frame_sizes, np.int64)
        t = links[:, 0]
        if (t + 1 >= len(sizes)).any():
            return False
        if (links[:, 1] >= sizes[t]).any() or (links[:, 2] >= sizes[t + 1]).any():
            return False
    if len(np.unique(links[:, [0, 2]], axis=0)) != len(links):  # a repeat or two mothers
        return False
    return int(np.unique(links[:, :2], axis=0, return_counts=True)[1].max()) <= 2


def _csv_links(numbered, fail, frame_sizes) -> tuple[list, list]:
    """The links of a track table: within each tracklet from frame to frame, and
    from a parent's last seed to each child's first."""
    header_line, header = numbered[0]
    names = [n.strip() for n in header.split(",")]
    missing = [n for n in _CSV_NEEDS if n not in names]
    if missing:
        fail(header_line, 1, f"the header lacks {', '.join(missing)} (expected {CSV_HEADER})")
    at = [names.index(n) for n in _CSV_NEEDS]
    nodes = {}      # (t, seed) -> line
    tracks = {}     # track_id -> {t: (seed, line)}
    parents = {}    # track_id -> (parent, line, column)
    for number, text in numbered[1:]:
        fields = text.split(",")
        starts = np.cumsum([1] + [len(f) + 1 for f in fields[:-1]]).tolist()
        if len(fields) != len(names):
            fail(number, starts[-1] if len(fields) > len(names) else len(text) + 1,
                 f"expected {len(names)} fields, found {len(fields)}")
        values = []
        for field_name, index in zip(_CSV_NEEDS, at):
            field = fields[index].strip()
            if not _INTEGER.fullmatch(field) or int(field) < (1 if field_name == "track_id"
                                                             else 0):
                least = "positive" if field_name == "track_id" else "not negative"
                fail(number, starts[index], f"{field_name} must be an integer, {least}, "
                                            f"not '{field}'")
            values.append(int(field))
        track, t, seed, parent = values
        if frame_sizes is not None and t >= len(frame_sizes):
            fail(number, starts[at[1]], f"frame {t} is not in the tracks, which have "
                                        f"{len(frame_sizes)} frames")
        if frame_sizes is not None and seed >= frame_sizes[t]:
            fail(number, starts[at[2]], f"seed {seed} of frame {t} is not in the tracks, whose "
                                        f"frame {t} holds {frame_sizes[t]} seeds")
        if (t, seed) in nodes:
            fail(number, starts[at[2]], f"seed {seed} of frame {t} comes again (first on line "
                                        f"{nodes[(t, seed)]})")
        nodes[(t, seed)] = number
        frames = tracks.setdefault(track, {})
        if t in frames:
            fail(number, starts[at[1]], f"tracklet {track} holds two seeds of frame {t} "
                                        f"(the other on line {frames[t][1]})")
        frames[t] = (seed, number)
        known = parents.setdefault(track, (parent, number, starts[at[3]]))
        if known[0] != parent:
            fail(number, starts[at[3]], f"tracklet {track} has parent {parent} here but "
                                        f"{known[0]} on line {known[1]}")
    rows, places = [], []
    for track, frames in tracks.items():
        times = sorted(frames)
        for before, after in zip(times, times[1:]):
            if after != before + 1:
                fail(frames[after][1], 1, f"tracklet {track} skips from frame {before} to "
                                          f"{after}")
            rows.append([before, frames[before][0], frames[after][0]])
            places.append((frames[after][1], [1, 1, 1]))
    for track, (parent, number, column) in parents.items():
        if parent == 0:
            continue
        if parent not in tracks:
            fail(number, column, f"parent tracklet {parent} of tracklet {track} is not in "
                                 f"the table")
        end, start = max(tracks[parent]), min(tracks[track])
        if start != end + 1:
            fail(tracks[track][start][1], column,
                 f"tracklet {track} starts in frame {start}, not right after its parent "
                 f"{parent} ends in frame {end}")
        rows.append([end, tracks[parent][end][0], tracks[track][start][0]])
        places.append((tracks[track][start][1], [column] * 3))
    return rows, places


def _divisions(links: np.ndarray) -> set:
    """(t, mother, first daughter, second daughter) of every seed linked to two."""
    order = np.lexsort((links[:, 2], links[:, 1], links[:, 0]))
    links = links[order]
    same = (links[1:, 0] == links[:-1, 0]) & (links[1:, 1] == links[:-1, 1])
    return {(t, i, j, k) for (t, i, j), k in zip(links[:-1][same].tolist(),
                                                  links[1:, 2][same].tolist())}


def score_tracks(tracks: Tracks, truth) -> TrackScore:
    """Score tracks against known lineages.

    Parameters
    ----------
    tracks : Tracks
    truth : path, (L, 3) array of integers, or Tracks
        Every known link (t, seed in t, seed in t+1), both links of each
        division included: a links file or a track table (see
        `read_track_truth`), an array of them, or tracks taken as the truth.
        The truth is taken as complete: a seed it links to nothing is known to
        arrive, leave or stay alone.

    Returns
    -------
    TrackScore

    Raises
    ------
    TruthFileError
        For a truth file that cannot be read or names seeds the frames lack.
    ValueError
        Likewise for an array.
    """
    if not isinstance(tracks, Tracks):
        raise TypeError(f"tracks must be a Tracks, not {type(tracks).__name__}")
    sizes = tracks.frame_sizes.tolist()
    if isinstance(truth, Tracks):
        known = np.stack([truth.links["t"], truth.links["seed1"], truth.links["seed2"]], axis=1)
    elif isinstance(truth, (str, bytes, os.PathLike)):
        known = read_track_truth(truth, sizes)
    else:
        known = _as_links(truth)
        problem = _problem(known, sizes, lambda k: f"link {k + 1}")
        if problem is not None:
            raise ValueError(f"truth link {problem[0] + 1}: {problem[2]}")
    made = np.stack([tracks.links["t"], tracks.links["seed1"], tracks.links["seed2"]],
                    axis=1).reshape(-1, 3)

    offsets = np.concatenate([[0], np.cumsum(sizes)]).astype(np.int64)
    count = int(offsets[-1])

    def keys(links):  # one integer per link, from its two node numbers
        source = offsets[links[:, 0]] + links[:, 1]
        return source * count + offsets[links[:, 0] + 1] + links[:, 2]

    true_links = len(np.intersect1d(keys(made), keys(known)))
    found, divisions = _divisions(made), _divisions(known)
    true_divisions = len(found & divisions)

    def ids(links):
        rows = np.zeros(len(links), LINK)
        rows["t"], rows["seed1"], rows["seed2"] = links[:, 0], links[:, 1], links[:, 2]
        return tracklet_ids(np.asarray(sizes, np.int64), rows)[0]

    truth_ids, made_ids = ids(known), ids(made)
    tracklets = int(truth_ids.max(initial=0))
    complete = 0
    if tracklets:
        low = np.full(tracklets + 1, np.iinfo(np.int64).max)
        high = np.full(tracklets + 1, -1)
        np.minimum.at(low, truth_ids, made_ids)
        np.maximum.at(high, truth_ids, made_ids)
        truth_size = np.bincount(truth_ids, minlength=tracklets + 1)
        made_size = np.bincount(made_ids)
        one = (low == high)[1:]
        complete = int(np.count_nonzero(one & (made_size[low[1:]] == truth_size[1:])))
    return TrackScore(
        len(made), len(known), true_links, _ratio(true_links, len(made)),
        _ratio(true_links, len(known)), _ratio(2 * true_links, len(made) + len(known)),
        len(found), len(divisions), true_divisions, _ratio(true_divisions, len(found)),
        _ratio(true_divisions, len(divisions)),
        _ratio(2 * true_divisions, len(found) + len(divisions)),
        tracklets, complete, _ratio(complete, tracklets))
