"""Constrained differential evolution against SciPy's, on the CEC 2006 problems g01, g04, g06
and g09: search quality per evaluation and time, at equal budgets.

Run: python bench/bench_constrained.py   (all figures come from the same run)

Both sides run DE/rand/1/bin with F 0.8, CR 0.9, 10 n individuals, immediate updating, no
polishing and no early stop (tol 0), for the same number of generations, and both compare
points by the feasibility rules. For each problem and seed the table gives the relative error
to the published optimum at the end (an infeasible result shows "infeasible"), the objective
calls made (SciPy skips the objective at infeasible points, and in vectorized mode one call
takes the whole population) and the wall time. SciPy runs twice: with the same per-point Python
functions, and on its fastest path (vectorized=True with NumPy versions of objective and
constraints). The ratio columns are SciPy's wall time over velmo's for the same generations.
A last table gives, per problem, how many of 8 seeds end feasible within 1e-4 of the optimum
(velmo and SciPy's vectorized path).
"""

import math
import os
import sys

import numpy as np
from scipy.optimize import NonlinearConstraint, differential_evolution

sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, "tests", "blackbox"))

from cec2006 import PROBLEMS  # noqa: E402
from timing import timed  # noqa: E402
import velmo_opt as vo  # noqa: E402

GENERATIONS = {"g01": 500, "g04": 200, "g06": 200, "g09": 500}
SEEDS = [1, 2, 3]
SUCCESS_SEEDS = 8


def vectorised(name):
    """NumPy forms taking a (n, S) array of S points, for SciPy's vectorized mode."""
    if name == "g01":
        def f(x):
            return 5 * x[:4].sum(0) - 5 * (x[:4] ** 2).sum(0) - x[4:13].sum(0)

        def g(x):
            return np.array([
                2 * x[0] + 2 * x[1] + x[9] + x[10] - 10, 2 * x[0] + 2 * x[2] + x[9] + x[11] - 10,
                2 * x[1] + 2 * x[2] + x[10] + x[11] - 10, -8 * x[0] + x[9], -8 * x[1] + x[10],
                -8 * x[2] + x[11], -2 * x[3] - x[4] + x[9], -2 * x[5] - x[6] + x[10], -2 * x[7] - x[8] + x[11]])
    elif name == "g04":
        def f(x):
            return 5.3578547 * x[2] ** 2 + 0.8356891 * x[0] * x[4] + 37.293239 * x[0] - 40792.141

        def g(x):
            u = 85.334407 + 0.0056858 * x[1] * x[4] + 0.0006262 * x[0] * x[3] - 0.0022053 * x[2] * x[4]
            v = 80.51249 + 0.0071317 * x[1] * x[4] + 0.0029955 * x[0] * x[1] + 0.0021813 * x[2] ** 2
            w = 9.300961 + 0.0047026 * x[2] * x[4] + 0.0012547 * x[0] * x[2] + 0.0019085 * x[2] * x[3]
            return np.array([u - 92, -u, v - 110, -v + 90, w - 25, -w + 20])
    elif name == "g06":
        def f(x):
            return (x[0] - 10) ** 3 + (x[1] - 20) ** 3

        def g(x):
            return np.array([-(x[0] - 5) ** 2 - (x[1] - 5) ** 2 + 100, (x[0] - 6) ** 2 + (x[1] - 5) ** 2 - 82.81])
    else:
        def f(x):
            x1, x2, x3, x4, x5, x6, x7 = x
            return ((x1 - 10) ** 2 + 5 * (x2 - 12) ** 2 + x3 ** 4 + 3 * (x4 - 11) ** 2 + 10 * x5 ** 6
                    + 7 * x6 ** 2 + x7 ** 4 - 4 * x6 * x7 - 10 * x6 - 8 * x7)

        def g(x):
            x1, x2, x3, x4, x5, x6, x7 = x
            return np.array([-127 + 2 * x1 ** 2 + 3 * x2 ** 4 + x3 + 4 * x4 ** 2 + 5 * x5,
                             -282 + 7 * x1 + 3 * x2 + 10 * x3 ** 2 + x4 - x5,
                             -196 + 23 * x1 + x2 ** 2 + 6 * x6 ** 2 - 8 * x7,
                             4 * x1 ** 2 + x2 ** 2 - 3 * x1 * x2 + 2 * x3 ** 2 + 5 * x6 - 11 * x7])
    return f, g


def error(p, value, feasible):
    return "infeasible" if not feasible else f"{abs(value - p.best) / abs(p.best):.1e}"


def run_velmo(p, generations, seed):
    r, t = timed(lambda: vo.solve_de(p.objective, p.bounds, constraints=p.constraints,
                                     max_generations=generations, tol=0, seed=seed))
    return error(p, r.objective, r.constraint_violation == 0.0), r.evaluations, t


def run_scipy(p, generations, seed, vectorized):
    if vectorized:
        f, g = vectorised(p.name)
    else:
        f, g = (lambda x: p.objective(list(x))), (lambda x: p.constraints(list(x)))
    constraint = NonlinearConstraint(g, -np.inf, 0.0)
    r, t = timed(lambda: differential_evolution(
        f, p.bounds, strategy="rand1bin", maxiter=generations, popsize=10, mutation=0.8, recombination=0.9,
        seed=seed, polish=False, tol=0, atol=0, init="random", updating="deferred" if vectorized else "immediate",
        constraints=constraint, vectorized=vectorized))
    feasible = bool(np.all(np.asarray(g(r.x if not vectorized else r.x[:, None])) <= 0.0))
    return error(p, float(r.fun), feasible), r.nfev, t


def main():
    print(f"{'problem':8s}{'seed':>5s}  {'velmo error':>12s}{'calls':>8s}{'s':>7s}  "
          f"{'scipy error':>12s}{'calls':>8s}{'s':>7s}{'ratio':>7s}  "
          f"{'scipy vec. error':>16s}{'calls':>8s}{'s':>7s}{'ratio':>7s}")
    for name, generations in GENERATIONS.items():
        p = PROBLEMS[name]
        for seed in SEEDS:
            ve, vc, vt = run_velmo(p, generations, seed)
            se, sc, st = run_scipy(p, generations, seed, False)
            we, wc, wt = run_scipy(p, generations, seed, True)
            print(f"{name:8s}{seed:5d}  {ve:>12s}{vc:8d}{vt:7.2f}  {se:>12s}{sc:8d}{st:7.2f}{st / vt:7.1f}  "
                  f"{we:>16s}{wc:8d}{wt:7.2f}{wt / vt:7.1f}", flush=True)
    print(f"\nseeds 1-{SUCCESS_SEEDS} ending feasible within 1e-4 (velmo, scipy vectorized):")
    for name, generations in GENERATIONS.items():
        p = PROBLEMS[name]
        hits = [0, 0]
        for seed in range(1, SUCCESS_SEEDS + 1):
            for k, run in enumerate((lambda: run_velmo(p, generations, seed),
                                     lambda: run_scipy(p, generations, seed, True))):
                e = run()[0]
                hits[k] += e != "infeasible" and float(e) <= 1e-4
        print(f"{name:8s}{hits[0]:4d}{hits[1]:4d}", flush=True)


if __name__ == "__main__":
    main()
