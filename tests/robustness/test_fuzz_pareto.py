"""Random pareto_frontier runs, each checked bit for bit against the pure-Python reference:
every point handed to every objective and every returned dict. The runs mix failing, NaN,
infinite, constant and tied objectives with inverted, empty, infinite and NaN boxes.

CI runs a bounded number of runs; VELMO_FUZZ_EXAMPLES=100000 selects the long run.
"""

import math
import os
import sys

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "blackbox"))

import moo_reference as ref  # noqa: E402
from pareto_helpers import Recorder, exact  # noqa: E402
import velmo_opt as vo  # noqa: E402

EXAMPLES = int(os.environ.get("VELMO_FUZZ_EXAMPLES", "300"))
nan, inf = math.nan, math.inf


def _raises_right(x):
    if x and x[0] > 0.5:
        raise ArithmeticError("right half")
    return -sum(x)


OBJECTIVES = {
    "sum": lambda x: sum(x),
    "first": lambda x: x[0] if x else 0.0,
    "minus squares": lambda x: -sum(v * v for v in x),
    "raises right": _raises_right,
    "nan low": lambda x: nan if x and x[-1] < 0.3 else 1.0 - x[-1] if x else nan,
    "inf high": lambda x: inf if x and x[0] > 0.8 else x[0] if x else -inf,
    "constant": lambda x: 1.0,
    "negative zero": lambda x: -0.0,
    "plateau": lambda x: round(sum(x) * 2) / 2,
    "huge": lambda x: 1e308 * (x[0] if x else 1.0) * 10,
    "text": lambda x: "3",
    "int ties": lambda x: int(x[0] * 3) if x else 0,
}

BOXES = [(0, 1), (-1, 1), (1, -1), (0, 0), (nan, 1), (-inf, inf), (0, inf), (-1e308, 1e308), (2, 3)]


def outcome(run):
    try:
        return exact(run())
    except Exception as e:  # the sweep's final evaluation lets the objective's error out
        return type(e)


def check(names, bounds, n_points, options):
    ours = [Recorder(OBJECTIVES[k]) for k in names]
    theirs = [Recorder(OBJECTIVES[k]) for k in names]
    result = outcome(lambda: vo.pareto_frontier(ours, bounds, n_points, **options))
    expected = outcome(lambda: ref.pareto_frontier(theirs, bounds, n_points, **options))
    assert [r.points for r in ours] == [r.points for r in theirs]
    assert result == expected


objective_names = st.sampled_from(sorted(OBJECTIVES))


@settings(max_examples=max(1, EXAMPLES // 5), deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(
    names=st.lists(objective_names, min_size=2, max_size=4),
    bounds=st.lists(st.sampled_from(BOXES), min_size=0, max_size=3),
    method=st.sampled_from(["nsga2", "nsga3", "NSGA2", "Nsga3", None]),
    pop_size=st.integers(0, 10),
    generations=st.integers(0, 4),
    divisions=st.integers(0, 4),
    seed=st.integers(0, 2**64 - 1),
)
def test_random_nsga_runs_match_the_reference(names, bounds, method, pop_size, generations, divisions, seed):
    if method is None and len(names) == 2:
        method = "nsga2"
    options = {"pop_size": pop_size, "generations": generations, "das_dennis_divisions": divisions, "seed": seed}
    if method is not None:
        options["method"] = method
    check(names, bounds, 20, options)


@settings(max_examples=max(1, EXAMPLES // 20), deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(
    names=st.lists(objective_names, min_size=2, max_size=2),
    bounds=st.lists(st.sampled_from(BOXES), min_size=1, max_size=2),
    n_points=st.integers(0, 3),
    seed=st.integers(0, 2**64 - 1),
)
def test_random_sweeps_match_the_reference(names, bounds, n_points, seed):
    check(names, bounds, n_points, {"seed": seed})
