import math

import pytest

import moo_reference as ref
import velmo_opt as vo
from pareto_helpers import Recorder, dtlz2, exact, first, zdt1


def plateau(x):
    return round(x[0] * 3) / 3  # few distinct values: many equal vectors and ties


def fails_above(x):
    if x[0] > 0.7:
        raise ValueError("outside the domain")
    return (x[0] - 0.2) ** 2 + x[-1]


def nan_above(x):
    return math.nan if x[1] > 0.6 else x[1] - x[0]


def quad(a):
    return lambda x: sum((v - c) ** 2 for v, c in zip(x, a))


# (objectives, bounds, n_points, options); the reference gets the same arguments.
NSGA_CASES = {
    "nsga2 zdt1": ([first, zdt1], [(0, 1)] * 3, 20, {"method": "nsga2", "pop_size": 12, "generations": 15, "seed": 3}),
    "nsga2 zdt1 other seed": ([first, zdt1], [(0, 1)] * 4, 20, {"method": "NSGA2", "pop_size": 9, "generations": 12, "seed": 0}),
    "nsga3 two objectives": ([first, zdt1], [(0, 1)] * 3, 20, {"method": "NSGA3", "pop_size": 10, "generations": 10, "das_dennis_divisions": 5, "seed": 11}),
    "three objectives default nsga2": (dtlz2(3), [(0, 1)] * 4, 2, {"pop_size": 10, "generations": 8}),
    "nsga3 three objectives": (dtlz2(3), [(0, 1)] * 4, 20, {"method": "nsga3", "pop_size": 16, "generations": 8, "das_dennis_divisions": 4, "seed": 5}),
    "four objectives default nsga3": (dtlz2(4), [(0, 1)] * 5, 20, {"pop_size": 12, "generations": 5, "das_dennis_divisions": 0, "seed": 2**64 - 1}),
    "ties and duplicates nsga2": ([plateau, lambda x: -plateau(x[1:])], [(0, 1)] * 2, 20, {"method": "nsga2", "pop_size": 14, "generations": 10}),
    "ties and duplicates nsga3": ([plateau, lambda x: -plateau(x[1:]), lambda x: plateau(x[::-1])], [(0, 1)] * 3, 20, {"pop_size": 14, "generations": 10, "method": "nsga3", "das_dennis_divisions": 3}),
    "failing objective nsga2": ([fails_above, first], [(0, 1)] * 2, 20, {"method": "nsga2", "pop_size": 10, "generations": 12, "seed": 8}),
    "failing objective nsga3": ([fails_above, first, lambda x: x[1]], [(0, 1)] * 2, 20, {"method": "nsga3", "pop_size": 10, "generations": 12, "das_dennis_divisions": 3, "seed": 8}),
    "nan objective nsga2": ([nan_above, first], [(0, 1)] * 2, 20, {"method": "nsga2", "pop_size": 10, "generations": 12, "seed": 21}),
    "nan objective nsga3": ([nan_above, first, lambda x: -x[1]], [(0, 1)] * 2, 20, {"pop_size": 10, "generations": 12, "method": "nsga3", "das_dennis_divisions": 2, "seed": 21}),
    "always failing": ([lambda x: 1 / 0, lambda x: math.nan], [(0, 1)] * 2, 20, {"method": "nsga2", "pop_size": 6, "generations": 4}),
    "inverted and wide box": ([first, lambda x: -x[0] * x[1]], [(1, -1), (-1e300, 1e300)], 20, {"method": "nsga2", "pop_size": 8, "generations": 6}),
    "no generations": ([first, zdt1], [(0, 1)] * 3, 3, {"method": "nsga2", "generations": 0}),
}

SWEEP_CASES = {
    "two quadratics": ([quad([0, 0]), quad([1, 2])], [(-3, 3)] * 2, 4, {"seed": 9}),
    "one point": ([quad([0]), quad([1])], [(-1, 2)], 1, {}),
    "failing objective": ([fails_above, first], [(0, 1)], 3, {"seed": 2**64 - 101}),
    "nan objective": ([nan_above, first], [(0, 1)] * 2, 3, {"method": "weighted"}),
}


def assert_same_run(objectives, bounds, n_points, options):
    ours = [Recorder(f) for f in objectives]
    theirs = [Recorder(f) for f in objectives]
    result = vo.pareto_frontier(ours, bounds, n_points, **options)
    expected = ref.pareto_frontier(theirs, bounds, n_points, **options)
    for a, b in zip(ours, theirs):
        assert a.points == b.points
    assert exact(result) == exact(expected)
    return result, ours


@pytest.mark.parametrize("case", NSGA_CASES)
def test_nsga_runs_reproduce_reference_bit_for_bit(case):
    result, calls = assert_same_run(*NSGA_CASES[case])
    assert result and all(set(d) == {"x", "objectives", "rank", "crowding"} for d in result)
    assert all(d["rank"] == 0 and type(d["rank"]) is int for d in result)
    assert all(not math.isnan(d["crowding"]) and d["crowding"] >= 0 for d in result)


@pytest.mark.parametrize("case", SWEEP_CASES)
def test_weighted_sum_sweep_reproduces_reference_bit_for_bit(case):
    result, _ = assert_same_run(*SWEEP_CASES[case])
    n_points = SWEEP_CASES[case][2]
    assert [d["weights"] for d in result] == [[k / max(1, n_points - 1), 1 - k / max(1, n_points - 1)]
                                              for k in range(n_points)]


def test_nan_and_failures_never_reach_the_first_front_over_numbers():
    # Points whose first objective failed (inf) or is NaN are dominated by any numeric point
    # that is no worse in the second objective.
    for objectives in ([fails_above, first], [nan_above, first]):
        result = vo.pareto_frontier(objectives, [(0, 1)] * 2, method="nsga2", pop_size=20, generations=20)
        assert all(math.isfinite(d["objectives"][0]) for d in result)


def test_weighted_sum_defaults_and_sizes():
    result = vo.pareto_frontier([quad([0]), quad([1])], [(0, 1)])
    assert len(result) == 20
    assert result[0]["weights"] == [0.0, 1.0] and result[-1]["weights"] == [1.0, 0.0]
    assert all(set(d) == {"x", "weights", "objectives"} for d in result)
    assert vo.pareto_frontier([quad([0]), quad([1])], [(0, 1)], n_points=0) == []
    assert vo.pareto_frontier([quad([0]), quad([1])], [(0, 1)], 1)[0]["weights"] == [0.0, 1.0]


def test_three_objectives_default_to_nsga2_with_population_100_and_250_generations():
    calls = [Recorder(f) for f in (first, lambda x: x[1], lambda x: 1 - x[0] - x[1])]
    result = vo.pareto_frontier(calls, [(0, 1)] * 2)
    assert [len(c.points) for c in calls] == [100 + 250 * 100] * 3
    assert all(d["rank"] == 0 for d in result)


@pytest.mark.parametrize(
    "options, population",
    [({"pop_size": 0}, 4), ({"pop_size": 2}, 4), ({"pop_size": 7}, 7), ({"pop_size": "9"}, 15),
     ({"pop_size": None}, 15), ({"pop_size": -5}, 15), ({"pop_size": 2.0}, 15), ({}, 15)],
)
def test_population_size_rules(options, population):
    calls = Recorder(first)
    vo.pareto_frontier([calls, zdt1], [(0, 1)] * 2, 3, method="nsga2", generations=0, **options)
    assert len(calls.points) == population


def test_options_that_do_not_convert_take_their_defaults():
    args = ([first, zdt1], [(0, 1)] * 2, 4)
    base = vo.pareto_frontier(*args, method="nsga2", generations=3)
    assert exact(vo.pareto_frontier(*args, method="nsga2", generations=3, seed="7", pop_size=[1])) == exact(base)
    assert exact(vo.pareto_frontier(*args, method="nsga2", generations=3, seed=-1, das_dennis_divisions=None)) == exact(base)
    # A method that is not text picks the mode by the number of objectives: the sweep here.
    assert "weights" in vo.pareto_frontier(*args, method=2)[0]
    few = vo.pareto_frontier([first, zdt1], [(0, 1)], 2, method="nsga2", pop_size=4, generations=None)
    assert exact(few) == exact(vo.pareto_frontier([first, zdt1], [(0, 1)], 2, method="nsga2", pop_size=4))


def test_interrupting_option_conversion_is_not_swallowed():
    class Interrupts:
        def __index__(self):
            raise KeyboardInterrupt

    calls = Recorder(first)
    with pytest.raises(KeyboardInterrupt):
        vo.pareto_frontier([calls, first, first], [(0, 1)], generations=Interrupts())
    assert calls.points == []


class Boom(Exception):
    pass


def test_sweep_final_evaluation_lets_the_exception_propagate():
    def always(x):
        raise Boom

    calls = Recorder(always)
    with pytest.raises(Boom):
        vo.pareto_frontier([calls, first], [(0, 1)], 3)
    # The whole first run (scored +inf, so it stalls after generation 10) came first.
    assert len(calls.points) == 10 * 11 + 1
    with pytest.raises(TypeError):
        vo.pareto_frontier([lambda x: "3", first], [(0, 1)], 2)


@pytest.mark.parametrize("objectives", [[], [first], (first,)])
def test_fewer_than_two_objectives_fail_before_any_call(objectives):
    with pytest.raises(ValueError, match="^Need at least 2 objectives$"):
        vo.pareto_frontier(objectives, [(0, 1)], method="nsga2")


@pytest.mark.parametrize("method", ["weighted", "nsga-2", "", "nsga2 "])
def test_unknown_method_with_three_objectives_fails_before_any_call(method):
    calls = Recorder(first)
    with pytest.raises(ValueError, match='"nsga2" or "nsga3"'):
        vo.pareto_frontier([calls, first, first], [(0, 1)], method=method)
    assert calls.points == []


@pytest.mark.parametrize("objectives", [[first, 5], [None, first], [first, first, "f"]])
def test_objectives_that_are_not_callable_fail_before_any_call(objectives):
    calls = Recorder(first)
    with pytest.raises(TypeError, match="^objectives must be callables$"):
        vo.pareto_frontier([calls] + objectives, [(0, 1)])
    assert calls.points == []


def test_objectives_list_changed_during_the_run_is_not_used_again():
    objectives = []

    def clears(x):
        objectives.clear()
        return x[0]

    objectives += [clears, first]
    result = vo.pareto_frontier(objectives, [(0, 1)], method="nsga2", pop_size=6, generations=3)
    assert result and objectives == []


def test_equal_vectors_share_a_front_and_single_members_are_infinitely_crowded():
    constant = vo.pareto_frontier([lambda x: 1.0, lambda x: 2.0], [(0, 1)], method="nsga2",
                                  pop_size=6, generations=0)
    assert len(constant) == 6
    assert sorted(d["crowding"] for d in constant) == [0.0] * 4 + [math.inf] * 2
    single = vo.pareto_frontier([quad([0.3]), quad([0.3])], [(0, 1)], method="nsga2", pop_size=8, generations=0)
    assert len(single) == 1 and single[0]["crowding"] == math.inf


def test_registration_and_docs():
    names = list(vo.__dict__)
    assert names.index("solve_de") < names.index("pareto_frontier") < names.index("solve_parallel_de")
    assert vo.pareto_frontier.__text_signature__ == "(objectives, bounds, n_points=20, **kwargs)"
    assert vo.pareto_frontier.__doc__.startswith(
        "Multi-objective: compute Pareto frontier via epsilon-constraint method.\n"
        "objectives: list of callables, each takes list[float] -> float\n"
        "Returns list of Pareto-optimal solutions.\nexecutor: ")


@pytest.mark.parametrize(
    "count, options, match",
    [(2, {"method": "nsga2", "pop_size": 2**62}, "population does not fit"),
     (2, {"method": "nsga2", "pop_size": 2**40}, "population does not fit"),
     (15, {}, "lattice of 15 objectives and das_dennis_divisions=12 does not fit"),
     (3, {"method": "nsga3", "das_dennis_divisions": 2**64 - 1}, "lattice of 3 objectives")],
)
def test_runs_too_large_for_memory_fail_before_any_call(count, options, match):
    calls = Recorder(first)
    with pytest.raises(MemoryError, match=match):
        vo.pareto_frontier([calls] + [first] * (count - 1), [(0, 1)] * 2, **options)
    assert calls.points == []


def test_a_sweep_too_large_for_memory_is_refused_before_any_call():
    calls = []

    def f(x):
        calls.append(x)
        return x[0]

    with pytest.raises(MemoryError, match=r"4611686018427387904 weighted-sum runs would need about"):
        vo.pareto_frontier([f, f], [(0, 1)], 2**62)
    assert calls == []
