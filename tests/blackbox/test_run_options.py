"""Steering a black-box run: x0, max_evals, time_limit, callback, integrality, constraints and
the result's message and constraint_violation, on every engine that takes them."""

import itertools
import math
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

import velmo_opt as vo


class Counted:
    """An objective that records every point it is called with."""

    def __init__(self, func):
        self.func = func
        self.points = []

    def __call__(self, x):
        self.points.append(list(x))
        return self.func(x)


def sphere(x):
    return sum((v - 0.3) ** 2 for v in x)


def rastrigin(x):
    return 10 * len(x) + sum(v * v - 10 * math.cos(2 * math.pi * v) for v in x)


# name -> call(objective, bounds, **options); each engine that takes the options.
ENGINES = {
    "de": lambda f, b, **k: vo.solve_de(f, b, **k),
    "parallel_de": lambda f, b, **k: vo.solve_parallel_de(f, b, **k),
    "pso": lambda f, b, **k: vo.solve_pso(f, b, **k),
    "sa": lambda f, b, **k: vo.solve_sa(f, b, **k),
    "cmaes_simple": lambda f, b, **k: vo.solve_cmaes(f, b, **k),
    "cmaes_full": lambda f, b, **k: vo.solve_cmaes(f, b, variant="full", **k),
    "cmaes_restarts": lambda f, b, **k: vo.solve_cmaes(f, b, variant="full", restarts=2, **k),
    "stochastic": lambda f, b, **k: vo.stochastic_solve(lambda x, s: f(x), b, [None], **k),
}
BOX = [(-5.0, 5.0)] * 3


def generations(engine, count):
    """The engine's own iteration budget option."""
    return {"max_iterations": count} if engine in ("pso", "sa") else {"max_generations": count}


@pytest.mark.parametrize("engine", ENGINES)
def test_x0_equal_to_the_plain_start_changes_nothing(engine):
    # The start point takes the first place only: the other draws do not shift.
    plain_f = Counted(sphere)
    plain = ENGINES[engine](plain_f, BOX, **generations(engine, 20))
    again_f = Counted(sphere)
    again = ENGINES[engine](again_f, BOX, x0=plain_f.points[0], **generations(engine, 20))
    assert again_f.points == plain_f.points
    assert (again.x, again.objective, again.history) == (plain.x, plain.objective, plain.history)


@pytest.mark.parametrize("engine", ENGINES)
def test_x0_at_the_optimum_of_a_hard_function_is_kept(engine):
    box = [(-5.12, 5.12)] * 4
    plain = ENGINES[engine](rastrigin, box, seed=5)
    started = ENGINES[engine](rastrigin, box, seed=5, x0=[0.0] * 4)
    assert started.objective == 0.0 <= plain.objective
    assert started.x == [0.0] * 4


@pytest.mark.parametrize("engine", ENGINES)
@pytest.mark.parametrize("budget", [1, 5, 37, 400])
def test_max_evals_is_the_exact_call_count(engine, budget):
    f = Counted(sphere)
    r = ENGINES[engine](f, BOX, max_evals=budget)
    assert len(f.points) == r.evaluations
    # The run spends the whole budget unless it converged before it.
    if r.message == "converged":
        assert r.converged and r.evaluations < budget
    else:
        assert r.message == "max_evals" and r.evaluations == budget


def test_a_budget_on_a_generation_boundary_is_the_generation_budget():
    # 30 individuals: 30 * (1 + 7) evaluations are exactly seven generations.
    a = vo.solve_de(sphere, BOX, max_generations=7, tol=0)
    b = vo.solve_de(sphere, BOX, max_evals=240, tol=0)
    assert (a.x, a.history, a.evaluations) == (b.x, b.history, b.evaluations)
    assert (a.message, b.message) == ("max_generations", "max_evals")


def test_pareto_budget_counts_points_each_calling_every_objective():
    f1, f2 = Counted(lambda x: x[0]), Counted(lambda x: 1 - x[0] + x[1] ** 2)
    seen = []
    vo.pareto_frontier([f1, f2], [(0, 1), (-1, 1)], method="nsga2", pop_size=12, max_evals=50,
                       callback=lambda d: seen.append(d["evaluations"]))
    assert len(f1.points) == len(f2.points) == 50
    assert seen == [24, 36, 48, 50]


@pytest.mark.parametrize("engine", ENGINES)
def test_callback_sees_each_generation_and_stops_the_run(engine):
    seen = []

    def watch(info):
        seen.append(info)
        return info["generation"] == 3

    r = ENGINES[engine](sphere, BOX, callback=watch)
    assert r.message == "callback" and not r.converged
    assert r.iterations == 4 and len(r.history) == 4
    assert [d["generation"] for d in seen] == [1, 2, 3]
    assert all(set(d) == {"generation", "evaluations", "best_x", "best_value"} for d in seen)
    assert seen[-1]["evaluations"] == r.evaluations
    assert seen[-1]["best_value"] == r.objective and seen[-1]["best_x"] == r.x
    assert [d["best_value"] for d in seen] == r.history[1:]


def test_pareto_callback_sees_the_front_and_stops():
    seen = []

    def watch(info):
        seen.append(info)
        return info["generation"] == 3

    front = vo.pareto_frontier([lambda x: x[0], lambda x: 1 - x[0]], [(0, 1)], method="nsga2",
                               pop_size=8, callback=watch)
    assert [d["generation"] for d in seen] == [1, 2, 3]
    assert sorted(map(tuple, seen[-1]["front"])) == sorted(tuple(d["objectives"]) for d in front)


@pytest.mark.parametrize("call", [
    lambda cb: vo.solve_de(sphere, BOX, callback=cb),
    lambda cb: vo.solve_cmaes(sphere, BOX, variant="full", callback=cb),
    lambda cb: vo.pareto_frontier([sphere, sphere], BOX, method="nsga2", callback=cb),
])
def test_callback_exceptions_propagate(call):
    def broken(info):
        raise LookupError("from the callback")

    with pytest.raises(LookupError, match="from the callback"):
        call(broken)


def slow_sphere(x):
    time.sleep(0.002)
    return sphere(x)


@pytest.mark.parametrize("engine", ["de", "pso", "sa", "cmaes_full"])
def test_time_limit_ends_at_the_first_generation_boundary_after_it(engine):
    f = Counted(slow_sphere)
    stamps = []
    f.func = lambda x: (stamps.append(time.perf_counter()), slow_sphere(x))[1]
    start = time.perf_counter()
    no_stall = {} if engine == "sa" else {"tol": -math.inf}
    r = ENGINES[engine](f, [(-5.0, 5.0)], time_limit=0.15, **no_stall, **generations(engine, 10 ** 6))
    assert r.message == "time_limit"
    assert time.perf_counter() - start >= 0.15
    # The last generation began before the limit (its first call came before it), the one
    # before it ended before the limit.
    per_generation = {"de": 10, "pso": 10, "sa": 1, "cmaes_full": 4}[engine]
    assert stamps[-per_generation] - start < 0.15 + 0.01


def knapsack():
    weights = [23, 31, 29, 44, 53, 38, 63, 85, 89, 82]
    values = [92, 57, 49, 68, 60, 43, 67, 84, 87, 72]
    capacity = 165
    best = max(sum(v for v, s in zip(values, pick) if s) for pick in itertools.product([0, 1], repeat=10)
               if sum(w for w, s in zip(weights, pick) if s) <= capacity)
    objective = lambda x: -sum(v * s for v, s in zip(values, x))  # noqa: E731
    constraints = lambda x: [sum(w * s for w, s in zip(weights, x)) - capacity]  # noqa: E731
    return objective, constraints, best


@pytest.mark.parametrize("call", [
    lambda f, g: vo.solve_de(f, [(0, 1)] * 10, integrality=[True] * 10, constraints=g),
    lambda f, g: vo.solve_cmaes(f, [(0, 1)] * 10, variant="full", tol=-math.inf, max_generations=300,
                                integrality=[True] * 10, constraints=g),
], ids=["de", "cmaes_full"])
def test_knapsack_as_a_black_box_reaches_the_optimum(call):
    objective, constraints, best = knapsack()
    r = call(objective, constraints)
    assert r.objective == -best and r.constraint_violation == 0.0
    assert all(v in (0.0, 1.0) for v in r.x)


@pytest.mark.parametrize("engine", ENGINES)
def test_integer_coordinates_are_rounded_inside_integral_bounds(engine):
    f = Counted(lambda x: (x[0] - 2.2) ** 2 + (x[1] - 0.37) ** 2)
    r = ENGINES[engine](f, [(0.5, 3.7), (-1.0, 1.0)], integrality=[True, False], max_evals=300)
    assert all(p[0] in (1.0, 2.0, 3.0) for p in f.points)
    assert any(p[1] != round(p[1]) for p in f.points)
    assert r.x[0] == 2.0 and r.x in f.points


def test_integrality_rounds_half_away_from_zero_and_keeps_x0_in_bounds():
    f = Counted(lambda x: 0.0)
    vo.solve_de(f, [(-2.5, 3.5)] * 2, integrality=[True, True], x0=[-2.5, 3.5], max_evals=1)
    assert f.points == [[-2.0, 3.0]]  # -3 and 4 would leave the integral bounds [-2, 3]
    f.points.clear()
    vo.solve_de(f, [(-3.0, 3.0)] * 2, integrality=[True, True], x0=[-1.5, 0.5], max_evals=1)
    assert f.points == [[-2.0, 1.0]]


@pytest.mark.parametrize("engine", ["de", "pso", "cmaes_simple", "cmaes_full", "stochastic"])
def test_constraints_follow_the_feasibility_rules(engine):
    # Minimum of the sphere outside the feasible half-space x0 + x1 >= 2.
    r = ENGINES[engine](lambda x: x[0] ** 2 + x[1] ** 2, [(-3.0, 3.0)] * 2,
                        constraints=lambda x: [2 - x[0] - x[1]], seed=3)
    assert r.constraint_violation == 0.0
    assert r.objective == pytest.approx(2.0, abs=0.05)  # the unconstrained minimum is 0


def test_annealing_adds_the_violation_as_a_penalty():
    r = vo.solve_sa(lambda x: x[0] ** 2, [(-3.0, 3.0)], constraints=lambda x: [10 * (1 - x[0])])
    assert r.x[0] == pytest.approx(1.0, abs=0.05) and r.constraint_violation < 0.5


@pytest.mark.parametrize("engine", ["de", "cmaes_full"])
def test_a_raising_constraint_function_makes_the_point_infeasible(engine):
    def g(x):
        if x[0] > 0:
            raise ArithmeticError("cannot evaluate here")
        return [-1.0]

    r = ENGINES[engine](lambda x: x[0] ** 2 + (x[1] - 1) ** 2, [(-3.0, 3.0)] * 2, constraints=g)
    assert r.x[0] <= 0 and r.constraint_violation == 0.0


def test_nowhere_feasible_reports_the_least_violation():
    r = vo.solve_de(lambda x: x[0], [(-1.0, 1.0)], constraints=lambda x: [abs(x[0] - 0.5) + 1, -1.0])
    assert r.constraint_violation == pytest.approx(1.0, abs=1e-6)
    assert r.x[0] == pytest.approx(0.5, abs=1e-6)


def test_constraints_answering_a_different_length_fail_the_run():
    f = Counted(sphere)
    with pytest.raises(ValueError, match="argument 'constraints' returned 2 values, but 1 at its first call"):
        vo.solve_de(f, BOX, constraints=lambda x: [0.0] * (1 + (len(f.points) > 0)))


def test_keyboard_interrupt_in_constraints_stops_the_run():
    def g(x):
        raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        vo.solve_de(sphere, BOX, constraints=g)


@pytest.mark.parametrize("engine", ENGINES)
def test_message_without_options(engine):
    converged = ENGINES[engine](lambda x: 1.0, BOX)
    assert converged.message == ("converged" if converged.converged else "max_generations")
    assert converged.constraint_violation == 0.0


def test_options_given_as_none_are_absent():
    a = vo.solve_de(sphere, BOX, max_generations=5)
    b = vo.solve_de(sphere, BOX, max_generations=5, x0=None, max_evals=None, time_limit=None,
                    callback=None, integrality=None, constraints=None)
    assert (a.x, a.history, a.message) == (b.x, b.history, b.message)


def test_pareto_with_constraints_reports_each_violation_and_refuses_the_sweep():
    front = vo.pareto_frontier([lambda x: x[0], lambda x: x[1]], [(0, 1), (0, 1)], method="nsga2",
                               pop_size=20, generations=30, constraints=lambda x: [0.5 - x[0] - x[1]])
    assert all(d["constraint_violation"] == 0.0 for d in front)
    assert all(sum(d["x"]) >= 0.5 - 1e-12 for d in front)
    with pytest.raises(ValueError, match="only in NSGA mode"):
        vo.pareto_frontier([lambda x: x[0], lambda x: x[1]], [(0, 1)], max_evals=10)


def test_executor_runs_match_the_serial_ones_with_every_option():
    objective, constraints, _ = knapsack()
    steer = dict(x0=[1.0] * 10, max_evals=400, time_limit=1e6, integrality=[True] * 10,
                 constraints=constraints)
    calls = [
        lambda **k: vo.solve_cmaes(objective, [(0, 1)] * 10, callback=lambda d: None, **steer, **k),
        lambda **k: vo.solve_cmaes(objective, [(0, 1)] * 10, variant="full", restarts=1,
                                   callback=lambda d: None, **steer, **k),
        lambda **k: vo.stochastic_solve(lambda x, s: objective(x) + s, [(0, 1)] * 10, [0.0, 1.0],
                                        callback=lambda d: None, **steer, **k),
    ]
    with ThreadPoolExecutor(2) as pool:
        for call in calls:
            serial, pooled = call(), call(executor=pool)
            assert (serial.x, serial.history, serial.evaluations, serial.message,
                    serial.constraint_violation) == (pooled.x, pooled.history, pooled.evaluations,
                                                     pooled.message, pooled.constraint_violation)
        objectives = [lambda x: x[0] + x[1], lambda x: 2 - x[0] * x[1]]
        kwargs = dict(method="nsga2", pop_size=12, generations=20, x0=[1.0, 1.0], max_evals=150,
                      integrality=[False, True], constraints=lambda x: [x[0] - x[1] - 0.5],
                      callback=lambda d: None)
        assert vo.pareto_frontier(objectives, [(0, 2)] * 2, **kwargs) == \
            vo.pareto_frontier(objectives, [(0, 2)] * 2, executor=pool, **kwargs)
