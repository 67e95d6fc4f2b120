"""The HiGHS adapter on the real highspy: options, warm start, basis, statuses, the
thread-count guard (the problem library runs in test_problem_library.py)."""

import random
import subprocess
import sys
import types

import highspy
import pytest

import velmo as vo


def test_quadratic_cross_term_counted_once():
    # A doubled cross term would give -6 and a halved one -8.
    m = vo.Model()
    x, y = m.integer("x", 0, 5), m.integer("y", 0, 5)
    m.minimize(x * x + y * y + x * y - 4 * x - 5 * y)
    r = m.solve()
    assert r.objective == pytest.approx(-7)
    assert (r.value(x), r.value(y)) == (1.0, 2.0)


def test_miqp_forced_to_highs_with_fractional_relaxation_reports_highs_refusal():
    # HiGHS refuses mixed-integer QPs; the relaxation here is (1.5, 1.5), so the MIP run happens.
    # Left to itself the model goes to Bonmin.
    m = vo.Model()
    x, y = m.integer("x", 0, 5), m.integer("y", 0, 5)
    m.minimize(x * x + y * y - 3 * x - 3 * y)
    assert m.solve().solver == "Bonmin"
    r = m.solve(solver="highs")
    assert r.status == "unknown"
    assert r.objective is None
    with pytest.raises(ValueError, match="No solution available"):
        r.values()


def _hard_knapsack(n=60, rows=30, seed=1):
    rng = random.Random(seed)
    m = vo.Model()
    xs = m.binaries("x", n)
    for _ in range(rows):
        m.add(vo.sum([rng.randint(1, 50) * x for x in xs]) <= 400)
    m.maximize(vo.sum([rng.randint(10, 100) * x for x in xs]))
    return m


def test_time_limited_mip_with_a_point_reads_objective_and_values():
    # The warm start hands HiGHS a feasible point before the (zero) time limit stops it.
    r = _hard_knapsack().solve(time_limit=0.0, warm_start=[1.0] + [0.0] * 59)
    assert r.status == "time_limit"
    assert not r.is_optimal
    assert r.objective == 55.0
    assert len(r.primals) == 60 and sum(r.primals) == 1.0
    assert r.nodes is not None and r.gap is not None


def test_time_limited_mip_without_a_point_has_no_objective_and_no_values():
    r = _hard_knapsack().solve(time_limit=0.0)
    assert r.status == "time_limit"
    assert r.objective is None and r.duals is None
    with pytest.raises(ValueError, match="No solution available"):
        r.values()


def test_infeasible_milp_reads_iterations_only():
    m = vo.Model()
    k = m.integer("k", 0, 10)
    m.add(2 * k == 3)
    m.add(k >= 0.2)
    r = m.solve()
    assert r.status == "infeasible"
    assert r.objective is None and r.duals is None and r.nodes is None
    assert isinstance(r.iterations, int)


def test_model_without_rows_has_empty_duals(highs_calls):
    m = vo.Model()
    x = m.variable("x", 0, 3)
    m.minimize(x)
    r = m.solve()
    assert r.duals == []
    assert "addRows" not in highs_calls.names()
    assert highs_calls.names().count("addCols") == 1


@pytest.mark.parametrize(
    "kwargs, expected",
    [
        ({}, [("output_flag", False)]),
        ({"verbose": True}, []),
        ({"time_limit": 5, "gap": 0.01}, [("output_flag", False), ("time_limit", 5.0), ("mip_rel_gap", 0.01)]),
        (
            {"solver_method": "simplex", "run_crossover": "on", "parallel": "off", "simplex_scale_strategy": 3},
            [("output_flag", False), ("solver", "simplex"), ("run_crossover", "on"), ("parallel", "off"),
             ("simplex_scale_strategy", 3)],
        ),
        ({"presolve": False}, [("output_flag", False), ("presolve", "off")]),
        ({"basis": None}, [("output_flag", False), ("presolve", "off")]),
    ],
)
def test_options_reach_highs_in_order_recorded_calls(highs_calls, kwargs, expected):
    m = vo.Model()
    x = m.variable("x", 0, 1)
    m.maximize(x)
    m.solve(**kwargs)
    options = highs_calls.options()
    assert options == expected
    assert all(type(v) is type(e) for (_, v), (_, e) in zip(options, expected))


def _small_mip():
    m = vo.Model()
    a, b = m.integer("a", 0, 10), m.integer("b", 0, 10)
    m.add(2 * a + 2 * b <= 7)
    m.maximize(3 * a + 2 * b)
    return m, a, b


def test_mip_warm_started_at_optimum_solves_to_it(highs_calls):
    m, a, b = _small_mip()
    first = m.solve()
    assert first.objective == pytest.approx(9)
    highs_calls.calls.clear()
    again = m.solve(warm_start=first)
    assert again.objective == pytest.approx(9)
    warm = [args[0] for name, args in highs_calls.calls if name == "setSolution"]
    assert len(warm) == 1
    assert list(warm[0].col_value) == first.primals


@pytest.mark.parametrize("warm_start", ["abc", [1.0], 5, None])
def test_unusable_warm_start_is_not_passed(highs_calls, warm_start):
    m, _, _ = _small_mip()
    r = m.solve(warm_start=warm_start)
    assert r.status == "optimal"
    assert "setSolution" not in highs_calls.names()


def test_warm_start_on_a_model_without_integers_is_not_passed(highs_calls):
    m = vo.Model()
    x = m.variable("x", 0, 1)
    m.maximize(x)
    m.solve(warm_start=[1.0])
    assert "setSolution" not in highs_calls.names()


def test_basis_round_trip(highs_calls):
    m = vo.Model()
    xs = m.variables("x", 5, lower=0, upper=10)
    m.add(vo.sum(xs) <= 20)
    m.add(xs[0] + 2 * xs[1] <= 8)
    m.maximize(vo.sum([(i + 1) * x for i, x in enumerate(xs)]))
    first = m.solve()
    basis = first.basis()
    assert isinstance(basis, highspy.HighsBasis) and basis is first.basis()
    highs_calls.calls.clear()
    again = m.solve(basis=basis)
    assert again.objective == pytest.approx(first.objective)
    assert ("presolve", "off") in highs_calls.options()
    assert [args[0] for name, args in highs_calls.calls if name == "setBasis"] == [basis]
    assert again.iterations <= first.iterations


def test_refused_basis_is_ignored():
    m = vo.Model()
    x = m.variable("x", 0, 1)
    m.maximize(x)
    assert m.solve(basis="not a basis").objective == 1.0


def test_hessian_goes_in_as_the_lower_triangle(highs_calls):
    m = vo.Model()
    x, y = m.variable("x", 0, 5), m.variable("y", 0, 5)
    m.minimize(x * y + y * x + x * x)
    m.solve(solver="highs")
    (args,) = [a for name, a in highs_calls.calls if name == "passHessian"]
    dim, nnz, fmt, start, index, value = args
    assert (dim, nnz, fmt) == (2, 2, highspy.HessianFormat.kTriangular)
    assert (list(start), list(index), list(value)) == ([0, 2, 2], [0, 1], [2.0, 2.0])
    assert start.dtype.name == index.dtype.name == "int32"


class _StatusStandIn:
    def __init__(self, text):
        self.text = text

    def __str__(self):
        return self.text


@pytest.mark.parametrize(
    "text, status",
    [
        ("HighsModelStatus.kOptimal", "optimal"),
        ("HighsModelStatus.kUnboundedOrInfeasible", "infeasible_or_unbounded"),
        ("HighsModelStatus.kInfeasible", "infeasible"),
        ("HighsModelStatus.kUnbounded", "unbounded"),
        ("HighsModelStatus.kTimeLimit", "time_limit"),
        ("HighsModelStatus.kIterationLimit", "iteration_limit"),
        ("Model.ITERATION_LIMIT", "iteration_limit"),
        ("HighsModelStatus.kSolveError", "unknown"),
    ],
)
def test_status_texts_map_by_substring_stand_in_status(monkeypatch, text, status):
    class StandIn(highspy.Highs):
        def getModelStatus(self):
            return _StatusStandIn(text)

    proxy = types.ModuleType("highspy")
    proxy.__dict__.update(highspy.__dict__)
    proxy.Highs = StandIn
    monkeypatch.setitem(sys.modules, "highspy", proxy)
    m = vo.Model()
    x = m.variable("x", 0, 1)
    m.maximize(x)
    r = m.solve()
    assert r.status == status
    assert (r.objective is not None) == (status in ("optimal", "time_limit"))


def _lp():
    m = vo.Model()
    x = m.variable("x", 0, 1)
    m.maximize(x)
    return m


def test_explicit_thread_counts_after_default_solves_run_fresh_process():
    # HiGHS keeps one scheduler per OS thread, sized by the first run; a fresh process makes
    # the sequence independent of the other tests.
    script = (
        "import velmo as vo\n"
        "m = vo.Model(); x = m.variable('x', 0, 1); m.maximize(x)\n"
        "print([m.solve(**kw).status for kw in ({}, {'threads': 1}, {'threads': 2}, {'threads': 1}, {})])\n"
    )
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip().splitlines()[-1] == str(["optimal"] * 5)
    assert "thread count changed" not in out.stderr


def test_thread_count_change_warns_without_reset_stand_in_highs(monkeypatch, capfd):
    class NoReset(highspy.Highs):
        @property
        def resetGlobalScheduler(self):
            raise AttributeError("resetGlobalScheduler")

    proxy = types.ModuleType("highspy")
    proxy.__dict__.update(highspy.__dict__)
    proxy.Highs = NoReset
    monkeypatch.setitem(sys.modules, "highspy", proxy)
    m = _lp()
    m.solve(threads=2)
    capfd.readouterr()
    r = m.solve(threads=4)
    assert r.status in ("optimal", "unknown")
    assert capfd.readouterr().err == (
        "[velmo-opt] warning: HiGHS thread count changed (2 -> 4) within this process and "
        "resetGlobalScheduler is unavailable; solve may return status 'unknown'. Keep `threads` "
        "uniform per process.\n"
    )
    capfd.readouterr()
    m.solve(threads=4)
    assert "warning" not in capfd.readouterr().err
    # Leave the process-wide count as the other tests expect it to be reset.
    monkeypatch.undo()
    m.solve(threads=1)
