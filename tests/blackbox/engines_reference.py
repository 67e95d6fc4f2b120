"""Pure-Python particle swarm, simulated annealing, evolution strategies (simple and full
covariance adaptation with restarts) and the portfolio, written from the algorithms'
descriptions draw for draw, on the shared machinery of de_reference.

Every run returns (x, objective, history, evaluations, converged). The extension must
reproduce them bit for bit: same draws in the same order, same floating-point expressions in
the same order. Python raises where IEEE arithmetic gives inf or NaN (division by zero, exp
overflow), so those few operations go through the helpers below.
"""

import math

from de_reference import (XorShift, best_index, clamp, de, evaluate, improves, random_point,
                          stalled, value_less)

_INF = math.inf


def ieee_div(a, b):
    if b != 0 or math.isnan(b):
        return a / b
    if a == 0 or math.isnan(a):
        return math.nan
    return math.copysign(_INF, a) * math.copysign(1.0, b)


def ieee_exp(v):
    try:
        return math.exp(v)
    except OverflowError:
        return _INF


def normal(rng):
    u1 = rng.uniform()
    u2 = rng.uniform()
    if u1 < 1e-15:
        u1 = 1e-15
    return math.sqrt(-2.0 * math.log(u1)) * math.cos(2.0 * math.pi * u2)


def sorted_order(values):
    """Stable ascending order with NaN last (all NaNs equal)."""
    return sorted(range(len(values)), key=lambda k: (math.isnan(values[k]), 0.0 if math.isnan(values[k]) else values[k]))


def window_range(history, window):
    vals = [v for v in history[-window:] if not math.isnan(v)]
    return max(vals, default=-_INF) - min(vals, default=_INF)


def bounds_of(bounds):
    return [float(lo) for lo, _ in bounds], [float(hi) for _, hi in bounds]


def to_count(v):
    """Integer part as an unsigned 64-bit count: NaN and values below 1 give 0, saturating."""
    if not v >= 1.0:
        return 0
    return (1 << 64) - 1 if v >= 2.0**64 else int(v)


def default_offspring(n):
    return 4 + (to_count(3.0 * math.log(n)) if n > 0 else 0)


# ---- particle swarm

W, C1, C2 = 0.7298, 1.49618, 1.49618


def pso(func, bounds, swarm, max_iterations=1000, tol=1e-8, seed=42):
    lower, upper = bounds_of(bounds)
    n = len(lower)
    rng = XorShift(seed)
    pos = [random_point(rng, lower, upper) for _ in range(swarm)]
    vel = [[(rng.uniform() - 0.5) * (upper[j] - lower[j]) * 0.1 for j in range(n)] for _ in range(swarm)]
    pvals = [evaluate(func, p) for p in pos]
    pbest = [list(p) for p in pos]
    evaluations = swarm
    b = best_index(pvals)
    gbest, gval = list(pos[b]), pvals[b]
    history = [gval]
    converged = False
    for _ in range(max_iterations):
        for i in range(swarm):
            x, v = pos[i], vel[i]
            for j in range(n):
                r1 = rng.uniform()
                r2 = rng.uniform()
                v[j] = W * v[j] + C1 * r1 * (pbest[i][j] - x[j]) + C2 * r2 * (gbest[j] - x[j])
                x[j] = x[j] + v[j]
            pos[i] = x = clamp(x, lower, upper)
            value = evaluate(func, x)
            evaluations += 1
            if improves(pvals[i], value):
                pbest[i], pvals[i] = list(x), value
                if improves(gval, value):
                    gbest, gval = list(x), value
        history.append(gval)
        if stalled(history, tol):
            converged = True
            break
    return gbest, gval, history, evaluations, converged


# ---- simulated annealing

def sa(func, bounds, max_iterations=10000, seed=42, temp_init=100.0, cooling_rate=0.999):
    lower, upper = bounds_of(bounds)
    n = len(lower)
    rng = XorShift(seed)
    current = random_point(rng, lower, upper)
    fcur = evaluate(func, current)
    evaluations = 1
    best, fbest = list(current), fcur
    history = [fbest]
    t = float(temp_init)
    for _ in range(max_iterations):
        cand = list(current)
        for j in range(n):
            cand[j] = cand[j] + (upper[j] - lower[j]) * 0.1 * normal(rng)
        cand = clamp(cand, lower, upper)
        fc = evaluate(func, cand)
        evaluations += 1
        if math.isnan(fcur) and not math.isnan(fc):
            accept = True
        else:
            delta = fc - fcur
            accept = delta < 0 or rng.uniform() < ieee_exp(ieee_div(-delta, t))
        if accept:
            current, fcur = cand, fc
            if improves(fbest, fc):
                best, fbest = list(cand), fc
        t = t * cooling_rate
        history.append(fbest)
        if t < 1e-8:
            break
    return best, fbest, history, evaluations, t < 1e-8


# ---- evolution strategies

def simple_es(func, bounds, lam, max_generations=1000, sigma=0.3, tol=1e-8, seed=42):
    lower, upper = bounds_of(bounds)
    n = len(lower)
    rng = XorShift(seed)
    mu = lam // 2
    mean = [(lo + hi) * 0.5 for lo, hi in zip(lower, upper)]
    fbest = evaluate(func, mean)
    best = list(mean)
    evaluations = 1
    history = [fbest]
    converged = False
    for _ in range(max_generations):
        cands, vals = [], []
        for _ in range(lam):
            c = [mean[j] + sigma * (upper[j] - lower[j]) * normal(rng) for j in range(n)]
            c = clamp(c, lower, upper)
            cands.append(c)
            vals.append(evaluate(func, c))
            evaluations += 1
        order = sorted_order(vals)
        if improves(fbest, vals[order[0]]):
            best, fbest = list(cands[order[0]]), vals[order[0]]
        mean = []
        for j in range(n):
            total = 0.0
            for k in order[:mu]:
                total += cands[k][j] / float(mu)
            mean.append(total)
        successes = sum(1 for k in order[:mu] if vals[k] < fbest + 1e-12)
        rate = successes / float(mu)
        sigma = sigma * 1.05 if rate > 0.2 else sigma * 0.95
        if sigma < 1e-12:
            sigma = 1e-12
        if sigma > 1.0:
            sigma = 1.0
        history.append(fbest)
        if sigma < tol:
            converged = True
            break
    return best, fbest, history, evaluations, converged


def jacobi(a):
    """Cyclic Jacobi on a symmetric matrix (list of rows, changed in place).
    Returns (eigenvalues in diagonal order, eigenvector matrix with the vectors as columns)."""
    n = len(a)
    v = [[1.0 if i == j else 0.0 for j in range(n)] for i in range(n)]
    for _ in range(100):
        off = 0.0
        for p in range(n):
            for q in range(p + 1, n):
                off += a[p][q] * a[p][q]
        if math.sqrt(off) < 1e-14:
            break
        for p in range(n):
            for q in range(p + 1, n):
                apq = a[p][q]
                if abs(apq) < 1e-300:
                    continue
                app, aqq = a[p][p], a[q][q]
                theta = (aqq - app) / (2.0 * apq)
                sign = -1.0 if theta < 0 else 1.0
                t = sign / (abs(theta) + math.sqrt(theta * theta + 1.0))
                c = 1.0 / math.sqrt(t * t + 1.0)
                s = t * c
                a[p][p] = app - t * apq
                a[q][q] = aqq + t * apq
                a[p][q] = a[q][p] = 0.0
                for r in range(n):
                    if r in (p, q):
                        continue
                    arp, arq = a[r][p], a[r][q]
                    a[r][p] = a[p][r] = c * arp - s * arq
                    a[r][q] = a[q][r] = s * arp + c * arq
                for r in range(n):
                    vrp, vrq = v[r][p], v[r][q]
                    v[r][p] = c * vrp - s * vrq
                    v[r][q] = s * vrp + c * vrq
    return [a[i][i] for i in range(n)], v


def cmaes_run(func, lower, upper, sigma0, lambda_option, max_generations, tol, seed, evaluations_before):
    n = len(lower)
    lam = max(4, lambda_option if lambda_option != 0 else default_offspring(n))
    mu = lam // 2
    w = [math.log(mu + 0.5) - math.log(i + 1) for i in range(mu)]
    wsum = 0.0
    for wi in w:
        wsum += wi
    w = [wi / wsum for wi in w]
    wsq = 0.0
    for wi in w:
        wsq += wi * wi
    mu_eff = 1.0 / wsq
    c1 = 2.0 / ((n + 1.3) * (n + 1.3) + mu_eff)
    rank = 2.0 * (mu_eff - 2.0 + 1.0 / mu_eff) / ((n + 2.0) * (n + 2.0) + mu_eff)
    c_mu = 1.0 - c1 if math.isnan(rank) else min(1.0 - c1, rank)
    # n = 0 (an empty box) makes some of these inf or NaN; the run still proceeds.
    cc = ieee_div(4.0 + ieee_div(mu_eff, n), n + 4.0 + ieee_div(2.0 * mu_eff, n))
    cs = (mu_eff + 2.0) / (n + mu_eff + 5.0)
    damps = 1.0 + 2.0 * max(0.0, math.sqrt((mu_eff - 1.0) / (n + 1.0)) - 1.0) + cs
    chi_n = math.sqrt(n) * (1.0 - ieee_div(1.0, 4.0 * n) + ieee_div(1.0, 21.0 * n * n))
    interval = max(1, to_count(ieee_div(1.0 / (c1 + c_mu), n) / 10.0))
    threshold = 1.4 + 2.0 / (n + 1.0)
    ps_scale = math.sqrt(cs * (2.0 - cs) * mu_eff)
    pc_scale = math.sqrt(cc * (2.0 - cc) * mu_eff)

    rng = XorShift(seed)
    mean = [(lo + hi) * 0.5 for lo, hi in zip(lower, upper)]
    fbest = evaluate(func, mean)
    best = list(mean)
    e = evaluations_before + 1
    history = [fbest]
    sigma = sigma0
    ps = [0.0] * n
    pc = [0.0] * n
    cov = [[1.0 if i == j else 0.0 for j in range(n)] for i in range(n)]
    basis = [[1.0 if i == j else 0.0 for j in range(n)] for i in range(n)]
    axes = [1.0] * n
    since = 0
    converged = False
    for _ in range(max_generations):
        xs, zs, ys, vals = [], [], [], []
        for _ in range(lam):
            z = [normal(rng) for _ in range(n)]
            scaled = [axes[j] * z[j] for j in range(n)]
            y = []
            x = []
            for i in range(n):
                total = 0.0
                for j in range(n):
                    total += basis[i][j] * scaled[j]
                y.append(total)
                x.append(mean[i] + sigma * total)
            x = clamp(x, lower, upper)
            xs.append(x)
            zs.append(z)
            ys.append(y)
            vals.append(evaluate(func, x))
            e += 1
        order = sorted_order(vals)
        if improves(fbest, vals[order[0]]):
            best, fbest = list(xs[order[0]]), vals[order[0]]
        new_mean, y_w, z_w = [], [], []
        for j in range(n):
            m = yw = zw = 0.0
            for i in range(mu):
                k = order[i]
                m += w[i] * xs[k][j]
                yw += w[i] * ys[k][j]
                zw += w[i] * zs[k][j]
            new_mean.append(m)
            y_w.append(yw)
            z_w.append(zw)
        ps_sq = 0.0
        for i in range(n):
            total = 0.0
            for j in range(n):
                total += basis[i][j] * z_w[j]
            ps[i] = (1.0 - cs) * ps[i] + ps_scale * total
            ps_sq += ps[i] * ps[i]
        ps_norm = math.sqrt(ps_sq)
        decay = math.pow(1.0 - cs, 2.0 * e / lam)
        h = 1.0 if ps_norm / math.sqrt(1.0 - decay) / chi_n < threshold else 0.0
        for i in range(n):
            pc[i] = (1.0 - cc) * pc[i] + h * pc_scale * y_w[i]
        rank_mu = [[0.0] * n for _ in range(n)]
        for i in range(mu):
            y = ys[order[i]]
            for a in range(n):
                for b in range(n):
                    rank_mu[a][b] += w[i] * y[a] * y[b]
        keep = 1.0 - c1 - c_mu
        lost = (1.0 - h) * cc * (2.0 - cc)
        for a in range(n):
            for b in range(n):
                c = cov[a][b]
                cov[a][b] = keep * c + c1 * (pc[a] * pc[b] + lost * c) + c_mu * rank_mu[a][b]
        sigma = sigma * ieee_exp((ps_norm / chi_n - 1.0) * cs / damps)
        if sigma < 1e-20:
            sigma = 1e-20
        since += 1
        if since >= interval:
            since = 0
            for p in range(n):
                for q in range(p + 1, n):
                    cov[p][q] = cov[q][p] = (cov[p][q] + cov[q][p]) * 0.5
            eig, basis = jacobi([row[:] for row in cov])
            axes = [math.sqrt(max(ev, 1e-30)) for ev in eig]
        mean = new_mean
        history.append(fbest)
        widest = 0.0
        for d in axes:
            if widest < d:
                widest = d
        if (widest * sigma < tol or fbest < tol
                or (len(history) > 20 and window_range(history, 20) < tol * 0.001 and sigma < 1e-6)):
            converged = True
            break
    return best, fbest, history, e, converged


def cmaes_full(func, bounds, pop_size=0, max_generations=1000, sigma=0.3, seed=42, tol=1e-8, restarts=0):
    lower, upper = bounds_of(bounds)
    if restarts == 0:
        return cmaes_run(func, lower, upper, sigma, pop_size, max_generations, tol, seed, 0)
    lam0 = max(4, pop_size if pop_size != 0 else default_offspring(len(lower)))
    kept = None
    e = 0
    for r in range(restarts + 1):
        run = cmaes_run(func, lower, upper, sigma, lam0 * 2 ** r, max_generations, tol,
                        (seed + 7919 * r) & ((1 << 64) - 1), e)
        e = run[3]
        if kept is None or improves(kept[1], run[1]):
            kept = run
        if kept[1] < tol:
            break
    return kept


# ---- portfolio

def portfolio(func, bounds, max_evals=5000):
    n = len(bounds)
    g = max(50, max_evals // (10 * n))
    stages = [
        de(func, bounds, 10 * n, max_generations=g, f=0.8, cr=0.9, tol=1e-8, seed=42),
        pso(func, bounds, min(20, 10 * n), max_iterations=g, tol=1e-8, seed=137),
        simple_es(func, bounds, max(5, default_offspring(n)), max_generations=g, sigma=0.3, tol=1e-8, seed=271),
        sa(func, bounds, max_iterations=10 * g, seed=314, temp_init=100.0, cooling_rate=0.999),
    ]
    chosen = 0
    for k in range(1, 4):
        if improves(stages[chosen][1], stages[k][1]):
            chosen = k
    return stages[chosen]


__all__ = ["pso", "sa", "simple_es", "cmaes_full", "portfolio", "jacobi", "normal", "value_less"]
