"""Random steered black-box runs (x0, max_evals, time_limit, callback, integrality,
constraints) on every engine that takes them, checked against what must hold whatever the
draws: the call count, points inside the (integral) box, x0 evaluated first, the returned point
among the evaluated ones with its own violation, and a message that matches how the run ended.

Objectives and constraint functions mix numbers, NaN, infinities and exceptions. CI runs a
bounded number of runs; VELMO_FUZZ_EXAMPLES raises it.
"""

import math
import os

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import velmo_opt as vo

EXAMPLES = int(os.environ.get("VELMO_FUZZ_EXAMPLES", "300")) // 3
MESSAGES = {"converged", "max_generations", "max_evals", "time_limit", "callback"}


def objective(kind):
    def f(x):
        s = sum((v - 0.3 * k) ** 2 for k, v in enumerate(x))
        if kind == "nan" and s < 0.5:
            return math.nan
        if kind == "raise" and x[0] > 0.5:
            raise ArithmeticError("right half")
        if kind == "inf" and s > 4:
            return math.inf
        return s
    return f


def constraint(kind):
    if kind is None:
        return None

    def g(x):
        if kind == "raise" and x[-1] < 0:
            raise ArithmeticError("left")
        if kind == "nan" and x[0] > 0.8:
            return [math.nan]
        return [0.5 - x[0] - x[-1]]
    return g


def violation(g, x):
    try:
        values = g(x)
    except ArithmeticError:
        return math.inf
    return math.inf if any(v != v for v in values) else sum(max(v, 0.0) for v in values)


ENGINES = {
    "de": lambda f, b, gens, **k: vo.solve_de(f, b, max_generations=gens, pop_size=5, **k),
    "pso": lambda f, b, gens, **k: vo.solve_pso(f, b, max_iterations=gens, pop_size=4, **k),
    "sa": lambda f, b, gens, **k: vo.solve_sa(f, b, max_iterations=gens * 5, **k),
    "simple": lambda f, b, gens, **k: vo.solve_cmaes(f, b, max_generations=gens, **k),
    "full": lambda f, b, gens, **k: vo.solve_cmaes(f, b, variant="full", max_generations=gens, restarts=1, **k),
    "stochastic": lambda f, b, gens, **k: vo.stochastic_solve(lambda x, s: f(x), b, [0], max_generations=gens,
                                                              pop_size=5, **k),
}

bounds = st.lists(
    st.tuples(st.floats(-3, 1), st.floats(0, 3)).map(lambda t: (t[0], t[0] + t[1])),
    min_size=1, max_size=3)
draws = st.fixed_dictionaries({
    "engine": st.sampled_from(sorted(ENGINES)),
    "objective": st.sampled_from(["plain", "nan", "raise", "inf"]),
    "constraint": st.sampled_from([None, None, "plain", "raise", "nan"]),
    "gens": st.integers(0, 15),
    "max_evals": st.one_of(st.none(), st.integers(1, 80)),
    "stop_at": st.one_of(st.none(), st.integers(1, 6)),
    "x0": st.booleans(),
    "integral": st.lists(st.booleans(), min_size=3, max_size=3),
    "seed": st.integers(0, 2 ** 64 - 1),
})


@settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(bounds, draws, st.randoms(use_true_random=False))
def test_steered_runs_keep_their_promises(box, d, rnd):
    integral = d["integral"][:len(box)]
    if any(i and math.ceil(lo) > math.floor(hi) for i, (lo, hi) in zip(integral, box)):
        integral = [False] * len(box)
    f = objective(d["objective"])
    g = constraint(d["constraint"])
    points = []

    def recorded(x):
        points.append(list(x))
        return f(x)

    generations = []

    def watch(info):
        generations.append(info["generation"])
        return info["generation"] == d["stop_at"]

    x0 = [rnd.uniform(lo, hi) for lo, hi in box] if d["x0"] else None
    r = ENGINES[d["engine"]](recorded, box, d["gens"], seed=d["seed"], x0=x0, max_evals=d["max_evals"],
                             callback=watch, integrality=integral, constraints=g, time_limit=600.0)

    if d["engine"] == "full" and d["max_evals"] is None:
        assert r.evaluations <= len(points)  # restarts report the count of the run they keep
    else:
        assert len(points) == r.evaluations
    if d["max_evals"] is not None:
        assert r.evaluations <= d["max_evals"]
    inner = [(math.ceil(lo), math.floor(hi)) if i else (lo, hi) for i, (lo, hi) in zip(integral, box)]
    for p in points:
        for v, i, (lo, hi) in zip(p, integral, inner):
            assert lo <= v <= hi and (not i or v == int(v))
    if x0 is not None:
        expected = [min(max(math.floor(v + 0.5) if v >= 0 else -math.floor(-v + 0.5), lo), hi) if i else v
                    for v, i, (lo, hi) in zip(x0, integral, inner)]
        assert points[0] == expected
    assert r.x in points
    if g is not None:
        assert r.constraint_violation == violation(g, r.x)
    else:
        assert r.constraint_violation == 0.0
    assert generations == list(range(1, len(generations) + 1))
    assert len(r.history) == r.iterations
    assert r.message in MESSAGES
    assert r.converged == (r.message == "converged")
    if r.message == "callback":
        assert generations[-1] == d["stop_at"]
    if r.message == "max_evals":
        assert r.evaluations == d["max_evals"]
    if r.message == "max_generations" and d["engine"] != "full":  # restarts add their generations
        budget = d["gens"] * (5 if d["engine"] == "sa" else 1)
        assert len(generations) == budget == r.iterations - 1


@settings(max_examples=EXAMPLES // 3, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(bounds, draws)
def test_steered_nsga_runs_keep_their_promises(box, d):
    integral = [False] * len(box)
    calls = [[], []]
    f1 = objective(d["objective"])

    def first(x):
        calls[0].append(list(x))
        return f1(x)

    def second(x):
        calls[1].append(list(x))
        return -x[0]

    g = constraint(d["constraint"])
    seen = []
    front = vo.pareto_frontier([first, second], box, method="nsga2", pop_size=6, generations=d["gens"],
                               seed=d["seed"], max_evals=d["max_evals"], integrality=integral, constraints=g,
                               callback=lambda info: seen.append(info) or info["generation"] == d["stop_at"])
    assert calls[0] == calls[1]
    if d["max_evals"] is not None:
        assert len(calls[0]) <= d["max_evals"]
    assert [s["generation"] for s in seen] == list(range(1, len(seen) + 1))
    if seen:
        assert seen[-1]["evaluations"] == len(calls[0])
    for dct in front:
        assert dct["x"] in calls[0]
        if g is not None:
            assert dct["constraint_violation"] == violation(g, dct["x"])
