"""What the multi-objective tests share: a recording wrapper, exact comparison of results, and
test problems with known fronts."""

import math


class Recorder:
    """Wraps an objective and keeps every point it was called with, as exact bit patterns."""

    def __init__(self, func):
        self.func = func
        self.points = []

    def __call__(self, x):
        self.points.append(tuple(v.hex() for v in x))
        return self.func(x)


def exact(value):
    """Floats as bit patterns, recursively, so comparisons see every bit (and NaN == NaN)."""
    if isinstance(value, float):
        return value.hex()
    if isinstance(value, dict):
        return {k: exact(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [exact(v) for v in value]
    return value


def first(x):
    return x[0]


def _g(x):
    return 1.0 + 9.0 * sum(x[1:]) / (len(x) - 1)


def zdt1(x):
    """Second objective of ZDT1 (first: x[0]); true front f2 = 1 - sqrt(f1)."""
    return _g(x) * (1.0 - math.sqrt(x[0] / _g(x)))


def zdt2(x):
    """Second objective of ZDT2 (first: x[0]); true front f2 = 1 - f1^2."""
    return _g(x) * (1.0 - (x[0] / _g(x)) ** 2)


def dtlz2(m):
    """The m objectives of DTLZ2; the true front is the unit sphere's positive part."""
    def objective(i):
        def f(x):
            value = 1.0 + sum((v - 0.5) ** 2 for v in x[m - 1:])
            for v in x[:m - 1 - i]:
                value *= math.cos(v * math.pi / 2)
            if i > 0:
                value *= math.sin(x[m - 1 - i] * math.pi / 2)
            return value
        return f
    return [objective(i) for i in range(m)]
