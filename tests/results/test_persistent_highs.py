"""PersistentHighs: loading, mirrors, updates checked whole and sent in bulk, resolve, and a
seeded run of random updates checked against fresh solves of the changed model."""

import math
import random

import numpy as np
import pytest

import velmo as vo

inf, nan = math.inf, math.nan
P = vo.PersistentHighs


def production():
    m = vo.Model("production")
    x, y = m.variable("x", 0, 10), m.variable("y", 0, 10)
    m.maximize(3 * x + 2 * y + 1)
    m.add(x + y <= 4)
    m.add(x + 3 * y <= 6)
    return m


def test_surface():
    assert P.__doc__ is None
    assert P.from_model.__text_signature__ == "(**kwargs)"
    for name, sig in [("update_col_bounds", "($self, indices, lowers, uppers)"),
                      ("update_row_bounds", "($self, indices, lowers, uppers)"),
                      ("update_col_costs", "($self, indices, costs)"),
                      ("update_matrix_coeffs", "($self, rows, cols, values)"),
                      ("row_bounds", "($self)"), ("col_bounds", "($self)"), ("col_costs", "($self)"),
                      ("resolve", "($self)"), ("num_cols", "($self)"), ("num_rows", "($self)")]:
        assert getattr(P, name).__text_signature__ == sig
    assert P.row_bounds.__doc__.endswith("Current (lower, upper) row bounds as loaded/updated \u2014 Phase 18.a.")
    assert P.col_bounds.__doc__.endswith("Current (lower, upper) column bounds as loaded/updated.")
    assert P.col_costs.__doc__.endswith("Current column costs as loaded/updated.")
    doc = P.update_matrix_coeffs.__doc__.split("\n")
    assert doc[:2] == ["Update individual constraint-matrix coefficients in place",
                       "(HiGHS changeCoeff) \u2014 Phase 20.x.4."] and len(doc) == 4
    assert "minimisation form" in P.update_col_costs.__doc__
    with pytest.raises(TypeError):
        P()


@pytest.mark.parametrize("kwargs", [{}, {"verbose": True}, {"modle": None}])
def test_model_keyword_required(kwargs):
    with pytest.raises(ValueError, match="^model keyword required$"):
        P.from_model(**kwargs)


def test_loaded_mirrors_and_resolve():
    m = production()
    p = P.from_model(model=m, time_limit=10.0, gap=1e-6, other_key=object())
    assert (p.num_cols(), p.num_rows()) == (2, 2)
    assert p.col_costs() == [-3.0, -2.0]  # minimisation form
    assert p.col_bounds() == ([0.0, 0.0], [10.0, 10.0])
    assert p.row_bounds() == ([-inf, -inf], [4.0, 6.0])
    r = p.resolve()
    own = m.solve()
    assert (r.status, r.solver, r.nodes, r.gap) == ("optimal", "HiGHS", None, None)
    assert r.objective == pytest.approx(own.objective) == 13.0
    assert r.primals == pytest.approx([4.0, 0.0]) and r.duals == pytest.approx(own.duals)
    assert r.values() == {} and r.var_names_list == []
    assert isinstance(r.iterations, int) and r.basis() is not None
    again = p.resolve()
    assert again.status == "optimal" and again.iterations <= r.iterations
    p.col_costs().append(1)  # fresh lists
    assert p.col_costs() == [-3.0, -2.0]


def test_maximised_objective_and_costs_in_minimisation_form():
    m = vo.Model()
    x = m.variable("x", 0, 1)
    m.maximize(3 * x + 2)
    p = P.from_model(model=m)
    assert p.resolve().objective == 5.0
    p.update_col_costs([0], [-7.0])  # stored and passed unchanged
    assert p.col_costs() == [-7.0]
    assert p.resolve().objective == 9.0


def test_integer_columns_still_report_duals():
    m = vo.Model()
    a, b = m.integer("a", 0, 5), m.variable("b", 0, 5)
    m.maximize(a + b)
    m.add(a + b <= 3.5)
    r = P.from_model(model=m).resolve()
    assert r.status == "optimal" and r.objective == pytest.approx(3.5)
    assert r.duals is not None and r.nodes is None


def test_quadratic_model_keeps_its_hessian():
    m = vo.Model()
    x, y = m.variable("x", -5, 5), m.variable("y", -5, 5)
    m.minimize(x * x + y * y - 2 * x + x * y)
    m.add(x + y >= 1)
    p = P.from_model(model=m)
    assert p.resolve().objective == pytest.approx(m.solve().objective, abs=1e-6)
    p.update_col_costs([1], [3.0])
    m.minimize(x * x + y * y - 2 * x + x * y + 3 * y)
    assert p.resolve().objective == pytest.approx(m.solve().objective, abs=1e-6)


def test_updates_change_mirrors_and_highs():
    m = production()
    p = P.from_model(model=m)
    p.update_col_bounds(np.array([0]), np.array([1.0]), (2,))  # any sequence of numbers
    assert p.col_bounds() == ([1.0, 0.0], [2.0, 10.0])
    p.update_row_bounds([1, 0], [-inf, 1], [5.0, 3.0])
    assert p.row_bounds() == ([1.0, -inf], [3.0, 5.0])
    p.update_matrix_coeffs([0], [1], [2.0])
    assert (p.col_bounds(), p.row_bounds(), p.col_costs()) == (([1.0, 0.0], [2.0, 10.0]), ([1.0, -inf], [3.0, 5.0]),
                                                             [-3.0, -2.0])
    fresh = vo.Model()
    x, y = fresh.variable("x", 1, 2), fresh.variable("y", 0, 10)
    fresh.maximize(3 * x + 2 * y + 1)
    fresh.add(x + 2 * y <= 3)
    fresh.add(x + 2 * y >= 1)
    fresh.add(x + 3 * y <= 5)
    assert p.resolve().objective == pytest.approx(fresh.solve().objective)


@pytest.mark.parametrize("itype", [np.int32, np.int64, np.uint16, np.intp])
@pytest.mark.parametrize("vtype", [np.float64, np.float32, np.int64])
def test_numpy_updates_match_sequence_updates(itype, vtype):
    with_arrays, with_lists = P.from_model(model=production()), P.from_model(model=production())
    idx = [1, 0, 1]
    with_arrays.update_col_bounds(np.array(idx, dtype=itype), np.array([1, 2, 0], dtype=vtype),
                                  np.array([4, 5, 3, 99], dtype=vtype))
    with_lists.update_col_bounds(idx, [1, 2, 0], [4, 5, 3, 99])
    with_arrays.update_row_bounds(np.array([0], dtype=itype), np.array([-inf]), np.array([3], dtype=vtype))
    with_lists.update_row_bounds([0], [-inf], [3])
    with_arrays.update_col_costs(np.arange(2, dtype=itype), np.array([-1, -2], dtype=vtype))
    with_lists.update_col_costs([0, 1], [-1, -2])
    mirrors = [(p.col_bounds(), p.row_bounds(), p.col_costs()) for p in (with_arrays, with_lists)]
    assert mirrors[0] == mirrors[1] and mirrors[0][0] == ([2.0, 0.0], [5.0, 3.0])
    assert with_arrays.resolve().objective == pytest.approx(with_lists.resolve().objective)


def test_each_update_is_one_bulk_call_and_repeated_indices_keep_the_last(highs_calls):
    p = P.from_model(model=production())
    first = len(highs_calls.calls)
    p.update_col_bounds([1, 0, 1], [1.0, 2.0, 3.0], [4.0, 5.0, 6.0, 99.0])  # extra entries ignored
    p.update_col_costs([0, 0], [-1.0, -4.0])
    p.update_row_bounds([], [], [])
    p.update_matrix_coeffs([0, 1], [0, 0], [2.0, 3.0])
    assert highs_calls.names()[first:] == ["changeColsBounds", "changeColsCost", "changeCoeff", "changeCoeff"]
    assert p.col_bounds() == ([2.0, 3.0], [5.0, 6.0]) and p.col_costs() == [-4.0, -2.0]


BAD_UPDATES = [
    ("update_col_bounds", ([0, 2], [0, 0], [1, 1]), ValueError, r"indices\[1\] = 2 is out of range: the model has 2 columns"),
    ("update_col_bounds", ([-1], [0], [1]), ValueError, r"indices\[0\] = -1 is out of range"),
    ("update_col_bounds", ([2 ** 80], [0], [1]), ValueError, r"= 1208925819614629174706176 is out of range"),
    ("update_col_bounds", ([0, 1], [0], [1, 1]), ValueError, "lowers has 1 entries, fewer than the 2 of indices"),
    ("update_col_bounds", ([0], [nan], [1]), ValueError, r"lowers\[0\] is NaN"),
    ("update_col_bounds", ([0], [inf], [inf]), ValueError, "HiGHS refused the change"),
    ("update_col_bounds", ("0", [0], [1]), TypeError, "'indices'"),
    ("update_col_bounds", ([0.0], [0], [1]), TypeError, "'indices'"),
    ("update_col_bounds", ([0], [0], "1"), TypeError, "'uppers'"),
    ("update_row_bounds", ([0, 1, 2], [0] * 3, [1] * 3), ValueError, r"indices\[2\] = 2 is out of range: the model has 2 rows"),
    ("update_col_costs", ([1, 0], [1.0]), ValueError, "costs has 1 entries, fewer than the 2 of indices"),
    ("update_col_costs", ([0], [nan]), ValueError, r"costs\[0\] is NaN"),
    ("update_matrix_coeffs", ([0, 1], [0], [1, 1]), ValueError, "cols has 1 entries, fewer than the 2 of rows"),
    ("update_matrix_coeffs", ([0, 1], [0, 5], [1, 1]), ValueError, r"cols\[1\] = 5 is out of range"),
    ("update_matrix_coeffs", ([0, 1], [0, 1], [1, inf]), ValueError, r"values\[1\] is infinite"),
    # NumPy arrays, read in bulk: the same checks and messages as for sequences.
    ("update_col_bounds", (np.array([0, 2]), np.zeros(2), np.ones(2)), ValueError,
     r"indices\[1\] = 2 is out of range: the model has 2 columns"),
    ("update_col_bounds", (np.array([-1], dtype=np.int8), np.zeros(1), np.ones(1)), ValueError, r"indices\[0\] = -1"),
    ("update_col_bounds", (np.array([2 ** 63], dtype=np.uint64), np.zeros(1), np.ones(1)), ValueError,
     "is out of range"),
    ("update_col_bounds", (np.array([0.0]), np.zeros(1), np.ones(1)), TypeError, "'indices'"),
    ("update_col_bounds", (np.array([[0]]), np.zeros(1), np.ones(1)), TypeError, "'indices'"),
    ("update_col_bounds", (np.array([0, 1]), np.zeros(1), np.ones(2)), ValueError,
     "lowers has 1 entries, fewer than the 2 of indices"),
    ("update_col_costs", (np.array([0, 1]), np.array([1.0, nan])), ValueError, r"costs\[1\] is NaN"),
    ("update_row_bounds", (np.array([0]), np.array(["a"]), np.ones(1)), TypeError, "'lowers'"),
]


@pytest.mark.parametrize("method, args, exc, message", BAD_UPDATES)
def test_bad_updates_are_refused_before_highs_is_called(highs_calls, method, args, exc, message):
    p = P.from_model(model=production())
    before = (p.col_bounds(), p.row_bounds(), p.col_costs(), p.resolve().objective)
    calls = len(highs_calls.calls)
    with pytest.raises(exc, match=message):
        getattr(p, method)(*args)
    # Only HiGHS's own refusal reaches HiGHS; then nothing changed there either.
    assert highs_calls.names()[calls:] in ([], ["changeColsBounds"])
    assert (p.col_bounds(), p.row_bounds(), p.col_costs(), p.resolve().objective) == before


def test_model_refused_at_load_reports_error_and_never_runs(highs_calls):
    m = vo.Model()
    x = m.variable("x", 0, 1)
    m.minimize(nan * x)
    r = P.from_model(model=m).resolve()
    assert (r.status, r.objective, r.iterations) == ("error", None, None)
    assert "run" not in highs_calls.names()


# ---- random updates against fresh models

def build(data, m=None):
    m = vo.Model("random")
    xs = [m.variable(f"x{j}", lo, up) for j, (lo, up) in enumerate(data["bounds"])]
    m.minimize(vo.sum([c * x for c, x in zip(data["cost"], xs)]))
    for row, (lo, up) in zip(data["a"], data["rows"]):
        e = vo.sum([a * x for a, x in zip(row, xs)])
        if lo > -inf:
            m.add(e >= lo)
        if up < inf:
            m.add(e <= up)
    return m


def test_hundred_random_updates_match_fresh_solves():
    rng = random.Random(20261210)
    n, k = 5, 4
    data = {
        "bounds": [(rng.randint(-3, 0), rng.randint(1, 4)) for _ in range(n)],
        "cost": [rng.uniform(-2, 2) for _ in range(n)],
        "a": [[rng.choice([0, 0, 1, 2, -1]) * 1.0 for _ in range(n)] for _ in range(k)],
        "rows": [(-inf, rng.uniform(1, 5)) for _ in range(k)],
    }
    # Row i of the fresh model is constraint i only while every row has one finite side.
    p = P.from_model(model=build(data))
    statuses = set()
    for step in range(100):
        kind = rng.choice(["col", "row", "cost", "coef"])
        if kind == "col":
            j = rng.randrange(n)
            lo = rng.randint(-3, 1)
            data["bounds"][j] = (lo, lo + rng.randint(0, 4))
            p.update_col_bounds([j], [data["bounds"][j][0]], [data["bounds"][j][1]])
        elif kind == "row":
            i = rng.randrange(k)
            data["rows"][i] = (-inf, rng.uniform(-2, 5))
            p.update_row_bounds([i], [-inf], [data["rows"][i][1]])
        elif kind == "cost":
            j = rng.randrange(n)
            data["cost"][j] = rng.uniform(-2, 2)
            p.update_col_costs([j], [data["cost"][j]])
        else:
            i, j = rng.randrange(k), rng.randrange(n)
            data["a"][i][j] = rng.choice([0.0, 1.0, -1.0, 0.5, 3.0])
            p.update_matrix_coeffs([i], [j], [data["a"][i][j]])
        assert p.col_bounds() == tuple(map(list, zip(*[(float(lo), float(up)) for lo, up in data["bounds"]])))
        assert p.col_costs() == data["cost"]
        got = p.resolve()
        want = build(data).solve(presolve=False)
        assert got.status == want.status, (step, kind)
        statuses.add(got.status)
        if want.status == "optimal":
            assert got.objective == pytest.approx(want.objective, abs=1e-7), (step, kind)
    assert "optimal" in statuses


def _cone_model():
    m = vo.Model()
    t, u = m.variable("t"), m.variable("u", 1, 2)
    m.add_soc_cone([t, u])
    m.minimize(t)
    return m


def _psd_model():
    m = vo.Model()
    a, b, c = m.variable("a"), m.variable("b"), m.variable("c")
    m.add_psd_cone([a, b, c])
    m.minimize(a + c)
    return m


def _nonlinear_constraint_model():
    m = vo.Model()
    w = m.variable("w", 0, 3)
    m.add(vo.sin(w) <= 0.5)
    m.maximize(w)
    return m


def _nonlinear_objective_model():
    m = vo.Model()
    w = m.variable("w", 0, 3)
    m.minimize(vo.cos(w))
    return m


@pytest.mark.parametrize("build", [_cone_model, _psd_model, _nonlinear_constraint_model, _nonlinear_objective_model])
def test_a_model_highs_cannot_hold_is_refused_as_solve_refuses_it(build):
    m = build()
    with pytest.raises(ValueError) as solving:
        m.solve(solver="highs")
    with pytest.raises(ValueError) as loading:
        P.from_model(model=m)
    assert str(loading.value) == str(solving.value)
