"""Rules every black-box entry point shares: the user can stop a run, a non-callable objective
is refused, NaN never holds on to the best place, failures score +inf, and the surface
(registration order, signatures, docstrings)."""

import math

import pytest

import velmo_opt as vo
from recording import NanFirst, Recorder, rosenbrock, sphere

# Each entry point with settings that make a short run of several dozen evaluations.
ENTRY_POINTS = {
    "solve_de": lambda f, b: vo.solve_de(f, b, pop_size=5, max_generations=6),
    "solve_parallel_de": lambda f, b: vo.solve_parallel_de(f, b, max_generations=3),
    "solve_pso": lambda f, b: vo.solve_pso(f, b, max_iterations=6),
    "solve_sa": lambda f, b: vo.solve_sa(f, b, max_iterations=60),
    "solve_cmaes simple": lambda f, b: vo.solve_cmaes(f, b, max_generations=10),
    "solve_cmaes full": lambda f, b: vo.solve_cmaes(f, b, variant="full", max_generations=10),
    "solve_cmaes restarts": lambda f, b: vo.solve_cmaes(f, b, variant="full", restarts=2, max_generations=2),
    "solve_portfolio": lambda f, b: vo.solve_portfolio(f, b, max_evals=10),
}


def interrupt_on_call(k, exc):
    calls = []

    def f(x):
        calls.append(x)
        if len(calls) == k:
            raise exc
        return sphere(x)

    return f, calls


@pytest.mark.parametrize("exc", [KeyboardInterrupt, SystemExit(3)], ids=["KeyboardInterrupt", "SystemExit"])
@pytest.mark.parametrize("solver", ENTRY_POINTS.values(), ids=ENTRY_POINTS.keys())
def test_interrupt_stops_the_run_at_once(solver, exc):
    f, calls = interrupt_on_call(5, exc)
    with pytest.raises(type(exc) if isinstance(exc, BaseException) else exc) as info:
        solver(f, [(-1, 1)] * 2)
    assert len(calls) == 5
    if isinstance(exc, SystemExit):
        assert info.value.code == 3


@pytest.mark.parametrize("run", [
    lambda f: vo.pareto_frontier([f, sphere], [(-1, 1)] * 2, 3),
    lambda f: vo.pareto_frontier([f, sphere], [(-1, 1)] * 2, method="nsga2", pop_size=8, generations=3),
    lambda f: vo.pareto_frontier([sphere, f, sphere], [(-1, 1)] * 2, method="nsga3", pop_size=8, generations=3),
    lambda f: vo.stochastic_solve(lambda x, s: f(x), [(-1, 1)] * 2, [1, 2, 3], max_generations=3),
], ids=["pareto sweep", "nsga2", "nsga3", "stochastic_solve"])
def test_interrupt_stops_the_other_searches_at_once(run):
    f, calls = interrupt_on_call(5, KeyboardInterrupt)
    with pytest.raises(KeyboardInterrupt):
        run(f)
    assert len(calls) == 5


def test_interrupt_raised_by_a_returned_objects_float_conversion_also_stops():
    class Stop:
        def __float__(self):
            raise KeyboardInterrupt

    calls = Recorder(lambda x: Stop() if len(calls.points) == 2 else 1.0)
    with pytest.raises(KeyboardInterrupt):
        vo.solve_sa(calls, [(0, 1)], max_iterations=10)
    assert len(calls.points) == 2


@pytest.mark.parametrize("exc", [ValueError("bad"), ZeroDivisionError, ArithmeticError, GeneratorExit],
                         ids=["ValueError", "ZeroDivisionError", "ArithmeticError", "GeneratorExit"])
@pytest.mark.parametrize("solver", ENTRY_POINTS.values(), ids=ENTRY_POINTS.keys())
def test_other_exceptions_still_score_inf(solver, exc):
    def f(x):
        raise exc

    result = solver(f, [(-1, 1)] * 2)
    assert result.objective == math.inf


@pytest.mark.parametrize("func", [None, 5, "sphere", [sphere]], ids=["None", "int", "str", "list"])
@pytest.mark.parametrize("solver", ENTRY_POINTS.values(), ids=ENTRY_POINTS.keys())
def test_non_callable_objective_is_refused_first(solver, func):
    # Checked before the bounds, so even a broken box reports the objective.
    with pytest.raises(TypeError, match="^obj_func must be callable$"):
        solver(func, [(-1, 1)] * 2)
    with pytest.raises(TypeError, match="^obj_func must be callable$"):
        solver(func, "not a box")


@pytest.mark.parametrize("k", [1, 3])
@pytest.mark.parametrize("solver", ENTRY_POINTS.values(), ids=ENTRY_POINTS.keys())
def test_leading_nan_values_give_way_to_numbers(solver, k):
    result = solver(Recorder(NanFirst(k, rosenbrock)), [(-2, 2)] * 2)
    assert math.isfinite(result.objective)
    assert result.objective == rosenbrock(result.x)
    assert result.history[-1] == result.objective


@pytest.mark.parametrize("solver", ENTRY_POINTS.values(), ids=ENTRY_POINTS.keys())
def test_same_call_same_run(solver):
    a, b = solver(rosenbrock, [(-2, 2)] * 2), solver(rosenbrock, [(-2, 2)] * 2)
    assert (a.x, a.history, a.evaluations, a.converged) == (b.x, b.history, b.evaluations, b.converged)


@pytest.mark.parametrize("solver", [vo.solve_pso, vo.solve_sa, vo.solve_cmaes])
def test_seed_zero_acts_as_one(solver):
    runs = [solver(rosenbrock, [(-2, 2)] * 2, seed=s) for s in (0, 1, 2)]
    assert (runs[0].x, runs[0].history) == (runs[1].x, runs[1].history)
    assert runs[2].history != runs[1].history


def test_pso_refuses_an_empty_box_before_any_call():
    calls = Recorder(sphere)
    for options in ({}, {"pop_size": 5}):
        with pytest.raises(ValueError, match="^bounds must contain at least one .*particle swarm"):
            vo.solve_pso(calls, [], **options)
    assert calls.points == []


BLACK_BOX_FUNCTIONS = [
    ("solve_de", "(obj_func, bounds, **kwargs)",
     "Solve a black-box optimisation problem using Differential Evolution.\n"
     "obj_func: callable(x: list[float]) -> float\nbounds: list of (lower, upper) tuples"),
    ("solve_pso", "(obj_func, bounds, **kwargs)",
     "Solve a black-box optimisation problem using Particle Swarm Optimisation."),
    ("solve_sa", "(obj_func, bounds, **kwargs)",
     "Solve a black-box optimisation problem using Simulated Annealing."),
    ("solve_cmaes", "(obj_func, bounds, **kwargs)", "Solve using CMA-ES (simplified)."),
    ("solve_portfolio", "(obj_func, bounds, max_evals=5000)",
     "Portfolio solver: run DE + PSO + CMA-ES + SA sequentially, return best.\n"
     "(Sequential to avoid GIL deadlock with Python callbacks.)"),
    ("solve_parallel_de", "(obj_func, bounds, **kwargs)", None),
]


def test_registration_order_signatures_and_docstrings():
    expected = [row[0] for row in BLACK_BOX_FUNCTIONS]
    assert [n for n in vo.__dict__ if n in expected] == expected
    for name, signature, doc in BLACK_BOX_FUNCTIONS:
        f = getattr(vo, name)
        assert f.__text_signature__ == signature
        if doc is not None:
            # The functions that take an executor say so after the stated text.
            assert f.__doc__ == doc or f.__doc__.startswith(doc + "\nexecutor: ")


def test_portfolio_takes_max_evals_by_name_and_no_other_keyword():
    calls = Recorder(sphere)
    by_name = vo.solve_portfolio(obj_func=sphere, bounds=[(0, 1)], max_evals=0)
    assert by_name.x == vo.solve_portfolio(sphere, [(0, 1)], 0).x
    for bad in ({"seed": 1}, {"max_evals": -1}, {"max_evals": 1.5}, {"max_evals": None}):
        with pytest.raises((TypeError, OverflowError)):
            vo.solve_portfolio(calls, [(0, 1)], **bad)
    assert calls.points == []
