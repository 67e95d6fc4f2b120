"""Sphinx configuration: MyST pages, the stub-generated API reference and the pictures the
examples draw when the site is built."""

import os
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(HERE / "_ext"))

project = "velmo"
author = "the velmo developers"
copyright = "the velmo developers"
release = version = "0.1.0"

extensions = ["myst_parser", "velmo_api"]
source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
exclude_patterns = ["_build", "_generated/*.py"]
myst_heading_anchors = 3
html_theme = "furo"
html_title = "velmo"
# Names in signatures such as SupportsFloat or Callable have no page of their own here.
nitpicky = False

# (script, picture) pairs: each example draws its picture into _generated/ at every build, so
# the pictures always show what the code on the pages does today.
PICTURES = [
    ("pareto_front.py", "pareto_front.png"),
    ("convergence.py", "convergence.png"),
]


def draw_pictures(app):
    out = HERE / "_generated"
    out.mkdir(exist_ok=True)
    env = {**os.environ, "MPLBACKEND": "Agg"}
    for script, picture in PICTURES:
        done = subprocess.run([sys.executable, str(ROOT / "examples" / script), str(out / picture)],
                              cwd=out, env=env, capture_output=True, text=True, timeout=600)
        if done.returncode != 0 or not (out / picture).exists():
            raise RuntimeError(f"examples/{script} did not draw {picture}:\n{done.stdout}\n{done.stderr}")


def setup(app):
    app.connect("builder-inited", draw_pictures)
