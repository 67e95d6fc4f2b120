"""What HiGHS holds after our bulk load is exactly what the one-call-per-column sequence
builds: columns, integrality, rows and Hessian, compared through HiGHS's own getters. Then
the models HiGHS refuses, which must never be solved in part."""

import math

import highspy
import numpy as np
import pytest

import velmo as vo

INF = math.inf


def _lp():
    m = vo.Model()
    x, y, z = m.variable("x", 0, 4), m.variable("y", lower=-1), m.variable("z", lower=-INF)
    m.minimize(2 * x + 3 * y - z + 5)
    m.add(x + y >= 1)
    m.add(x - 2 * z <= 3)
    m.add(y + z == 2)
    # Compiled form by hand: costs, bounds, integrality, rows as {column: value}, Hessian.
    return m, dict(cost=[2, 3, -1], lower=[0, -1, -INF], upper=[4, INF, INF], integer=[],
                   rows=[(1, INF, {0: 1, 1: 1}), (-INF, 3, {0: 1, 2: -2}), (2, 2, {1: 1, 2: 1})])


def _milp():
    m = vo.Model()
    a = m.variable("a", 0, 10)
    k = m.integer("k", -3, 7)
    b = m.binary("b")
    j = m.integer("j", 0, 20)
    m.maximize(a + 2 * k + 3 * b - j)
    m.add(a + k + b + j <= 12)
    m.add(3 * k - 5 * b >= -4)
    m.add(2 * k <= 9)  # a fractional relaxation, so that the MIP itself is loaded and run
    return m, dict(cost=[-1, -2, -3, 1], lower=[0, -3, 0, 0], upper=[10, 7, 1, 20], integer=[1, 2, 3],
                   rows=[(-INF, 12, {0: 1, 1: 1, 2: 1, 3: 1}), (-4, INF, {1: 3, 2: -5}), (-INF, 9, {1: 2})])


def _qp():
    m = vo.Model()
    x, y, w = m.variable("x", -5, 5), m.variable("y", -5, 5), m.variable("w", 0, 1)
    m.minimize(x * x + x * y + 2 * (y * y) + 3 * (w * w) - x + w)
    m.add(x + y >= 1)
    # 0.5 x'Qx: Q = [[2, 1, 0], [1, 4, 0], [0, 0, 6]], lower triangle column by column.
    return m, dict(cost=[-1, 0, 1], lower=[-5, -5, 0], upper=[5, 5, 1], integer=[],
                   rows=[(1, INF, {0: 1, 1: 1})], hessian=([0, 2, 3, 4], [0, 1, 1, 2], [2, 1, 4, 6]))


def _empty_rows_and_columns():
    m = vo.Model()
    x, _unused, y = m.variable("x", 0, 2), m.variable("u", -1, 1), m.variable("y", 0, 3)
    m.minimize(x - y)
    m.add(x - x <= 1)  # no terms left
    m.add(x + y <= 4)
    m.add(vo.sum([]) >= -2)
    return m, dict(cost=[1, 0, -1], lower=[0, -1, 0], upper=[2, 1, 3], integer=[],
                   rows=[(-INF, 1, {}), (-INF, 4, {0: 1, 2: 1}), (-2, INF, {})])


def _per_column_reference(expected):
    """The column-by-column, row-by-row load, in Python."""
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    none_i, none_f = np.array([], dtype=np.int32), np.array([], dtype=np.float64)
    for c, lo, up in zip(expected["cost"], expected["lower"], expected["upper"]):
        h.addCol(float(c), float(lo), float(up), 0, none_i, none_f)
    for j in expected["integer"]:
        h.changeColIntegrality(j, highspy.HighsVarType.kInteger)
    for lo, up, entries in expected["rows"]:
        cols = sorted(entries)
        h.addRow(float(lo), float(up), len(cols), np.array(cols, dtype=np.int32),
                 np.array([float(entries[c]) for c in cols]))
    if "hessian" in expected:
        start, index, value = expected["hessian"]
        h.passHessian(len(expected["cost"]), len(value), highspy.HessianFormat.kTriangular,
                      np.array(start, dtype=np.int32), np.array(index, dtype=np.int32), np.array(value, dtype=float))
    return h


def _held(h):
    lp = h.getLp()
    a = lp.a_matrix_
    # Rows added in bulk may be held row-wise; the entries are what must agree.
    outer = lp.num_col_ if a.format_ == highspy.MatrixFormat.kColwise else lp.num_row_
    entries = {}
    for o in range(outer):
        for k in range(a.start_[o], a.start_[o + 1]):
            key = (a.index_[k], o) if a.format_ == highspy.MatrixFormat.kColwise else (o, a.index_[k])
            entries[key] = a.value_[k]
    hess = h.getModel().hessian_
    return dict(
        num_col=lp.num_col_, num_row=lp.num_row_, sense=lp.sense_, offset=lp.offset_,
        col_cost=list(lp.col_cost_), col_lower=list(lp.col_lower_), col_upper=list(lp.col_upper_),
        row_lower=list(lp.row_lower_), row_upper=list(lp.row_upper_),
        integrality=[int(t) for t in lp.integrality_],
        a=entries,
        hessian=(hess.dim_, list(hess.start_), list(hess.index_), list(hess.value_)),
    )


@pytest.mark.parametrize("build", [_lp, _milp, _qp, _empty_rows_and_columns], ids=lambda f: f.__name__[1:])
def test_loaded_model_is_the_per_column_model(highs_calls, build):
    m, expected = build()
    r = m.solve(solver="highs")
    assert r.solver == "HiGHS" and r.status == "optimal"
    loaded = _held(highs_calls.instances[-1])
    assert loaded == _held(_per_column_reference(expected))
    # And the reference itself is the compiled form written out by hand.
    assert loaded["col_cost"] == expected["cost"]
    assert [lo for lo, _, _ in expected["rows"]] == loaded["row_lower"]
    assert loaded["num_row"] == len(expected["rows"])


def _bad_variable(lower, upper):
    def build():
        m = vo.Model()
        x, y = m.variable("x", 0, 1), m.variable("y", lower, upper)
        m.minimize(x + y)
        m.add(x + y >= 0.5)
        return m
    return build


def _nan_cost():
    m = vo.Model()
    x, y = m.variable("x", 0, 1), m.variable("y", 0, 1)
    m.minimize(x + float("nan") * y)
    return m


def _nan_coefficient():
    m = vo.Model()
    x, y = m.variable("x", 0, 1), m.variable("y", 0, 1)
    m.minimize(x + y)
    m.add(x + float("nan") * y <= 1)
    return m


def _nan_hessian():
    m = vo.Model()
    x = m.variable("x", 0, 1)
    m.minimize(x * x * float("nan") + x)
    return m


def _bad_row(lower):
    def build():
        m = vo.Model()
        x = m.variable("x", 0, 1)
        m.minimize(x)
        m.add(x >= lower)
        return m
    return build


@pytest.mark.parametrize(
    "build",
    [
        pytest.param(_bad_variable(INF, INF), id="bounds+inf+inf"),
        pytest.param(_bad_variable(-INF, -INF), id="bounds-inf-inf"),
        pytest.param(_bad_variable(float("nan"), 1), id="nan-bound"),
        pytest.param(_bad_row(INF), id="row+inf"),
        pytest.param(_bad_row(float("nan")), id="nan-row-bound"),
        # HiGHS takes these without complaint and then calls the model optimal.
        pytest.param(_nan_cost, id="nan-cost"),
        pytest.param(_nan_coefficient, id="nan-coefficient"),
        pytest.param(_nan_hessian, id="nan-hessian"),
    ],
)
def test_refused_model_is_an_error_and_never_run(highs_calls, build):
    r = build().solve(solver="highs")
    assert (r.status, r.solver, r.objective, r.duals, r.basis()) == ("error", "HiGHS", None, None, None)
    assert not r.is_optimal
    with pytest.raises(ValueError, match="No solution available"):
        r.values()
    assert "run" not in highs_calls.names()
