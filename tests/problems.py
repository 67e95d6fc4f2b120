"""A library of small problems with known answers, run against every solver that takes them.

Each entry: id, builder (returns the model and its variables), kinds of solver it suits,
expected status, objective, values by variable name, and duals. None means "not checked".
"""

from dataclasses import dataclass
from typing import Callable, Optional

import velmo as vo


@dataclass
class Problem:
    id: str
    build: Callable
    kind: str  # "LP", "MILP", "QP", "MIQP"
    status: str
    objective: Optional[float] = None
    values: Optional[dict] = None
    duals: Optional[list] = None


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
]


def check(problem, result, tol=1e-5, status=None, duals=True):
    assert result.status == (status or problem.status)
    if problem.status != "optimal":
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
