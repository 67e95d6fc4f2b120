"""Portfolio with a risk cone (1,000 assets, 20 factors): maximise expected return minus a risk
penalty, the risk being the norm of the factor exposures and the idiosyncratic parts,

    max  mu'x - lam t   s.t.  t >= ||(F'x, d * x)||,  sum x = 1,  x >= 0,

built and solved with velmo (Clarabel) and with CVXPY (Clarabel), both in this run, each
timed on its second run so that neither pays for first imports. Clarabel's
own construction and solve() are timed by the same wrapper for both, so "overhead" is
everything else a solve call does.

    python bench/bench_socp_portfolio.py [assets] [factors]
"""

import sys
import time

import clarabel
import numpy as np

N = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
K = int(sys.argv[2]) if len(sys.argv) > 2 else 20
LAM = 0.5
rng = np.random.default_rng(5)
F = rng.normal(0, 0.05, (N, K))
D = rng.uniform(0.02, 0.1, N)
MU = rng.uniform(0.0, 0.15, N)

clarabel_time = {"build": 0.0, "solve": 0.0}
RealSolver = clarabel.DefaultSolver


class TimedSolver:
    def __init__(self, *args):
        t0 = time.perf_counter()
        self.solver = RealSolver(*args)
        clarabel_time["build"] += time.perf_counter() - t0

    def solve(self):
        t0 = time.perf_counter()
        out = self.solver.solve()
        clarabel_time["solve"] += time.perf_counter() - t0
        return out

    def __getattr__(self, name):
        return getattr(self.solver, name)


def reset():
    clarabel_time["build"] = clarabel_time["solve"] = 0.0


def bench_velmo():
    import velmo as vo

    t0 = time.perf_counter()
    m = vo.Model("portfolio")
    x = m.variables("x", N, lower=0)
    y = m.variables("y", K)
    z = m.variables("z", N)
    t = m.variable("t")
    for j in range(K):
        m.add(vo.sum([f * xi for f, xi in zip(F[:, j].tolist(), x)]) - y[j] == 0)
    for i, d in enumerate(D.tolist()):
        m.add(z[i] - d * x[i] == 0)
    m.add(vo.sum(x) == 1)
    m.add_soc_cone([t] + y + z)
    m.maximize(vo.sum([mu * xi for mu, xi in zip(MU.tolist(), x)]) - LAM * t)
    build = time.perf_counter() - t0
    reset()
    t0 = time.perf_counter()
    r = m.solve()
    total = time.perf_counter() - t0
    assert r.solver == "Clarabel", r.solver
    return build, total, dict(clarabel_time), r.status, r.objective


def bench_cvxpy():
    import cvxpy as cp

    t0 = time.perf_counter()
    x = cp.Variable(N)
    risk = cp.norm(cp.hstack([F.T @ x, cp.multiply(D, x)]), 2)
    prob = cp.Problem(cp.Maximize(MU @ x - LAM * risk), [cp.sum(x) == 1, x >= 0])
    build = time.perf_counter() - t0
    reset()
    t0 = time.perf_counter()
    prob.solve(solver=cp.CLARABEL, tol_feas=1e-9, tol_gap_abs=1e-9, tol_gap_rel=1e-9, verbose=False)
    total = time.perf_counter() - t0
    return build, total, dict(clarabel_time), prob.status, prob.value


def main():
    clarabel.DefaultSolver = TimedSolver
    print(f"SOCP portfolio: {N} assets, {K} factors, cone of size {1 + K + N}")
    rows = {}
    for name, fn in [("velmo", bench_velmo), ("CVXPY", bench_cvxpy)]:
        fn()  # a first run pays for imports (scipy.sparse, the packages' own modules)
        rows[name] = fn()
    print(f"{'library':8s} {'build':>8s} {'solve()':>8s} {'clarabel':>9s} {'overhead':>9s}  status      objective")
    overhead = {}
    for name, (build, total, t, status, obj) in rows.items():
        own = t["build"] + t["solve"]
        overhead[name] = total - own
        print(f"{name:8s} {build:8.3f} {total:8.3f} {own:9.3f} {overhead[name]:9.4f}  {status:10s} {obj:.8f}")
    print("(overhead = solve() wall time minus Clarabel's own construction and solve(); build is model "
          "construction)")
    print(f"velmo overhead / CVXPY overhead = {overhead['velmo'] / overhead['CVXPY']:.3f} (target at most 0.2)")


if __name__ == "__main__":
    main()
