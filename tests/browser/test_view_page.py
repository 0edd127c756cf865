"""The 3D view as a browser shows it: headless Chromium, software WebGL, from
file:// with the network off."""
import io
import os
import re
import subprocess
import sys
import time

import numpy as np
import pytest

import seedmatch

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(SOURCE_DIR, "bench"))
from headless import Browser, chromium  # noqa: E402

pytest.importorskip("plotly")
if chromium() is None:
    pytest.skip("chromium is not installed (apt-get install chromium)", allow_module_level=True)

# Contested weights on a generated pair: some pairs doubtful, some seeds unmatched.
WEIGHTS = (1, 0.5, 1, 6)
FIELDS = ("stored_cost", "seed_dist", "pcal", "cost", "d_desc0", "d_desc1", "d_desc2",
          "d_pts01", "d_desc4", "d_pts2", "pos_disp")
GRAPH = "document.querySelector('.js-plotly-plot')"
# Where the markers of the first trace lie on the page, as the scene's camera projects them.
ON_SCREEN = f"""(() => {{
  const scene = {GRAPH}._fullLayout.scene._scene, trace = {GRAPH}.data[0];
  const camera = scene.glplot.cameraParams, scale = scene.dataScale;
  const apply = (m, v) => [0, 1, 2, 3].map(r => m[r] * v[0] + m[4 + r] * v[1] + m[8 + r] * v[2]
                                                + m[12 + r] * v[3]);
  const box = document.querySelector('.gl-container canvas').getBoundingClientRect();
  return trace.x.map((x, k) => {{
    const v = [x * scale[0], trace.y[k] * scale[1], trace.z[k] * scale[2], 1];
    const c = apply(camera.projection, apply(camera.view, apply(camera.model, v)));
    return [box.left + (1 + c[0] / c[3]) * box.width / 2,
            box.top + (1 - c[1] / c[3]) * box.height / 2];
  }});
}})()"""


@pytest.fixture(scope="module")
def shown(tmp_path_factory):
    """The report, the page's parts' boxes, a screenshot, the page's errors and the hovers."""
    folder = tmp_path_factory.mktemp("view")
    files = [str(folder / "a.seeds"), str(folder / "b.seeds")]
    subprocess.run([sys.executable, os.path.join(SOURCE_DIR, "bench", "bench.py"), "scenes",
                    "easy", "300", *files, "--seed", "5"], check=True)
    set1, set2 = map(seedmatch.read_seeds, files)
    matching = seedmatch.match(set1, set2, *WEIGHTS)
    report = seedmatch.evaluate(set1, set2, matching, *WEIGHTS[:2])
    page = folder / "pairing.html"
    seedmatch.view(set1, set2, matching, WEIGHTS[0], WEIGHTS[1], WEIGHTS[3]).write_html(page)
    with Browser() as browser:
        browser.open(str(page))
        boxes = browser.evaluate(
            "Object.fromEntries(['.gl-container canvas', '.legend', '.colorbar'].map(s => "
            "[s, (r => [r.left, r.top, r.right, r.bottom])("
            "document.querySelector(s).getBoundingClientRect())]))")
        picture = browser.screenshot()
        hovers = []
        for x, y in browser.evaluate(ON_SCREEN)[:5]:  # the first file-1 seeds of the pairs
            browser.call("Input.dispatchMouseEvent", type="mouseMoved", x=x, y=y)
            time.sleep(1)
            hovers.append(browser.evaluate("Array.from(document.querySelectorAll('.hovertext'))"
                                           ".map(e => e.textContent).join('')"))
        problems = list(browser.problems)
    return report, boxes, picture, problems, hovers


def test_page_loads_without_error(shown):
    assert shown[3] == []


def test_hovering_over_a_seed_shows_its_pair(shown):
    report, hovers = shown[0], shown[4]
    aimed = []
    for k, text in enumerate(hovers):
        if text:  # the report's line of the pair it names (a seed in front may hide the aim)
            p, q = map(int, re.match(r"file 1 seed (\d+) → file 2 seed (\d+)", text).groups())
            i = int(np.flatnonzero((report.p == p) & (report.q == q))[0])
            f = [f"{getattr(report, field)[i]:.3f}" for field in FIELDS]
            assert text == (f"file 1 seed {p} → file 2 seed {q}stored cost {f[0]}evaluation cost "
                            f"{f[3]} = seedDist {f[1]}, pcal {f[2]}dDesc0 {f[4]}  dDesc1 {f[5]}  "
                            f"dDesc2 {f[6]}dPts01 {f[7]}  dDesc4 {f[8]}  dPts2 {f[9]}"
                            f"displacement {f[10]}trust {report.consistency.score[i]:.2f}")
            aimed.append(i == k)
    assert any(aimed)


def test_webgl_drew_the_seeds(shown):
    import matplotlib.image
    _, boxes, picture, *_ = shown
    pixels = matplotlib.image.imread(io.BytesIO(picture), format="png")[:, :, :3]
    drawn = np.ones(pixels.shape[:2], bool)
    for name in (".legend", ".colorbar"):  # SVG drawn over the scene, in the same colours
        left, top, right, bottom = map(int, boxes[name])
        drawn[max(top, 0):bottom + 1, max(left, 0):right + 1] = False
    left, top, right, bottom = map(int, boxes[".gl-container canvas"])
    scene = np.zeros_like(drawn)
    scene[top:bottom, left:right] = True
    for colour in ("#1f77b4", "#ff7f0e", "#d62728"):  # the two files, unmatched in file 1
        rgb = np.array([int(colour[k:k + 2], 16) for k in (1, 3, 5)]) / 255
        near = (np.abs(pixels - rgb).max(axis=2) < 0.08) & drawn & scene
        assert near.sum() > 20, colour


def test_lineage_slider_shows_each_frame(tmp_path):
    subprocess.run([sys.executable, os.path.join(SOURCE_DIR, "bench", "bench.py"), "scenes",
                    "series", str(tmp_path), "--frames", "4", "--seeds", "80", "--divisions",
                    "0.1", "--seed", "4"], check=True, capture_output=True)
    tracks = seedmatch.track(sorted(tmp_path.glob("frame_*.seeds")), 1, 0.5, 1, 2)
    page = tmp_path / "lineages.html"
    tracks.view().write_html(page)
    with Browser() as browser:
        browser.open(str(page))
        shown = []
        for frame in ("2", "0"):
            shown.append(browser.evaluate(
                f"Plotly.restyle({GRAPH}, ...{GRAPH}.layout.sliders[0].steps[{frame}].args)"
                ".then(() => "
                f"[{GRAPH}.data[3].x.length, "
                f"{GRAPH}.data[4].customdata.filter(c => c[0] !== null).length / 2])"))
        problems = list(browser.problems)
    assert problems == []
    links = [int(np.count_nonzero(tracks.links["t"] == t)) for t in (2, 0)]
    assert shown == [[int(tracks.frame_sizes[t]), links[k]] for k, t in enumerate((2, 0))]
    assert links[0] > 0
