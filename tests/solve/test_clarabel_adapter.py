"""The Clarabel adapter on the real clarabel package: the conic rewrite (blocks, rows, cones),
settings, statuses."""

import math
import sys
import types

import clarabel
import pytest

import velmo as vo

INF = math.inf


@pytest.fixture
def clarabel_calls(monkeypatch):
    """Runs the real Clarabel while recording what each DefaultSolver was built from."""
    calls = []

    def recording(P, q, A, b, cones, settings):
        calls.append(dict(P=P, q=q, A=A, b=b, cones=cones, settings=settings))
        return clarabel.DefaultSolver(P, q, A, b, cones, settings)

    proxy = types.ModuleType("clarabel")
    proxy.__dict__.update(clarabel.__dict__)
    proxy.DefaultSolver = recording
    monkeypatch.setitem(sys.modules, "clarabel", proxy)
    return calls


def _cone_texts(cones):
    return [repr(c) for c in cones]


def test_equalities_then_inequalities_and_bounds_then_cones(clarabel_calls):
    m = vo.Model()
    t, x, y = m.variable("t"), m.variable("x", 0, 4), m.variable("y", upper=9)
    m.add(x == 3)
    m.add(x + y <= 5)
    m.add(x + y >= 1)  # a lower side gives the negated row
    m.add(y == 4 - x)
    m.add(x + y + t <= INF)  # both sides infinite: no row
    m.add_soc_cone([t, x, y])
    m.minimize(t + x * x)
    r = m.solve()
    assert r.solver == "Clarabel" and r.status == "optimal"
    assert r.objective == pytest.approx(math.sqrt(10) + 9, abs=1e-6)
    call = clarabel_calls[0]
    assert call["A"].format == "csc" and call["P"].format == "csc"
    assert call["A"].toarray().tolist() == [
        [0, 1, 0], [0, 1, 1],           # zero cone: x == 3, x + y == 4
        [0, 1, 1], [0, -1, -1],         # x + y <= 5, -(x + y) <= -1
        [0, 1, 0], [0, -1, 0], [0, 0, 1],  # bounds: x <= 4, -x <= 0, y <= 9
        [-1, 0, 0], [0, -1, 0], [0, 0, -1],  # the cone [t, x, y]
    ]
    assert call["b"].tolist() == [3, 4, 5, -1, 4, 0, 9, 0, 0, 0]
    assert _cone_texts(call["cones"]) == _cone_texts(
        [clarabel.ZeroConeT(2), clarabel.NonnegativeConeT(5), clarabel.SecondOrderConeT(3)])
    assert call["P"].toarray().tolist() == [[0, 0, 0], [0, 2, 0], [0, 0, 0]]
    assert call["q"].tolist() == [1, 0, 0]
    s = call["settings"]
    assert (s.verbose, s.tol_feas, s.tol_gap_abs, s.tol_gap_rel) == (False, 1e-9, 1e-9, 1e-9)
    assert s.time_limit == INF  # untouched without a time limit
    m.solve(time_limit=2.5)
    assert clarabel_calls[1]["settings"].time_limit == 2.5


def test_psd_rows_scale_off_diagonal_entries(clarabel_calls):
    m = vo.Model()
    a, b, c = m.variable("a"), m.variable("b"), m.variable("c")
    m.add(a == 2)
    m.add(c == 2)
    m.add_psd_cone([a, b, c])  # [[a, b], [b, c]] PSD: |b| <= 2
    m.maximize(b)
    r = m.solve()
    assert r.value(b) == pytest.approx(2, abs=1e-6)
    call = clarabel_calls[0]
    assert call["A"].toarray()[2:].tolist() == [[-1, 0, 0], [0, -math.sqrt(2), 0], [0, 0, -1]]
    assert _cone_texts(call["cones"]) == _cone_texts([clarabel.ZeroConeT(2), clarabel.PSDTriangleConeT(2)])


def test_free_variables_and_equalities_only_give_no_nonnegative_cone(clarabel_calls):
    m = vo.Model()
    t, x = m.variable("t"), m.variable("x")
    m.add(x == -2)
    m.add_soc_cone([t, x])
    m.minimize(t)
    assert m.solve().objective == pytest.approx(2, abs=1e-6)
    assert _cone_texts(clarabel_calls[0]["cones"]) == _cone_texts(
        [clarabel.ZeroConeT(1), clarabel.SecondOrderConeT(2)])


def _status_stand_in(monkeypatch, text, iterations=11):
    class Status:
        def __repr__(self):
            return text

    def solver(*args):
        real = clarabel.DefaultSolver(*args)

        class StandIn:
            def solve(self):
                sol = real.solve()
                return types.SimpleNamespace(status=Status(), x=sol.x, obj_val=sol.obj_val, iterations=iterations)
        return StandIn()

    proxy = types.ModuleType("clarabel")
    proxy.__dict__.update(clarabel.__dict__)
    proxy.DefaultSolver = solver
    monkeypatch.setitem(sys.modules, "clarabel", proxy)


@pytest.mark.parametrize(
    "text, status",
    [
        ("AlmostSolved", "optimal"),
        ("AlmostPrimalInfeasible", "infeasible"),
        ("AlmostDualInfeasible", "unbounded"),
        ("MaxIterations", "time_limit"),
        ("MaxTime", "time_limit"),
        ("NumericalError", "unknown"),
        ("InsufficientProgress", "unknown"),
        ("solved", "unknown"),  # case-sensitive
    ],
)
def test_status_texts_map_by_substring_stand_in_result(monkeypatch, text, status):
    _status_stand_in(monkeypatch, text)
    r = _soc().solve()
    assert (r.status, r.iterations) == (status, 11)
    assert (r.objective is not None) == (status == "optimal")


def test_unreadable_iteration_count_is_zero_stand_in_result(monkeypatch):
    _status_stand_in(monkeypatch, "Solved", iterations=-1)
    assert _soc().solve().iterations == 0


def _soc():
    m = vo.Model()
    t, x = m.variable("t"), m.variable("x", 1, 1)
    m.add_soc_cone([t, x])
    m.minimize(t)
    return m


def test_a_psd_cone_too_large_for_memory_is_refused_before_clarabel_runs():
    # Side 1000: Clarabel would ask for about 2 TB and abort the interpreter.
    m = vo.Model()
    xs = m.variables("X", 1000 * 1001 // 2)
    m.add_psd_cone(xs)
    m.minimize(xs[0])
    with pytest.raises(MemoryError, match="Clarabel would need about .* for the model's PSD cones"):
        m.solve()
    small = vo.Model()
    a, b, c = small.variable("a"), small.variable("b"), small.variable("c")
    small.add_psd_cone([a, b, c])
    small.add(a + c == 2)
    small.minimize(a - b)
    assert small.solve().status == "optimal"
