"""KeyboardInterrupt and SystemExit raised while the module converts a Python value reach the
caller unchanged, wherever other conversion failures are forgiven or reworded (an operand that
is not a number, a warm start that is not a sequence of numbers, a scenario without a numeric
"probability")."""

import pytest

import velmo as vo


class Stops:
    """A number-like object whose conversion asks the program to stop."""

    def __init__(self, exc):
        self.exc = exc

    def __float__(self):
        raise self.exc()

    def __index__(self):
        raise self.exc()


@pytest.fixture
def model():
    m = vo.Model()
    x = m.variable("x", 0, 1)
    m.minimize(x)
    return m, x


CALLS = {
    "x + obj": lambda m, x, s: x + s,
    "(x + 1) * obj": lambda m, x, s: (x + 1) * s,
    "x <= obj": lambda m, x, s: x <= s,
    "x * x >= obj": lambda m, x, s: x * x >= s,
    "sin(x) - obj": lambda m, x, s: vo.sin(x) - s,
    "x ** obj": lambda m, x, s: x ** s,
    "sum([x, obj])": lambda m, x, s: vo.sum([x, s]),
    "minimize(obj)": lambda m, x, s: m.minimize(s),
    "HiGHS warm start": lambda m, x, s: m.solve(warm_start=[s]),
    "Ipopt warm start": lambda m, x, s: m.solve(solver="ipopt", warm_start=[s]),
    "scenario probability": lambda m, x, s: vo.stochastic_solve(
        lambda p, sc: 0.0, [(0, 1)], [{"probability": s}], max_generations=1),
}


@pytest.mark.parametrize("exc", [KeyboardInterrupt, SystemExit])
@pytest.mark.parametrize("call", CALLS, ids=list(CALLS))
def test_a_stop_request_from_a_conversion_propagates(model, call, exc):
    m, x = model
    with pytest.raises(exc):
        CALLS[call](m, x, Stops(exc))


def test_other_conversion_failures_stay_forgiven(model):
    m, x = model
    assert m.solve(solver="ipopt", warm_start="abc").status == "optimal"
    r = vo.stochastic_solve(lambda p, sc: p[0], [(0, 1)], [{"probability": "high"}, {}], max_generations=2)
    assert r.evaluations > 0
