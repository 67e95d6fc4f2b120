"""Functions that collect **kwargs warn about every key they never read, and Model.solve about
a solver name without an adapter; the call then runs as before."""

import warnings

import pytest

import velmo as vo


def sphere(x):
    return sum(v * v for v in x)


@pytest.fixture
def lp():
    m = vo.Model()
    x = m.variable("x", 0, 4)
    m.maximize(x)
    return m, x


SOLVE_KEYS = ("basis, eliminate_redundant, gap, parallel, presolve, ranging, run_crossover, scale_cleanup, "
              "simplex_scale_strategy, solver, solver_method, threads, time_limit, verbose, warm_start")
STEERING_KEYS = "callback, constraints, integrality, max_evals, "


@pytest.mark.parametrize("call, message", [
    ("m.solve(timelimit=5)", "Model.solve(): unknown option 'timelimit' is ignored (did you mean 'time_limit'?); "
                             "known options: " + SOLVE_KEYS),
    ("m.solve(time_limt=5)", "Model.solve(): unknown option 'time_limt' is ignored (did you mean 'time_limit'?)"),
    ("m.solve(Verbose=False)", "Model.solve(): unknown option 'Verbose' is ignored (did you mean 'verbose'?)"),
    ("m.solve(max_iter=3)", "Model.solve(): unknown option 'max_iter' is ignored; known options: basis,"),
    ("vo.minimize(x, [x <= 1], solver='osqp')",
     "minimize(): unknown option 'solver' is ignored; known options: time_limit, verbose"),
    ("vo.maximize(x, [x <= 1], gap=0.1)", "maximize(): unknown option 'gap' is ignored; known options: time_limit, verbose"),
    ("vo.PersistentHighs.from_model(model=m, presolve=False)",
     "PersistentHighs.from_model(): unknown option 'presolve' is ignored; known options: gap, model, threads, "
     "time_limit, verbose"),
    ("vo.solve_de(sphere, [(0, 1)], maxiter=100, max_generations=2)",
     "solve_de(): unknown option 'maxiter' is ignored; known options: callback, constraints, cr, f, integrality, "
     "max_evals, max_generations, pop_size, seed, time_limit, tol, x0"),
    ("vo.solve_de(sphere, [(0, 1)], x_0=[0.5], max_generations=2)",
     "solve_de(): unknown option 'x_0' is ignored (did you mean 'x0'?)"),
    ("vo.solve_parallel_de(sphere, [(0, 1)], tol=1e-3, max_generations=2)",
     "solve_parallel_de(): unknown option 'tol' is ignored; known options: " + STEERING_KEYS +
     "max_generations, pop_size, seed, time_limit, x0"),
    # A short key gets no hint from two edits ('f' is not 'x0').
    ("vo.solve_parallel_de(sphere, [(0, 1)], f=0.5, max_generations=2)",
     "solve_parallel_de(): unknown option 'f' is ignored; known options: "),
    ("vo.solve_pso(sphere, [(0, 1)], max_iter=2, max_iterations=2)",
     "solve_pso(): unknown option 'max_iter' is ignored"),
    ("vo.solve_sa(sphere, [(0, 1)], max_iterations=2, temperature=5)", "solve_sa(): unknown option 'temperature'"),
    ("vo.solve_cmaes(sphere, [(0, 1)], max_generations=2, sigma0=0.1)",
     "solve_cmaes(): unknown option 'sigma0' is ignored (did you mean 'sigma'?)"),
    ("vo.pareto_frontier([sphere, sphere], [(0, 1)], 2, n_point=3)", "pareto_frontier(): unknown option 'n_point'"),
    ("vo.stochastic_solve(lambda x, s: x[0], [(0, 1)], [{}], max_generations=2, samples=3)",
     "stochastic_solve(): unknown option 'samples' is ignored"),
])
def test_unknown_keys_warn_and_the_call_still_runs(lp, call, message):
    m, x = lp
    with pytest.warns(UserWarning) as caught:
        out = eval(call)
    assert out is not None
    texts = [str(w.message) for w in caught]
    assert len(texts) == 1 and texts[0].startswith(message), texts


@pytest.mark.parametrize("name, hint", [("hihgs", " (did you mean 'highs'?)"), ("gurobi", ""), ("", "")])
def test_a_solver_without_an_adapter_warns_that_highs_solves(lp, name, hint):
    m, _ = lp
    with pytest.warns(UserWarning) as caught:
        r = m.solve(solver=name)
    assert [str(w.message) for w in caught] == [
        f"Model.solve(): there is no solver named '{name}'{hint}; HiGHS solves the model instead "
        "(solvers: bonmin, clarabel, highs, ipopt, osqp, scipy, slsqp)"]
    assert (r.solver, r.objective) == ("HiGHS", 4.0)


def test_known_keys_and_solver_names_are_silent(lp):
    m, x = lp
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        m.solve(solver="HiGHS", time_limit=5, gap=0.0, verbose=False, threads=1, warm_start=None,
                presolve=True, solver_method="simplex", run_crossover="on", parallel="off",
                scale_cleanup=False, simplex_scale_strategy=1, eliminate_redundant=False, ranging=False)
        m.solve(solver="OSQP")
        vo.minimize(x, [x >= 1], time_limit=5, verbose=False)
        vo.PersistentHighs.from_model(model=m, gap=0.0, threads=1, time_limit=5, verbose=False)
        vo.solve_de(sphere, [(0, 1)], pop_size=4, max_generations=2, f=0.5, cr=0.5, seed=1, tol=0)
        vo.solve_cmaes(sphere, [(0, 1)], pop_size=4, max_generations=2, sigma=0.1, seed=1, tol=0,
                       variant="full", restarts=0, executor=None)
        # The steering keys every black-box function reads.
        steer = dict(x0=[0.5], max_evals=20, time_limit=5.0, callback=lambda info: False,
                     integrality=[False], constraints=lambda v: [v[0] - 1])
        for run in (vo.solve_de, vo.solve_parallel_de, vo.solve_pso, vo.solve_sa, vo.solve_cmaes):
            run(sphere, [(0, 1)], **steer)
        vo.stochastic_solve(lambda v, s: v[0], [(0, 1)], [{}], max_generations=2, **steer)
        vo.pareto_frontier([sphere, sphere], [(0, 1)], 2, method="nsga2", pop_size=4, generations=2, **steer)


def test_a_warning_turned_error_stops_the_call_before_it_runs(lp):
    m, _ = lp
    calls = []
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(UserWarning, match="timelimit"):
            m.solve(timelimit=5)
        with pytest.raises(UserWarning, match="maxiter"):
            vo.solve_sa(lambda v: calls.append(v) or 0.0, [(0, 1)], maxiter=5)
    assert calls == []
    assert m.solve().objective == 4.0  # the model's lock was not left held
