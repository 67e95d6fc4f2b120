"""Repeats each public operation many times and prints the growth of the resident set.

    python tools/leak_check.py                      # every path, 100,000 iterations each
    python tools/leak_check.py --iterations 20000 --only solve

After a warm-up, the resident set size is read every 10,000 iterations; a path whose
growth stays flat (under 1 MB over the measured iterations) does not leak. The exit status
is 1 when some path grows by 1 MB or more. Not a test: it takes about a quarter of an hour.

Every path is one row of PATHS: a name and a function that builds its fixtures once and
returns the operation to repeat. Later additions to the module add their rows there.
"""

import argparse
import gc
import math
import os
import sys
import time

import velmo_opt as vo

LIMIT_MB = 1.0
STEP = 10_000


def rss_mb():
    with open("/proc/self/statm") as f:
        pages = int(f.read().split()[1])
    return pages * os.sysconf("SC_PAGE_SIZE") / 2 ** 20


def raises(f, *args, **kwargs):
    try:
        f(*args, **kwargs)
    except (TypeError, ValueError, OverflowError):
        return
    raise AssertionError(f"{f} did not raise")


# ---- fixtures

def lp_model():
    m = vo.Model("lp")
    x = m.variable("x", 0, 10)
    y = m.variable("y", 0, 10)
    m.maximize(3 * x + 2 * y + 1)
    m.add(x + y <= 4, name="cap")
    m.add(x + 3 * y <= 6)
    return m, x, y


def milp_model(integral):
    m = vo.Model("milp")
    x = m.integer("x", 0, 10)
    y = m.integer("y", 0, 10)
    m.maximize(x + y)
    # Integral relaxation (taken directly) or a fractional one (branch and bound).
    m.add(2 * x + 2 * y <= (8 if integral else 7))
    return m


def infeasible_model():
    m = vo.Model("infeasible")
    z = m.variable("z", 0, 1)
    m.add(z >= 2)
    return m


def qp_model():
    m = vo.Model("qp")
    x = m.variable("x", -5, 5)
    y = m.variable("y", -5, 5)
    m.minimize(x * x + y * y - 2 * x + x * y)
    m.add(x + y >= 1)
    return m


# ---- paths: each returns the operation to repeat

def expr_linear():
    m, x, y = lp_model()

    def op():
        e = x + 2 * y - 3
        f = (e * 2) / 4 - x
        -e, 5 - e, 1.5 + x, x - y, e / -3
        e <= x, x >= 5, 5 <= e, e == f, x != y
        vo.sum([x, e, 2, f, y])
    return op


def expr_quadratic():
    m, x, y = lp_model()

    def op():
        q = x * y + x ** 2 - x + 3
        r = q * 2 + q / 4 + (x + y) - 1
        -q, pow(x, 2, None), 2 * q
        q <= 1, q >= x, r == q + 1, q <= x + y
        q * x, q / y, 1 / q, x - q
    return op


def expr_nonlinear():
    m, x, y = lp_model()

    def op():
        g = vo.sin(x) + vo.cos(y) * vo.sqrt(x * y) / (x + 1)
        h = 2 - g * 3 + x * g - (x + y) / g
        -h, g * g, g / 2, 1 / g, vo.sin(g + h)
        g <= 1, x >= g, h == x * y, g != 0
    return op


def expr_errors():
    m, x, y = lp_model()
    e, q, g = x + y, x * y, vo.sin(x)

    def op():
        raises(lambda: x + "a")
        raises(lambda: "a" - e)
        raises(lambda: x * e)
        raises(lambda: e * None)
        raises(lambda: x / 0)
        raises(lambda: e / None)
        raises(lambda: q - q)
        raises(lambda: 5 - q)
        raises(lambda: q * [1])
        raises(lambda: g + None)
        raises(lambda: g / 0.0)
        raises(lambda: x <= None)
        raises(lambda: x < 1)
        raises(lambda: x ** 3)
        raises(lambda: x ** 2.0)
        raises(vo.sum, [x, None])
        raises(vo.sum, (x,))
        raises(vo.sin, None)
        raises(lambda: x < q)
    return op


def expr_texts():
    m, x, y = lp_model()
    values = [x, x + 2 * y - 3, x * y + x, vo.sin(x) * 2 - y, x <= 1, vo.cos(x) >= y,
              x * math.nan + math.inf]

    def op():
        for v in values:
            repr(v)
    return op


def model_building():
    def op():
        m = vo.Model("build")
        x = m.variable("x", 0, 1)
        k = m.integer("k", lower=-3, upper=3)
        b = m.binary("b")
        vs = m.variables("v", 20, 0, 5)
        m.integers("i", 3)
        m.binaries("c", 3)
        m.minimize(vo.sum(vs) + x * k)
        m.maximize(vo.sin(x) + b)
        m.add(x + k <= 3, name="row")
        m.add(vs[0] * vs[1] <= 2)
        m.add(x == b)
        m.add_soc_cone([x, vs[0], vs[1]])
        m.add_psd_cone(vs[:6])
        m.num_vars, m.num_constraints, m.problem_type, repr(m)
    return op


def model_errors():
    m, x, y = lp_model()

    def op():
        raises(vo.Model, 3)
        raises(m.variable, None)
        raises(m.variable, "v", lower="a")
        raises(m.variable, "v", upper=10 ** 400)
        raises(m.variables, "v", -1)
        raises(m.variables, "v", 2 ** 33)
        raises(m.binaries, None, 2)
        raises(m.add, None)
        raises(m.add, x <= 1, name=3)
        raises(m.add_soc_cone, [x])
        raises(m.add_soc_cone, [x, None])
        raises(m.add_psd_cone, [x, y])
        raises(m.minimize, "x")
        raises(m.maximize)
    return op


def solve_path(make, **options):
    def path():
        m = make()

        def op():
            m.solve(**options)
        return op
    return path


def refused_model():
    m = vo.Model()
    x, y = m.variable("x", 0, 1), m.variable("y", float("inf"), float("inf"))
    m.minimize(x + float("nan") * y)
    m.add(x + y >= 0.5)
    return m


def nlp_model():
    m = vo.Model("nlp")
    x = m.variable("x", 1, 5)
    y = m.variable("y", 1, 5)
    m.minimize(x * y * (x + y) + vo.sin(x) + vo.sqrt(y) / x)
    m.add(x * x + y * y <= 20)
    m.add(vo.cos(x) + y >= 1.5)
    m.add(x + y >= 3)
    return m


def conic_model():
    m = vo.Model("conic")
    t, x, y = m.variable("t"), m.variable("x"), m.variable("y")
    m.add(x + y == 5)
    m.add_soc_cone([t, x, y])
    a, b, c = m.variable("a"), m.variable("b"), m.variable("c")
    m.add(a == 2)
    m.add(c == 2)
    m.add_psd_cone([a, b, c])
    m.minimize(t - b)
    return m


def minlp_model():
    m = vo.Model("minlp")
    k = m.integer("k", 0, 6)
    x = m.variable("x", 0, 3)
    m.minimize(vo.cos(k) + x * x - x)
    m.add(vo.sin(x) + k <= 5)
    return m


def refused_solves():
    nlp, cone = nlp_model(), conic_model()

    def op():
        raises(nlp.solve, solver="highs")
        raises(nlp.solve, solver="clarabel")
        raises(cone.solve, solver="ipopt")
        raises(cone.solve, solver="scipy")
    return op


def solve_options():
    m, x, y = lp_model()
    previous = m.solve()
    mip = milp_model(False)
    mip_start = mip.solve()

    def op():
        m.solve(time_limit=10.0, gap=1e-6, verbose=False, presolve=False, solver="HiGHS",
                solver_method="simplex", run_crossover="on", parallel="off",
                simplex_scale_strategy=1, scale_cleanup=True, eliminate_redundant=True)
        m.solve(basis=previous.basis(), warm_start=previous)
        mip.solve(warm_start=mip_start, time_limit=10)
        mip.solve(warm_start=[1.0, 2.0], basis=None)
        m.solve(warm_start="abc", unknown=1)
    return op


def solve_errors():
    m, x, y = lp_model()
    other = vo.Model()
    other.variable("only")
    other.minimize(y)

    def op():
        raises(m.solve, time_limit="a")
        raises(m.solve, verbose=1)
        raises(m.solve, threads=-1)
        raises(m.solve, solver=None)
        raises(m.solve, 1)
        raises(other.solve)
    return op


def one_line():
    m, x, y = lp_model()

    def op():
        vo.maximize(x + 5, [x <= 1, y <= 2, x + y >= 0])
        vo.minimize(x * x + y * y - x, [x + y >= 1], time_limit=10.0)
        vo.minimize(3)
        raises(vo.minimize, None)
        raises(vo.minimize, x, "abc")
        raises(vo.maximize, x, [None])
        raises(vo.minimize, x, [x >= 1], verbose=1)
    return op


def result_getters():
    m, x, y = lp_model()
    solved = m.solve()
    mip = milp_model(False).solve()
    qp = qp_model().solve()
    unsolved = infeasible_model().solve()
    z = vo.Model().variable("z")
    far = vo.Model().variables("v", 9)[8]

    def op():
        for r in (solved, mip, qp, unsolved):
            (r.status, r.objective, r.solve_time, r.solver, r.iterations, r.nodes, r.gap,
             r.is_optimal, r.var_names_list, r.duals, r.basis(), repr(r))
        for r in (solved, mip, qp):
            r.primals, r.values(), r.value(x), r.value(y)
            raises(r.value, far)
        raises(lambda: unsolved.primals)
        raises(unsolved.values)
        raises(unsolved.value, z)
        raises(solved.value, None)
    return op


def sphere(x):
    return sum(v * v for v in x)


def bad_objective(x):
    raise RuntimeError("always fails")


def blackbox():
    def op():
        r = vo.solve_de(sphere, [(-1, 1), (-2, 2)], pop_size=8, max_generations=5, seed=3)
        p = vo.solve_parallel_de(sphere, [(-1, 1)], pop_size=6, max_generations=5)
        for res in (r, p):
            res.x, res.objective, res.iterations, res.evaluations, res.converged, res.history
            repr(res)
    return op


def blackbox_failures():
    def op():
        vo.solve_de(bad_objective, [(0, 1)], pop_size=4, max_generations=3)
        vo.solve_de(lambda x: "3", [(0, 1)], pop_size=4, max_generations=3)
        vo.solve_de(None, [(0, 1)], pop_size=4, max_generations=3)
        raises(vo.solve_de, sphere, [(0, 1, 2)])
        raises(vo.solve_de, sphere, [[0, 1]])
        raises(vo.solve_de, sphere, [])
        raises(vo.solve_de, sphere, [(0, 1)], pop_size=1)
        raises(vo.solve_de, sphere, [(0, 1)], pop_size=-1)
        raises(vo.solve_parallel_de, sphere, [(0, 10 ** 400)])
        raises(vo.solve_de, sphere, [(0, 1)], tol=None)
    return op


PATHS = [
    ("expr: linear arithmetic", expr_linear),
    ("expr: quadratic arithmetic", expr_quadratic),
    ("expr: nonlinear arithmetic", expr_nonlinear),
    ("expr: error paths", expr_errors),
    ("expr: texts", expr_texts),
    ("model: building", model_building),
    ("model: error paths", model_errors),
    ("solve: HiGHS LP", solve_path(lambda: lp_model()[0])),
    ("solve: HiGHS MILP, integral relaxation", solve_path(lambda: milp_model(True))),
    ("solve: HiGHS MILP, branch and bound", solve_path(lambda: milp_model(False))),
    ("solve: HiGHS QP (forced)", solve_path(qp_model, solver="highs")),
    ("solve: OSQP QP", solve_path(qp_model)),
    ("solve: infeasible", solve_path(infeasible_model)),
    ("solve: refused by HiGHS", solve_path(refused_model)),
    ("solve: MIP stopped before any point", solve_path(lambda: milp_model(False), time_limit=0.0)),
    ("solve: Ipopt NLP, expressions", solve_path(nlp_model)),
    ("solve: Ipopt QP, compiled (forced)", solve_path(qp_model, solver="ipopt")),
    ("solve: Ipopt stopped by its time limit", solve_path(nlp_model, time_limit=0.0)),
    ("solve: Clarabel SOC and PSD cones", solve_path(conic_model)),
    ("solve: Clarabel stopped by its time limit", solve_path(conic_model, time_limit=1e-9)),
    ("solve: SLSQP QP (forced)", solve_path(qp_model, solver="scipy")),
    ("solve: SLSQP LP, iteration cap", solve_path(lambda: lp_model()[0], solver="slsqp", time_limit=0.05)),
    ("solve: Bonmin MINLP", solve_path(minlp_model)),
    ("solve: Bonmin MIQP (forced), time limit", solve_path(lambda: milp_model(False), solver="bonmin", time_limit=5.0)),
    ("solve: refused forced solvers", refused_solves),
    ("solve: every option", solve_options),
    ("solve: error paths", solve_errors),
    ("one-line minimize/maximize", one_line),
    ("result: getters and errors", result_getters),
    ("blackbox: solve_de, solve_parallel_de", blackbox),
    ("blackbox: failing objectives and errors", blackbox_failures),
]


def measure(name, make, iterations, warmup):
    step = min(STEP, max(1, iterations // 10))
    op = make()
    for _ in range(warmup):
        op()
    gc.collect()
    start = last = rss_mb()
    steps = []
    t0 = time.perf_counter()
    for k in range(1, iterations + 1):
        op()
        if k % step == 0:
            gc.collect()
            now = rss_mb()
            steps.append(now - last)
            last = now
    total = last - start
    seconds = time.perf_counter() - t0
    per_step = " ".join(f"{s:+.2f}" for s in steps)
    print(f"{name:42s} {total:+7.2f} MB  per {step:,}: {per_step}  ({seconds:.0f} s)", flush=True)
    return total


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--iterations", type=int, default=100_000)
    parser.add_argument("--warmup", type=int, default=10_000)
    parser.add_argument("--only", default="", help="run the paths whose name contains this")
    args = parser.parse_args()
    print(f"velmo_opt from {vo.__file__}; {args.iterations:,} iterations per path after "
          f"{args.warmup:,} of warm-up; RSS growth in MB")
    worst = 0.0
    for name, make in PATHS:
        if args.only in name:
            worst = max(worst, measure(name, make, args.iterations, args.warmup))
    flat = worst < LIMIT_MB
    print(f"largest growth {worst:+.2f} MB: {'flat' if flat else 'LEAK'} (limit {LIMIT_MB} MB)")
    return 0 if flat else 1


if __name__ == "__main__":
    sys.exit(main())
