"""Result.infeasibility_report: the subsystem found by bound propagation, checked against
HiGHS (the set is infeasible alone, and each member is needed), its texts, and what it says
when propagation cannot show anything (HiGHS's own subsystem: tests/results/test_exact_iis.py)."""

import math

import pytest

import velmo as vo

KEYS = ["constraint_indices", "constraint_names", "explanation", "suggestions", "num_constraints", "bounds"]


def build(bounds, rows, subset=None):
    """bounds: {name: (lo, hi)}; rows: [(name or None, f(vars) -> Constraint)]."""
    m = vo.Model()
    v = {n: m.variable(n, lo, hi) for n, (lo, hi) in bounds.items()}
    for i, (name, make) in enumerate(rows):
        if subset is None or i in subset:
            m.add(make(v), name=name)
    m.minimize(vo.sum(list(v.values())))
    return m


# Small infeasible LPs whose irreducible set is known by hand.
CASES = {
    "capacity_vs_demand": (
        {"x": (0, math.inf), "y": (0, math.inf)},
        [("c1", lambda v: v["x"] + v["y"] <= 1), ("c2", lambda v: v["x"] >= 2), ("c3", lambda v: v["y"] <= 10)],
        [0, 1],
    ),
    "chain": (
        {"a": (0, 10), "b": (0, 10), "c": (0, 10)},
        [("cap", lambda v: v["a"] + v["b"] + v["c"] <= 5), ("loose", lambda v: v["a"] <= 9),
         ("need_a", lambda v: v["a"] >= 3), ("need_b", lambda v: v["b"] >= 3), ("free", lambda v: v["c"] >= 0)],
        [0, 2, 3],
    ),
    "two_sided": (
        {"p": (0, 4), "q": (0, 4)},
        [(None, lambda v: v["p"] + v["q"] >= 10), ("spare", lambda v: v["p"] - v["q"] <= 3)],
        [0],
    ),
}


def _feasible(bounds, rows, subset):
    return build(bounds, rows, subset).solve().status == "optimal"


@pytest.mark.parametrize("name", CASES)
def test_subsystem_is_infeasible_and_irreducible(name):
    bounds, rows, expected = CASES[name]
    r = build(bounds, rows).solve()
    assert r.status == "infeasible"
    rep = r.infeasibility_report()
    assert list(rep) == KEYS
    assert rep["constraint_indices"] == expected and rep["num_constraints"] == len(expected)
    assert not _feasible(bounds, rows, set(expected))
    for k in expected:
        assert _feasible(bounds, rows, set(expected) - {k}), f"member {k} is not needed"


def test_texts_and_labels():
    bounds, rows, _ = CASES["capacity_vs_demand"]
    rep = build(bounds, rows).solve().infeasibility_report()
    assert rep["constraint_names"] == ["c1", "c2"]
    assert rep["explanation"] == (
        "The following 2 constraints are mutually infeasible \u2014 no solution satisfies all of them "
        "simultaneously:\n  'c1' (c1: x0 + x1 <= 1)\n  'c2' (c2: x0 >= 2)")
    assert rep["suggestions"] == ["Relax 'c1': increase RHS from 1.0000", "Relax 'c2': decrease RHS from 2.0000"]

    # An unnamed member is 'constraint_{i}' in the texts but "unnamed" among the names.
    m = vo.Model()
    x = m.variable("x", 0, 1)
    for _ in range(4):
        m.add(x <= 1)
    m.add(x == 3)
    rep = m.solve().infeasibility_report()
    assert rep["constraint_indices"] == [4]
    assert rep["constraint_names"] == ["unnamed"]
    assert rep["explanation"].endswith("\n  'constraint_4' (x0 == 3)")
    assert rep["suggestions"] == ["Relax 'constraint_4': change from equality to inequality"]


EMPTY = {"constraint_indices": [], "constraint_names": [], "explanation": "No infeasible subsystem found.",
         "suggestions": [], "num_constraints": 0, "bounds": []}


def _feasible_model():
    m = vo.Model()
    x, y = m.variable("x", 0, 5), m.variable("y", 0, 5)
    m.add(x + y <= 4)
    m.add(x >= 1)
    m.minimize(x + y)
    return m


def _contradictory_bounds():
    m = vo.Model()
    x, y = m.variable("x", 3, 1), m.variable("y", 0, 1)
    m.add(x + y <= 10)
    m.minimize(y)
    return m


def _hidden_from_propagation():
    # x + y == 1 and x + y == 3: equality rows with several terms are never tightened, and
    # activity ranges [0, 4] cover both right-hand sides, so propagation sees nothing.
    m = vo.Model()
    x, y = m.variable("x", 0, 2), m.variable("y", 0, 2)
    m.add(x + y == 1)
    m.add(x + y == 3)
    m.minimize(x)
    return m


@pytest.mark.parametrize("make, status, rows, bounds", [
    (_feasible_model, "optimal", [], []),
    (_contradictory_bounds, None, [], ["x"]),
    (_hidden_from_propagation, "infeasible", [0, 1], []),
])
def test_what_propagation_cannot_show(make, status, rows, bounds):
    # A feasible model is not reported as "mutually infeasible" as a whole; what propagation
    # misses, HiGHS finds.
    r = make().solve()
    if status is not None:
        assert r.status == status
    rep = r.infeasibility_report()
    if not rows and not bounds:
        assert rep == EMPTY
    assert (rep["constraint_indices"], rep["bounds"]) == (rows, bounds)


def test_no_model_data():
    x = vo.Model().variable("x")
    r = vo.minimize(x, [x >= 1])
    with pytest.raises(ValueError, match="^No model data stored \u2014 use Model.solve\\(\\) for diagnostics$"):
        r.infeasibility_report()
