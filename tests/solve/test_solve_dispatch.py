"""Model.solve: option reading, solver choice, the LP-relaxation shortcut, the clean-up steps
and the model lock held across a solve."""

import math
import threading
import time

import pytest

import velmo as vo


def _lp():
    m = vo.Model()
    x = m.variable("x", 0, 1)
    m.maximize(x)
    return m


@pytest.mark.parametrize(
    "kwargs, error",
    [
        ({"time_limit": "5"}, TypeError),
        ({"time_limit": None}, TypeError),
        ({"gap": [0.1]}, TypeError),
        ({"verbose": 1}, TypeError),
        ({"threads": -1}, OverflowError),
        ({"threads": 2**32}, OverflowError),
        ({"threads": 1.5}, TypeError),
        ({"solver": 5}, TypeError),
        ({"presolve": "yes"}, TypeError),
        ({"solver_method": 1}, TypeError),
        ({"run_crossover": True}, TypeError),
        ({"parallel": None}, TypeError),
        ({"scale_cleanup": 0}, TypeError),
        ({"simplex_scale_strategy": 2**31}, OverflowError),
        ({"simplex_scale_strategy": "2"}, TypeError),
        ({"eliminate_redundant": "no"}, TypeError),
    ],
)
def test_bad_option_values_fail_before_any_solver_runs(highs_calls, kwargs, error):
    with pytest.raises(error):
        _lp().solve(**kwargs)
    assert highs_calls.calls == []


def test_unknown_options_are_ignored_and_positional_arguments_refused():
    assert _lp().solve(no_such_option=1).status == "optimal"
    with pytest.raises(TypeError):
        _lp().solve(1)


@pytest.mark.parametrize("name", ["HiGHS", "Highs", "highs", "nosuchsolver", "HİGHS"])
def test_solver_names_are_lower_cased_and_unknown_ones_run_highs(name):
    r = _lp().solve(solver=name)
    assert (r.solver, r.objective) == ("HiGHS", 1.0)


def _integer_model(n, offset=0.0):
    m = vo.Model()
    xs = m.integers("x", n, lower=1 + offset, upper=10)
    m.minimize(vo.sum(xs))
    return m


def test_small_mip_with_integral_relaxation_skips_branching(highs_calls):
    r = _integer_model(4000, offset=1e-7).solve()
    assert highs_calls.integer_columns() == []
    assert (r.status, r.nodes, r.gap, r.duals) == ("optimal", 0, 0.0, None)
    assert set(r.primals) == {1.0}  # rounded
    assert r.objective == pytest.approx(4000 * (1 + 1e-7), rel=1e-12)  # not recomputed


def test_relaxation_shortcut_stops_at_4000_columns(highs_calls):
    _integer_model(4001).solve()
    assert highs_calls.names().count("run") == 1
    assert highs_calls.integer_columns() == list(range(4001))


def test_fractional_relaxation_falls_back_to_the_mip(highs_calls):
    m = vo.Model()
    a, b = m.integer("a", 0, 10), m.integer("b", 0, 10)
    m.add(2 * a + 2 * b <= 7)
    m.maximize(3 * a + 2 * b)
    r = m.solve()
    assert highs_calls.names().count("run") == 2
    assert highs_calls.integer_columns() == [0, 1]
    assert (r.objective, r.value(a), r.value(b)) == (9.0, 3.0, 0.0)
    assert r.nodes is not None and r.duals is None


@pytest.mark.parametrize("solver", ["osqp", "scipy", "slsqp", "ipopt", "clarabel"])
def test_relaxation_shortcut_skipped_for_other_solvers(highs_calls, solver):
    _integer_model(3).solve(solver=solver)
    assert highs_calls.names().count("run") <= 1


def _nonlinear():
    m = vo.Model()
    x = m.variable("x", 1, 2)
    m.add(vo.sin(x) >= 5)  # infeasible: dropping it would report a false optimum
    m.add(x >= 1.5)
    m.minimize(vo.sin(x) + 3)
    return m


def _conic(psd=False):
    m = vo.Model()
    t, x, y = m.variable("t"), m.variable("x"), m.variable("y")
    m.add(x == 3)
    m.add(y == 4)
    m.add_soc_cone([t, x, y])
    if psd:
        m.add_psd_cone([t])
        m.add_psd_cone([x])
    m.minimize(t)
    return m


def _conic_and_nonlinear():
    m = _conic()
    m.add(vo.cos(m.variable("z")) <= 0.5)
    return m


def _nonlinear_rows_only():
    m = vo.Model()
    x = m.variable("x")
    m.add(x * x <= 1)
    m.add(vo.sqrt(x) >= 0.1)
    m.minimize(x)
    return m


@pytest.mark.parametrize(
    "build, solver, message",
    [
        (_conic, "highs", "solver 'highs' cannot take the model's 1 second-order cone; solver 'clarabel' can"),
        (_conic, "OSQP", "solver 'osqp' cannot take the model's 1 second-order cone; solver 'clarabel' can"),
        (_conic, "scipy", "solver 'scipy' cannot take the model's 1 second-order cone; solver 'clarabel' can"),
        (_conic, "ipopt", "solver 'ipopt' cannot take the model's 1 second-order cone; solver 'clarabel' can"),
        (lambda: _conic(psd=True), "nosuchsolver",
         "solver 'nosuchsolver' cannot take the model's 1 second-order cone and 2 PSD cones; "
         "solver 'clarabel' can"),
        (_nonlinear, "highs",
         "solver 'highs' cannot take the model's nonlinear objective and 1 nonlinear constraint; "
         "solver 'ipopt' can"),
        (_nonlinear, "slsqp",
         "solver 'slsqp' cannot take the model's nonlinear objective and 1 nonlinear constraint; "
         "solver 'ipopt' can"),
        (_nonlinear_rows_only, "clarabel",
         "solver 'clarabel' cannot take the model's 2 nonlinear constraints; solver 'ipopt' can"),
        (_nonlinear_rows_only, "osqp",
         "solver 'osqp' cannot take the model's 2 nonlinear constraints; solver 'ipopt' can"),
        (_conic_and_nonlinear, None,
         "solver 'clarabel' cannot take the model's 1 nonlinear constraint; "
         "no solver takes cones and nonlinear terms together"),
        (_conic_and_nonlinear, "ipopt",
         "solver 'ipopt' cannot take the model's 1 second-order cone; "
         "no solver takes cones and nonlinear terms together"),
    ],
)
def test_a_solver_that_would_drop_part_of_the_model_is_refused(highs_calls, monkeypatch, build, solver,
                                                               message):
    import casadi
    import clarabel
    import scipy.optimize

    def untouchable(*args, **kwargs):
        raise AssertionError("a solver ran")

    monkeypatch.setattr(casadi, "nlpsol", untouchable)
    monkeypatch.setattr(clarabel, "DefaultSolver", untouchable)
    monkeypatch.setattr(scipy.optimize, "minimize", untouchable)
    m = build()
    kwargs = {} if solver is None else {"solver": solver}
    with pytest.raises(ValueError) as info:
        m.solve(**kwargs)
    assert str(info.value) == message
    assert highs_calls.calls == []
    m.variable("after")  # the model lock was released


@pytest.mark.parametrize(
    "build, solver", [(_conic, "Clarabel"), (_nonlinear, "Ipopt"), (_nonlinear_rows_only, "Ipopt")]
)
def test_cones_go_to_clarabel_and_nonlinear_terms_to_ipopt(build, solver):
    assert build().solve().solver == solver


@pytest.mark.parametrize("solver", ["osqp", "scipy", "clarabel", "ipopt"])
def test_forced_continuous_solvers_solve_the_relaxation(solver):
    m = vo.Model()
    k = m.integer("k", 0, 10)
    m.add(2 * k <= 3)
    m.maximize(k + 1)
    r = m.solve(solver=solver)
    assert r.value(k) == pytest.approx(1.5, abs=1e-5)
    assert r.objective == pytest.approx(2.5, abs=1e-5)


def test_expression_from_a_larger_model_fails_before_solving(highs_calls):
    big = vo.Model()
    big.variables("z", 5)
    far = big.variable("far")
    m = vo.Model()
    m.variable("x")
    with pytest.raises(ValueError, match="^add\\(\\): the constraint holds variables of another model"):
        m.add(far <= 1)
    m2 = vo.Model()
    m2.variable("x")
    with pytest.raises(ValueError, match="^minimize\\(\\): the objective holds variables of another model"):
        m2.minimize(far * far)
    assert highs_calls.calls == []


def test_scale_cleanup_zeroes_tiny_bounds():
    m = vo.Model()
    x = m.variable("x", lower=1e-10, upper=1)
    y = m.variable("y", lower=1e-9, upper=1)
    m.minimize(x + y)
    assert m.solve().objective == pytest.approx(1e-10 + 1e-9, rel=1e-9, abs=0)
    cleaned = m.solve(scale_cleanup=True)
    assert cleaned.value(x) == 0.0 and cleaned.value(y) == 1e-9


def _redundancy_model():
    m = vo.Model()
    x, y = m.variable("x", 0, 1), m.variable("y", 0, 1)
    z = m.variable("z", lower=0)
    rows = [
        x + y <= 3,          # never violated: goes
        x + y <= 2.000001,   # 2 <= 2.000001 - 1e-7 * 3.000001: goes
        x + y <= 2,          # activity reaches the bound: stays
        x + z <= 3,          # z unbounded above: stays
        x + y == 1,          # equality: stays
    ]
    for row in rows:
        m.add(row)
    m.maximize(x + y + z - 2 * z)
    return m


def test_redundant_rows_are_eliminated_and_reported(capfd):
    m = _redundancy_model()
    r = m.solve(eliminate_redundant=True, verbose=True)
    err = capfd.readouterr().err
    assert "[velmo-opt 18.s.3] eliminated 2 provably-redundant rows (3 remain)\n" in err
    assert r.status == "optimal" and len(r.duals) == 3
    quiet = m.solve(eliminate_redundant=True)
    assert len(quiet.duals) == 3
    assert "eliminated" not in capfd.readouterr().err
    assert len(m.solve().duals) == 5


def test_row_with_both_bounds_infinite_goes_unless_its_activity_is_nan(capfd):
    m = vo.Model()
    x = m.variable("x")
    y = m.variable("y", lower=math.inf, upper=math.inf)
    m.add(x <= math.inf)
    m.add(x + y <= math.inf)  # -inf + inf activity: kept
    m.solve(eliminate_redundant=True, verbose=True)
    assert "eliminated 1 provably-redundant rows (1 remain)" in capfd.readouterr().err


def test_a_second_thread_waits_for_the_model_during_a_solve():
    # A solve holds the model for its whole run while HiGHS releases the interpreter lock; a
    # second thread calling into the same model must wait without holding that lock.
    m = vo.Model()
    n = 30000
    xs = m.variables("x", n, lower=0, upper=1)
    for k in range(40):
        m.add(vo.sum(xs[k::40]) >= 100 + k)
        m.add(vo.sum([(i % 7 + 1) * x for x in xs[k::40] for i in (k,)]) <= 2000 + k)
    m.minimize(vo.sum([(i % 13 + 1) * x for i, x in enumerate(xs)]))
    started = threading.Event()
    times = {}

    def solve():
        started.set()
        times["result"] = m.solve()
        times["solve_end"] = time.perf_counter()

    def touch():
        started.wait()
        time.sleep(0.02)
        m.add(xs[0] <= 1)
        times["touch_end"] = time.perf_counter()
        times["num_vars"] = m.num_vars

    threads = [threading.Thread(target=solve, daemon=True), threading.Thread(target=touch, daemon=True)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    assert not any(t.is_alive() for t in threads), "deadlock"
    assert times["result"].status == "optimal"
    assert times["touch_end"] >= times["solve_end"] - 0.05
    assert times["num_vars"] == n
    assert m.num_constraints == 81


def test_options_are_read_before_the_model_is_locked():
    m = _lp()

    class Sneaky:
        def __len__(self):
            return 1

        def __getitem__(self, i):
            m.variable("late", 0, 1)  # the model is not locked yet: this is an ordinary call
            raise IndexError

    # The unreadable warm start is dropped; the solve sees the model as the option left it.
    r = m.solve(warm_start=Sneaky())
    assert r.status == "optimal" and list(r.values()) == ["x", "late"]
    assert m.num_vars == 2


def test_rounded_integer_values_have_no_negative_zero():
    m = vo.Model()
    k = m.integer("k", lower=-1e-7, upper=5)
    m.minimize(k)
    r = m.solve()
    assert r.nodes == 0  # answered by the relaxation
    assert math.copysign(1.0, r.value(k)) == 1.0
