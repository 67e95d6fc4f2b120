"""Differential evolution: cost per evaluation against a bare Python loop and against SciPy.

Run: python bench/bench_de.py   (all figures come from the same run; best of several repeats)

1. Overhead: solve_de on `lambda x: 0.0` (n = 10, 100 generations, tol=0 so all of them run)
   against a bare Python loop calling the same function with a fresh 10-float list the same
   number of times (`f(p[:])`, which copies references to existing floats), and against a
   loop whose fresh list holds ten new float objects, as every evaluation's list does.
   Goal: at most 1.3x the bare loop.
2. Against scipy.optimize.differential_evolution on 10-dimensional Rosenbrock with the same
   population (100), generations (100), strategy (rand/1/bin, F 0.8, CR 0.9), immediate
   updating and polish=False; both run all generations (tol=0). The objective is the same
   pure-Python function for both; SciPy is also timed with its own `scipy.optimize.rosen`.
   Goal: at least 2x faster per evaluation.
"""


import scipy
from scipy.optimize import differential_evolution, rosen

from timing import best_time
import velmo_opt as vo

N = 10
POP = 100
GENERATIONS = 100
REPEATS = 5


def rosenbrock(x):
    total = 0.0
    for i in range(len(x) - 1):
        a = x[i]
        total += 100.0 * (x[i + 1] - a * a) ** 2 + (1.0 - a) ** 2
    return total


def overhead():
    def zero(x):
        return 0.0

    bounds = [(-5.0, 5.0)] * N
    t_de, res = best_time(lambda: vo.solve_de(zero, bounds, max_generations=GENERATIONS, tol=0))
    calls = res.evaluations
    point = [0.5] * N

    def bare():
        f = zero
        p = point
        for _ in range(calls):
            f(p[:])

    def bare_new_floats():
        # What each evaluation really hands over: a list of ten new float objects.
        f = zero
        p = point
        for _ in range(calls):
            f([v + 0.0 for v in p])

    t_loop, _ = best_time(bare)
    t_floats, _ = best_time(bare_new_floats)
    print(f"overhead: {calls} evaluations, n={N}")
    for name, t in [("solve_de", t_de), ("bare loop f(p[:])", t_loop),
                    ("bare loop, new floats", t_floats)]:
        print(f"  {name:22} {t * 1e3:8.2f} ms  {t / calls * 1e9:7.1f} ns/eval")
    print(f"  ratio solve_de / bare loop f(p[:])     = {t_de / t_loop:.2f}x (goal <= 1.3x)")
    print(f"  ratio solve_de / bare loop, new floats = {t_de / t_floats:.2f}x")


def against_scipy():
    bounds = [(-5.0, 5.0)] * N

    def ours():
        return vo.solve_de(rosenbrock, bounds, pop_size=POP, max_generations=GENERATIONS, tol=0)

    def theirs(func):
        # SciPy's population is popsize * n; maxiter counts generations after the initial one.
        return lambda: differential_evolution(
            func, bounds, popsize=POP // N, maxiter=GENERATIONS, tol=0, atol=0,
            strategy="rand1bin", mutation=0.8, recombination=0.9, polish=False, updating="immediate",
            init="random", seed=1)

    t_ours, r_ours = best_time(ours)
    t_py, r_py = best_time(theirs(rosenbrock))
    t_rosen, r_rosen = best_time(theirs(rosen))
    per = {
        "velmo solve_de (pure-Python rosenbrock)": (t_ours, r_ours.evaluations, r_ours.objective),
        "scipy DE       (pure-Python rosenbrock)": (t_py, r_py.nfev, r_py.fun),
        "scipy DE       (scipy.optimize.rosen)": (t_rosen, r_rosen.nfev, r_rosen.fun),
    }
    print(f"rosenbrock n={N}, population {POP}, {GENERATIONS} generations, scipy {scipy.__version__}")
    for name, (t, nfev, fun) in per.items():
        print(f"  {name}: {t * 1e3:8.1f} ms, {nfev} evals, {t / nfev * 1e6:6.2f} us/eval, best {fun:.4g}")
    ours_per = t_ours / r_ours.evaluations
    for name, (t, nfev, _) in list(per.items())[1:]:
        print(f"  speed-up per evaluation vs {name.split('(')[1][:-1]}: {t / nfev / ours_per:.2f}x (goal >= 2x)")


if __name__ == "__main__":
    overhead()
    against_scipy()
