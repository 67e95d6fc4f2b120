"""Expensive objectives through a process pool: a sleep-bound objective (50 ms per call, as a
simulation would be) evaluated serially and through concurrent.futures.ProcessPoolExecutor
with 8 workers, for solve_cmaes, pareto_frontier (NSGA-II), stochastic_solve and solve_admm. Prints wall
times and the speed-ups, and checks that both runs agree exactly.

    python bench/bench_executor.py [workers]
"""

import concurrent.futures as cf
import sys
import time

from timing import timed
import velmo as vo

WORKERS = int(sys.argv[1]) if len(sys.argv) > 1 else 8
DELAY = 0.05


def slow_f1(x):
    time.sleep(DELAY)
    return x[0]


def slow_f2(x):
    time.sleep(DELAY)
    return (1 - x[0]) ** 2 + x[1]


def slow_scenario(x, s):
    time.sleep(DELAY)
    return 2.0 * x[0] - 5.0 * min(x[0], s)


class SlowProx:
    def __init__(self, b):
        self.b = b

    def __call__(self, rho, target):
        time.sleep(DELAY)
        return [(2 * self.b + rho * t) / (2 + rho) for t in target]


CASES = {
    "solve_cmaes full (lambda 16, 3 generations)":
        lambda **kw: vo.solve_cmaes(slow_f2, [(0, 1)] * 4, variant="full", pop_size=16, max_generations=3, **kw).x,
    "pareto_frontier nsga2 (pop 16, 3 generations)":
        lambda **kw: vo.pareto_frontier([slow_f1, slow_f2], [(0, 1), (0, 1)], method="nsga2", pop_size=16,
                                        generations=3, **kw),
    "stochastic_solve (16 scenarios, 2 generations of 4)":
        lambda **kw: vo.stochastic_solve(slow_scenario, [(0, 10)], list(range(2, 18)), pop_size=4,
                                         max_generations=2, **kw).x,
    "solve_admm (16 subproblems, 5 iterations)":
        lambda **kw: vo.solve_admm([SlowProx(float(b)) for b in range(16)], 2, max_iter=5, tol=0.0, **kw),
}


def main():
    print(f"{DELAY * 1000:.0f} ms per call, {WORKERS} worker processes")
    with cf.ProcessPoolExecutor(max_workers=WORKERS) as pool:
        pool.submit(time.sleep, 0).result()  # workers started before timing
        for name, run in CASES.items():
            serial, t_serial = timed(run)
            parallel, t_parallel = timed(lambda: run(executor=pool))
            assert repr(serial) == repr(parallel), name
            print(f"{name:52s} serial {t_serial:6.2f}s  pool {t_parallel:6.2f}s  speed-up {t_serial / t_parallel:5.2f}x")


if __name__ == "__main__":
    main()
