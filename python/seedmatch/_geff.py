"""Tracks as a GEFF graph: a zarr group of nodes and edges with their properties."""
from __future__ import annotations

import json
import os
import shutil

import numpy as np

from ._tracks import partial_name

GEFF_VERSION = "1.0"


def need_zarr():
    try:
        import zarr
    except ImportError as error:
        raise ImportError(f"cannot import zarr, which writing GEFF needs ({error}); on Debian, "
                          "apt-get install python3-zarr") from error
    return zarr


def is_geff(path: str) -> bool:
    """True when path is a zarr group whose attributes hold a GEFF graph."""
    try:
        with open(os.path.join(path, ".zattrs")) as attrs:
            return "geff" in json.load(attrs)
    except (OSError, ValueError):
        return False


def write_geff(tracks, path, overwrite: bool) -> None:
    """Write tracks to the directory path, whole or not at all (see Tracks.to_geff)."""
    zarr = need_zarr()
    path = os.fspath(path).rstrip("/") or "/"
    if os.path.lexists(path):
        if not overwrite:
            raise ValueError(f"{path} exists; pass overwrite=True to replace it")
        if not is_geff(path):
            raise ValueError(f"will not replace {path}: it is not a GEFF group")
    nodes, links = tracks.nodes, tracks.links
    offsets = np.concatenate([[0], np.cumsum(tracks.frame_sizes)]).astype(np.int64)
    edges = np.stack([offsets[links["t"]] + links["seed1"],
                      offsets[links["t"] + 1] + links["seed2"]], axis=1).astype(np.uint64)

    partial = partial_name(path)
    try:
        group = zarr.open_group(zarr.DirectoryStore(partial), mode="w-")
        axes = [{"name": "t", "type": "time"}]
        for name in ("z", "y", "x"):
            axis = {"name": name, "type": "space"}
            if len(nodes):
                axis.update(min=float(nodes[name].min()), max=float(nodes[name].max()))
            axes.append(axis)
        group.attrs["geff"] = {"geff_version": GEFF_VERSION, "directed": True, "axes": axes,
                               "track_node_props": {"tracklet": "track_id"}}
        group.create_dataset("nodes/ids", data=np.arange(len(nodes), dtype=np.uint64))
        for name in ("t", "z", "y", "x", "seed", "track_id", "parent_track_id"):
            group.create_dataset(f"nodes/props/{name}/values", data=nodes[name])
        group.create_dataset("edges/ids", data=edges.reshape(-1, 2))
        group.create_dataset("edges/props/cost/values", data=links["cost"])
        group.create_dataset("edges/props/division/values", data=links["kind"] == "division")
        if os.path.lexists(path):
            old = partial_name(path)
            os.rename(path, old)
            os.rename(partial, path)
            shutil.rmtree(old)
        else:
            os.rename(partial, path)
    except BaseException:
        shutil.rmtree(partial, ignore_errors=True)
        raise
