import math
from collections.abc import Mapping

import numpy as np
import pytest

import velmo_opt as vo
from stochastic_reference import stochastic


class Recorder:
    """Wraps a scenario function and keeps every call: the point's bit patterns and the
    scenario object itself."""

    def __init__(self, func):
        self.func = func
        self.calls = []

    def __call__(self, x, scenario):
        assert type(x) is list and all(type(v) is float for v in x)
        self.calls.append((tuple(v.hex() for v in x), scenario))
        return self.func(x, scenario)


def hexes(values):
    return [v.hex() for v in values]


def squared_distance(x, s):
    return sum((v - c) ** 2 for v, c in zip(x, s["centre"]))


def fails_in_scenario_b(x, s):
    if s.get("name") == "b" and x[0] > 0:
        raise RuntimeError("scenario b fails right of 0")
    return abs(x[0] - s["centre"][0]) + x[1] ** 2


def nan_somewhere(x, s):
    return math.nan if x[0] * s < -1 else (x[0] - s) ** 2 + x[1]


class Frozen(Mapping):
    """A read-only mapping that is not a dict."""

    def __init__(self, **items):
        self._items = items

    def __getitem__(self, key):
        return self._items[key]

    def __iter__(self):
        return iter(self._items)

    def __len__(self):
        return len(self._items)


def scen(name, centre, **extra):
    return {"name": name, "centre": centre, **extra}


PLAIN = [scen("a", [1, 2]), scen("b", [-1, 0]), scen("c", [3, -2])]
WEIGHTED = [scen("a", [1, 2], probability=0.5), scen("b", [-1, 0], probability=0.3),
            scen("c", [3, -2], probability=0.2)]
# (scenario function, bounds, scenarios, options)
REFERENCE_CASES = {
    "plain mean": (squared_distance, [(-5, 5)] * 2, PLAIN, {"max_generations": 25, "seed": 3}),
    "weighted mean": (squared_distance, [(-5, 5)] * 2, WEIGHTED, {"max_generations": 25}),
    "unnormalised weights": (
        squared_distance, [(-5, 5)] * 2,
        [scen("a", [1, 2], probability=5), scen("b", [4, 4], probability=np.float64(1.5))],
        {"pop_size": 6, "max_generations": 15}),
    "failing scenario": (fails_in_scenario_b, [(-3, 3)] * 2, PLAIN, {"pop_size": 6, "max_generations": 20}),
    "failing scenario of probability zero": (
        fails_in_scenario_b, [(-3, 3)] * 2,
        [scen("a", [1], probability=1), scen("b", [2], probability=0), scen("c", [0], probability=3)],
        {"pop_size": 5, "max_generations": 20, "seed": 11}),
    "nan values, plain objects": (nan_somewhere, [(-2, 2)] * 2, [1, -3, 0.5], {"pop_size": 5, "max_generations": 25}),
    "one scenario without probability": (
        squared_distance, [(-5, 5)] * 2, WEIGHTED[:2] + [scen("c", [3, -2])], {"max_generations": 10}),
    "probability given as text": (
        squared_distance, [(-5, 5)] * 2, WEIGHTED[:2] + [scen("c", [3, -2], probability="0.2")],
        {"max_generations": 10}),
    "mapping that is not a dict": (
        squared_distance, [(-5, 5)] * 2,
        [Frozen(centre=[1, 1], probability=0.25), Frozen(centre=[0, 2], probability=0.75)],
        {"pop_size": 4, "max_generations": 12, "seed": 0}),
}


def run_both(func, bounds, scenarios, options):
    ours, theirs = Recorder(func), Recorder(func)
    result = vo.stochastic_solve(ours, bounds, scenarios, **options)
    ref = stochastic(theirs, bounds, scenarios, **options)
    return result, ours, theirs, ref


def assert_same_run(result, ours, theirs, ref, n_scenarios):
    x, objective, history, evaluations, converged = ref
    assert [p for p, _ in ours.calls] == [p for p, _ in theirs.calls]
    assert all(a is b for (_, a), (_, b) in zip(ours.calls, theirs.calls))
    assert hexes(result.x) == hexes(x)
    assert result.objective.hex() == objective.hex()
    assert hexes(result.history) == hexes(history)
    assert result.evaluations == evaluations == len(ours.calls) // n_scenarios
    assert (result.iterations, result.converged) == (len(history), converged)


@pytest.mark.parametrize("case", REFERENCE_CASES)
def test_stochastic_solve_reproduces_reference_bit_for_bit(case):
    func, bounds, scenarios, options = REFERENCE_CASES[case]
    result, ours, theirs, ref = run_both(func, bounds, scenarios, options)
    assert_same_run(result, ours, theirs, ref, len(scenarios))


def test_each_scenario_object_is_passed_once_per_evaluation_in_list_order():
    scenarios = [{"k": 1}, {"k": 1}, [2], "text", None]
    calls = Recorder(lambda x, s: x[0])
    result = vo.stochastic_solve(calls, [(0, 1)], scenarios, pop_size=4, max_generations=3)
    assert len(calls.calls) == 5 * result.evaluations
    for k, (point, scenario) in enumerate(calls.calls):
        assert scenario is scenarios[k % 5]
        assert point == calls.calls[k - k % 5][0]  # the same point for the whole round


def test_every_point_scores_the_mean_of_its_scenarios():
    result = vo.stochastic_solve(lambda x, s: s, [(0, 1)] * 2, [1.0, 3.0], max_generations=30)
    assert result.objective == 2.0
    assert result.history == [2.0] * 11 and result.converged is True


@pytest.mark.parametrize("p", [0.1, 1 / 3, 7.0])
def test_uniform_probabilities_give_the_plain_run_exactly(p):
    plain = [{"centre": [c, -c]} for c in (0.3, 1.7, -2.2)]
    weighted = [dict(s, probability=p) for s in plain]
    a = vo.stochastic_solve(squared_distance, [(-5, 5)] * 2, plain, max_generations=30, seed=8)
    b = vo.stochastic_solve(squared_distance, [(-5, 5)] * 2, weighted, max_generations=30, seed=8)
    assert (hexes(a.x), hexes(a.history), a.evaluations) == (hexes(b.x), hexes(b.history), b.evaluations)


def test_probabilities_weight_the_expectation():
    # The expected cost of x under demand 10 (90%) or 100 (10%) is 0.9 (x-10)^2 + 0.1 (x-100)^2,
    # minimised at 19; the plain mean would be minimised at 55.
    scenarios = [{"demand": 10, "probability": 0.9}, {"demand": 100, "probability": 0.1}]
    result = vo.stochastic_solve(lambda x, s: (x[0] - s["demand"]) ** 2, [(0, 200)], scenarios)
    assert result.x[0] == pytest.approx(19.0, abs=1e-3)
    assert result.objective == pytest.approx(0.9 * 81 + 0.1 * 81 ** 2, rel=1e-9)


@pytest.mark.parametrize(
    "probabilities, match",
    [
        ([0, 0], "sum to a positive finite number, got 0"),
        ([0.5, -0.5, 1], "be non-negative numbers, got -0.5 in scenario 1"),
        ([0.5, math.nan], "be non-negative numbers, got NaN in scenario 1"),
        ([1, math.inf], "sum to a positive finite number, got inf"),
        ([1e308, 1e308], "sum to a positive finite number, got inf"),
    ],
)
def test_bad_probabilities_raise_value_error_before_any_call(probabilities, match):
    calls = Recorder(lambda x, s: 0.0)
    scenarios = [{"probability": p} for p in probabilities]
    with pytest.raises(ValueError, match=f"^scenario probabilities must {match}"):
        vo.stochastic_solve(calls, [(0, 1)], scenarios)
    assert calls.calls == []


@pytest.mark.parametrize("scenarios", [[], ()])
def test_empty_scenarios_raise_instead_of_reporting_success(scenarios):
    calls = Recorder(lambda x, s: 0.0)
    with pytest.raises(ValueError, match="^scenarios must not be empty$"):
        vo.stochastic_solve(calls, [(0, 1)], scenarios)
    assert calls.calls == []


@pytest.mark.parametrize(
    "args, kwargs, error, match",
    [
        ((5, [(0, 1)], [1]), {}, TypeError, "^scenario_func must be callable$"),
        ((None, "bad bounds", [1]), {}, TypeError, "^scenario_func must be callable$"),
        ((..., [[0, 1]], [1]), {}, TypeError, "'bounds'"),
        ((..., [(0, 1)], "ab"), {}, TypeError, "'scenarios'"),
        ((..., [(0, 1)], 5), {}, TypeError, "'scenarios'"),
        ((..., [(0, 1)], {"a": 1}), {}, TypeError, "'scenarios'"),
        ((..., [(0, 1)], [1]), {"max_generations": -1}, OverflowError, "'max_generations'"),
        # options are read in order: max_generations, seed, pop_size
        ((..., [(0, 1)], [1]), {"pop_size": None, "seed": "1"}, TypeError, "'seed'"),
        ((..., [(0, 1)], [1]), {"pop_size": 2.0}, TypeError, "'pop_size'"),
        ((..., [(0, 1)], [1]), {"pop_size": 3}, ValueError, "at least 4, got 3"),
        ((..., [], [1]), {}, ValueError, "at least one"),
        ((..., [(0, 1)]), {}, TypeError, "'scenarios'"),
    ],
)
def test_bad_arguments_fail_before_any_call(args, kwargs, error, match):
    calls = Recorder(lambda x, s: 0.0)
    args = tuple(calls if a is ... else a for a in args)
    with pytest.raises(error, match=match):
        vo.stochastic_solve(*args, **kwargs)
    assert calls.calls == []


def test_budget_defaults_to_500_generations_and_options_apply():
    count = iter(range(10 ** 9))
    result = vo.stochastic_solve(lambda x, s: -next(count), [(0, 1)], [None], pop_size=4)
    assert (result.iterations, result.evaluations, result.converged) == (501, 4 * 501, False)
    seeded = [vo.stochastic_solve(squared_distance, [(-1, 1)] * 2, PLAIN, max_generations=5, seed=s)
              for s in (0, 1, 2)]
    assert seeded[0].x == seeded[1].x != seeded[2].x
    assert seeded[0].evaluations == 20 * 6


def test_newsvendor_order_quantity_is_the_critical_fractile():
    # Buy q at unit cost c, sell min(q, d) at price p: the expected profit is maximised by the
    # (p - c) / p quantile of the demand distribution, here the empirical one of 50 scenarios.
    c, p = 1.0, 4.0
    demands = np.random.default_rng(2011).gamma(4.0, 25.0, size=50)
    scenarios = [{"demand": float(d)} for d in demands]
    result = vo.stochastic_solve(lambda x, s: c * x[0] - p * min(x[0], s["demand"]),
                                 [(0.0, 400.0)], scenarios, max_generations=500)
    quantile = np.sort(demands)[math.ceil((p - c) / p * 50) - 1]
    assert result.x[0] == pytest.approx(quantile, abs=1e-4)
    expected = np.mean(c * quantile - p * np.minimum(quantile, demands))
    assert result.objective == pytest.approx(expected, rel=1e-9)


def test_registration_and_docs():
    names = list(vo.__dict__)
    assert names.index("solve_de") < names.index("stochastic_solve") < names.index("solve_parallel_de")
    assert vo.stochastic_solve.__text_signature__ == "(scenario_func, bounds, scenarios, **kwargs)"
    assert vo.stochastic_solve.__doc__.startswith(
        "Scenario-based stochastic optimisation.\n"
        "Solves: min E[f(x, scenario)] over scenarios.\n"
        "scenario_func: callable(x: list[float], scenario: dict) -> float\n"
        "scenarios: list of dicts, each representing a scenario with probability\nexecutor: ")
