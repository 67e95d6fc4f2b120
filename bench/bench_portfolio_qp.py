"""Markowitz portfolio QP (2,000 assets, one budget row, bounds 0 <= x <= 1):
minimise x'Σx - γ μ'x with a random positive-definite Σ of the given density, built and solved
with velmo (OSQP) and with CVXPY (OSQP), both in this run. OSQP's own setup() and solve()
are timed by the same wrapper for both, so "overhead" is everything else a solve() call does.

    python bench/bench_portfolio_qp.py [assets] [density]
"""

import sys
import time

import numpy as np
import osqp
import scipy.sparse as sp

N = int(sys.argv[1]) if len(sys.argv) > 1 else 2000
DENSITY = float(sys.argv[2]) if len(sys.argv) > 2 else 0.01
GAMMA = 0.5
rng = np.random.default_rng(3)
B = sp.random(N, N, density=DENSITY / 2, random_state=4, format="csr")
SIGMA = (B @ B.T + sp.diags(rng.uniform(0.5, 1.5, N))).tocoo()
MU = rng.uniform(0.0, 0.2, N)
UPPER = sp.triu(SIGMA).tocoo()  # x'Σx = Σ_i Σ_ii x_i² + Σ_{i<j} 2 Σ_ij x_i x_j

osqp_time = {"setup": 0.0, "solve": 0.0}


class TimedOSQP(osqp.OSQP):
    def setup(self, *args, **kwargs):
        t0 = time.perf_counter()
        out = super().setup(*args, **kwargs)
        osqp_time["setup"] += time.perf_counter() - t0
        return out

    def solve(self, *args, **kwargs):
        t0 = time.perf_counter()
        out = super().solve(*args, **kwargs)
        osqp_time["solve"] += time.perf_counter() - t0
        return out


def reset():
    osqp_time["setup"] = osqp_time["solve"] = 0.0


def tree_sum(items):
    # QuadExpr + QuadExpr copies its left side, so large sums are added pairwise.
    items = list(items)
    while len(items) > 1:
        items = [items[k] + items[k + 1] if k + 1 < len(items) else items[k] for k in range(0, len(items), 2)]
    return items[0]


def bench_velmo():
    import velmo as vo

    t0 = time.perf_counter()
    m = vo.Model("portfolio")
    x = m.variables("x", N, lower=0, upper=1)
    rows, cols, vals = UPPER.row.tolist(), UPPER.col.tolist(), UPPER.data.tolist()
    risk = tree_sum([(v if i == j else 2 * v) * (x[i] * x[j]) for i, j, v in zip(rows, cols, vals)])
    m.minimize(risk - GAMMA * vo.sum([mu * xi for mu, xi in zip(MU.tolist(), x)]))
    m.add(vo.sum(x) == 1)
    build = time.perf_counter() - t0
    reset()
    t0 = time.perf_counter()
    r = m.solve()
    total = time.perf_counter() - t0
    assert r.solver == "OSQP", r.solver
    return build, total, dict(osqp_time), r.status, r.objective


def bench_cvxpy():
    import cvxpy as cp

    t0 = time.perf_counter()
    x = cp.Variable(N)
    prob = cp.Problem(cp.Minimize(cp.quad_form(x, SIGMA.tocsc(), assume_PSD=True) - GAMMA * MU @ x),
                      [cp.sum(x) == 1, x >= 0, x <= 1])
    build = time.perf_counter() - t0
    reset()
    t0 = time.perf_counter()
    prob.solve(solver=cp.OSQP, eps_abs=1e-8, eps_rel=1e-8, polishing=False, max_iter=4000, verbose=False)
    total = time.perf_counter() - t0
    return build, total, dict(osqp_time), prob.status, prob.value


def main():
    osqp.OSQP = TimedOSQP
    print(f"Markowitz QP: {N} assets, Σ density {SIGMA.nnz / N / N:.4f} ({UPPER.nnz} upper-triangle entries)")
    rows = {}
    for name, fn in [("velmo", bench_velmo), ("CVXPY", bench_cvxpy)]:
        try:
            rows[name] = fn()
        except ImportError as e:
            print(f"{name}: skipped ({e})")
    print(f"{'library':8s} {'build':>8s} {'solve()':>8s} {'setup':>8s} {'osqp':>8s} {'overhead':>9s} "
          f"{'ovh/osqp':>9s}  status      objective")
    overhead = {}
    for name, (build, total, t, status, obj) in rows.items():
        own = t["setup"] + t["solve"]
        overhead[name] = total - own
        print(f"{name:8s} {build:8.3f} {total:8.3f} {t['setup']:8.3f} {t['solve']:8.3f} {overhead[name]:9.4f} "
              f"{overhead[name] / own:9.1%}  {status:10s} {obj:.8f}")
    print("(overhead = solve() wall time minus OSQP's own setup() and solve(); build is model construction)")
    if len(overhead) == 2:
        print(f"CVXPY overhead / velmo overhead = {overhead['CVXPY'] / overhead['velmo']:.1f}x")


if __name__ == "__main__":
    main()
