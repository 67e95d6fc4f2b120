"""Result.sensitivity, why and why_detail: classic LPs with known duals, a cross-check
against scipy's linprog, duals after redundant rows were removed, the sentences, and the
missing-data rules."""

import math

import numpy as np
import pytest
from scipy.optimize import linprog

import velmo as vo

INF = math.inf
NO_DATA = "^No model data stored \u2014 use Model.solve\\(\\) for diagnostics$"


def wyndor():
    m = vo.Model("wyndor")
    x, y = m.variable("doors", 0, INF), m.variable("windows", 0, INF)
    m.add(x <= 4, name="plant1")
    m.add(2 * y <= 12, name="plant2")
    m.add(3 * x + 2 * y <= 18, name="plant3")
    m.maximize(3 * x + 5 * y)
    return m, x, y


def test_wyndor_shadow_prices():
    m, x, y = wyndor()
    r = m.solve()
    assert r.objective == 36.0
    s = r.sensitivity()
    assert list(s) == ["shadow_prices", "most_impactful", "active_constraints", "variable_bounds"]
    # The duals are those of the minimisation form: the model's own prices 0, 1.5, 1 negated.
    assert [(p, lab) for p, lab, _ in s["shadow_prices"]] == [(0, "plant1"), (1, "plant2"), (2, "plant3")]
    assert [d for _, _, d in s["shadow_prices"]] == pytest.approx([0.0, -1.5, -1.0])
    assert [lab for _, lab, _ in s["most_impactful"]] == ["plant2", "plant3", "plant1"]
    assert s["active_constraints"] == [(1, "plant2"), (2, "plant3")]
    assert s["variable_bounds"] == [("doors", "between"), ("windows", "between")]


# Diet (Stigler-style, three foods, two nutrients): min cost with minimum intakes.
FOODS = {"bread": (2.0, 4.0, 1.0), "milk": (3.5, 8.0, 5.0), "beans": (8.0, 7.0, 9.0)}  # cost, protein, iron
NEED = {"protein": 60.0, "iron": 30.0}


def diet():
    m = vo.Model("diet")
    v = {f: m.variable(f, 0, INF) for f in FOODS}
    m.add(vo.sum([FOODS[f][1] * v[f] for f in FOODS]) >= NEED["protein"], name="protein")
    m.add(vo.sum([FOODS[f][2] * v[f] for f in FOODS]) >= NEED["iron"], name="iron")
    m.minimize(vo.sum([FOODS[f][0] * v[f] for f in FOODS]))
    return m


def transport():
    supply, demand = [20, 30], [10, 25, 15]
    cost = [[8, 6, 10], [9, 12, 13]]
    m = vo.Model("transport")
    x = [[m.variable(f"x{i}{j}", 0, INF) for j in range(3)] for i in range(2)]
    for i in range(2):
        m.add(vo.sum(x[i]) <= supply[i], name=f"supply{i}")
    for j in range(3):
        m.add(vo.sum([x[i][j] for i in range(2)]) >= demand[j], name=f"demand{j}")
    m.minimize(vo.sum([cost[i][j] * x[i][j] for i in range(2) for j in range(3)]))
    A = np.zeros((5, 6))
    for i in range(2):
        A[i, 3 * i:3 * i + 3] = 1
    for j in range(3):
        A[2 + j, [j, 3 + j]] = -1  # >= as <= for linprog
    b = np.array(supply + [-d for d in demand], dtype=float)
    return m, np.array(cost, dtype=float).ravel(), A, b


def test_diet_duals_price_the_nutrients():
    r = diet().solve()
    s = r.sensitivity()
    duals = {lab: d for _, lab, d in s["shadow_prices"]}
    # The prices reproduce the cost (strong duality); a nutrient met with room to spare is free.
    assert NEED["protein"] * duals["protein"] + NEED["iron"] * duals["iron"] == pytest.approx(r.objective)
    active = {lab for _, lab in s["active_constraints"]}
    assert active and all(duals[lab] == 0 for lab in duals if lab not in active)


def test_transport_duals_match_linprog():
    m, c, A, b = transport()
    r = m.solve()
    ref = linprog(c, A_ub=A, b_ub=b, bounds=(0, None), method="highs")
    assert r.objective == pytest.approx(ref.fun)
    got = [d for _, _, d in r.sensitivity()["shadow_prices"]]
    # linprog's marginals are d(objective)/d(b_ub); our >= rows were negated for it.
    expected = list(ref.ineqlin.marginals[:2]) + [-v for v in ref.ineqlin.marginals[2:]]
    assert got == pytest.approx(expected, abs=1e-9)


def test_duals_follow_their_constraints_after_row_elimination():
    m = vo.Model()
    a, b = m.variable("a", 0, 10), m.variable("b", 0, 10)
    m.add(a + b >= 3, name="first")
    m.add(a <= 50, name="middle")  # provably redundant: a <= 10
    m.add(b <= 2, name="last")
    m.minimize(3 * a + b)
    kept, cut = m.solve(), m.solve(eliminate_redundant=True)
    assert len(kept.duals) == 3 and len(cut.duals) == 2
    expected = [(0, "first", 3.0), (1, "middle", 0.0), (2, "last", -2.0)]
    for r in (kept, cut):
        assert [(p, lab) for p, lab, _ in r.sensitivity()["shadow_prices"]] == [e[:2] for e in expected]
        assert [d for *_, d in r.sensitivity()["shadow_prices"]] == pytest.approx([e[2] for e in expected])


def test_most_impactful_is_a_stable_top_five():
    m = vo.Model()
    x, y, z = m.variable("x", 0, INF), m.variable("y", 0, INF), m.variable("z", 0, INF)
    m.add(x >= 1)
    m.add(-1 * y <= -1)
    m.add(z >= 1)
    for k in range(4):
        m.add(x + y + z <= 100 + k)
    m.minimize(3 * x + 5 * y + 5 * z)
    s = m.solve().sensitivity()
    assert [d for _, _, d in s["shadow_prices"][:3]] == pytest.approx([3, -5, 5])
    assert [(p, lab) for p, lab, _ in s["most_impactful"]] == [(1, "c1"), (2, "c2"), (0, "c0"), (3, "c3"), (4, "c4")]


@pytest.fixture
def explained():
    m = vo.Model()
    x = m.variable("x", 0, 10)
    y = m.variable("y", 0, 4)
    z = m.variable("z", 0, 10)
    w = m.variable("w", 2, 2)
    m.add(x + z <= 20)            # loose
    m.add(y + z <= 7, name="cap")  # tight: 4 + 3
    m.add(z - y >= -1)            # tight: 3 - 4
    m.add(w + x >= 2)
    m.maximize(y + z - x)
    r = m.solve()
    assert r.objective == 7.0
    return m, r, (x, y, z, w)


def test_why_sentences(explained):
    _, r, (x, y, z, w) = explained
    assert r.why(x) == "x = 0.000000 because it is at its lower bound (0.000000). 1 binding constraint(s) involve this variable."
    assert r.why(y) == "y = 4.000000 because it is at its upper bound (4.000000). 2 binding constraint(s) push it to this limit."
    assert r.why(z) == "z = 3.000000 is determined by binding constraint(s): cap, unnamed"
    assert r.why(w) == "w = 2.000000 because it is fixed (lower = upper = 2.000000)."
    d = r.why_detail(z)
    assert list(d) == ["variable", "value", "bound_status", "explanation", "binding_constraints"]
    assert d == {"variable": "z", "value": 3.0, "bound_status": "between", "explanation": r.why(z),
                 "binding_constraints": [(1, "cap"), (2, "c2")]}
    s = r.sensitivity()
    assert s["variable_bounds"] == [("x", "at_lower"), ("y", "at_upper"), ("z", "between"), ("w", "fixed")]
    assert s["active_constraints"] == [(1, "cap"), (2, "c2"), (3, "c3")]


@pytest.mark.parametrize(
    "lower, upper, cost, expected",
    [
        (0, 10, 1, "v = 0.000000 because it is at its lower bound (0.000000). No binding constraints force it higher."),
        (-10, 0, -1, "v = 0.000000 because it is at its upper bound (0.000000)."),
        (-INF, INF, 0, "v = 0.000000 \u2014 it is between its bounds [-inf, inf] and no constraints are binding."),
        # Within 1e-6 of both bounds, the lower one is named.
        (0, 5e-7, 1, "v = 0.000000 because it is at its lower bound (0.000000). No binding constraints force it higher."),
    ],
)
def test_why_without_binding_constraints(lower, upper, cost, expected):
    m = vo.Model()
    v = m.variable("v", lower, upper)
    u = m.variable("u", 0, 1)
    m.add(u <= 1)
    m.minimize(u + cost * v)
    r = m.solve()
    assert r.value(v) == 0.0
    assert r.why(v) == expected


def test_missing_data_rules():
    m = vo.Model()
    x = m.variable("x", 0, 1)
    m.add(x >= 2)
    infeasible = m.solve()
    for call in (infeasible.why, infeasible.why_detail):
        with pytest.raises(ValueError, match="^No solution available$"):
            call(x)
    s = infeasible.sensitivity()
    assert s["active_constraints"] == [] and s["variable_bounds"] == [] and s["shadow_prices"] == []

    one_line = vo.maximize(x, [x <= 3])
    assert one_line.sensitivity() == {"shadow_prices": [], "most_impactful": [], "active_constraints": [],
                                      "variable_bounds": []}
    with pytest.raises(ValueError, match=NO_DATA):
        one_line.why(x)
    with pytest.raises(ValueError, match="outside this result's 0 variables"):
        one_line.why_detail(x)


def test_var_of_another_model_and_wrong_types(explained):
    m, r, _ = explained
    late = m.variable("late")
    other = vo.Model()
    stranger = other.variable("s0")  # index 0 is a variable of the result's model too
    for call in (r.why, r.why_detail):
        with pytest.raises(ValueError, match="variable index 4 is outside this result's 4 variables"):
            call(late)
        with pytest.raises(ValueError, match="the variable belongs to another model"):
            call(stranger)
        with pytest.raises(TypeError, match="var"):
            call("x")


def test_a_persistent_resolve_carries_no_model_data():
    m, x, _ = wyndor()
    r = vo.PersistentHighs.from_model(model=m).resolve()
    assert r.objective == 36.0
    assert r.sensitivity() == {"shadow_prices": [], "most_impactful": [], "active_constraints": [],
                               "variable_bounds": []}
    with pytest.raises(ValueError, match=NO_DATA):
        r.why(x)
    with pytest.raises(ValueError, match=NO_DATA):
        r.infeasibility_report()
