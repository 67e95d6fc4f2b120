"""Result.ranging after solve(ranging=True): the textbook's cost and right-hand-side intervals
(where the optimal basis stays optimal), checked on Wyndor Glass and, by moving each number
just inside and just outside its interval, on seeded random LPs."""

import math
import random

import pytest

import velmo as vo

INF = math.inf
MESSAGE = "^Ranging needs an LP solved by HiGHS with solve\\(ranging=True\\)$"


def wyndor():
    m = vo.Model()
    x1, x2 = m.variable("x1", 0, INF), m.variable("x2", 0, INF)
    m.maximize(3 * x1 + 5 * x2)
    m.add(x1 <= 4, name="plant1")
    m.add(2 * x2 <= 12, name="plant2")
    m.add(3 * x1 + 2 * x2 <= 18, name="plant3")
    return m


def test_wyndor_matches_the_textbook():
    rng = wyndor().solve(ranging=True).ranging()
    assert list(rng) == ["cost_ranges", "rhs_ranges", "reduced_costs"]
    assert rng["cost_ranges"] == [("x1", 3.0, pytest.approx(0.0), pytest.approx(7.5)),
                                  ("x2", 5.0, pytest.approx(2.0), INF)]
    assert rng["rhs_ranges"] == [(0, "plant1", 4.0, pytest.approx(2.0), INF),
                                 (1, "plant2", 12.0, pytest.approx(6.0), pytest.approx(18.0)),
                                 (2, "plant3", 18.0, pytest.approx(12.0), pytest.approx(24.0))]
    assert rng["reduced_costs"] == [("x1", pytest.approx(0.0)), ("x2", pytest.approx(0.0))]


def test_labels_constants_and_nonbasic_columns():
    # min 2a + 3b + c: a + b + 4 >= 6 (stored as a + b >= 2) binds; unnamed a - b <= 7 has
    # slack; c sits at its bound.
    m = vo.Model()
    a, b, c = m.variable("a", 0, 10), m.variable("b", 0, 10), m.variable("c", 1, 5)
    m.minimize(2 * a + 3 * b + c)
    m.add(a + b + 4 >= 6, name="need")
    m.add(a - b <= 7)
    r = m.solve(ranging=True)
    rng = r.ranging()
    need, spare = rng["rhs_ranges"]
    assert need[:3] == (0, "need", 2.0) and need[3] == pytest.approx(0.0) and need[4] == pytest.approx(7.0)
    # Activity a - b = 2: the rhs may fall to 2 before the row binds, and rise without end.
    assert spare == (1, "c1", 7.0, pytest.approx(2.0), INF)
    costs = {name: (cost, lo, hi) for name, cost, lo, hi in rng["cost_ranges"]}
    assert costs["a"] == (2.0, pytest.approx(0.0), pytest.approx(3.0))
    assert costs["b"] == (3.0, pytest.approx(2.0), INF)
    assert costs["c"] == (1.0, pytest.approx(0.0), INF)
    reduced = dict(rng["reduced_costs"])
    assert reduced["b"] == pytest.approx(1.0) and reduced["c"] == pytest.approx(1.0)


def _milp():
    m = vo.Model()
    x = m.integer("x", 0, 10)
    y = m.variable("y", 0, 10)
    m.maximize(x + y)
    m.add(2 * x + y <= 7.5)
    return m


def _qp():
    m = vo.Model()
    x = m.variable("x", -5, 5)
    m.minimize(x * x - x)
    return m


def _infeasible():
    m = vo.Model()
    x = m.variable("x", 0, 1)
    m.add(x >= 2)
    m.minimize(x)
    return m


@pytest.mark.parametrize("make, options", [
    (wyndor, {}),
    (wyndor, {"ranging": False}),
    (wyndor, {"ranging": True, "solver": "osqp"}),
    (_milp, {"ranging": True}),
    (_qp, {"ranging": True}),
    (_qp, {"ranging": True, "solver": "highs"}),
    (_infeasible, {"ranging": True}),
])
def test_ranging_only_for_an_optimal_lp_on_highs(make, options):
    r = make().solve(**options)
    with pytest.raises(ValueError, match=MESSAGE):
        r.ranging()


def test_rows_removed_before_the_solve_keep_their_positions():
    m = wyndor()
    x1 = m.variable("x3", 0, 1)
    m.add(x1 <= 5, name="never")  # the bound alone guarantees it
    r = m.solve(ranging=True, eliminate_redundant=True)
    positions = [row[0] for row in r.ranging()["rhs_ranges"]]
    assert positions == [0, 1, 2]


def random_lp(rng):
    n, k = rng.randint(2, 5), rng.randint(2, 5)
    costs = [rng.choice([-1, 1]) * rng.uniform(0.5, 5) for _ in range(n)]
    rows = []
    for _ in range(k):
        coefs = [rng.uniform(0.2, 3) if rng.random() < 0.8 else 0.0 for _ in range(n)]
        sense = rng.choice(["<=", "<=", ">="])
        rhs = rng.uniform(2, 20) if sense == "<=" else rng.uniform(0.5, 4)
        rows.append((coefs, sense, rhs, rng.uniform(-2, 2)))
    return costs, rows, rng.random() < 0.5


def solve_lp(costs, rows, maximize, ranging=False):
    m = vo.Model()
    xs = [m.variable(f"x{j}", 0, 8) for j in range(len(costs))]
    objective = vo.sum([c * x for c, x in zip(costs, xs)])
    m.maximize(objective) if maximize else m.minimize(objective)
    for coefs, sense, rhs, constant in rows:
        e = vo.sum([a * x for a, x in zip(coefs, xs)]) + constant
        m.add(e <= rhs if sense == "<=" else e >= rhs)
    return m.solve(ranging=ranging)


def _same(a, b, tol=1e-6):
    return all(abs(u - v) <= tol * (1 + abs(u)) for u, v in zip(a, b))


def test_moving_just_inside_keeps_the_basis_and_just_outside_changes_it():
    rng = random.Random(11)
    moves = 0
    for _ in range(40):
        costs, rows, maximize = random_lp(rng)
        base = solve_lp(costs, rows, maximize, ranging=True)
        if base.status != "optimal":
            continue
        table = base.ranging()
        x0, y0 = base.primals, base.duals
        # A cost moved within its interval keeps the optimal point; beyond it, the point moves.
        for j, (_, cost, lo, hi) in enumerate(table["cost_ranges"]):
            assert lo <= cost <= hi
            for end, inward in ((lo, 1), (hi, -1)):
                if not math.isfinite(end) or hi - lo < 1e-3:
                    continue
                d = 1e-4 * (1 + abs(end))
                for shift, keeps in ((inward * d, True), (-inward * d, False)):
                    moved = list(costs)
                    moved[j] = end + shift
                    r = solve_lp(moved, rows, maximize)
                    assert _same(r.primals, x0) == keeps, (costs, rows, maximize, j, end, shift)
                    moves += 1
        # A right-hand side moved within its interval keeps the shadow prices; beyond it, they change.
        for i, (pos, _, rhs, lo, hi) in enumerate(table["rhs_ranges"]):
            assert pos == i and lo <= rhs + 1e-9 and rhs <= hi + 1e-9
            for end, inward in ((lo, 1), (hi, -1)):
                if not math.isfinite(end) or hi - lo < 1e-3:
                    continue
                d = 1e-4 * (1 + abs(end))
                for shift, keeps in ((inward * d, True), (-inward * d, False)):
                    moved = [list(row) for row in rows]
                    moved[i][2] = end + shift + rows[i][3]  # the table's rhs has the constant moved over
                    r = solve_lp(costs, [tuple(row) for row in moved], maximize)
                    same = r.status == "optimal" and _same(r.duals, y0)
                    assert same == keeps, (costs, rows, maximize, i, end, shift)
                    moves += 1
    assert moves > 100


def test_model_without_rows():
    # HiGHS ranges nothing without rows; each column sits on its own bound.
    m = vo.Model()
    low, high, fixed = m.variable("low", 0, 3), m.variable("high", 0, 3), m.variable("fixed", 2, 2)
    m.maximize(-low + 2 * high + fixed)
    rng = m.solve(ranging=True).ranging()
    assert rng["cost_ranges"] == [("low", -1.0, -INF, 0.0), ("high", 2.0, 0.0, INF), ("fixed", 1.0, -INF, INF)]
    assert rng["rhs_ranges"] == []
