"""The SciPy SLSQP adapter on the real scipy.optimize: what minimize is given, the iteration
cap, the objective with whole cross terms, the outcome."""

import math

import numpy as np
import pytest
import scipy.optimize

import velmo as vo

INF = math.inf


@pytest.fixture
def minimize_calls(monkeypatch):
    """Runs the real SLSQP while recording each minimize call."""
    calls = []
    real = scipy.optimize.minimize

    def recording(fun, x0, **kwargs):
        calls.append(dict(fun=fun, x0=x0.copy(), **kwargs))
        return real(fun, x0, **kwargs)

    monkeypatch.setattr(scipy.optimize, "minimize", recording)
    return calls


def _qp():
    m = vo.Model()
    x, y, z = m.variable("x", 0, 5), m.variable("y", lower=-2), m.variable("z", lower=-INF, upper=4)
    m.add(x + y + z <= 3)
    m.add(x - y == 0.5)
    m.minimize(x * x + y * y + x * y + 3 * (y * z) + z * z - 4 * x - 5 * y + 7)
    return m


def test_problem_handed_to_minimize(minimize_calls):
    r = _qp().solve(solver="scipy")
    call = minimize_calls[0]
    assert call["method"] == "SLSQP" and "options" not in call
    assert call["x0"].tolist() == [2.5, -1.5, 2.0]
    assert call["bounds"].lb.tolist() == [0, -2, -INF] and call["bounds"].ub.tolist() == [5, INF, 4]
    # The objective is the model's own, constant aside, cross terms whole.
    rng = np.random.default_rng(1)
    for p in rng.normal(size=(5, 3)):
        x, y, z = p
        expected = x * x + y * y + x * y + 3 * y * z + z * z - 4 * x - 5 * y
        assert call["fun"](p) == pytest.approx(expected)
    assert r.objective == pytest.approx(call["fun"](np.array(r.primals)) + 7)
    assert (r.solver, r.status, r.duals) == ("SciPy/SLSQP", "optimal", None)


def test_models_without_rows(minimize_calls):
    m = vo.Model()
    x, y = m.variable("x", 0, 1), m.variable("y", 0, 1)
    m.maximize(x + 2 * y + 1)
    r = m.solve(solver="slsqp")
    assert "constraints" not in minimize_calls[0]
    assert minimize_calls[0]["fun"](np.array([1.0, 1.0])) == -3.0
    assert (r.status, r.objective) == ("optimal", pytest.approx(4))
    free = vo.Model()
    a, b = free.variable("a"), free.variable("b")
    free.minimize(a * a + b * b - 2 * a + 4 * b)
    r = free.solve(solver="scipy")
    assert minimize_calls[1]["x0"].tolist() == [0.5, 0.5]
    assert r.primals == pytest.approx([1, -2], abs=1e-5) and r.objective == pytest.approx(-5)


def test_equality_and_inequality_rows_go_in_separate_constraints(minimize_calls, recwarn):
    _qp().solve(solver="scipy")
    equal, other = minimize_calls[0]["constraints"]
    assert equal.A.toarray().tolist() == [[1, -1, 0]] and equal.lb.tolist() == equal.ub.tolist() == [0.5]
    assert other.A.toarray().tolist() == [[1, 1, 1]]
    assert other.lb.tolist() == [-INF] and other.ub.tolist() == [3]
    assert not [w for w in recwarn if issubclass(w.category, scipy.optimize.OptimizeWarning)]


@pytest.mark.parametrize(
    "time_limit, maxiter",
    [(2.5, 250), (0.001, 0), (1e300, 2**31 - 1), (math.inf, 2**31 - 1), (math.nan, 0), (-1.0, 0)],
)
def test_time_limit_becomes_the_iteration_cap(minimize_calls, time_limit, maxiter):
    r = _qp().solve(solver="scipy", time_limit=time_limit)
    assert minimize_calls[0]["options"] == {"maxiter": maxiter}
    # A generous limit must not stop SLSQP at once (SciPy reads a larger cap as none).
    assert r.status == ("optimal" if maxiter > 100 else "unknown")
    assert r.objective is not None and len(r.primals) == 3


def test_every_variable_fixed_gives_zero_iterations():
    m = vo.Model()
    x = m.variable("x", 2, 2)
    m.minimize(x * x + 1)
    r = m.solve(solver="scipy")
    assert (r.status, r.objective, r.iterations) == ("optimal", 5.0, 0)


def test_non_bool_success_is_a_type_error_stand_in_result(monkeypatch):
    real = scipy.optimize.minimize

    def stand_in(*args, **kwargs):
        res = real(*args, **kwargs)
        res.success = 1
        return res

    monkeypatch.setattr(scipy.optimize, "minimize", stand_in)
    with pytest.raises(TypeError):
        _qp().solve(solver="scipy")
