import math
import sys

import pytest

import velmo_opt as vo
from de_reference import XorShift, de, random_point
from recording import (NanFirst, Recorder, assert_matches_reference, fails_right_half, hexes, nan_below,
                       rosenbrock, sphere)


# (objective, bounds, options of solve_de); the reference is run with the resolved values.
REFERENCE_CASES = {
    "sphere defaults": (sphere, [(-5, 5)] * 3, {"max_generations": 30, "seed": 7}),
    "rosenbrock tuned": (
        rosenbrock,
        [(-2.0, 2.0), (-1, 3)],
        {"pop_size": 8, "max_generations": 60, "f": 0.5, "cr": 0.3, "seed": 0},
    ),
    "failures score inf": (fails_right_half, [(-3, 3)] * 2, {"pop_size": 6, "max_generations": 20, "tol": 0.0}),
    "nan values": (nan_below, [(-2, 2)] * 2, {"pop_size": 5, "max_generations": 25, "seed": 99}),
    "inverted box and overshoot": (sphere, [(0, 1), (2, -2)], {"pop_size": 4, "max_generations": 5, "f": 3.0, "cr": 1.0}),
    "nan weight": (sphere, [(-1, 1)] * 2, {"pop_size": 4, "max_generations": 3, "f": math.nan}),
    "always nan": (lambda x: math.nan, [(0, 1)], {"pop_size": 4}),
    "first value nan": (NanFirst(1, sphere), [(-1, 1)] * 2, {"pop_size": 5, "max_generations": 8}),
    "first three values nan": (NanFirst(3, rosenbrock), [(-2, 2)] * 2, {"pop_size": 4, "max_generations": 8}),
    "stalls early": (lambda x: round(x[0], 1), [(0, 1)], {"max_generations": 200, "seed": 2**64 - 1}),
}


def run_reference(func, bounds, options, default_pop):
    pop_size = options.get("pop_size") or default_pop * len(bounds)
    kw = {k: v for k, v in options.items() if k != "pop_size"}
    return de(func, bounds, pop_size, **kw)


@pytest.mark.parametrize("case", REFERENCE_CASES)
def test_solve_de_reproduces_reference_bit_for_bit(case):
    func, bounds, options = REFERENCE_CASES[case]
    ours, theirs = Recorder(func), Recorder(func)
    result = vo.solve_de(ours, bounds, **options)
    ref = run_reference(theirs, bounds, options, default_pop=10)
    assert_matches_reference(result, ours, theirs.points, ref)


def test_solve_parallel_de_reproduces_reference_with_larger_population():
    ours, theirs = Recorder(rosenbrock), Recorder(rosenbrock)
    bounds = [(-2, 2)] * 2
    result = vo.solve_parallel_de(ours, bounds, max_generations=15, seed=5)
    ref = de(theirs, bounds, 30, max_generations=15, seed=5)
    assert_matches_reference(result, ours, theirs.points, ref)


def test_same_seed_same_run_and_seed_zero_acts_as_one():
    runs = [vo.solve_de(rosenbrock, [(-2, 2)] * 2, max_generations=20, seed=s) for s in (1, 1, 0, 2)]
    same = [(r.x, r.history, r.evaluations) for r in runs]
    assert same[0] == same[1] == same[2]
    assert same[3] != same[0]


def test_parallel_de_equals_de_with_same_settings_and_ignores_f_cr_tol():
    de_run = vo.solve_de(rosenbrock, [(-2, 2)] * 3, pop_size=12, max_generations=25, seed=9)
    par = vo.solve_parallel_de(rosenbrock, [(-2, 2)] * 3, pop_size=12, max_generations=25, seed=9,
                               f="ignored", cr=None, tol=0.0)
    assert (par.x, par.history, par.evaluations, par.converged) == (
        de_run.x, de_run.history, de_run.evaluations, de_run.converged)


@pytest.mark.parametrize(
    "solver, options, population",
    [
        (vo.solve_de, {}, 20),
        (vo.solve_de, {"pop_size": 0}, 20),
        (vo.solve_de, {"pop_size": 4}, 4),
        (vo.solve_parallel_de, {}, 30),
        (vo.solve_parallel_de, {"pop_size": 0}, 20),
        (vo.solve_parallel_de, {"pop_size": 7}, 7),
    ],
)
def test_population_size_rules(solver, options, population):
    result = solver(sphere, [(-1, 1)] * 2, max_generations=0, **options)
    assert result.evaluations == population


def test_constant_objective_stops_after_generation_ten():
    calls = Recorder(lambda x: 1.0)
    result = vo.solve_de(calls, [(0, 1)] * 2)
    assert result.converged is True
    assert result.iterations == 11
    assert result.evaluations == 20 * 11 == len(calls.points)
    assert result.history == [1.0] * 11


def test_tol_zero_uses_the_whole_budget():
    result = vo.solve_de(lambda x: 1.0, [(0, 1)] * 2, max_generations=25, tol=0)
    assert (result.converged, result.iterations, result.evaluations) == (False, 26, 20 * 26)


def test_max_generations_zero_returns_best_initial_individual():
    calls = Recorder(lambda x: (x[0] - 0.3) ** 2)
    result = vo.solve_de(calls, [(0, 1)], pop_size=7, max_generations=0)
    values = [(float.fromhex(p[0]) - 0.3) ** 2 for p in calls.points]
    best = values.index(min(values))
    assert len(calls.points) == 7
    assert hexes(result.x) == list(calls.points[best])
    assert result.history == [result.objective] == [values[best]]
    assert (result.iterations, result.evaluations, result.converged) == (1, 7, False)


def test_trials_are_clamped_into_the_box():
    bounds = [(-1, 1), (10, 20)]
    calls = Recorder(sphere)
    vo.solve_de(calls, bounds, pop_size=6, max_generations=10, f=5.0, tol=0)
    points = [[float.fromhex(v) for v in p] for p in calls.points]
    assert all(lo <= v <= hi for p in points for v, (lo, hi) in zip(p, bounds))
    assert any(v in (lo, hi) for p in points[6:] for v, (lo, hi) in zip(p, bounds))


def test_nan_trial_coordinates_land_on_the_lower_bound():
    calls = Recorder(sphere)
    vo.solve_de(calls, [(-1, 1), (2, 3)], pop_size=4, max_generations=2, f=math.nan, cr=1.0)
    trials = calls.points[4:]
    assert len(trials) == 8
    assert all(p == ((-1.0).hex(), (2.0).hex()) for p in trials)


class Boom(Exception):
    pass


def raise_value_error(x):
    raise ValueError("bad point")


class BadFloat:
    def __float__(self):
        raise Boom


@pytest.mark.parametrize(
    "func",
    [raise_value_error, lambda x: "3", lambda x: None, lambda x: BadFloat()],
    ids=["raises", "returns-str", "returns-none", "bad-float"],
)
def test_failing_objective_scores_inf_and_keeps_first_point(func):
    result = vo.solve_de(func, [(-1, 1)] * 2, pop_size=5, max_generations=3, tol=0)
    first = random_point(XorShift(42), [-1.0, -1.0], [1.0, 1.0])
    assert result.objective == math.inf
    assert result.x == first
    assert result.evaluations == 20
    assert repr(result) == "BlackBoxResult(obj=inf, evals=20, converged=false)"


class Number:
    def __float__(self):
        return 2.5


@pytest.mark.parametrize("value, expected", [(3, 3.0), (True, 1.0), (Number(), 2.5), (-math.inf, -math.inf)])
def test_objective_values_go_through_float_conversion(value, expected):
    result = vo.solve_de(lambda x: value, [(0, 1)], pop_size=4, max_generations=0)
    assert result.objective == expected
    assert type(result.objective) is float


@pytest.mark.parametrize(
    "bounds",
    ["ab", 5, None, {(0, 1): 1}, [[0, 1]], [(0, 1), [0, 1]], [(0, 1, 2)], [(0,)], [(0, "1")], [(None, 1)]],
)
def test_bad_bounds_fail_before_any_call(bounds):
    calls = Recorder(sphere)
    with pytest.raises(TypeError, match="bounds"):
        vo.solve_de(calls, bounds)
    assert calls.points == []


def test_bounds_accept_any_sequence_of_number_tuples():
    class Bound:
        def __float__(self):
            return 1.0

    result = vo.solve_de(sphere, ((0, Bound()), (False, 2**10)), max_generations=0)
    assert 0 <= result.x[0] <= 1 and 0 <= result.x[1] <= 1024


@pytest.mark.parametrize("solver", [vo.solve_de, vo.solve_parallel_de])
@pytest.mark.parametrize(
    "bounds, options, match",
    [
        ([], {}, "at least one"),
        ([(0, 1)], {"pop_size": 1}, "at least 4, got 1"),
        ([(0, 1)], {"pop_size": 3}, "at least 4, got 3"),
    ],
)
def test_undefined_setups_raise_value_error_before_any_call(solver, bounds, options, match):
    calls = Recorder(sphere)
    with pytest.raises(ValueError, match=match):
        solver(calls, bounds, **options)
    assert calls.points == []


def test_population_too_large_for_memory_raises_memory_error():
    calls = Recorder(sphere)
    with pytest.raises(MemoryError):
        vo.solve_de(calls, [(0, 1)] * 4, pop_size=2**62)
    assert calls.points == []


@pytest.mark.parametrize(
    "options, error, name",
    [
        ({"pop_size": None}, TypeError, "pop_size"),
        ({"pop_size": 2.5}, TypeError, "pop_size"),
        ({"pop_size": -1}, OverflowError, "pop_size"),
        ({"max_generations": "10"}, TypeError, "max_generations"),
        ({"seed": 2**64}, OverflowError, "seed"),
        ({"f": "0.5"}, TypeError, "'f'"),
        ({"cr": None}, TypeError, "'cr'"),
        ({"tol": [1e-3]}, TypeError, "tol"),
        # options are read in order: pop_size, max_generations, f, cr, seed, tol
        ({"tol": None, "seed": -1, "pop_size": None}, TypeError, "pop_size"),
        ({"tol": None, "seed": -1}, OverflowError, "seed"),
    ],
)
def test_bad_options_fail_before_any_call(options, error, name):
    calls = Recorder(sphere)
    with pytest.raises(error, match=name):
        vo.solve_de(calls, [(0, 1)], **options)
    assert calls.points == []


def test_unknown_and_differently_cased_options_are_ignored():
    base = vo.solve_de(sphere, [(0, 1)] * 2, max_generations=5)
    other = vo.solve_de(sphere, [(0, 1)] * 2, max_generations=5, Pop_Size=None, popsize="x", F=9)
    assert (base.x, base.history) == (other.x, other.history)


def test_arguments_bind_by_keyword_and_reject_duplicates():
    result = vo.solve_de(bounds=[(0, 1)], obj_func=sphere, max_generations=0)
    assert result.evaluations == 10
    with pytest.raises(TypeError):
        vo.solve_de(sphere, [(0, 1)], bounds=[(0, 1)])
    with pytest.raises(TypeError):
        vo.solve_de(sphere)


def test_repr_prints_six_decimals_and_lowercase_flag():
    running = vo.solve_de(lambda x: 0.1234567, [(0, 1)], max_generations=3)
    stalled = vo.solve_de(lambda x: 1e-9, [(0, 1)])
    assert repr(running) == "BlackBoxResult(obj=0.123457, evals=40, converged=false)"
    assert repr(stalled) == "BlackBoxResult(obj=0.000000, evals=110, converged=true)"
    assert str(stalled) == repr(stalled)


def test_result_is_read_only_and_hands_out_fresh_lists():
    result = vo.solve_de(sphere, [(0, 1)] * 2, max_generations=4)
    x, history = result.x, result.history
    x.append(5.0)
    history.clear()
    assert len(result.x) == 2 and len(result.history) == 5
    assert result.x is not result.x
    assert (type(result.iterations), type(result.evaluations), type(result.converged)) == (int, int, bool)
    with pytest.raises(AttributeError):
        result.objective = 0.0
    with pytest.raises(TypeError):
        vo.BlackBoxResult()


def test_no_references_leak_from_objective_or_arguments():
    value = Number()
    bounds = [(0, 1), (0, 1)]

    def func(x):
        if x[0] > 0.5:
            raise ValueError(x)
        return value

    before = (sys.getrefcount(func), sys.getrefcount(value), sys.getrefcount(bounds[0]))
    vo.solve_de(func, bounds, max_generations=5)
    assert (sys.getrefcount(func), sys.getrefcount(value), sys.getrefcount(bounds[0])) == before


def test_objective_may_run_a_nested_solve():
    def outer(x):
        inner = vo.solve_de(lambda y: (y[0] - x[0]) ** 2, [(0, 1)], pop_size=4, max_generations=2)
        return inner.objective + x[0]

    result = vo.solve_de(outer, [(0, 1)], pop_size=4, max_generations=2)
    assert math.isfinite(result.objective)


def test_registration_order_and_docs():
    names = list(vo.__dict__)
    assert names.index("BlackBoxResult") > names.index("Constraint")
    assert names.index("sqrt") < names.index("solve_de") < names.index("solve_parallel_de")
    assert vo.BlackBoxResult.__doc__ == "Black-box result returned from metaheuristic solvers."
    assert vo.solve_de.__text_signature__ == "(obj_func, bounds, **kwargs)"
    assert vo.solve_parallel_de.__text_signature__ == "(obj_func, bounds, **kwargs)"
    assert vo.solve_de.__doc__.startswith("Solve a black-box optimisation problem using Differential Evolution.\n")
    assert vo.solve_parallel_de.__doc__.startswith("Enhanced DE with larger population. ")
