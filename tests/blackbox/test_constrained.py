"""Constrained black-box problems with published optima: the CEC 2006 problems g01, g04, g06,
g08 and g09 by differential evolution and the full CMA-ES, and the constrained bi-objective
benchmarks BNH and TNK by NSGA-II. Every budget is stated in its row."""

import math

import pytest

import velmo_opt as vo
from cec2006 import PROBLEMS

# (problem, max_generations) for DE with its defaults otherwise (NP = 10 n, seed 42) and tol=0,
# so the run uses its whole budget of NP * (1 + generations) evaluations.
DE_BUDGETS = [("g01", 500), ("g04", 200), ("g06", 200), ("g08", 200), ("g09", 500)]


@pytest.mark.parametrize("name, generations", DE_BUDGETS, ids=[row[0] for row in DE_BUDGETS])
def test_de_reaches_the_published_optimum(name, generations):
    p = PROBLEMS[name]
    r = vo.solve_de(p.objective, p.bounds, constraints=p.constraints, max_generations=generations, tol=0)
    assert r.constraint_violation == 0.0
    assert max(p.constraints(r.x)) <= 0.0
    assert r.objective == pytest.approx(p.best, rel=1e-4)
    assert r.evaluations == 10 * len(p.bounds) * (1 + generations)


# (problem, restarts, relative tolerance) for the full CMA-ES with 1000 generations per run.
# tol=-inf: the full variant otherwise stops at the first value below tol, and these optima
# are negative.
CMAES_BUDGETS = [("g04", 2, 1e-2), ("g08", 0, 1e-4), ("g09", 0, 1e-4)]


@pytest.mark.parametrize("name, restarts, rel", CMAES_BUDGETS, ids=[row[0] for row in CMAES_BUDGETS])
def test_full_cmaes_reaches_the_published_optimum(name, restarts, rel):
    p = PROBLEMS[name]
    r = vo.solve_cmaes(p.objective, p.bounds, constraints=p.constraints, variant="full",
                       tol=-math.inf, max_generations=1000, restarts=restarts)
    assert r.constraint_violation == 0.0
    assert max(p.constraints(r.x)) <= 0.0
    assert r.objective == pytest.approx(p.best, rel=rel)


def bnh_front():
    """Objective vectors along the known Pareto set of BNH: x1 = x2 in [0, 3], then x2 = 3."""
    points = []
    for k in range(3001):
        t = 3 * k / 3000
        points.append((8 * t * t, 2 * (t - 5) ** 2))
        s = 3 + 2 * k / 3000
        points.append((4 * s * s + 36, (s - 5) ** 2 + 4))
    return points


def tnk_constraints(x):
    # x2 = 0 divides by zero: the point is then scored infeasible.
    return [-x[0] ** 2 - x[1] ** 2 + 1 + 0.1 * math.cos(16 * math.atan(x[0] / x[1])),
            (x[0] - 0.5) ** 2 + (x[1] - 0.5) ** 2 - 0.5]


def test_nsga2_front_of_bnh_is_feasible_and_on_the_known_front():
    # Budget: 100 individuals, 250 generations (25 100 evaluations of each objective).
    objectives = [lambda x: 4 * x[0] ** 2 + 4 * x[1] ** 2, lambda x: (x[0] - 5) ** 2 + (x[1] - 5) ** 2]
    constraints = lambda x: [(x[0] - 5) ** 2 + x[1] ** 2 - 25, 7.7 - (x[0] - 8) ** 2 - (x[1] + 3) ** 2]  # noqa: E731
    front = vo.pareto_frontier(objectives, [(0, 5), (0, 3)], method="nsga2", pop_size=100,
                               generations=250, constraints=constraints)
    known = bnh_front()
    assert len(front) == 100
    for d in front:
        assert d["constraint_violation"] == 0.0 and max(constraints(d["x"])) <= 0.0
        f1, f2 = d["objectives"]
        assert min(math.hypot(f1 - a, f2 - b) for a, b in known) < 1.5  # f1 spans 0 to 136
    spread = [d["objectives"][0] for d in front]
    assert min(spread) < 1.0 and max(spread) > 135.0


def test_nsga2_front_of_tnk_lies_on_its_constraint_boundary():
    # Budget: 100 individuals, 250 generations. The objectives are the coordinates themselves,
    # so without the constraints the front would shrink to the origin.
    front = vo.pareto_frontier([lambda x: x[0], lambda x: x[1]], [(0, math.pi)] * 2, method="nsga2",
                               pop_size=100, generations=250, constraints=tnk_constraints)
    assert len(front) == 100
    for d in front:
        g1, g2 = tnk_constraints(d["x"])
        assert d["constraint_violation"] == 0.0 and g1 <= 0.0 and g2 <= 0.0
        assert g1 > -0.05  # on the boundary the known front follows
    spread = [d["x"][0] for d in front]
    assert min(spread) < 0.1 and max(spread) > 1.0
