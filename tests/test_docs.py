"""The code on the documentation pages and in the README runs as printed, and the README's
links lead to pages that exist.

Blocks fenced as ```python run, in page order, as one program per page (a page builds on its
earlier blocks); blocks written as ```{code-block} python are shown but not run."""

import os
import pathlib
import re
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
PAGES = sorted((ROOT / "docs").rglob("*.md")) + [ROOT / "README.md"]
PYTHON_BLOCK = re.compile(r"^```python\n(.*?)^```", re.S | re.M)


def program(page: pathlib.Path) -> str:
    return "\n".join(PYTHON_BLOCK.findall(page.read_text(encoding="utf-8")))


def page_id(page: pathlib.Path) -> str:
    return str(page.relative_to(ROOT))


@pytest.mark.parametrize("page", [p for p in PAGES if program(p)], ids=page_id)
def test_page_code_runs(page, tmp_path):
    done = subprocess.run([sys.executable, "-c", program(page)], cwd=tmp_path, capture_output=True,
                          text=True, timeout=300, env={**os.environ, "MPLBACKEND": "Agg"})
    assert done.returncode == 0, done.stderr[-3000:]


def test_every_guide_page_has_running_code():
    silent = [page_id(p) for p in (ROOT / "docs" / "guide").glob("*.md") if not program(p)]
    assert silent == []


def test_readme_links_resolve_and_reach_every_guide_page():
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    targets = [t for t in re.findall(r"\]\(([^)#\s]+)", readme) if "://" not in t]
    assert [t for t in targets if not (ROOT / t).exists()] == []
    guide = {page_id(p) for p in (ROOT / "docs" / "guide").glob("*.md")}
    assert guide - set(targets) == set()
