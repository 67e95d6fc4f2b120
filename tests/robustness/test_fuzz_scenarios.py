"""Random runs of stochastic_solve and solve_admm, each checked against the pure-Python
references bit for bit: every call's arguments, the result, or the same error.

CI runs a bounded number of runs; VELMO_FUZZ_EXAMPLES=100000 selects the long run.
"""

import math
import os
import sys

import numpy as np
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "blackbox"))

import velmo_opt as vo  # noqa: E402
from admm_reference import admm  # noqa: E402
from stochastic_reference import stochastic  # noqa: E402

EXAMPLES = int(os.environ.get("VELMO_FUZZ_EXAMPLES", "100"))
FUZZ = settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=[HealthCheck.too_slow])

numbers = st.sampled_from([0.0, -0.0, 1.0, -2.5, 0.1, 1e-300, 1e300, -1e300, math.inf, -math.inf,
                           math.nan, 3, True, np.float64(0.5), np.int64(2)])
reals = st.floats(allow_nan=True, allow_infinity=True, width=64) | numbers
probabilities = st.sampled_from([0, 0.0, 0.25, 0.5, 1, 3.0, 1e-300, 1e300, math.nan, math.inf,
                                 -1.0, "0.5", None, np.float64(0.25)])
scenario = (st.fixed_dictionaries({"c": reals}, optional={"probability": probabilities})
            | reals | st.none() | st.tuples(reals))
bound = st.tuples(st.floats(-10, 10) | numbers, st.floats(-10, 10) | numbers)


def answer(kind, x, value):
    """A scenario or subproblem answer of the drawn kind."""
    return {"value": value, "raise": None, "text": "1.5", "nan": math.nan, "int": 7,
            "none": None}[kind] if kind != "raise" else (_ for _ in ()).throw(ValueError(x))


class Log:
    """Scenario function that records each call and answers by a fixed rule of its arguments."""

    def __init__(self, kinds):
        self.kinds = kinds
        self.calls = []

    def __call__(self, x, s):
        self.calls.append((tuple(v.hex() for v in x), id(s)))
        kind = self.kinds[len(self.calls) % len(self.kinds)]
        c = s.get("c", 0.0) if isinstance(s, dict) else 1.0
        try:
            value = sum((v - float(c)) ** 2 for v in x)
        except (TypeError, ValueError, OverflowError):
            value = 0.0
        return answer(kind, x, value)


kinds = st.lists(st.sampled_from(["value"] * 6 + ["raise", "text", "nan", "int", "none"]),
                 min_size=1, max_size=6)


class Refused:
    def __init__(self, error):
        self.error = error


def outcome(run):
    try:
        return run()
    except ValueError as e:
        return Refused(e)


@FUZZ
@given(bounds=st.lists(bound, min_size=0, max_size=3), scenarios=st.lists(scenario, max_size=4),
       kinds=kinds, pop=st.sampled_from([0, 3, 4, 5, 8]), gens=st.integers(0, 6),
       seed=st.integers(0, 2 ** 64 - 1))
def test_random_stochastic_runs_match_the_reference(bounds, scenarios, kinds, pop, gens, seed):
    ours, theirs = Log(kinds), Log(kinds)
    options = dict(pop_size=pop, max_generations=gens, seed=seed)
    got = outcome(lambda: vo.stochastic_solve(ours, bounds, scenarios, **options))
    want = outcome(lambda: stochastic(theirs, bounds, scenarios, **options))
    if isinstance(got, Refused):
        assert isinstance(want, Refused), got.error
        assert ours.calls == []
        return
    assert not isinstance(want, Refused), want.error
    x, objective, history, evaluations, converged = want
    assert ours.calls == theirs.calls
    assert ([v.hex() for v in got.x], got.objective.hex(), [v.hex() for v in got.history]) == (
        [v.hex() for v in x], objective.hex(), [v.hex() for v in history])
    assert (got.evaluations, got.converged) == (evaluations, converged)


class Sub:
    """A subproblem answering by a drawn rule: a proximal step of a quadratic, a failure, a
    short or long answer, NaN, a tuple or a text."""

    def __init__(self, kind, a, c, log):
        self.kind, self.a, self.c, self.log = kind, a, c, log

    def __call__(self, rho, t):
        self.log.append((id(self), rho.hex(), tuple(v.hex() for v in t)))
        prox = [(self.a * self.c + rho * v) / (self.a + rho) for v in t]
        if self.kind == "raise":
            raise ArithmeticError
        return {"prox": prox, "short": prox[:-1], "long": prox + [1.0, 2.0], "nan": [math.nan] * len(t),
                "tuple": tuple(prox), "text": "ab", "array": np.array(prox)}[self.kind]


@FUZZ
@given(subs=st.lists(st.tuples(st.sampled_from(["prox"] * 4 + ["raise", "short", "long", "nan",
                                                                "tuple", "text", "array"]),
                               st.floats(0.1, 10), st.floats(-5, 5)), max_size=4),
       dim=st.integers(0, 4), rho=reals, max_iter=st.integers(0, 15), tol=reals)
def test_random_admm_runs_match_the_reference(subs, dim, rho, max_iter, tol):
    ours_log, theirs_log = [], []
    ours = [Sub(k, a, c, ours_log) for k, a, c in subs]
    theirs = [Sub(k, a, c, theirs_log) for k, a, c in subs]
    got = vo.solve_admm(ours, dim, rho, max_iter, tol)
    want = admm(theirs, dim, rho, max_iter, tol)

    def hexed(d):
        return {k: [x.hex() for x in v] if isinstance(v, list) else
                v.hex() if type(v) is float else v for k, v in d.items()}

    assert list(got) == list(want)
    assert hexed(got) == hexed(want)
    position = {id(s): k for k, s in enumerate(ours)}
    position.update({id(s): k for k, s in enumerate(theirs)})
    assert [(position[i], r, t) for i, r, t in ours_log] == [(position[i], r, t) for i, r, t in theirs_log]
