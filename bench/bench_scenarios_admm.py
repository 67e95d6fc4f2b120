"""stochastic_solve and solve_admm: cost per Python call against bare Python loops.

Run: python bench/bench_scenarios_admm.py   (all figures from the same run; best of several repeats)

1. solve_admm overhead per subproblem call, at dim 10 and dim 10,000: 4 subproblems, tol=0 so
   every iteration runs, against a bare Python loop that makes the same calls (a float and a
   new list of dim floats) and does the same vector updates in NumPy (average, duals, both
   residuals). Two subproblems: one answering with the target list itself, one computing a
   proximal step in NumPy and answering with an array.
2. stochastic_solve per scenario call, 5 scenarios, n = 10: against a bare loop that makes the
   same number of calls, each with a list of ten new floats and the scenario, and averages;
   and against the same loop passing a copy of one list (`f(p[:], s)`, no new floats).
"""

import math

import numpy as np

from timing import best_time
import velmo_opt as vo

REPEATS = 5
N_SUB = 4


def bare_admm(subproblems, dim, rho, iterations):
    """The same calls and updates as solve_admm, written directly with NumPy."""
    n = len(subproblems)
    z = np.zeros(dim)
    u = np.zeros((n, dim))
    x = np.zeros((n, dim))
    r = s = 0.0
    for _ in range(iterations):
        z_old = z
        for i, sub in enumerate(subproblems):
            x[i] = np.asarray(sub(rho, (z - u[i]).tolist()), dtype=float)[:dim]
        z = (x + u).mean(axis=0)
        u += x - z
        # Plain sums of squares: numpy.linalg.norm goes through a threaded BLAS dot, which
        # on a busy machine costs milliseconds per call and would flatter the comparison.
        d = x - z
        r = math.sqrt(float(np.sum(d * d)))
        e = rho * n * (z - z_old)
        s = math.sqrt(float(np.sum(e * e)))
    return z, r, s


def admm_overhead():
    print(f"solve_admm: {N_SUB} subproblems, all iterations run (tol=0)")
    for dim, iterations in ((10, 2000), (10_000, 20)):
        c = np.linspace(-1, 1, dim)

        def echo(rho, t):
            return t

        def prox(rho, t, c=c):
            return (c + rho * np.asarray(t)) / (1.0 + rho)

        for name, sub in (("echo list", echo), ("NumPy prox", prox)):
            subs = [sub] * N_SUB
            calls = N_SUB * iterations
            t_ours, res = best_time(lambda: vo.solve_admm(subs, dim, 1.0, iterations, 0.0))
            t_bare, (z, _, _) = best_time(lambda: bare_admm(subs, dim, 1.0, iterations))
            assert res["iterations"] == iterations
            assert np.allclose(res["z"], z, rtol=1e-12, atol=1e-12)
            print(f"  dim {dim:>6}, {name:10}: solve_admm {t_ours / calls * 1e6:8.2f} us/call, "
                  f"bare loop {t_bare / calls * 1e6:8.2f} us/call, ratio {t_ours / t_bare:.2f}x")


def stochastic_overhead():
    n, n_scen, gens = 10, 5, 100
    scenarios = [{"k": k} for k in range(n_scen)]

    def zero(x, s):
        return 0.0

    bounds = [(-5.0, 5.0)] * n
    t_ours, res = best_time(
        lambda: vo.stochastic_solve(zero, bounds, scenarios, max_generations=gens, seed=1))
    points = res.evaluations
    point = [0.5] * n

    def bare():
        f = zero
        p = point
        for _ in range(points):
            total = 0.0
            for s in scenarios:
                total += float(f([v + 0.0 for v in p], s))
            total / n_scen

    def bare_copies():
        # A lower bound: the fresh list copies references to existing floats.
        f = zero
        p = point
        for _ in range(points):
            total = 0.0
            for s in scenarios:
                total += float(f(p[:], s))
            total / n_scen

    t_bare, _ = best_time(bare)
    t_copies, _ = best_time(bare_copies)
    calls = points * n_scen
    print(f"stochastic_solve: n={n}, {n_scen} scenarios, {points} points, {calls} calls "
          f"(the constant objective stalls after 10 generations)")
    print(f"  stochastic_solve {t_ours / calls * 1e9:7.1f} ns/call; bare loop, new floats "
          f"{t_bare / calls * 1e9:7.1f} ns/call, ratio {t_ours / t_bare:.2f}x; bare loop f(p[:], s) "
          f"{t_copies / calls * 1e9:7.1f} ns/call, ratio {t_ours / t_copies:.2f}x")


if __name__ == "__main__":
    admm_overhead()
    stochastic_overhead()
