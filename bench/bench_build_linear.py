"""Build time of a large linear model, velmo against PuLP, measured in one run.

The model: N continuous variables, the objective sum(c_i * x_i) over all of them, and 20
rows, row r summing every 20th variable starting at r. Each variable appears once in the
objective and once in a row, so the model has 2N terms. Both libraries are timed from an
empty model to the last row added; the figure is wall time per term, best of two runs.

    python bench/bench_build_linear.py [N]
"""

import gc
import sys
import time

import velmo as vo

ROWS = 20


def coefficients(n):
    return [1.0 + (i % 7) * 0.5 for i in range(n)]


def build_velmo(n, coefs):
    t0 = time.perf_counter()
    m = vo.Model("bench")
    xs = m.variables("x", n, lower=0)
    t1 = time.perf_counter()
    objective = vo.sum([c * x for c, x in zip(coefs, xs)])
    m.minimize(objective)
    t2 = time.perf_counter()
    for r in range(ROWS):
        m.add(vo.sum(xs[r::ROWS]) <= 1, name=f"row{r}")
    t3 = time.perf_counter()
    assert m.num_vars == n and m.num_constraints == ROWS
    return t3 - t0, {"variables": t1 - t0, "objective": t2 - t1, "rows": t3 - t2}


def build_pulp(n, coefs):
    import pulp

    t0 = time.perf_counter()
    prob = pulp.LpProblem("bench", pulp.LpMinimize)
    xs = [pulp.LpVariable(f"x_{i}", lowBound=0) for i in range(n)]
    t1 = time.perf_counter()
    prob += pulp.lpSum(c * x for c, x in zip(coefs, xs))
    t2 = time.perf_counter()
    for r in range(ROWS):
        prob += pulp.lpSum(xs[r::ROWS]) <= 1, f"row{r}"
    t3 = time.perf_counter()
    assert len(prob.constraints) == ROWS
    return t3 - t0, {"variables": t1 - t0, "objective": t2 - t1, "rows": t3 - t2}


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
    terms = 2 * n
    coefs = coefficients(n)
    results = {}
    # Best of two runs each: the machine is shared, and the better run is the less disturbed.
    for name, build in (("velmo", build_velmo), ("PuLP", build_pulp)):
        outcomes = []
        for _ in range(2):
            outcomes.append(build(n, coefs))
            gc.collect()
        total, phases = min(outcomes, key=lambda o: o[0])
        results[name] = total
        detail = ", ".join(f"{k} {v:.3f} s" for k, v in phases.items())
        print(f"{name:6s} {total:8.3f} s  {total / terms * 1e9:8.1f} ns/term  ({detail})")
    ratio = results["PuLP"] / results["velmo"]
    print(f"N = {n} variables, {terms} terms; velmo is {ratio:.1f}x faster per term than PuLP "
          f"(goal: at least 5x)")


if __name__ == "__main__":
    main()
