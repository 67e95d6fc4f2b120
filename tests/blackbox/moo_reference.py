"""Pure-Python NSGA-II / NSGA-III and the Pareto-frontier modes, written from the algorithm's
description, draw for draw and in its plain quadratic form (ordered pairs, dominated lists).

The extension must reproduce it bit for bit. Wherever a value is compared to choose a front,
a survivor or an order, NaN counts as worse than every number (+inf included) and equal to
another NaN; sorts are stable.
"""

import math

from de_reference import XorShift, de, random_point

_INF = math.inf


def to_float(value):
    """The C-level float conversion, which unlike float() does not parse text."""
    if isinstance(value, (str, bytes, bytearray)):
        raise TypeError("must be real number, not " + type(value).__name__)
    return float(value)


def evaluate(func, point):
    """One objective call: any failure but the user stopping the run scores +inf."""
    try:
        return to_float(func(list(point)))
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException:
        return _INF


def isnan(v):
    return v != v


def less(a, b):
    """a comes before b: a smaller number, or a number against NaN."""
    return a < b or (isnan(b) and not isnan(a))


def nan_last(v):
    return (isnan(v), 0.0 if isnan(v) else v)


def nan_last_descending(v):
    return (isnan(v), 0.0 if isnan(v) else -v)


def max_(a, b):
    """max that returns the other operand when one is NaN, like the box clamp."""
    if isnan(a):
        return b
    if isnan(b):
        return a
    return b if a < b else a


def min_(a, b):
    if isnan(a):
        return b
    if isnan(b):
        return a
    return b if a > b else a


def limit(v, lb, ub):
    return min_(max_(v, lb), ub)


def cpow(b, e):
    """C's pow: Python's ** gives the same bits but raises or turns complex at the edges,
    which a point outside an inverted box can reach."""
    try:
        r = b ** e
    except ZeroDivisionError:  # 0 ** negative (even exponents only here)
        return _INF
    except OverflowError:
        return -_INF if b < 0 and e % 2 == 1 else _INF
    return math.nan if isinstance(r, complex) else r


def cdiv(a, b):
    if b == 0:
        return math.nan if a == 0 or isnan(a) else math.copysign(_INF, a) * math.copysign(1.0, b)
    return a / b


class Individual:
    def __init__(self, x, objectives):
        self.x = x
        self.objectives = objectives
        self.rank = 0
        self.crowding = 0.0


def dominates(a, b):
    worse = any(less(q, p) for p, q in zip(a.objectives, b.objectives))
    better = any(less(p, q) for p, q in zip(a.objectives, b.objectives))
    return better and not worse


def non_dominated_sort(pop):
    n = len(pop)
    dominated = [[] for _ in range(n)]
    count = [0] * n
    for i in range(n):
        for l in range(n):
            if i == l:
                continue
            if dominates(pop[i], pop[l]):
                dominated[i].append(l)
            if dominates(pop[l], pop[i]):
                count[i] += 1
    fronts = [[i for i in range(n) if count[i] == 0]]
    for i in fronts[0]:
        pop[i].rank = 0
    while True:
        following = []
        for i in fronts[-1]:
            for l in dominated[i]:
                count[l] -= 1
                if count[l] == 0:
                    pop[l].rank = len(fronts)
                    following.append(l)
        if not following:
            break
        fronts.append(following)
    return fronts if fronts[0] else []


def crowding_distance(pop, front):
    for i in front:
        pop[i].crowding = 0.0
    if len(front) <= 2:
        for i in front:
            pop[i].crowding = _INF
        return
    for m in range(len(pop[0].objectives)):
        order = sorted(front, key=lambda i: nan_last(pop[i].objectives[m]))
        value = [pop[i].objectives[m] for i in order]
        pop[order[0]].crowding = _INF
        pop[order[-1]].crowding = _INF
        span = max_(value[-1] - value[0], 1e-30)
        for k in range(1, len(order) - 1):
            pop[order[k]].crowding += (value[k + 1] - value[k - 1]) / span


def tournament(pop, rng):
    a = rng.index_below(len(pop))
    b = rng.index_below(len(pop))
    pa, pb = pop[a], pop[b]
    if pa.rank < pb.rank or (pa.rank == pb.rank and less(-pa.crowding, -pb.crowding)):
        return a
    return b


def sbx(p1, p2, lower, upper, rng):
    c1, c2 = list(p1), list(p2)
    for j in range(len(p1)):
        if rng.uniform() > 0.5:
            continue
        x1, x2 = p1[j], p2[j]
        if abs(x1 - x2) < 1e-14:
            continue
        y1, y2 = min_(x1, x2), max_(x1, x2)
        lb, ub = lower[j], upper[j]
        r = rng.uniform()
        d = max_(y2 - y1, 1e-30)
        beta1 = 1.0 + 2.0 * (y1 - lb) / d
        alpha1 = 2.0 - cpow(beta1, -16.0)
        beta2 = 1.0 + 2.0 * (ub - y2) / d
        alpha2 = 2.0 - cpow(beta2, -16.0)
        betaq = []
        for alpha in (alpha1, alpha2):
            if r <= cdiv(1.0, alpha):
                betaq.append(cpow(r * alpha, 1.0 / 16.0))
            else:
                betaq.append(cpow(cdiv(1.0, 2.0 - r * alpha), 1.0 / 16.0))
        va = limit(0.5 * ((x1 + x2) - betaq[0] * (y2 - y1)), lb, ub)
        vb = limit(0.5 * ((x1 + x2) + betaq[1] * (y2 - y1)), lb, ub)
        if rng.uniform() < 0.5:
            c1[j], c2[j] = vb, va
        else:
            c1[j], c2[j] = va, vb
    return c1, c2


def mutate(child, lower, upper, rng):
    pm = 1.0 / len(child) if child else _INF
    for j in range(len(child)):
        if not rng.uniform() <= pm:
            continue
        lb, ub = lower[j], upper[j]
        d = max_(ub - lb, 1e-30)
        r = rng.uniform()
        y = child[j]
        if r < 0.5:
            xy = 1.0 - (y - lb) / d
            val = 2.0 * r + (1.0 - 2.0 * r) * cpow(xy, 21.0)
            dq = cpow(val, 1.0 / 21.0) - 1.0
        else:
            xy = 1.0 - (ub - y) / d
            val = 2.0 * (1.0 - r) + 2.0 * (r - 0.5) * cpow(xy, 21.0)
            dq = 1.0 - cpow(val, 1.0 / 21.0)
        child[j] = limit(y + dq * d, lb, ub)


def das_dennis(m, h):
    h = h or 1
    points = []

    def walk(prefix, left):
        if len(prefix) == m - 1:
            points.append([a / h for a in prefix] + [left / h])
            return
        for a in range(left + 1):
            walk(prefix + [a], left - a)

    walk([], h)
    return points


def niching(pop, selected, front, target, refs):
    s_all = selected + front
    m = len(pop[0].objectives)
    ideal, scale = [], []
    for j in range(m):
        values = [pop[i].objectives[j] for i in s_all if not isnan(pop[i].objectives[j])]
        lo, hi = min(values, default=_INF), max(values, default=-_INF)
        ideal.append(lo)
        scale.append(max_(hi - lo, 1e-30))
    assoc, dist = [], []
    for i in s_all:
        f = [(pop[i].objectives[j] - ideal[j]) / scale[j] for j in range(m)]
        best, best_d = 0, 0.0
        for r, w in enumerate(refs):
            dot = 0.0
            for j in range(m):
                dot += f[j] * w[j]
            norm2 = 0.0
            for j in range(m):
                norm2 += w[j] * w[j]
            t = dot / max_(norm2, 1e-30)
            d2 = 0.0
            for j in range(m):
                e = f[j] - t * w[j]
                d2 += e * e
            d = math.sqrt(d2)
            if r == 0 or less(d, best_d):
                best, best_d = r, d
        assoc.append(best)
        dist.append(best_d)
    niche = [0] * len(refs)
    for s in range(len(selected)):
        niche[assoc[s]] += 1
    chosen = list(selected)
    candidates = list(range(len(selected), len(s_all)))
    while len(chosen) < target and candidates:
        live = [r for r in range(len(refs)) if any(assoc[s] == r for s in candidates)]
        if not live:
            break
        point = min(live, key=lambda r: niche[r])  # first of the smallest
        pos = None
        for p, s in enumerate(candidates):
            if assoc[s] == point and (pos is None or less(dist[s], dist[candidates[pos]])):
                pos = p
        chosen.append(s_all[candidates[pos]])
        candidates[pos] = candidates[-1]
        candidates.pop()
        niche[point] += 1
    for s in candidates:
        if len(chosen) >= target:
            break
        chosen.append(s_all[s])
    return chosen


def sort_and_crowd(pop):
    fronts = non_dominated_sort(pop)
    for front in fronts:
        crowding_distance(pop, front)
    return fronts


def nsga(objectives, bounds, pop_size, generations, divisions, variant, seed):
    """Returns the final first front as (x, objectives, rank, crowding) tuples."""
    lower = [float(lo) for lo, _ in bounds]
    upper = [float(hi) for _, hi in bounds]
    rng = XorShift(seed)

    def individual(x):
        return Individual(x, [evaluate(f, x) for f in objectives])

    pop = [individual(random_point(rng, lower, upper)) for _ in range(pop_size)]
    refs = das_dennis(len(objectives), divisions) if variant == "nsga3" else None
    fronts = sort_and_crowd(pop)
    for _ in range(generations):
        offspring = []
        while len(offspring) < pop_size:
            p1 = tournament(pop, rng)
            p2 = tournament(pop, rng)
            c1, c2 = sbx(pop[p1].x, pop[p2].x, lower, upper, rng)
            mutate(c1, lower, upper, rng)
            mutate(c2, lower, upper, rng)
            offspring.append(individual(c1))
            if len(offspring) < pop_size:
                offspring.append(individual(c2))
        union = pop + offspring
        selected = []
        for front in non_dominated_sort(union):
            if len(selected) + len(front) <= pop_size:
                selected += front
                if len(selected) == pop_size:
                    break
                continue
            if variant == "nsga2":
                crowding_distance(union, front)
                ordered = sorted(front, key=lambda i: nan_last_descending(union[i].crowding))
                selected += ordered[:pop_size - len(selected)]
            else:
                selected = niching(union, selected, front, pop_size, refs)
            break
        pop = [Individual(union[i].x, union[i].objectives) for i in selected]
        fronts = sort_and_crowd(pop)
    if not fronts:
        return []
    return [(pop[i].x, pop[i].objectives, pop[i].rank, pop[i].crowding) for i in fronts[0]]


def pareto_frontier(objectives, bounds, n_points=20, **options):
    """The module function's result, as a list of dicts."""
    m = len(objectives)
    seed = options.get("seed", 42)
    method = options.get("method")
    method = method.lower() if isinstance(method, str) else None
    if method not in ("nsga2", "nsga3"):
        method = "sweep" if m == 2 else ("nsga2" if m == 3 else "nsga3")
    if method == "sweep":
        return sweep(objectives, bounds, n_points, seed)
    pop_size = options.get("pop_size")
    pop_size = max(pop_size, 4) if pop_size is not None else 5 * max(2, n_points)
    front = nsga(objectives, bounds, pop_size, options.get("generations", 250),
                 options.get("das_dennis_divisions", 12), method, seed)
    return [{"x": x, "objectives": f, "rank": rank, "crowding": c if math.isfinite(c) else _INF}
            for x, f, rank, c in front]


def sweep(objectives, bounds, n_points, seed):
    f1, f2 = objectives
    out = []
    for k in range(n_points):
        w = 0.0 if n_points == 1 else k / (n_points - 1)

        def weighted(x, w=w):
            return w * evaluate(f1, x) + (1.0 - w) * evaluate(f2, x)

        x, *_ = de(weighted, bounds, 10 * len(bounds), max_generations=200, seed=(seed + 100 + k) % 2**64)
        out.append({"x": x, "weights": [w, 1.0 - w], "objectives": [to_float(f1(list(x))), to_float(f2(list(x)))]})
    return out
