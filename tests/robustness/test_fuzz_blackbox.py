"""Random black-box runs, each checked against the pure-Python references bit for bit: every
point handed to the objective, the result's point, value, history, counters and flag.

Boxes mix ordinary, inverted, zero-width, huge, infinite and NaN bounds; objectives mix
numbers, +-inf, NaN, ints and exceptions; options range over small budgets, any seed and odd
tolerances. CI runs a bounded number of runs; VELMO_FUZZ_EXAMPLES raises it, as for the
expression fuzzer.
"""

import math
import os
import sys

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, "blackbox"))

import de_reference  # noqa: E402
import engines_reference as ref  # noqa: E402
import velmo_opt as vo  # noqa: E402
from recording import NanFirst, Recorder, assert_matches_reference  # noqa: E402

EXAMPLES = int(os.environ.get("VELMO_FUZZ_EXAMPLES", "300")) // 3

bound_values = st.one_of(
    st.floats(-10, 10),
    st.sampled_from([0.0, -0.0, 1.0, 1e308, -1e308, math.inf, -math.inf, math.nan]),
    st.integers(-5, 5),
)
boxes = st.lists(st.tuples(bound_values, bound_values), min_size=0, max_size=4)


class Objective:
    """A deterministic function of the point whose answer kind depends on where it is."""

    KINDS = ["number", "nan", "inf", "int", "raise", "str"]

    def __init__(self, weights):
        self.weights = weights  # one kind per cell of a coarse grid

    def __call__(self, x):
        s = 0.0
        for k, v in enumerate(x):
            s += (v - 0.3 * k) * (v - 0.3 * k)
        cell = 0 if not math.isfinite(s) else int(abs(s) * 7) % len(self.weights)
        kind = self.weights[cell]
        if kind == "nan":
            return math.nan
        if kind == "inf":
            return math.inf
        if kind == "int":
            return int(s) if math.isfinite(s) else 0
        if kind == "raise":
            raise ArithmeticError(s)
        if kind == "str":
            return "1"
        return s


objectives = st.builds(
    Objective,
    st.lists(st.sampled_from(Objective.KINDS), min_size=1, max_size=6).map(lambda w: ["number"] + w),
)
tols = st.sampled_from([1e-8, 0.0, 1e-3, -1.0, math.inf, math.nan])
seeds = st.one_of(st.integers(0, 3), st.integers(0, 2**64 - 1))


def run_de(func, bounds, d):
    ours = vo.solve_de(func[0], bounds, pop_size=d["pop"], max_generations=d["gens"], f=d["f"], cr=d["cr"],
                       seed=d["seed"], tol=d["tol"])
    pop = d["pop"] or 10 * len(bounds)
    theirs = de_reference.de(func[1], bounds, pop, d["gens"], d["f"], d["cr"], d["tol"], d["seed"])
    return ours, theirs


def run_pso(func, bounds, d):
    swarm = d["pop"] or min(10 * len(bounds), 20)
    ours = vo.solve_pso(func[0], bounds, pop_size=d["pop"], max_iterations=d["gens"], seed=d["seed"], tol=d["tol"])
    return ours, ref.pso(func[1], bounds, swarm, d["gens"], d["tol"], d["seed"])


def run_sa(func, bounds, d):
    ours = vo.solve_sa(func[0], bounds, max_iterations=d["gens"] * 5, seed=d["seed"], temp_init=d["temp"],
                       cooling_rate=d["cooling"])
    return ours, ref.sa(func[1], bounds, d["gens"] * 5, d["seed"], d["temp"], d["cooling"])


def run_simple(func, bounds, d):
    lam = d["pop"] or max(5, ref.default_offspring(len(bounds)))
    ours = vo.solve_cmaes(func[0], bounds, pop_size=d["pop"], max_generations=d["gens"], sigma=d["sigma"],
                          seed=d["seed"], tol=d["tol"])
    return ours, ref.simple_es(func[1], bounds, lam, d["gens"], d["sigma"], d["tol"], d["seed"])


def run_full(func, bounds, d):
    ours = vo.solve_cmaes(func[0], bounds, pop_size=d["pop"], max_generations=d["gens"], sigma=d["sigma"],
                          seed=d["seed"], tol=d["tol"], variant="full", restarts=d["restarts"])
    theirs = ref.cmaes_full(func[1], bounds, d["pop"], d["gens"], d["sigma"], d["seed"], d["tol"], d["restarts"])
    return ours, theirs


def run_portfolio(func, bounds, d):
    return vo.solve_portfolio(func[0], bounds, 0), ref.portfolio(func[1], bounds, 0)


RUNNERS = {"de": run_de, "pso": run_pso, "sa": run_sa, "simple": run_simple, "full": run_full,
           "portfolio": run_portfolio}
NEEDS_DIMENSION = {"de", "pso", "portfolio"}

draws = st.fixed_dictionaries({
    "pop": st.sampled_from([0, 0, 2, 4, 5, 9]),
    "gens": st.integers(0, 12),
    "f": st.sampled_from([0.8, 0.5, 2.0, -1.0, math.nan]),
    "cr": st.sampled_from([0.9, 0.0, 1.0, math.nan]),
    "seed": seeds,
    "tol": tols,
    "temp": st.sampled_from([100.0, 1.0, 0.0, -1.0, 1e-9, math.inf, math.nan]),
    "cooling": st.sampled_from([0.999, 0.5, 1.0, 2.0, 0.0, math.nan]),
    "sigma": st.sampled_from([0.3, 1e-3, 2.0, 0.0, -0.5, math.nan]),
    "restarts": st.sampled_from([0, 0, 1, 2]),
    "nan_first": st.sampled_from([0, 0, 1, 3]),
})


@settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.sampled_from(sorted(RUNNERS)), boxes, objectives, draws)
def test_random_runs_match_the_reference(solver, bounds, objective, d):
    if solver in NEEDS_DIMENSION and not bounds:
        bounds = [(0, 1)]
    if solver == "de" and 0 < d["pop"] < 4:
        d["pop"] = 4
    if solver == "simple" and d["pop"] == 1:
        d["pop"] = 2
    if solver == "portfolio" and len(bounds) > 2:
        bounds = bounds[:2]  # keeps the four stages short
    func = NanFirst(d["nan_first"], objective)
    ours, theirs = Recorder(func), Recorder(func)
    result, expected = RUNNERS[solver]((ours, theirs), bounds, d)
    assert_matches_reference(result, ours, theirs.points, expected)


@pytest.mark.parametrize("solver", sorted(RUNNERS))
def test_empty_and_degenerate_boxes(solver):
    d = dict(pop=0, gens=5, f=0.8, cr=0.9, seed=1, tol=1e-8, temp=100.0, cooling=0.9, sigma=0.3, restarts=1)
    for bounds in ([(math.nan, math.nan)], [(math.inf, -math.inf), (2, 2)], [(1e308, -1e308)] * 2):
        f = Objective(["number", "nan", "raise"])
        ours, theirs = Recorder(f), Recorder(f)
        result, expected = RUNNERS[solver]((ours, theirs), bounds, d)
        assert_matches_reference(result, ours, theirs.points, expected)
