"""Pure-Python shared machinery and differential evolution, written from the algorithm's
description, draw for draw.

The extension must reproduce it bit for bit: same generator, same order of draws, same
floating-point expressions in the same order.
"""

import math
import operator

_MASK = (1 << 64) - 1
_INF = math.inf


class XorShift:
    def __init__(self, seed):
        self.state = seed if seed != 0 else 1

    def next_u64(self):
        s = self.state
        s ^= (s << 13) & _MASK
        s ^= s >> 7
        s ^= (s << 17) & _MASK
        self.state = s
        return s

    def uniform(self):
        return (self.next_u64() >> 11) * 2.0**-53

    def index_below(self, k):
        return self.next_u64() % k


def as_float(value):
    """The C API's float conversion: __float__, else __index__; a str is not a number."""
    kind = type(value)
    if hasattr(kind, "__float__"):
        return float(value)
    if hasattr(kind, "__index__"):
        return float(operator.index(value))
    raise TypeError("must be real number")


def evaluate(func, point):
    try:
        return as_float(func(list(point)))
    except (KeyboardInterrupt, SystemExit):  # the user stopping the run is not a bad point
        raise
    except BaseException:  # every other failure scores +inf, whatever it is
        return _INF


def random_point(rng, lower, upper):
    return [(hi - lo) * rng.uniform() + lo for lo, hi in zip(lower, upper)]


def _max(a, b):
    if math.isnan(a):
        return b
    return b if a < b else a


def _min(a, b):
    if math.isnan(a):
        return b
    return b if a > b else a


def clamp(point, lower, upper):
    return [_min(_max(v, lo), hi) for v, lo, hi in zip(point, lower, upper)]


def stalled(history, tol):
    if len(history) <= 10:
        return False
    finite = [v for v in history[-10:] if not math.isnan(v)]
    lo = min(finite, default=_INF)
    hi = max(finite, default=-_INF)
    return hi - lo < tol


def value_less(a, b):
    """The engines' order: NaN is worse than every number, +inf included."""
    return a < b or (math.isnan(b) and not math.isnan(a))


def improves(best, candidate):
    return value_less(candidate, best)


def no_worse(incumbent, candidate):
    return candidate <= incumbent or (math.isnan(incumbent) and not math.isnan(candidate))


def best_index(values):
    best = 0
    for k in range(1, len(values)):
        if improves(values[best], values[k]):
            best = k
    return best


def de(func, bounds, pop_size, max_generations=1000, f=0.8, cr=0.9, tol=1e-8, seed=42):
    """Returns (x, objective, history, evaluations, converged)."""
    lower = [float(lo) for lo, _ in bounds]
    upper = [float(hi) for _, hi in bounds]
    n = len(bounds)
    rng = XorShift(seed)
    pop = [random_point(rng, lower, upper) for _ in range(pop_size)]
    values = [evaluate(func, p) for p in pop]
    evaluations = pop_size
    b = best_index(values)
    best_x, best_v = list(pop[b]), values[b]
    history = [best_v]
    converged = False
    for _ in range(max_generations):
        for i in range(pop_size):
            r1 = rng.index_below(pop_size)
            while r1 == i:
                r1 = rng.index_below(pop_size)
            r2 = rng.index_below(pop_size)
            while r2 in (i, r1):
                r2 = rng.index_below(pop_size)
            r3 = rng.index_below(pop_size)
            while r3 in (r2, i, r1):
                r3 = rng.index_below(pop_size)
            jrand = rng.index_below(n)
            trial = []
            for j in range(n):
                u = rng.uniform()
                if j == jrand or u < cr:
                    trial.append(pop[r1][j] + f * (pop[r2][j] - pop[r3][j]))
                else:
                    trial.append(pop[i][j])
            trial = clamp(trial, lower, upper)
            value = evaluate(func, trial)
            evaluations += 1
            if no_worse(values[i], value):
                pop[i], values[i] = trial, value
                if improves(best_v, value):
                    best_x, best_v = list(trial), value
        history.append(best_v)
        if stalled(history, tol):
            converged = True
            break
    return best_x, best_v, history, evaluations, converged
