"""NSGA-II: time per generation and hypervolume against pymoo, and how our time grows with P.

Run: python bench/bench_nsga.py   (all figures come from the same run; best of REPEATS)

1. ZDT1 with 10 variables, population 100 and 1,000, the same number of evaluations for both
   (P initial + P per generation), the same pure-Python objectives (a list in, a float out;
   pymoo's elementwise problem hands them x.tolist()). pymoo runs NSGA2 with its defaults
   (SBX eta 15, polynomial mutation eta 20, duplicate elimination). Time per generation is
   (time of G generations - time of 0 generations) / G, so set-up and the initial population
   are left out for both. Hypervolume of the final first front, reference point (1.1, 1.1);
   the true front's is 0.8767. Goal: at least 5x faster per generation at P = 1,000 at equal
   hypervolume within 1%.
2. Our time per generation on ZDT1 for P = 100, 300, 1,000, 3,000 and the exponent of its
   growth (least squares on log P, log time).
"""

import math

import numpy as np
import pymoo
from pymoo.algorithms.moo.nsga2 import NSGA2
from pymoo.core.problem import ElementwiseProblem
from pymoo.optimize import minimize

from timing import best_time
import velmo_opt as vo

N = 10
REPEATS = 2
CASES = [(100, 250), (1000, 100)]  # (population, generations)
GROWTH = [(100, 60), (300, 40), (1000, 20), (3000, 8)]
TRUE_HV = 1.1 * 1.1 - (1 - 2 / 3) - 0.0  # area above f2 = 1 - sqrt(f1) inside the box


def f1(x):
    return x[0]


def zdt1(x):
    g = 1.0 + 9.0 * sum(x[1:]) / (len(x) - 1)
    return g * (1.0 - math.sqrt(x[0] / g))


class Zdt1(ElementwiseProblem):
    def __init__(self):
        super().__init__(n_var=N, n_obj=2, xl=0.0, xu=1.0)

    def _evaluate(self, x, out, *args, **kwargs):
        point = x.tolist()
        out["F"] = [f1(point), zdt1(point)]


def hypervolume(points, ref=(1.1, 1.1)):
    """Exact 2-D hypervolume of the points that dominate the reference point."""
    inside = sorted((a, b) for a, b in points if a < ref[0] and b < ref[1])
    volume, best = 0.0, ref[1]
    for k, (a, b) in enumerate(inside):
        best = min(best, b)
        right = inside[k + 1][0] if k + 1 < len(inside) else ref[0]
        volume += (right - a) * (ref[1] - best)
    return volume


def ours(pop, generations):
    return vo.pareto_frontier([f1, zdt1], [(0.0, 1.0)] * N, method="nsga2", pop_size=pop,
                              generations=generations, seed=1)


def theirs(pop, generations):
    # pymoo counts the initial population as generation 1.
    return minimize(Zdt1(), NSGA2(pop_size=pop), ("n_gen", generations + 1), seed=1, verbose=False)


def per_generation(run, pop, generations):
    t0, _ = best_time(lambda: run(pop, 0), REPEATS)
    t, result = best_time(lambda: run(pop, generations), REPEATS)
    return (t - t0) / generations, result


def against_pymoo():
    print(f"ZDT1 n={N}, NSGA-II, pymoo {pymoo.__version__}, hypervolume reference (1.1, 1.1), "
          f"true front {TRUE_HV:.4f}")
    for pop, generations in CASES:
        t_ours, front = per_generation(ours, pop, generations)
        t_theirs, res = per_generation(theirs, pop, generations)
        hv_ours = hypervolume([d["objectives"] for d in front])
        hv_theirs = hypervolume(np.asarray(res.F).tolist())
        print(f"  P={pop:5d}, {generations} generations, {pop * (generations + 1)} evaluations each")
        print(f"    velmo  {t_ours * 1e3:8.2f} ms/generation  hypervolume {hv_ours:.5f}  ({len(front)} points)")
        print(f"    pymoo  {t_theirs * 1e3:8.2f} ms/generation  hypervolume {hv_theirs:.5f}  ({len(res.F)} points)")
        print(f"    speed-up {t_theirs / t_ours:.2f}x (goal >= 5x at P=1000), "
              f"hypervolume ratio velmo/pymoo {hv_ours / hv_theirs:.4f} (goal within 1%)")


def growth():
    sizes, times = [], []
    print("velmo time per generation by population (ZDT1, NSGA-II)")
    for pop, generations in GROWTH:
        t, _ = per_generation(ours, pop, generations)
        sizes.append(pop)
        times.append(t)
        print(f"  P={pop:5d}: {t * 1e3:8.2f} ms/generation")
    slope = np.polyfit(np.log(sizes), np.log(times), 1)[0]
    steps = ", ".join(f"{math.log(times[k + 1] / times[k]) / math.log(sizes[k + 1] / sizes[k]):.2f}"
                      for k in range(len(sizes) - 1))
    print(f"  growth exponent {slope:.2f} (between neighbouring sizes: {steps})")


if __name__ == "__main__":
    against_pymoo()
    growth()
