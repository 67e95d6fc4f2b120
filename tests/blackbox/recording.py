"""What the black-box tests share: a recording objective, test functions, and the comparison
of a whole run with a reference run."""

import math


class NanFirst:
    """An objective whose first k calls in each run return NaN (a Recorder counts the run)."""

    def __init__(self, k, func):
        self.k = k
        self.func = func


class Recorder:
    """Wraps an objective and keeps every point it was called with, as exact bit patterns."""

    def __init__(self, func):
        self.nan_calls = 0
        if isinstance(func, NanFirst):
            func, self.nan_calls = func.func, func.k
        self.func = func
        self.points = []

    def __call__(self, x):
        self.points.append(tuple(v.hex() for v in x))
        if len(self.points) <= self.nan_calls:
            return math.nan
        return self.func(x)


def hexes(values):
    return [v.hex() for v in values]


def sphere(x):
    return sum(v * v for v in x)


def rosenbrock(x):
    return sum(100.0 * (b - a * a) ** 2 + (1.0 - a) ** 2 for a, b in zip(x, x[1:]))


def fails_right_half(x):
    if x[0] > 0:
        raise ValueError("outside the domain")
    return abs(x[0]) + abs(x[1])


def nan_below(x):
    return math.nan if x[1] < -1 else x[0] ** 2 + x[1]


def assert_matches_reference(result, ours, ref_points, ref):
    x, objective, history, evaluations, converged = ref
    assert ours.points == ref_points
    assert hexes(result.x) == hexes(x)
    assert result.objective.hex() == objective.hex()
    assert hexes(result.history) == hexes(history)
    assert result.evaluations == evaluations
    assert result.iterations == len(history)
    assert result.converged is converged
