"""Chained Rosenbrock with trigonometric constraints (after Lukšan and Vlček's test set, with
their exponential replaced by a cosine), at 1,000 and 10,000 variables:

    min  sum_k 100 (x_{k+1} - x_k^2)^2 + (1 - x_k)^2
    s.t. 3 x_{k+1}^3 + 2 x_{k+2} - 5 + sin(x_{k+1} - x_{k+2}) sin(x_{k+1} + x_{k+2})
         + 4 x_{k+1} - x_k cos(x_k - x_{k+1}) = 3,   k = 0, 2, 4, ...,   -5 <= x <= 5

(x = 1 is feasible with objective 0). Solved end to end by velmo (model building, then
solve(), which translates the trees into CasADi expressions and runs Ipopt) and by the same
NLP written directly in CasADi (vectorised, as a CasADi user writes it) with the same Ipopt,
options and starting point, both in this run. Ipopt's own run is timed by the same wrapper
for both, so the rest of solve() is what velmo adds.

    python bench/bench_nlp_rosenbrock.py [n ...]
"""

import sys
import time

import casadi
import numpy as np

import velmo as vo

SIZES = [int(a) for a in sys.argv[1:]] or [1000, 10000]
OPTS = {"ipopt": {"print_level": 0, "sb": "yes"}, "print_time": False}
timing = {}


class Timed:
    """casadi.nlpsol wrapped so that the construction and the run are timed separately."""

    def __init__(self):
        self.real = casadi.nlpsol

    def __call__(self, *args):
        t0 = time.perf_counter()
        solver = self.real(*args)
        timing["nlpsol"] = time.perf_counter() - t0
        timing["enter_nlpsol"] = t0

        def run(**kwargs):
            t1 = time.perf_counter()
            out = solver(**kwargs)
            timing["ipopt"] = time.perf_counter() - t1
            return out
        run.stats = solver.stats
        return run


def start(n):
    return np.where(np.arange(n) % 2 == 0, -1.2, 1.0)


def tree_sum(items):
    # A sum copies its left side, so long sums are added pairwise.
    while len(items) > 1:
        items = [items[k] + items[k + 1] if k + 1 < len(items) else items[k] for k in range(0, len(items), 2)]
    return items[0]


def build_velmo(n):
    m = vo.Model("rosenbrock")
    x = m.variables("x", n, lower=-5, upper=5)
    pieces = []
    for k in range(n - 1):
        a = x[k + 1] - x[k] * x[k]
        pieces.append(100 * (a * a) + (1 - 2 * x[k] + x[k] * x[k]))
    m.minimize(tree_sum(pieces))
    for k in range(0, n - 2, 2):
        u, v, w = x[k + 1], x[k + 2], x[k]
        m.add(3 * (u * u * u) + 2 * v - 5 + vo.sin(u - v) * vo.sin(u + v) + 4 * u - w * vo.cos(w - u) == 3)
    return m


def velmo_run(n):
    t0 = time.perf_counter()
    m = build_velmo(n)
    t1 = time.perf_counter()
    timing.clear()
    casadi.nlpsol = Timed()
    try:
        t_solve = time.perf_counter()
        r = m.solve(warm_start=start(n).tolist())
        t2 = time.perf_counter()
    finally:
        casadi.nlpsol = casadi.nlpsol.real
    return dict(build=t1 - t0, solve=t2 - t_solve, total=t2 - t0, ipopt=timing["ipopt"],
                nlpsol=timing["nlpsol"], expressions=timing["enter_nlpsol"] - t_solve,
                objective=r.objective, status=r.status)


def casadi_run(n):
    t0 = time.perf_counter()
    x = casadi.SX.sym("x", n)
    a, b = x[:-1], x[1:]
    f = casadi.sum1(100 * (b - a ** 2) ** 2 + (1 - a) ** 2)
    k = np.arange(0, n - 2, 2)
    w, u, v = x[k.tolist()], x[(k + 1).tolist()], x[(k + 2).tolist()]
    g = 3 * u ** 3 + 2 * v - 5 + casadi.sin(u - v) * casadi.sin(u + v) + 4 * u - w * casadi.cos(w - u)
    t1 = time.perf_counter()
    solver = casadi.nlpsol("solver", "ipopt", {"x": x, "f": f, "g": g}, OPTS)
    t2 = time.perf_counter()
    sol = solver(x0=start(n), lbx=np.full(n, -5.0), ubx=np.full(n, 5.0), lbg=np.full(len(k), 3.0),
                 ubg=np.full(len(k), 3.0))
    t3 = time.perf_counter()
    return dict(expressions=t1 - t0, nlpsol=t2 - t1, ipopt=t3 - t2, total=t3 - t0,
                objective=float(sol["f"]), status=solver.stats()["return_status"])


for n in SIZES:
    ours, peer = velmo_run(n), casadi_run(n)
    print(f"n={n:,}: velmo {ours['status']} f={ours['objective']:.6g}; CasADi {peer['status']} "
          f"f={peer['objective']:.6g}")
    print(f"  velmo  total {ours['total']:.3f} s = build model {ours['build']:.3f} + solve() {ours['solve']:.3f} "
          f"(CasADi expressions {ours['expressions']:.3f}, nlpsol {ours['nlpsol']:.3f}, Ipopt {ours['ipopt']:.3f})")
    print(f"  CasADi total {peer['total']:.3f} s = expressions {peer['expressions']:.3f} + nlpsol "
          f"{peer['nlpsol']:.3f} + Ipopt {peer['ipopt']:.3f}")
    print(f"  ratio end to end {ours['total'] / peer['total']:.2f}x; solve() vs nlpsol+Ipopt+expressions "
          f"{ours['solve'] / peer['total']:.2f}x; expression building is "
          f"{100 * ours['expressions'] / ours['total']:.0f}% of velmo's time")
