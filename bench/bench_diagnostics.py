"""Diagnostics at size: validate() and sensitivity() on the transportation LP of
bench_transport_lp.py (100,000 variables, 1,100 rows) against the time the model took to
build, and infeasibility_report() on infeasible chains of 100, 1,000 and 5,000 rows with the
growth exponent of its time.

    python bench/bench_diagnostics.py
"""

import math

import numpy as np

from timing import timed
import velmo as vo

S, D = 100, 1000


def transport_data():
    """Costs (a flat list), demands and the one supply of every source."""
    rng = np.random.default_rng(7)
    cost = rng.uniform(1.0, 20.0, size=(S, D)).round(2).ravel().tolist()
    demand = rng.integers(5, 50, size=D).astype(float)
    return cost, demand, demand.sum() / S * 1.1


def transport():
    cost, demand, supply = transport_data()
    m = vo.Model("transport")
    x = m.variables("x", S * D, lower=0)
    for i in range(S):
        m.add(vo.sum(x[i * D:(i + 1) * D]) <= supply)
    for j in range(D):
        m.add(vo.sum(x[j::D]) >= float(demand[j]))
    m.minimize(vo.sum([c * v for c, v in zip(cost, x)]))
    return m


def infeasible_chain(n):
    """n rows: x_k + x_{k+1} <= 15 along a chain, then x_0 >= 8 and x_1 >= 8 at the end."""
    m = vo.Model()
    xs = m.variables("x", n - 1, lower=0, upper=10)
    for k in range(n - 3):
        m.add(xs[k] + xs[k + 1] <= 15)
    m.add(xs[0] >= 8, name="need0")
    m.add(xs[1] >= 8, name="need1")
    m.minimize(vo.sum(xs))
    return m


def main():
    m, t_build = timed(transport)
    findings, t_validate = timed(m.validate)
    r = m.solve()
    _, t_sens = timed(r.sensitivity)
    print(f"transportation LP, {m.num_vars} variables: build {t_build:.3f}s, validate {t_validate:.4f}s "
          f"({t_validate / t_build:.3f} of build), sensitivity {t_sens:.4f}s ({t_sens / t_build:.3f} of build); "
          f"{len(findings)} findings")
    sizes, times = [], []
    for n in (100, 1000, 5000):
        r = infeasible_chain(n).solve()
        rep, t = timed(r.infeasibility_report)
        sizes.append(n)
        times.append(t)
        print(f"infeasibility_report, {n:5d} rows: {t:8.4f}s, members {rep['constraint_names']}")
    for k in range(1, len(sizes)):
        e = math.log(times[k] / times[k - 1]) / math.log(sizes[k] / sizes[k - 1])
        print(f"growth exponent {sizes[k - 1]} -> {sizes[k]} rows: {e:.2f}")


if __name__ == "__main__":
    main()
