"""Particle swarm, annealing, CMA-ES and the portfolio: cost per evaluation, and search quality
against peers. Every figure comes from the same run.

Run: python bench/bench_metaheuristics.py   (needs the bench extra: cmaes, pyswarms)

1. Overhead per evaluation, as bench/bench_de.py measures it for DE: each solver on
   `lambda x: 0.0` (n = 10, about 10 000 evaluations, settings that never stop early) against
   a bare Python loop calling the same function as often with a fresh list. Goal: each
   solver's ratio within 1.3x of DE's ratio.
2. Full CMA-ES against the `cmaes` package on 10- and 40-dimensional Rosenbrock and
   Rastrigin: same start (box centre), same initial step, default population; both stop when
   the best value is below 1e-8 or at the evaluation budget. Evaluations used, best value, and
   time per evaluation with the same pure-Python objective (`cmaes` hands out NumPy arrays, so
   its objective call includes `x.tolist()`).
3. Particle swarm and annealing against scipy.optimize.dual_annealing and pyswarms'
   GlobalBestPSO (same coefficients, 20 particles) on 10-dimensional Rosenbrock and
   Rastrigin with the same evaluation budget: best value reached and time per evaluation.

Rastrigin is shifted so that its minimum is not the box centre.
"""

import math
import time

import cmaes
import numpy as np
import pyswarms
import scipy
from scipy.optimize import dual_annealing

from timing import best_time
import velmo_opt as vo

REPEATS = 5


def rosenbrock(x):
    total = 0.0
    for i in range(len(x) - 1):
        a = x[i]
        total += 100.0 * (x[i + 1] - a * a) ** 2 + (1.0 - a) ** 2
    return total


def rastrigin(x):
    # Shifted by 1.3 so that the box centre, where CMA-ES and the evolution strategy start, is
    # not the minimum.
    total = 10.0 * len(x)
    for v in x:
        v = v - 1.3
        total += v * v - 10.0 * math.cos(2.0 * math.pi * v)
    return total


# ---- 1. overhead per evaluation

def overhead():
    n = 10
    box = [(-5.0, 5.0)] * n
    calls = [0]

    def zero(x):
        return 0.0

    def counted(x):
        calls[0] += 1
        return 0.0

    runs = {
        "solve_de": (zero, lambda f: vo.solve_de(f, box, pop_size=100, max_generations=100, tol=0)),
        "solve_pso": (zero, lambda f: vo.solve_pso(f, box, pop_size=100, max_iterations=100, tol=0)),
        "solve_sa": (zero, lambda f: vo.solve_sa(f, box, max_iterations=10100, cooling_rate=1.0)),
        "solve_cmaes simple": (zero, lambda f: vo.solve_cmaes(f, box, pop_size=100, max_generations=100, tol=0)),
        "solve_cmaes full": (zero, lambda f: vo.solve_cmaes(f, box, variant="full", pop_size=100,
                                                           max_generations=100, tol=-1)),
        # Only the chosen stage's count is reported, so the portfolio's calls are counted.
        "solve_portfolio": (counted, lambda f: vo.solve_portfolio(f, box, max_evals=100000)),
    }
    point = [0.5] * n
    print(f"overhead per evaluation, n={n}, best of {REPEATS}")
    ratios = {}
    draw_free = {}
    normal = normal_draw_ns()
    for name, (func, run) in runs.items():
        t_run, res = best_time(lambda: run(func))
        if func is counted:
            calls[0] = 0
            run(func)
            evaluations = calls[0]
        else:
            evaluations = res.evaluations

        def bare():
            f, p = func, point
            for _ in range(evaluations):
                f(p[:])

        t_bare, _ = best_time(bare)
        ratios[name] = t_run / t_bare
        if normal is not None and name in ("solve_sa", "solve_cmaes simple", "solve_cmaes full"):
            draw_free[name] = (t_run - evaluations * n * normal * 1e-9) / t_bare
        print(f"  {name:20} {evaluations:6d} evals {t_run / evaluations * 1e9:7.1f} ns/eval, "
              f"bare loop {t_bare / evaluations * 1e9:6.1f} ns/eval, ratio {ratios[name]:.2f}x")
    de = ratios["solve_de"]
    for name, r in ratios.items():
        if name != "solve_de":
            print(f"  {name:20} overhead relative to DE's: {r / de:.2f}x (goal <= 1.3x)")
    if normal is not None:
        # Annealing and both strategies draw one normal variate per coordinate and evaluation
        # (two uniforms, a logarithm, a square root and a cosine, fixed for reproducibility).
        print(f"  one normal draw costs {normal:.1f} ns, so n={n} draws add {n * normal:.0f} ns per "
              "evaluation to solve_sa and solve_cmaes; without them:")
        for name, r in draw_free.items():
            print(f"  {name:20} overhead relative to DE's, draws taken out: {r / de:.2f}x")


def normal_draw_ns():
    """Time of one of the engines' normal draws, through the core probe of a CMake build."""
    import ctypes
    import os

    path = os.path.join(os.path.dirname(vo.__file__), "libvelmo_core_probe.so")
    if not os.path.exists(path):
        return None
    probe = ctypes.CDLL(path).velmo_probe_normals
    probe.restype = ctypes.c_double
    probe.argtypes = [ctypes.c_uint64, ctypes.c_uint64]
    count = 2_000_000
    t, _ = best_time(lambda: probe(42, count))
    return t / count * 1e9


# ---- 2. full CMA-ES against cmaes

def run_cmaes_package(func, n, lo, hi, sigma, budget, seed):
    bounds = np.array([[lo, hi]] * n)
    opt = cmaes.CMA(mean=np.full(n, (lo + hi) * 0.5), sigma=sigma, bounds=bounds, seed=seed)
    evaluations = 0
    best = math.inf
    while evaluations < budget and best >= 1e-8:
        solutions = []
        for _ in range(opt.population_size):
            x = opt.ask()
            value = func(x.tolist())
            evaluations += 1
            best = min(best, value)
            solutions.append((x, value))
        opt.tell(solutions)
        if opt.should_stop():
            break
    return evaluations, best


def against_cmaes():
    print(f"full CMA-ES against cmaes {cmaes.__version__}: evaluations to reach 1e-8 or the budget, "
          "best value, time per evaluation")
    problems = [
        ("rosenbrock", rosenbrock, 10, -5.0, 5.0, 0.3, 60_000),
        ("rosenbrock", rosenbrock, 40, -5.0, 5.0, 0.3, 400_000),
        ("rastrigin", rastrigin, 10, -5.12, 5.12, 2.0, 60_000),
        ("rastrigin", rastrigin, 40, -5.12, 5.12, 2.0, 200_000),
    ]
    for name, func, n, lo, hi, sigma, budget in problems:
        lam = 4 + int(3 * math.log(n))
        box = [(lo, hi)] * n
        start = time.perf_counter()
        ours = vo.solve_cmaes(func, box, variant="full", sigma=sigma, max_generations=budget // lam, tol=1e-8)
        t_ours = time.perf_counter() - start
        start = time.perf_counter()
        their_evals, their_best = run_cmaes_package(func, n, lo, hi, sigma, budget, seed=1)
        t_theirs = time.perf_counter() - start
        print(f"  {name} n={n} (budget {budget}):")
        print(f"    velmo full  {ours.evaluations:7d} evals, best {ours.objective:9.3g}, "
              f"{t_ours / ours.evaluations * 1e6:6.2f} us/eval ({t_ours:.2f} s)")
        print(f"    cmaes       {their_evals:7d} evals, best {their_best:9.3g}, "
              f"{t_theirs / their_evals * 1e6:6.2f} us/eval ({t_theirs:.2f} s)")
        print(f"    time per evaluation: cmaes / velmo = "
              f"{(t_theirs / their_evals) / (t_ours / ours.evaluations):.2f}x")


# ---- 3. swarm and annealing against dual_annealing and pyswarms

def against_annealing_and_swarms():
    n = 10
    budget = 20_000
    print(f"particle swarm and annealing, n={n}, budget {budget} evaluations; scipy {scipy.__version__}, "
          f"pyswarms {pyswarms.__version__}")
    for name, func, lo, hi in [("rosenbrock", rosenbrock, -5.0, 5.0), ("rastrigin", rastrigin, -5.12, 5.12)]:
        box = [(lo, hi)] * n
        rows = []

        start = time.perf_counter()
        r = vo.solve_pso(func, box, max_iterations=budget // 20 - 1, tol=0)
        rows.append(("velmo solve_pso", time.perf_counter() - start, r.evaluations, r.objective))

        start = time.perf_counter()
        r = vo.solve_sa(func, box, max_iterations=budget - 1)
        rows.append(("velmo solve_sa", time.perf_counter() - start, r.evaluations, r.objective))

        start = time.perf_counter()
        d = dual_annealing(lambda x: func(x.tolist()), box, maxfun=budget, seed=1)
        rows.append(("scipy dual_annealing", time.perf_counter() - start, d.nfev, d.fun))

        np.random.seed(1)  # pyswarms draws from NumPy's global generator
        optimizer = pyswarms.single.GlobalBestPSO(
            n_particles=20, dimensions=n, options={"c1": 1.49618, "c2": 1.49618, "w": 0.7298},
            bounds=(np.full(n, lo), np.full(n, hi)))
        start = time.perf_counter()
        cost, _ = optimizer.optimize(lambda xs: np.array([func(row.tolist()) for row in xs]),
                                     iters=budget // 20, verbose=False)
        rows.append(("pyswarms GlobalBestPSO", time.perf_counter() - start, budget, cost))

        print(f"  {name}:")
        for label, t, evals, best in rows:
            print(f"    {label:38} {evals:6d} evals, best {best:10.4g}, {t / evals * 1e6:6.2f} us/eval")
        ours = rows[0][1] / rows[0][2]
        for label, t, evals, _ in rows[2:]:
            print(f"    time per evaluation: {label} / velmo solve_pso = {(t / evals) / ours:.2f}x")


if __name__ == "__main__":
    import logging
    import os

    logging.getLogger("pyswarms").setLevel(logging.ERROR)
    had_log = os.path.exists("report.log")  # pyswarms writes one into the working directory
    overhead()
    against_cmaes()
    against_annealing_and_swarms()
    if not had_log and os.path.exists("report.log"):
        os.remove("report.log")
