"""A library of small problems with known answers, run against every solver that takes them.

Each entry: id, builder (returns the model), kind, expected status, objective, values by
variable name, duals, and solve options (a starting point, say). None means "not checked".
The kind decides which solvers take the problem (SOLVERS); `cases` pairs them up.

The nonlinear programs are from Hock & Schittkowski, "Test Examples for Nonlinear
Programming Codes" (1981), with their published optima.
"""

import math
from dataclasses import dataclass, field
from typing import Callable, Optional

import numpy as np

import velmo as vo


@dataclass
class Problem:
    id: str
    build: Callable
    kind: str  # "LP", "MILP", "QP", "MIQP", "NLP", "MINLP", "SOCP", "PSD"
    status: str
    objective: Optional[float] = None
    values: Optional[dict] = None
    duals: Optional[list] = None
    options: dict = field(default_factory=dict)


def _production():
    m = vo.Model("production")
    x = m.variable("x", lower=0)
    y = m.variable("y", lower=0)
    m.maximize(3 * x + 2 * y)
    m.add(x + y <= 4)
    m.add(x + 3 * y <= 6)
    return m


def _max_with_constant():
    m = vo.Model()
    x = m.variable("x", 0, 1)
    m.maximize(3 * x + 2)
    return m


def _equality():
    m = vo.Model()
    x = m.variable("x", 0, 10)
    y = m.variable("y", 0, 10)
    m.add(x + y == 3)
    m.minimize(x - y)
    return m


def _constant_moved_to_rhs():
    m = vo.Model()
    x = m.variable("x")
    m.add(x + 2 >= 7)
    m.minimize(x)
    return m


def _infeasible_lp():
    m = vo.Model()
    x = m.variable("x")
    m.add(x >= 2)
    m.add(x <= 1)
    m.minimize(x)
    return m


def _unbounded_lp():
    m = vo.Model()
    x = m.variable("x", lower=0)
    m.minimize(-x)
    return m


def _knapsack():
    m = vo.Model("knapsack")
    a, b, c = (m.integer(n, lower=0) for n in "abc")
    m.maximize(5 * a + 4 * b + 3 * c)
    m.add(2 * a + 3 * b + c <= 5)
    m.add(4 * a + b + 2 * c <= 11)
    m.add(3 * a + 4 * b + 2 * c <= 8)
    return m


def _infeasible_milp():
    m = vo.Model()
    k = m.integer("k", 0, 10)
    m.add(2 * k == 3)
    m.minimize(k)
    return m


def _qp(integer):
    def build():
        m = vo.Model()
        make = m.integer if integer else m.variable
        x = make("x", 0, 5)
        y = make("y", 0, 5)
        m.minimize(x * x + y * y + x * y - 4 * x - 5 * y)
        return m
    return build


def _concave_max():
    m = vo.Model()
    x = m.variable("x", -10, 10)
    m.maximize(-(x ** 2) + 2 * x + 2)
    return m


# ---- Hock & Schittkowski
def _hs006():
    m = vo.Model("hs006")
    x1, x2 = m.variable("x1"), m.variable("x2")
    m.minimize(1 - 2 * x1 + x1 * x1)  # (1 - x1)^2
    m.add(10 * x2 - 10 * (x1 * x1) == 0)
    return m


def _hs010():
    m = vo.Model("hs010")
    x1, x2 = m.variable("x1"), m.variable("x2")
    m.minimize(x1 - x2)
    m.add(-3 * (x1 * x1) + 2 * (x1 * x2) + -1 * (x2 * x2) + 1 >= 0)
    return m


def _hs021():
    m = vo.Model("hs021")
    x1, x2 = m.variable("x1", 2, 50), m.variable("x2", -50, 50)
    m.minimize(0.01 * (x1 * x1) + x2 * x2 - 100)
    m.add(10 * x1 - x2 >= 10)
    return m


def _hs035():
    m = vo.Model("hs035")
    x1, x2, x3 = (m.variable(f"x{i}", lower=0) for i in (1, 2, 3))
    m.minimize(9 - 8 * x1 - 6 * x2 - 4 * x3 + 2 * (x1 * x1) + 2 * (x2 * x2) + x3 * x3
               + 2 * (x1 * x2) + 2 * (x1 * x3))
    m.add(x1 + x2 + 2 * x3 <= 3)
    return m


def _hs038():
    m = vo.Model("hs038")
    x1, x2, x3, x4 = (m.variable(f"x{i}", -10, 10) for i in (1, 2, 3, 4))
    a, b = x2 - x1 * x1, x4 - x3 * x3
    def square_less_one(v):  # (1 - v)^2
        return 1 - 2 * v + v * v
    m.minimize(100 * (a * a) + square_less_one(x1) + 90 * (b * b) + square_less_one(x3)
               + 10.1 * (square_less_one(x2) + square_less_one(x4)) + 19.8 * (x2 * x4 - x2 - x4 + 1))
    return m


def _hs056():
    m = vo.Model("hs056")
    x = [m.variable(f"x{i}", lower=0) for i in (1, 2, 3)] + [m.variable(f"x{i}") for i in (4, 5, 6, 7)]
    s = [vo.sin(v) * vo.sin(v) for v in x[3:]]
    m.minimize(-(x[0] * x[1]) * x[2])
    m.add(x[0] - 4.2 * s[0] == 0)
    m.add(x[1] - 4.2 * s[1] == 0)
    m.add(x[2] - 4.2 * s[2] == 0)
    m.add(x[0] + 2 * x[1] + 2 * x[2] - 7.2 * s[3] == 0)
    return m


_A56, _B56 = math.asin(math.sqrt(1 / 4.2)), math.asin(math.sqrt(5 / 7.2))


def _hs071():
    m = vo.Model("hs071")
    x1, x2, x3, x4 = (m.variable(f"x{i}", 1, 5) for i in (1, 2, 3, 4))
    m.minimize(x1 * x4 * (x1 + x2 + x3) + x3)
    m.add(x1 * x2 * x3 * x4 >= 25)
    m.add(x1 * x1 + x2 * x2 + x3 * x3 + x4 * x4 == 40)
    return m


def _hs_sqrt_division():
    # min x + 1/x over x in [0.1, 10] written with a square root: sqrt(x*x) + 1/x, optimum 2.
    m = vo.Model("sqrt_division")
    x = m.variable("x", 0.1, 10)
    m.minimize(vo.sqrt(x * x) + 1 / x)
    return m


def _nlp_max_with_constant():
    m = vo.Model()
    x = m.variable("x", 0, 3)
    m.maximize(vo.cos(x - 1) + 2)  # 3 at x = 1
    return m


def _nlp_infeasible():
    m = vo.Model()
    x, y = m.variable("x"), m.variable("y")
    m.add(x * x + y * y <= 1)
    m.add(x + y >= 3)
    m.minimize(vo.sin(x) + y)
    return m


def _nlp_unbounded():
    m = vo.Model()
    x, y = m.variable("x", lower=0), m.variable("y")
    m.minimize(vo.sin(y) - x * x)
    return m


# ---- cones
def _distance_to_polyhedron():
    # The distance from (3, 4) to {x1 + x2 <= 1, x >= 0} is |3 + 4 - 1| / sqrt(2), at (0, 1).
    m = vo.Model("distance")
    x1, x2 = m.variable("x1", lower=0), m.variable("x2", lower=0)
    t, d1, d2 = m.variable("t"), m.variable("d1"), m.variable("d2")
    m.add(x1 + x2 <= 1)
    m.add(d1 - x1 == -3)
    m.add(d2 - x2 == -4)
    m.add_soc_cone([t, d1, d2])
    m.minimize(t)
    return m


def _robust_lp():
    # max x1 + x2 + 5 s.t. x1 + x2 + ||x|| / sqrt(2) <= 1: x1 = x2 = 1/3 by symmetry.
    m = vo.Model("robust")
    x1, x2 = m.variable("x1", lower=0), m.variable("x2", lower=0)
    t, u1, u2 = m.variable("t"), m.variable("u1"), m.variable("u2")
    rho = 1 / math.sqrt(2)
    m.add(u1 - rho * x1 == 0)
    m.add(u2 - rho * x2 == 0)
    m.add(x1 + x2 + t <= 1)
    m.add_soc_cone([t, u1, u2])
    m.maximize(x1 + x2 + 5)
    return m


# ---- mixed-integer nonlinear
def _ex1221():
    # MINLPLib ex1221: Floudas (1995), "Nonlinear and Mixed-Integer Optimization", example
    # 12.2.1 (after Kocis & Grossmann 1988); optimum 7.6672 at y = (0, 1, 1).
    m = vo.Model("ex1221")
    x1, x2 = m.variable("x1", 0, 10), m.variable("x2", 0, 10)
    y1, y2, y3 = m.binary("y1"), m.binary("y2"), m.binary("y3")
    m.minimize(2 * x1 + 3 * x2 + 1.5 * y1 + 2 * y2 - 0.5 * y3)
    m.add(x1 * x1 + y1 == 1.25)
    m.add(x2 * vo.sqrt(x2) + 1.5 * y2 == 3)  # x2^1.5
    m.add(x1 + y1 <= 1.6)
    m.add(1.333 * x2 + y2 <= 3)
    m.add(-y1 - y2 + y3 <= 0)
    return m


def _nvs03():
    # MINLPLib nvs03 (after Gupta & Ravindran 1985): optimum 16 at (4, 2).
    m = vo.Model("nvs03")
    i1, i2 = m.integer("i1", 0, 200), m.integer("i2", 0, 200)
    m.minimize(i1 * i1 - 16 * i1 + 64 + i2 * i2 - 4 * i2 + 4)  # (i1 - 8)^2 + (i2 - 2)^2
    m.add(-0.1 * (i1 * i1) + i2 >= 0)
    m.add(-0.333333 * i1 - i2 + 4.5 >= 0)
    return m


def _miqp_fractional():
    m = vo.Model()
    x, y = m.integer("x", 0, 5), m.integer("y", 0, 5)
    m.minimize(x * x + y * y - 3 * x - 3 * y)  # relaxation at (1.5, 1.5)
    return m


def _miqp_infeasible():
    m = vo.Model()
    k = m.integer("k", 0, 10)
    m.add(2 * k == 3)
    m.minimize(k * k)
    return m


_SYMMETRIC = np.array([[4.0, 1.0, -2.0], [1.0, 3.0, 0.5], [-2.0, 0.5, 5.0]])


def _smallest_eigenvalue():
    # max lam s.t. A - lam*I is PSD.
    m = vo.Model("eigen")
    lam = m.variable("lam")
    entries = []
    for c in range(3):
        for r in range(c + 1):
            v = m.variable(f"X{r}{c}")
            m.add(v + (lam if r == c else 0) == _SYMMETRIC[r, c])
            entries.append(v)
    m.add_psd_cone(entries)
    m.maximize(lam)
    return m


def _socp_infeasible():
    m = vo.Model()
    t, x, y = m.variable("t", upper=4), m.variable("x"), m.variable("y")
    m.add(x == 3)
    m.add(y == 4)
    m.add_soc_cone([t, x, y])
    m.minimize(t)
    return m


def _socp_unbounded():
    m = vo.Model()
    t, x = m.variable("t"), m.variable("x")
    m.add_soc_cone([t, x])
    m.maximize(t - x)  # t >= |x| leaves t free to grow
    return m


PROBLEMS = [
    Problem("lp_production", _production, "LP", "optimal", 12.0, {"x": 4.0, "y": 0.0}, [-3.0, 0.0]),
    Problem("lp_max_constant", _max_with_constant, "LP", "optimal", 5.0, {"x": 1.0}, []),
    Problem("lp_equality", _equality, "LP", "optimal", -3.0, {"x": 0.0, "y": 3.0}),
    Problem("lp_constant_rhs", _constant_moved_to_rhs, "LP", "optimal", 5.0, {"x": 5.0}, [1.0]),
    Problem("lp_infeasible", _infeasible_lp, "LP", "infeasible"),
    Problem("lp_unbounded", _unbounded_lp, "LP", "unbounded"),
    Problem("milp_knapsack", _knapsack, "MILP", "optimal", 13.0, {"a": 2.0, "b": 0.0, "c": 1.0}),
    Problem("milp_infeasible", _infeasible_milp, "MILP", "infeasible"),
    Problem("qp_cross_term", _qp(False), "QP", "optimal", -7.0, {"x": 1.0, "y": 2.0}),
    Problem("miqp_cross_term", _qp(True), "MIQP", "optimal", -7.0, {"x": 1.0, "y": 2.0}),
    Problem("qp_concave_max", _concave_max, "QP", "optimal", 3.0, {"x": 1.0}),
    Problem("hs021", _hs021, "QP", "optimal", -99.96, {"x1": 2.0, "x2": 0.0}),
    Problem("hs035", _hs035, "QP", "optimal", 1 / 9, {"x1": 4 / 3, "x2": 7 / 9, "x3": 4 / 9}),
    Problem("hs006", _hs006, "NLP", "optimal", 0.0, {"x1": 1.0, "x2": 1.0}, options={"warm_start": [-1.2, 1]}),
    Problem("hs010", _hs010, "NLP", "optimal", -1.0, {"x1": 0.0, "x2": 1.0}, options={"warm_start": [-10, 10]}),
    Problem("hs038", _hs038, "NLP", "optimal", 0.0, {"x1": 1.0, "x2": 1.0, "x3": 1.0, "x4": 1.0},
            options={"warm_start": [-3, -1, -3, -1]}),
    Problem("hs056", _hs056, "NLP", "optimal", -3.456, {"x1": 2.4, "x2": 1.2, "x3": 1.2},
            options={"warm_start": [1, 1, 1, _A56, _A56, _A56, _B56]}),
    Problem("hs071", _hs071, "NLP", "optimal", 17.0140173,
            {"x1": 1.0, "x2": 4.7429994, "x3": 3.8211503, "x4": 1.3794082}, options={"warm_start": [1, 5, 5, 1]}),
    Problem("nlp_sqrt_division", _hs_sqrt_division, "NLP", "optimal", 2.0, {"x": 1.0}),
    Problem("nlp_max_constant", _nlp_max_with_constant, "NLP", "optimal", 3.0, {"x": 1.0}),
    Problem("nlp_infeasible", _nlp_infeasible, "NLP", "infeasible"),
    Problem("nlp_unbounded", _nlp_unbounded, "NLP", "unbounded"),
    Problem("socp_distance", _distance_to_polyhedron, "SOCP", "optimal", 3 * math.sqrt(2),
            {"x1": 0.0, "x2": 1.0}),
    Problem("socp_robust_lp", _robust_lp, "SOCP", "optimal", 5 + 2 / 3, {"x1": 1 / 3, "x2": 1 / 3}),
    Problem("psd_smallest_eigenvalue", _smallest_eigenvalue, "PSD", "optimal",
            float(np.linalg.eigvalsh(_SYMMETRIC)[0])),
    Problem("minlp_ex1221", _ex1221, "MINLP", "optimal", 7.66718007,
            {"x1": math.sqrt(1.25), "x2": 1.5 ** (2 / 3), "y1": 0.0, "y2": 1.0, "y3": 1.0}),
    Problem("minlp_nvs03", _nvs03, "MINLP", "optimal", 16.0, {"i1": 4.0, "i2": 2.0}),
    Problem("miqp_fractional_relaxation", _miqp_fractional, "MIQP", "optimal", -4.0),
    Problem("miqp_infeasible", _miqp_infeasible, "MIQP", "infeasible"),
    Problem("socp_infeasible", _socp_infeasible, "SOCP", "infeasible"),
    Problem("socp_unbounded", _socp_unbounded, "SOCP", "unbounded"),
]

CONTINUOUS = ["highs", "osqp", "scipy", "clarabel", "ipopt"]
SOLVERS = {
    "LP": CONTINUOUS,
    "QP": CONTINUOUS,
    "MILP": ["highs"],  # the others solve the relaxation, a different problem
    "MIQP": ["highs", "bonmin"],
    "NLP": ["ipopt"],
    "MINLP": ["bonmin"],
    "SOCP": ["clarabel"],
    "PSD": ["clarabel"],
}

# What each solver reports where its package words a failure differently.
STATUS = {
    ("highs", "miqp_fractional_relaxation"): "unknown",  # HiGHS refuses mixed-integer QPs
    ("highs", "miqp_infeasible"): "unknown",
    ("osqp", "unbounded"): "infeasible",  # dual infeasibility comes through the same word
    ("scipy", "infeasible"): "unknown",   # SLSQP only knows success or not
    ("scipy", "unbounded"): "unknown",
}


def cases():
    """Every (problem, solver) pair of the library."""
    return [(p, s) for p in PROBLEMS for s in SOLVERS[p.kind]]


def expected_status(problem, solver):
    return STATUS.get((solver, problem.id), STATUS.get((solver, problem.status), problem.status))


def check(problem, result, tol=1e-5, status=None, duals=True):
    assert result.status == (status or problem.status)
    if result.status != "optimal":
        if result.solver != "SciPy/SLSQP":  # which reports its last point in any case
            assert result.objective is None
        return
    if problem.objective is not None:
        assert abs(result.objective - problem.objective) <= tol * (1 + abs(problem.objective))
    if problem.values is not None:
        values = result.values()
        for name, expected in problem.values.items():
            assert abs(values[name] - expected) <= tol * 10, (name, values[name], expected)
    if duals and problem.duals is not None:
        assert result.duals is not None
        assert len(result.duals) == len(problem.duals)
        for got, expected in zip(result.duals, problem.duals):
            assert abs(got - expected) <= tol
