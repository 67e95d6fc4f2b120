"""Bonmin through the real casadi package: integer variables honoured on the quadratic and
nonlinear paths, checked against brute-force enumeration; the options it is given, its
statuses, and the dispatch that sends mixed-integer QPs and MINLPs to it."""

import itertools
import sys
import types

import casadi
import numpy as np
import pytest

import velmo as vo


def _convex_miqp(seed, integers, continuous=2):
    """min ½ zᵀQz + cᵀz, Q positive definite, over small integer boxes and free-ish
    continuous variables, with one coupling row."""
    rng = np.random.default_rng(seed)
    n = integers + continuous
    b = rng.normal(size=(n, n))
    q = b @ b.T + 0.5 * np.eye(n)
    c = rng.normal(size=n) * 3
    box = (-1, 2) if integers <= 4 else (0, 1)

    def build(fixed=None):
        m = vo.Model()
        z = [m.integer(f"k{i}", *box) if fixed is None else m.variable(f"k{i}", fixed[i], fixed[i])
             for i in range(integers)]
        z += [m.variable(f"c{i}", -10, 10) for i in range(continuous)]
        quad = [(q[i, j] * (0.5 if i == j else 1.0)) * (z[i] * z[j]) for i in range(n) for j in range(i, n)]
        objective = quad[0]
        for term in quad[1:]:
            objective = objective + term
        m.minimize(objective + vo.sum([float(c[i]) * z[i] for i in range(n)]))
        m.add(vo.sum(z) <= 1.5)
        return m

    return build, [range(box[0], box[1] + 1)] * integers


@pytest.mark.parametrize("seed, integers", [(0, 2), (1, 3), (2, 4), (3, 5), (4, 6)])
def test_convex_miqp_matches_brute_force_enumeration(seed, integers):
    build, ranges = _convex_miqp(seed, integers)
    best = None
    for point in itertools.product(*ranges):
        r = build(point).solve(solver="highs")  # the continuous QP that is left
        if r.status == "optimal" and (best is None or r.objective < best):
            best = r.objective
    m = build()
    assert m.problem_type == "MIQP"
    r = m.solve()
    assert r.solver == "Bonmin"  # the relaxations of these are fractional
    assert r.status == "optimal"
    assert r.objective == pytest.approx(best, abs=1e-6)
    assert all(abs(v - round(v)) <= 1e-6 for v in r.primals[:integers])


@pytest.fixture
def bonmin_calls(monkeypatch):
    calls = []

    def nlpsol(name, plugin, nlp, opts):
        calls.append((plugin, opts))
        return casadi.nlpsol(name, plugin, nlp, opts)

    proxy = types.ModuleType("casadi")
    proxy.__dict__.update(casadi.__dict__)
    proxy.nlpsol = nlpsol
    monkeypatch.setitem(sys.modules, "casadi", proxy)
    return calls


def _integer_nlp():
    m = vo.Model()
    k = m.integer("k", 0, 6)
    x = m.variable("x", 0, 3)
    m.minimize(vo.cos(k) + x * x - x)  # least at k = 3 (next to pi), x = 0.5
    m.add(vo.sin(x) + k <= 5)
    return m


def test_integer_nonlinear_model_goes_to_bonmin_with_discrete_columns(bonmin_calls, highs_calls):
    r = _integer_nlp().solve()
    assert (r.solver, r.status) == ("Bonmin", "optimal")
    assert r.values()["k"] == 3.0 and r.values()["x"] == pytest.approx(0.5, abs=1e-6)
    assert r.nodes is None and r.duals is None
    assert highs_calls.calls == []  # no LP relaxation of a model whose nonlinear part it lacks
    plugin, opts = bonmin_calls[0]
    assert plugin == "bonmin"
    assert opts["discrete"] == [True, False]
    assert opts["bonmin"] == {"print_level": 0, "sb": "yes", "bb_log_level": 0}
    assert opts["print_time"] is False
    _integer_nlp().solve(time_limit=3, verbose=True)
    assert bonmin_calls[1][1]["bonmin"] == {"print_level": 5, "sb": "yes", "bb_log_level": 1, "time_limit": 3.0}


def test_forced_ipopt_still_solves_the_relaxation():
    r = _integer_nlp().solve(solver="ipopt")
    assert r.solver == "Ipopt" and abs(r.values()["k"] - round(r.values()["k"])) > 1e-3


def test_miqp_routes(highs_calls):
    frac = vo.Model()
    x, y = frac.integer("x", 0, 5), frac.integer("y", 0, 5)
    frac.minimize(x * x + y * y - 3 * x - 3 * y)
    r = frac.solve()
    assert (r.solver, r.objective) == ("Bonmin", pytest.approx(-4))
    assert highs_calls.names().count("run") == 1  # the relaxation had its turn first
    integral = vo.Model()
    a = integral.integer("a", 0, 5)
    integral.minimize(a * a - 4 * a)
    r = integral.solve()
    assert (r.solver, r.nodes, r.objective) == ("HiGHS", 0, pytest.approx(-4))
    r = integral.solve(solver="Bonmin")  # by name: Bonmin itself
    assert (r.solver, r.objective) == ("Bonmin", pytest.approx(-4))


def test_bonmin_takes_no_cones():
    m = vo.Model()
    t, x = m.variable("t"), m.integer("x", 1, 3)
    m.add_soc_cone([t, x])
    m.minimize(t)
    with pytest.raises(ValueError, match="^solver 'bonmin' cannot take the model's 1 second-order cone; "
                                         "solver 'clarabel' can$"):
        m.solve(solver="bonmin")



@pytest.mark.parametrize(
    "text, status",
    [("SUCCESS", "optimal"), ("INFEASIBLE", "infeasible"), ("CONTINUOUS_UNBOUNDED", "unbounded"),
     ("LIMIT_EXCEEDED", "time_limit"), ("MINLP_ERROR", "unknown"), ("Solve_Succeeded", "unknown")],
)
def test_status_texts_stand_in_stats(casadi_stats, text, status):
    casadi_stats(text, 2)
    r = _integer_nlp().solve()
    assert (r.solver, r.status, r.iterations) == ("Bonmin", status, 2)
    assert (r.objective is not None) == (status == "optimal")

