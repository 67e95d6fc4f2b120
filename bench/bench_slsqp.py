"""A dense-ish QP (60 variables, 20 inequality rows, one budget equality, box bounds) solved
by SLSQP through velmo (solver="scipy") and by a direct scipy.optimize.minimize call on the
same problem: the same objective text over the same full symmetric P, the same start, bounds
and constraints. Each side is timed end to end (the direct call includes building its SciPy
objects) as the median of several runs in this process.

    python bench/bench_slsqp.py [variables] [repeats]
"""

import sys

import numpy as np
import scipy.optimize as so
import scipy.sparse as sp

from timing import median_time
import velmo as vo

N = int(sys.argv[1]) if len(sys.argv) > 1 else 60
REPEATS = int(sys.argv[2]) if len(sys.argv) > 2 else 15
ROWS = 20
rng = np.random.default_rng(11)
B = rng.normal(size=(N, N)) * (rng.uniform(size=(N, N)) < 0.2)
Q = B @ B.T + np.eye(N)  # symmetric positive definite
C = rng.normal(size=N)
A = rng.uniform(0, 1, (ROWS, N)) * (rng.uniform(size=(ROWS, N)) < 0.3)
UB = A.sum(axis=1) * 0.3


def build_velmo():
    m = vo.Model("qp")
    x = m.variables("x", N, lower=0, upper=1)
    pieces = [(0.5 * Q[i, j] if i == j else Q[i, j]) * (x[i] * x[j])
              for i in range(N) for j in range(i, N) if Q[i, j] != 0]
    while len(pieces) > 1:
        pieces = [pieces[k] + pieces[k + 1] if k + 1 < len(pieces) else pieces[k] for k in range(0, len(pieces), 2)]
    m.minimize(pieces[0] + vo.sum([c * xi for c, xi in zip(C.tolist(), x)]))
    for r in range(ROWS):
        m.add(vo.sum([a * xi for a, xi in zip(A[r].tolist(), x) if a != 0]) <= float(UB[r]))
    m.add(vo.sum(x) == N * 0.2)
    return m


def direct():
    P = sp.csc_matrix(Q)
    scope = {"P": P, "q": C, "np": np}
    fun = eval("lambda x: 0.5 * x @ P @ x + q @ x", scope, scope)
    cons = [so.LinearConstraint(sp.csc_matrix(np.ones((1, N))), [N * 0.2], [N * 0.2]),
            so.LinearConstraint(sp.csc_matrix(A), np.full(ROWS, -np.inf), UB)]
    res = so.minimize(fun, np.full(N, 0.5), method="SLSQP", bounds=so.Bounds(np.zeros(N), np.ones(N)),
                      constraints=cons)
    return res.fun, res.success, res.nit


m = build_velmo()
ours, r = median_time(lambda: m.solve(solver="scipy"), REPEATS)
peer, (fun, success, nit) = median_time(direct, REPEATS)
print(f"SLSQP QP: {N} variables, {ROWS} rows + 1 equality; median of {REPEATS} runs")
print(f"  velmo  solve()           {ours * 1e3:8.2f} ms  {r.status}, objective {r.objective:.8f}, {r.iterations} iterations")
print(f"  scipy.optimize.minimize  {peer * 1e3:8.2f} ms  success={success}, objective {fun:.8f}, {nit} iterations")
print(f"  ratio {ours / peer:.3f}x (target at most 1.1x)")
