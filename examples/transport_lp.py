"""A transportation LP with 100,000 variables: 100 depots ship to 1,000 shops at least what
each shop needs, within each depot's supply, at the least cost. Shows that building and
loading the model cost little next to HiGHS's own run.

    python examples/transport_lp.py [depots] [shops]
"""

import random
import sys
import time

import velmo as vo

depots = int(sys.argv[1]) if len(sys.argv) > 1 else 100
shops = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
rng = random.Random(7)
demand = [rng.randint(5, 50) for _ in range(shops)]
supply = sum(demand) / depots * 1.1

t0 = time.perf_counter()
m = vo.Model("transport")
x = m.variables("x", depots * shops, lower=0)
for i in range(depots):
    m.add(vo.sum(x[i * shops:(i + 1) * shops]) <= supply, name=f"supply_{i}")
for k in range(shops):
    m.add(vo.sum(x[k::shops]) >= demand[k], name=f"demand_{k}")
m.minimize(vo.sum([round(rng.uniform(1, 20), 2) * v for v in x]))
built = time.perf_counter() - t0

t0 = time.perf_counter()
r = m.solve()
print(m)
print(r)
print(f"build {built:.3f}s, solve() {time.perf_counter() - t0:.3f}s (HiGHS load and run {r.solve_time:.3f}s)")
print(f"shipped from depot 0: {sum(r.value(v) for v in x[:shops]):.1f} of {supply:.1f}")
