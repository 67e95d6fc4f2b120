"""Pure-Python scenario-based stochastic solve, written from the algorithm's description: the
expected value over the scenarios (plain or probability-weighted mean) run through the
pure-Python differential evolution. The extension must reproduce it bit for bit."""

import math
from collections.abc import Mapping

from de_reference import de

_INF = math.inf


def as_number(v):
    """The module's number rule: what Python's float conversion takes, but no text."""
    if isinstance(v, (str, bytes, bytearray)):
        raise TypeError(type(v).__name__)
    if hasattr(type(v), "__float__") or hasattr(type(v), "__index__"):
        return float(v)
    raise TypeError(type(v).__name__)


def term(func, x, scenario):
    try:
        return as_number(func(list(x), scenario))
    except (KeyboardInterrupt, SystemExit):  # the user stopping the run is not a bad point
        raise
    except BaseException:  # every other failure scores +inf, like any objective call
        return _INF


def weights(scenarios):
    """None for the plain mean; [] when the probabilities are all equal (also the plain mean)."""
    probabilities = []
    for s in scenarios:
        if not isinstance(s, Mapping):
            return None
        try:
            probabilities.append(as_number(s["probability"]))
        except (KeyError, TypeError):
            return None
    total = 0.0
    for k, p in enumerate(probabilities):
        if p < 0 or math.isnan(p):
            raise ValueError(f"negative or NaN probability in scenario {k}")
        total += p
    if not 0 < total < _INF:
        raise ValueError("probabilities must sum to a positive finite number")
    if all(p == probabilities[0] for p in probabilities):
        return []
    return [p / total for p in probabilities]


def scenario_mean(func, scenarios, w, x):
    total = 0.0
    if not w:
        for s in scenarios:
            total += term(func, x, s)
        return total / float(len(scenarios))
    failed = False
    for s, ws in zip(scenarios, w):
        t = term(func, x, s)
        if ws != 0.0:
            total += ws * t
        elif t == _INF:
            failed = True
    return total + _INF if failed else total


def stochastic(func, bounds, scenarios, max_generations=500, seed=42, pop_size=0):
    """Returns (x, objective, history, evaluations, converged), as de() does."""
    if not scenarios:
        raise ValueError("scenarios must not be empty")
    w = weights(scenarios)
    pop = pop_size or 10 * len(bounds)
    if not bounds or pop < 4:  # undefined for the engine: refused before any call
        raise ValueError("empty box or fewer than four individuals")
    return de(lambda x: scenario_mean(func, scenarios, w, x), bounds, pop,
              max_generations=max_generations, f=0.8, cr=0.9, tol=1e-8, seed=seed)
