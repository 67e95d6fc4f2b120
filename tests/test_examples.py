"""Every script in examples/ runs to its end with the installed package, as a newcomer runs
it: a clean exit, no traceback. (The timeout only guards against a hang.)"""

import os
import pathlib
import subprocess
import sys

import pytest

EXAMPLES = sorted((pathlib.Path(__file__).parent.parent / "examples").glob("*.py"))


@pytest.mark.parametrize("script", EXAMPLES, ids=lambda p: p.name)
def test_example_runs(script, tmp_path):
    args = [sys.executable, str(script)]
    if script.name in ("pareto_front.py", "convergence.py"):
        args.append(str(tmp_path / "picture.png"))  # not into the checkout
    done = subprocess.run(args, cwd=tmp_path, capture_output=True, text=True, timeout=300,
                          env={**os.environ, "MPLBACKEND": "Agg"})
    assert done.returncode == 0, done.stderr[-3000:]
    assert "Traceback" not in done.stderr
    assert done.stdout.strip()
