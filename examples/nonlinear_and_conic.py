"""One model for each of the solvers that are not HiGHS or OSQP:

- Hock & Schittkowski problem 71, a small nonlinear program, through Ipopt (via CasADi);
- the distance from a point to a polyhedron, a second-order cone program, through Clarabel;
- the smallest eigenvalue of a symmetric matrix as a PSD cone program, through Clarabel;
- MINLPLib's ex1221, a mixed-integer nonlinear program, through Bonmin (via CasADi);
- a QP forced onto SciPy's SLSQP, and what happens when a solver cannot take a model.

    python examples/nonlinear_and_conic.py
"""

import numpy as np

import velmo as vo


def report(label, r, detail):
    """One line per solve: its solver and status, and `detail(r)` only when it found a point."""
    text = f"{label} -> {r.solver}: {r.status}"
    if r.objective is not None:
        text += ", " + detail(r)
    print(text)

# HS071: min x1 x4 (x1 + x2 + x3) + x3  s.t.  x1 x2 x3 x4 >= 25,  sum xi^2 = 40,  1 <= x <= 5.
m = vo.Model("hs071")
x1, x2, x3, x4 = (m.variable(f"x{i}", 1, 5) for i in range(1, 5))
m.minimize(x1 * x4 * (x1 + x2 + x3) + x3)
m.add(x1 * x2 * x3 * x4 >= 25)
m.add(x1 * x1 + x2 * x2 + x3 * x3 + x4 * x4 == 40)
r = m.solve(warm_start=[1, 5, 5, 1])
report(m.problem_type, r, lambda r: f"objective {r.objective:.7f} (published 17.0140173), "
       f"{ {k: round(v, 6) for k, v in r.values().items()} }")

# Distance from (3, 4) to {x1 + x2 <= 1, x >= 0}: min t s.t. t >= ||x - (3, 4)||.
m = vo.Model("distance")
p1, p2 = m.variable("p1", lower=0), m.variable("p2", lower=0)
t, d1, d2 = m.variable("t"), m.variable("d1"), m.variable("d2")
m.add(p1 + p2 <= 1)
m.add(d1 - p1 == -3)
m.add(d2 - p2 == -4)
m.add_soc_cone([t, d1, d2])
m.minimize(t)
report("SOC", m.solve(), lambda r: f"distance {r.objective:.6f} at ({r.value(p1):.4f}, {r.value(p2):.4f}); "
       f"by hand 6/sqrt(2) = {6 / np.sqrt(2):.6f}")

# Smallest eigenvalue: max lam s.t. A - lam I is positive semidefinite.
A = np.array([[4.0, 1.0, -2.0], [1.0, 3.0, 0.5], [-2.0, 0.5, 5.0]])
m = vo.Model("eigen")
lam = m.variable("lam")
entries = []
for c in range(3):
    for row in range(c + 1):
        v = m.variable(f"X{row}{c}")
        m.add(v + (lam if row == c else 0) == A[row, c])
        entries.append(v)
m.add_psd_cone(entries)
m.maximize(lam)
report("PSD", m.solve(), lambda r: f"smallest eigenvalue {r.objective:.6f}; numpy {np.linalg.eigvalsh(A)[0]:.6f}")

# ex1221 (Floudas 1995, example 12.2.1): binaries y choose which nonlinear equations bind.
m = vo.Model("ex1221")
x1, x2 = m.variable("x1", 0, 10), m.variable("x2", 0, 10)
y1, y2, y3 = m.binary("y1"), m.binary("y2"), m.binary("y3")
m.minimize(2 * x1 + 3 * x2 + 1.5 * y1 + 2 * y2 - 0.5 * y3)
m.add(x1 * x1 + y1 == 1.25)
m.add(x2 * vo.sqrt(x2) + 1.5 * y2 == 3)
m.add(x1 + y1 <= 1.6)
m.add(1.333 * x2 + y2 <= 3)
m.add(-y1 - y2 + y3 <= 0)
report("MINLP", m.solve(), lambda r: f"objective {r.objective:.4f} (published 7.6672), "
       f"y = {[r.value(v) for v in (y1, y2, y3)]}")

# The same QP on every solver that takes it.
m = vo.Model("qp")
x, y = m.variable("x", 0, 5), m.variable("y", 0, 5)
m.minimize(x * x + y * y + x * y - 4 * x - 5 * y)
for solver in ("highs", "osqp", "scipy", "clarabel", "ipopt"):
    report("QP", m.solve(solver=solver), lambda r: f"{r.objective:.6f} at ({r.value(x):.4f}, {r.value(y):.4f})")

# A solver that would have to drop part of the model is refused before it runs.
m = vo.Model("mixed")
z = m.variable("z", 0, 3)
m.add(vo.sin(z) <= 0.5)
m.maximize(z)
try:
    m.solve(solver="highs")
except ValueError as e:
    print("refused:", e)
report("NLP", m.solve(), lambda r: f"z = {r.value(z):.6f}")
