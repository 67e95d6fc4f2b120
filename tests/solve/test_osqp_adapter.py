"""The OSQP adapter on the real osqp package: problem shape, settings, statuses (the problem
library runs in test_problem_library.py)."""

import sys
import types

import osqp
import pytest

import velmo as vo


def test_continuous_qp_goes_to_osqp_and_integer_qp_does_not():
    m = vo.Model()
    x, y = m.variable("x", 0, 5), m.variable("y", 0, 5)
    m.minimize(x * x + y * y + x * y - 4 * x - 5 * y)
    assert (m.problem_type, m.solve().solver) == ("QP", "OSQP")
    m.integer("k", 0, 1)
    assert (m.problem_type, m.solve().solver) == ("MIQP", "HiGHS")


def test_forced_osqp_ignores_integrality():
    m = vo.Model()
    k = m.integer("k", 0, 10)
    m.add(2 * k <= 3)
    m.maximize(k)
    r = m.solve(solver="osqp")
    assert r.solver == "OSQP" and r.value(k) == pytest.approx(1.5, abs=1e-6)


def test_duals_cover_rows_then_bounds():
    m = vo.Model()
    x, y = m.variable("x", 0, 3), m.variable("y", 0, 3)
    m.add(x + y >= 1)
    m.minimize(x * x + y * y)
    r = m.solve()
    assert len(r.duals) == 3  # one row, then one per variable bound
    free = vo.Model()
    z = free.variable("z")
    free.minimize((z - 1) * 1 + z * z)
    r = free.solve()
    assert r.value(z) == pytest.approx(-0.5, abs=1e-6) and len(r.duals) == 1


def test_maximised_concave_qp_reports_the_model_objective():
    m = vo.Model()
    x = m.variable("x", -10, 10)
    m.maximize(-(x * x) + 4 * x + 1)
    r = m.solve()
    assert r.value(x) == pytest.approx(2, abs=1e-6)
    assert r.objective == pytest.approx(5, abs=1e-6)


def test_infeasible_qp():
    m = vo.Model()
    x = m.variable("x", 0, 1)
    m.add(x >= 2)
    m.minimize(x * x)
    r = m.solve()
    assert (r.status, r.objective, r.duals) == ("infeasible", None, None)
    assert isinstance(r.iterations, int)


class _RecordingOSQP(osqp.OSQP):
    setups = []

    def setup(self, **kwargs):
        type(self).setups.append(kwargs)
        return super().setup(**kwargs)


@pytest.fixture
def osqp_setups(monkeypatch):
    _RecordingOSQP.setups = []
    proxy = types.ModuleType("osqp")
    proxy.__dict__.update(osqp.__dict__)
    proxy.OSQP = _RecordingOSQP
    monkeypatch.setitem(sys.modules, "osqp", proxy)
    return _RecordingOSQP.setups


def _qp():
    m = vo.Model()
    x, y = m.variable("x", 0, 5), m.variable("y", -1, 5)
    m.add(x + 2 * y <= 4)
    m.minimize(x * x + x * y + y * y - x)
    return m


def test_problem_handed_to_osqp_recorded_calls(osqp_setups):
    _qp().solve(solver="osqp", time_limit=2)
    _qp().solve(solver="osqp", verbose=False)
    with_limit, without = osqp_setups
    assert list(with_limit) == ["P", "q", "A", "l", "u", "verbose", "time_limit", "eps_abs", "eps_rel"]
    assert list(without) == ["P", "q", "A", "l", "u", "verbose", "eps_abs", "eps_rel"]
    assert (with_limit["time_limit"], with_limit["eps_abs"], with_limit["eps_rel"]) == (2.0, 1e-8, 1e-8)
    assert with_limit["verbose"] is False
    assert with_limit["P"].toarray().tolist() == [[2.0, 1.0], [0.0, 2.0]]
    assert with_limit["A"].toarray().tolist() == [[1.0, 2.0], [1.0, 0.0], [0.0, 1.0]]
    assert with_limit["A"].format == "csc"
    inf = float("inf")
    assert with_limit["l"].tolist() == [-inf, 0.0, -1.0]
    assert with_limit["u"].tolist() == [4.0, 5.0, 5.0]
    assert with_limit["q"].tolist() == [-1.0, 0.0]


def test_lp_forced_to_osqp_gets_an_empty_p(osqp_setups):
    m = vo.Model()
    x = m.variable("x", 0, 1)
    m.maximize(3 * x + 2)
    r = m.solve(solver="osqp")
    assert r.objective == pytest.approx(5, abs=1e-6)
    assert osqp_setups[0]["P"].nnz == 0 and osqp_setups[0]["P"].shape == (1, 1)


def test_run_time_limit_text_of_the_installed_osqp_maps_to_unknown():
    # osqp names the limit "run time limit reached", which holds no "time_limit".
    r = _qp().solve(solver="osqp", time_limit=1e-9)
    assert r.status == "unknown" and r.objective is None


def _status_stand_in(monkeypatch, status, iterations=7):
    class StandIn(osqp.OSQP):
        def solve(self, *args, **kwargs):
            res = super().solve(*args, **kwargs)
            res.info = types.SimpleNamespace(status=status, iter=iterations, obj_val=res.info.obj_val)
            return res

    proxy = types.ModuleType("osqp")
    proxy.__dict__.update(osqp.__dict__)
    proxy.OSQP = StandIn
    monkeypatch.setitem(sys.modules, "osqp", proxy)


@pytest.mark.parametrize(
    "text, status",
    [
        ("solved inaccurate", "optimal"),
        ("primal infeasible inaccurate", "infeasible"),
        ("dual infeasible", "infeasible"),
        ("maximum iterations reached", "time_limit"),
        ("time_limit", "time_limit"),
        ("run time limit reached", "unknown"),
        ("problem non convex", "unknown"),
        ("Solved", "unknown"),  # case-sensitive
        ("unsolved", "unknown"),  # no solution, although the text holds "solved"
    ],
)
def test_status_texts_map_by_substring_stand_in_result(monkeypatch, text, status):
    _status_stand_in(monkeypatch, text)
    r = _qp().solve(solver="osqp")
    assert r.status == status and r.iterations == 7
    assert (r.objective is not None) == (status == "optimal")


def test_non_text_status_is_a_type_error_stand_in_result(monkeypatch):
    _status_stand_in(monkeypatch, 1)
    with pytest.raises(TypeError):
        _qp().solve(solver="osqp")


def test_unreadable_iteration_count_is_zero_stand_in_result(monkeypatch):
    _status_stand_in(monkeypatch, "solved", iterations="many")
    assert _qp().solve(solver="osqp").iterations == 0
