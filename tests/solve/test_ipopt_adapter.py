"""The CasADi/Ipopt adapter on the real casadi package: both variants, the problem handed to
nlpsol, starting points, statuses, the missing-package error."""

import math
import sys
import types

import casadi
import pytest

import velmo as vo

INF = math.inf


class _Calls:
    def __init__(self):
        self.nlp = []
        self.opts = []
        self.args = []
        self.products = []


@pytest.fixture
def casadi_calls(monkeypatch):
    """Runs the real CasADi and Ipopt while recording the problem, the options, the arguments of
    the solver call and the matrices multiplied into x."""
    calls = _Calls()

    def nlpsol(name, plugin, nlp, opts):
        calls.nlp.append(nlp)
        calls.opts.append(opts)
        solver = casadi.nlpsol(name, plugin, nlp, opts)

        class Recording:
            def __call__(self, **kwargs):
                calls.args.append(kwargs)
                return solver(**kwargs)

            def stats(self):
                return solver.stats()
        return Recording()

    def mtimes(a, b):
        calls.products.append(a)
        return casadi.mtimes(a, b)

    proxy = types.ModuleType("casadi")
    proxy.__dict__.update(casadi.__dict__)
    proxy.nlpsol = nlpsol
    proxy.mtimes = mtimes
    monkeypatch.setitem(sys.modules, "casadi", proxy)
    return calls


def test_nonlinear_row_alone_and_starting_points(casadi_calls):
    m = vo.Model()
    x = m.variable("x")
    lo = m.variable("lo", lower=2)
    hi = m.variable("hi", upper=10)
    m.add(vo.sin(x) + x * x <= 1)
    m.minimize(x + lo - hi)
    r = m.solve()
    assert (r.solver, r.status) == ("Ipopt", "optimal")
    nlp, args = casadi_calls.nlp[0], casadi_calls.args[0]
    assert nlp["g"].shape == (1, 1)  # the nonlinear part only: no linear rows
    assert args["lbg"].tolist() == [-INF] and args["ubg"].tolist() == [1.0]
    assert args["x0"].tolist() == [0.5, 2.5, 5.0]
    assert args["lbx"].tolist() == [-INF, 2, -INF] and args["ubx"].tolist() == [INF, INF, 10]
    assert casadi_calls.opts[0] == {"ipopt": {"print_level": 0, "sb": "yes"}, "print_time": False}
    assert r.value(lo) == pytest.approx(2) and r.value(hi) == pytest.approx(10)


def test_options_with_time_limit_and_verbose(casadi_calls, capfd):
    m = vo.Model()
    x = m.variable("x", -3, 3.5)
    m.minimize(vo.cos(x))
    assert m.solve(time_limit=5, verbose=True).objective == pytest.approx(-1)
    assert casadi_calls.opts[0] == {"ipopt": {"print_level": 5, "sb": "yes", "max_cpu_time": 5.0},
                                    "print_time": True}
    assert "Ipopt" in capfd.readouterr().out


def test_model_without_constraints_passes_no_g(casadi_calls):
    m = vo.Model()
    x = m.variable("x", 0, 4)
    m.minimize(vo.sqrt(x + 1) * -1)
    r = m.solve()
    assert r.value(x) == pytest.approx(4) and r.objective == pytest.approx(-math.sqrt(5))
    assert "g" not in casadi_calls.nlp[0]
    assert "lbg" not in casadi_calls.args[0] and "ubg" not in casadi_calls.args[0]


def test_term_weights_near_one_add_no_multiplication(casadi_calls):
    m = vo.Model()
    x = m.variable("x", 0, 1)
    m.variable("unused")  # two columns, so that CasADi prints x_0
    m.add(vo.sin(x) <= 1)
    m.add(vo.sin(x) * (1 + 1e-16) <= 1)
    m.add(vo.sin(x) * 1.5 <= 1)
    m.minimize(x)
    m.solve()
    g = casadi_calls.nlp[0]["g"]
    assert [str(g[k]) for k in range(3)] == ["sin(x_0)", "sin(x_0)", "(1.5*sin(x_0))"]


def test_constraint_matrix_stays_sparse_on_the_casadi_side(casadi_calls):
    # A dense copy of a wide model's rows would cost rows x columns doubles.
    m = vo.Model()
    n, rows = 5000, 40
    xs = m.variables("x", n, lower=0, upper=1)
    for k in range(rows):
        m.add(xs[k] + xs[n - 1 - k] >= 0.5)
    m.minimize(vo.sum(xs))
    r = m.solve(solver="ipopt")
    assert r.objective == pytest.approx(rows * 0.5, rel=1e-4)  # interior point on an LP
    a = casadi_calls.products[0]
    assert a.shape == (rows, n) and a.nnz() == 2 * rows


def test_empty_rows_and_no_objective():
    m = vo.Model()
    x = m.variable("x", 0, 2)
    m.add(0 * x <= 1)
    m.add(vo.sin(x) >= 0.5)
    r = m.solve()  # no objective at all
    assert r.status == "optimal" and r.objective == 0.0
    assert math.sin(r.value(x)) >= 0.5 - 1e-7


def test_crossed_bounds_and_non_positive_time_limits():
    m = vo.Model()
    x = m.variable("x", 2, 1)
    m.minimize(vo.sin(x))
    assert m.solve().status == "infeasible"
    n = vo.Model()
    y = n.variable("y", 0, 1)
    n.add(y + vo.sin(y) >= 5)
    n.add(y >= 2)
    n.add(y <= 1)
    assert n.solve().status == "infeasible"  # Ipopt finds it itself
    for limit in (0.0, -1.0):
        assert _hs071().solve(time_limit=limit).status == "time_limit"


def _hs071():
    from problems import PROBLEMS
    return next(p for p in PROBLEMS if p.id == "hs071").build()


def test_maximised_objective_and_constants_in_both_variants():
    m = vo.Model()
    x = m.variable("x", 0, 2)
    m.add(vo.sin(x) <= 2)  # makes the model nonlinear; the objective stays linear
    m.minimize(x + 3)
    assert m.solve().objective == pytest.approx(3)  # the expression variant adds the 3 itself
    lp = vo.Model()
    y = lp.variable("y", 0, 2)
    lp.maximize(2 * y + 3)
    r = lp.solve(solver="ipopt")  # the compiled variant
    assert (r.solver, r.objective) == ("Ipopt", pytest.approx(7))
    qp = vo.Model()
    a, b = qp.variable("a", -5, 5), qp.variable("b", -5, 5)
    qp.maximize(-1 * (a * a) + -1 * (b * b) + a * b + a + 10)
    r = qp.solve(solver="ipopt")
    assert r.primals == pytest.approx([2 / 3, 1 / 3], abs=1e-6)
    assert r.objective == pytest.approx(10 + 1 / 3, abs=1e-6)


def test_warm_start_is_the_starting_point(casadi_calls):
    m = vo.Model()
    x = m.variable("x", -10, 10)
    m.minimize(vo.cos(x))
    r = m.solve(warm_start=[3.0])
    assert casadi_calls.args[0]["x0"].tolist() == [3.0]
    assert r.value(x) == pytest.approx(math.pi, abs=1e-6)


def test_shared_and_deep_trees_are_translated_once_without_recursion():
    m = vo.Model()
    x = m.variable("x", 0.5, 1)
    e = vo.sin(x)
    for _ in range(60):  # a DAG of 60 products whose tree would have 2**60 leaves
        e = e * e
    m.add(e <= 1)
    deep = x
    for _ in range(5000):
        deep = vo.sin(deep) + x * 0
    m.add(deep >= -1)
    m.minimize(x)
    r = m.solve()
    assert r.status == "optimal" and r.value(x) == pytest.approx(0.5)


def test_expression_from_another_model_is_refused_before_casadi_runs(casadi_calls):
    other = vo.Model()
    far = other.variables("v", 3)[2]
    m = vo.Model()
    m.variable("x")
    with pytest.raises(ValueError, match="^add\\(\\): the constraint holds variables of another model"):
        m.add(vo.sin(far) <= 1)
    assert m.solve().status == "optimal"  # nothing was stored
    assert casadi_calls.nlp == []


def test_missing_casadi(monkeypatch):
    monkeypatch.setitem(sys.modules, "casadi", None)
    m = vo.Model()
    x = m.variable("x")
    m.minimize(vo.sin(x))
    with pytest.raises(ImportError) as info:
        m.solve()
    assert str(info.value) == "casadi is required for NLP (nonlinear) models. Install with `pip install casadi`."
    lp = vo.Model()
    lp.minimize(lp.variable("y", 0, 1))
    with pytest.raises(ImportError) as info:  # the compiled variant: the import's own error
        lp.solve(solver="ipopt")
    assert "casadi" in str(info.value) and "pip install" not in str(info.value)



@pytest.mark.parametrize(
    "text, status",
    [
        ("Solved_To_Acceptable_Level", "optimal"),
        ("Maximum_Iterations_Exceeded", "iteration_limit"),
        ("Maximum_WallTime_Exceeded", "time_limit"),
        ("Unbounded", "unbounded"),
        ("Restoration_Failed", "unknown"),
        ("solve_succeeded", "unknown"),  # exact, case-sensitive
    ],
)
def test_status_texts_map_exactly_stand_in_stats(casadi_stats, text, status):
    casadi_stats(text)
    m = vo.Model()
    x = m.variable("x", 0, 1)
    m.minimize(vo.sin(x))
    r = m.solve()
    assert (r.status, r.iterations) == (status, 4)
    assert (r.objective is not None) == (status == "optimal")


def test_non_text_status_and_unreadable_count_stand_in_stats(casadi_stats):
    m = vo.Model()
    m.minimize(vo.sin(m.variable("x", 0, 1)))
    casadi_stats("Solve_Succeeded", iterations=None)
    assert m.solve().iterations == 0
    casadi_stats(None)
    with pytest.raises(TypeError):
        m.solve()
