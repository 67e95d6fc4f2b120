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
import itertools
import math
import os
import sys
import tempfile
import time
import warnings

import numpy as np

import velmo
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
    except (TypeError, ValueError, OverflowError, MemoryError):
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


def expr_functions():
    import numpy as np
    import scipy.sparse as sp

    import velmo

    m, x, y = lp_model()
    sigma = np.array([[2.0, 0.5], [0.5, 1.0]])
    sparse = sp.csr_matrix(sigma)

    def op():
        g = velmo.exp(x) + velmo.log(x + 1) - velmo.tan(y) * velmo.atan(x * y) + velmo.tanh(velmo.abs(y))
        velmo.power(x, 2.5), velmo.power(x - 1, 2), velmo.power(g, 1), velmo.square(g), velmo.square(1 - x)
        velmo.product(x + 1, y - 1), velmo.product(g, x), velmo.product(3, x * y)
        velmo.dot(np.array([1.0, 2.0]), [x, y]), velmo.dot([1, 2], (x * y, g))
        velmo.quad_form([x, y], sigma), velmo.quad_form([x, y], sparse)
        velmo.sum(k * x for k in range(5)), velmo.sum((x * y, g, 2)), velmo.sum(np.array([x, y]))
        repr(g), g <= 1
        raises(velmo.power, x, float("nan"))
        raises(velmo.dot, [1, 2], [x])
        raises(velmo.quad_form, [x], sigma)
        raises(velmo.sum, [x, None])
        raises(lambda: (x - 1) * (x - 1))
        raises(lambda: (x + 1) ** 2)
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


def foreign_and_truth():
    m, x, y = lp_model()
    r = m.solve()
    other = vo.Model()
    far = other.variable("far")
    other.variable("far")  # a duplicate name for validate()
    warnings.simplefilter("ignore")  # unknown options warn on every call

    def op():
        raises(m.add, x + far <= 1, name="mixed")
        raises(m.minimize, x * far + vo.sin(far))
        raises(m.add_soc_cone, [x, far])
        raises(m.add_psd_cone, (far,))
        raises(vo.minimize, x + far)
        raises(vo.maximize, x, [x <= 1, far <= 1])
        raises(r.value, far)
        raises(r.why, far)
        raises(r.why_detail, far)
        raises(bool, x <= 1)
        raises(lambda: 1 <= x <= 2)
        raises(lambda: x in [y, x])
        raises(vo.Model().add, vo.sum([far, 1]) <= 2)
        # velmo's own functions, sums grown in place and matrix rows refuse them too.
        raises(m.minimize, velmo.exp(far) + velmo.dot([1.0, 2.0], [x, far]))
        raises(m.add, velmo.quad_form([x, far], [[1, 0], [0, 1]]) <= 1)
        grown = x + y
        grown += far
        raises(m.add, grown <= 1)
        raises(m.add_matrix, [[1.0, 1.0]], [x, far], "<=", 1)
        m.validate()
        vo.minimize(x, [x >= 1], solver="osqp", timelimit=1)
        vo.solve_sa(sphere, [(0, 1)], max_iterations=5, maxiter=3)
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


def diagnostics():
    m, x, y = lp_model()
    m.add(x - x <= 1)
    m.add(1e-4 * x + 1e4 * y <= 1e13)
    solved = m.solve()
    unsolved = infeasible_model().solve()
    quick = vo.minimize(x, [x >= 1])
    far = vo.Model().variables("v", 9)[8]

    def op():
        m.validate()
        for r in (solved, unsolved, quick):
            r.sensitivity()
        solved.why(x), solved.why_detail(y), unsolved.infeasibility_report(), solved.infeasibility_report()
        raises(solved.why, far)
        raises(solved.why_detail, "x")
        raises(unsolved.why, x)
        raises(quick.why, x)
        raises(quick.infeasibility_report)
    return op


def exact_reports():
    # Conflicts propagation cannot show: HiGHS's IIS of the relaxation, and the deletion
    # filter over MIP runs; a feasible model; crossed bounds.
    hidden = vo.Model()
    a, b = hidden.variable("a"), hidden.variable("b")
    hidden.add(a - b >= 1)
    hidden.add(b - a >= 1)
    mip = vo.Model()
    k, n = mip.integer("k", 0, 10), mip.integer("n", 0, 10)
    mip.add(2 * k + 2 * n == 1)
    mip.add(k + n <= 8)
    crossed = vo.Model()
    w = crossed.variable("w", 3, 1)
    crossed.add(w <= 10)
    results = [hidden.solve(), mip.solve(), lp_model()[0].solve(), crossed.solve()]

    def op():
        for r in results:
            r.infeasibility_report()
    return op


def ranging():
    m = lp_model()[0]
    solved = m.solve(ranging=True)
    plain = m.solve()
    mip = milp_model(False).solve(ranging=True)

    def op():
        solved.ranging()
        m.solve(ranging=True).ranging()
        raises(plain.ranging)
        raises(mip.ranging)
        raises(solved.ranging, 1)
        raises(m.solve, ranging=1)
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
        raises(vo.solve_de, None, [(0, 1)], pop_size=4, max_generations=3)
        raises(vo.solve_de, sphere, [(0, 1, 2)])
        raises(vo.solve_de, sphere, [[0, 1]])
        raises(vo.solve_de, sphere, [])
        raises(vo.solve_de, sphere, [(0, 1)], pop_size=1)
        raises(vo.solve_de, sphere, [(0, 1)], pop_size=-1)
        raises(vo.solve_parallel_de, sphere, [(0, 10 ** 400)])
        raises(vo.solve_de, sphere, [(0, 1)], tol=None)
    return op


def exports():
    m, x, y = lp_model()
    m.add(vo.sin(x) * y <= 2, name="wave")
    m.add_soc_cone([x, y])
    q = qp_model()
    awkward = vo.Model("it's\n")
    awkward.variable("x[0]", 0, 1)
    awkward.binary("class")
    shared = vo.Model()
    e = vo.sin(shared.variable("s"))
    for _ in range(40):
        e = e * e
    shared.add(e <= 1)

    def op():
        for model in (m, q, awkward):
            model.to_lp(), model.summary(), model.to_python()
        raises(shared.to_python)
        raises(m.to_lp, 1)
    return op


def persistent():
    m, x, y = lp_model()
    p = vo.PersistentHighs.from_model(model=m)

    def op():
        p.update_col_bounds([0, 1, 0], [0.0, 0.0, 1.0], [10.0, 10.0, 9.0])
        p.update_row_bounds([1], [-math.inf], [6.0])
        p.update_col_costs([0], [-3.0])
        p.update_matrix_coeffs([0], [1], [1.0])
        r = p.resolve()
        r.objective, r.primals, r.duals, r.basis(), repr(r)
        p.row_bounds(), p.col_bounds(), p.col_costs(), p.num_cols(), p.num_rows()
    return op


def persistent_load():
    m, x, y = lp_model()
    q = qp_model()
    refused = refused_model()

    def op():
        vo.PersistentHighs.from_model(model=m, time_limit=10.0, gap=1e-6).resolve()
        vo.PersistentHighs.from_model(model=q).resolve()
        vo.PersistentHighs.from_model(model=refused).resolve()
    return op


def persistent_errors():
    m, x, y = lp_model()
    p = vo.PersistentHighs.from_model(model=m)

    def op():
        raises(vo.PersistentHighs.from_model)
        raises(vo.PersistentHighs.from_model, model=x)
        raises(vo.PersistentHighs.from_model, model=m, verbose=1)
        raises(p.update_col_bounds, [5], [0], [1])
        raises(p.update_col_bounds, [-1], [0], [1])
        raises(p.update_col_bounds, "0", [0], [1])
        raises(p.update_col_bounds, [0, 1], [0], [1, 1])
        raises(p.update_col_bounds, [0], [math.inf], [math.inf])
        raises(p.update_row_bounds, [0], [math.nan], [1])
        raises(p.update_col_costs, [2 ** 70], [1])
        raises(p.update_matrix_coeffs, [0], [0], [math.inf])
        raises(p.update_matrix_coeffs, [0], [None], [1])
    return op


def scenario_cost(x, s):
    return (x[0] - s["c"]) ** 2


def failing_scenario(x, s):
    if s > 1:
        raise RuntimeError("scenario fails")
    return x[0] * s


def stochastic():
    weighted = [{"c": 0.5, "probability": 0.25}, {"c": -1.0, "probability": 0.75}]
    plain = [{"c": 0.5}, {"c": 2.0}]

    def op():
        r = vo.stochastic_solve(scenario_cost, [(-1, 1)], weighted, pop_size=4, max_generations=3)
        p = vo.stochastic_solve(scenario_cost, [(-1, 1)], plain, pop_size=4, max_generations=3)
        vo.stochastic_solve(failing_scenario, [(0, 1)], (1.0, 2.0), pop_size=4, max_generations=2)
        vo.stochastic_solve(lambda x, s: "3", [(0, 1)], [None], pop_size=4, max_generations=2)
        for res in (r, p):
            res.x, res.objective, res.history
            repr(res)
        raises(vo.stochastic_solve, scenario_cost, [(0, 1)], [])
        raises(vo.stochastic_solve, 5, [(0, 1)], plain)
        raises(vo.stochastic_solve, scenario_cost, [(0, 1)], [{"probability": 0}])
        raises(vo.stochastic_solve, scenario_cost, [(0, 1)], [{"probability": -1}, {"probability": 2}])
        raises(vo.stochastic_solve, scenario_cost, [(0, 1)], "ab")
        raises(vo.stochastic_solve, scenario_cost, [(0, 1)], plain, seed=None)
        raises(vo.stochastic_solve, scenario_cost, [(0, 1)], plain, pop_size=2)
    return op


def prox(c):
    return lambda rho, t: [(c + rho * v) / (1.0 + rho) for v in t]


def failing_subproblem(rho, t):
    raise RuntimeError("no local point")


def interrupting_subproblem(rho, t):
    raise KeyboardInterrupt


def admm():
    import numpy as np  # answers as arrays take their own reading path

    subproblems = [prox(1.0), prox(-2.0), prox(4.0)]
    awkward = [failing_subproblem, lambda r, t: t[:-1], lambda r, t: "ab", lambda r, t: (*t, 1.0),
               lambda r, t: np.array(t) + 1.0, lambda r, t: np.array(t)[:1],
               lambda r, t: np.array(["a", "b"]), prox(3.0)]

    def op():
        d = vo.solve_admm(subproblems, 3, max_iter=5)
        vo.solve_admm(awkward, 2, max_iter=3)
        vo.solve_admm([], 2, max_iter=2)
        d["x"], d["z"], d["converged"]
        raises(vo.solve_admm, [5], 2)
        raises(vo.solve_admm, "ab", 2)
        raises(vo.solve_admm, subproblems, -1)
        raises(vo.solve_admm, subproblems, 2, tol=None)
        raises(vo.solve_admm, subproblems, 2, verbose=True)
        raises(vo.solve_admm, subproblems, 2 ** 62)
        try:
            vo.solve_admm([interrupting_subproblem], 2)
        except KeyboardInterrupt:
            pass
    return op


def executors():
    import concurrent.futures as cf

    pool = cf.ThreadPoolExecutor(max_workers=2)
    subproblems = [prox(1.0), prox(-2.0), failing_subproblem]

    def f2(x):
        if x[0] > 0.9:
            raise RuntimeError("scores +inf")
        return (1 - x[0]) ** 2

    def op():
        vo.pareto_frontier([lambda x: x[0], f2], [(0, 1)], method="nsga2", pop_size=6, generations=2, executor=pool)
        vo.stochastic_solve(lambda x, s: x[0] * s, [(0, 1)], [1, 2, 3], max_generations=2, pop_size=4,
                            executor=pool)
        vo.solve_admm(subproblems, 2, max_iter=3, executor=pool)
        vo.solve_cmaes(f2, [(0, 1)] * 2, max_generations=2, executor=pool)
        vo.solve_cmaes(f2, [(0, 1)] * 2, variant="full", max_generations=2, restarts=1, executor=pool)
        raises(vo.solve_admm, subproblems, 2, executor=3)
        raises(vo.solve_cmaes, f2, [(0, 1)], executor="pool")
    return op


def pareto():
    def f2(x):
        return (1 - x[0]) ** 2 + x[-1]

    objectives = [lambda x: x[0], f2]

    def op():
        for run in (vo.pareto_frontier(objectives, [(0, 1)] * 2, 2),
                    vo.pareto_frontier(objectives, [(0, 1)] * 2, method="nsga2", pop_size=8, generations=3),
                    vo.pareto_frontier(objectives + [lambda x: -x[1]], [(0, 1)] * 2, method="nsga3",
                                       pop_size=8, generations=3, das_dennis_divisions=3)):
            for d in run:
                d["x"], d["objectives"]
    return op


def pareto_failures():
    def boom(x):
        raise RuntimeError("always fails")

    def op():
        vo.pareto_frontier([boom, lambda x: "3"], [(0, 1)], method="nsga2", pop_size=6, generations=2)
        vo.pareto_frontier([lambda x: math.nan, boom, None.__class__], [(0, 1)], pop_size=5,
                           generations=2, seed="x", das_dennis_divisions=None)
        raises_any(vo.pareto_frontier, [boom, boom], [(0, 1)], 1)
        raises(vo.pareto_frontier, [boom], [(0, 1)])
        raises(vo.pareto_frontier, [boom, 5], [(0, 1)])
        raises(vo.pareto_frontier, "ab", [(0, 1)])
        raises(vo.pareto_frontier, [boom, boom], [[0, 1]])
        raises(vo.pareto_frontier, [boom, boom, boom], [(0, 1)], method="bogus")
        raises(vo.pareto_frontier, [boom, boom], [(0, 1)], -1)
    return op


def raises_any(f, *args, **kwargs):
    try:
        f(*args, **kwargs)
    except Exception:
        return
    raise AssertionError(f"{f} did not raise")


def blackbox_engines():
    def op():
        runs = [
            vo.solve_pso(sphere, [(-1, 1), (-2, 2)], pop_size=6, max_iterations=5, seed=3),
            vo.solve_sa(sphere, [(-1, 1)], max_iterations=20, cooling_rate=0.5),
            vo.solve_cmaes(sphere, [(-1, 1)] * 2, max_generations=5),
            vo.solve_cmaes(sphere, [(-1, 1)] * 3, variant="full", restarts=1, max_generations=4, tol=-1),
            vo.solve_portfolio(sphere, [(-1, 1)], max_evals=0),
        ]
        for res in runs:
            res.x, res.objective, res.iterations, res.evaluations, res.converged, res.history
            repr(res)
    return op


def growing_sums():
    m = vo.Model()
    xs = m.variables("x", 50)
    arr = np.empty(50, dtype=object)
    arr[:] = xs
    weights = np.arange(50.0)

    def op():
        e = 0
        for x in xs:
            e += x
        held = e
        e = e + 2 * xs[0] - 1
        branch = held - xs[1]  # held is no longer the tip: copied
        q = sum((x * x for x in xs[:10]), held)
        q = q + xs[2] - 3
        weights @ arr, arr.sum(), repr(branch), repr(q), held <= 4
    return op


def bulk_input(tmp):
    import scipy.sparse as sp

    def op():
        m = vo.Model()
        xs = m.variables("x", 4, lower=np.zeros(4), upper=[1, 2, 3, 4], names=["a", "b", "c", "d"])
        m.integers("k", 2, lower=[0, 1], names=("k0", "k1"))
        m.add_matrix(np.eye(4), xs, "<=", np.ones(4), name="cap")
        m.add_matrix(sp.random(3, 4, density=0.5, format="csr", random_state=1), xs, [">=", "<=", "=="], 0)
        m.maximize(vo.sum(xs))
        r = m.solve()
        m.add_matrix([[1, 1, 1, 1]], xs, "<=", 3)  # copies the rows the Result shares
        r.values(), r.sensitivity()
        m.write(os.path.join(tmp, "m.lp"))
        m.write(os.path.join(tmp, "m.mps"))
        velmo.read_model(os.path.join(tmp, "m.mps")).solve()
        raises(m.add_matrix, [[math.nan, 1, 1, 1]], xs, "<=", 1)
        raises(m.add_matrix, np.ones((1, 3)), xs, "<=", 1)
        raises(m.add_matrix, np.ones((1, 4)), xs, "<", 1)
        raises(m.add_matrix, np.ones((1, 4)), xs, "<=", 1, name=[1])
        raises(m.variables, "v", 2, lower=[1, 2, 3])
        raises(m.write, os.path.join(tmp, "m.txt"))
        raises(velmo.read_model, os.path.join(tmp, "none.mps.txt"))
    return op


def persistent_arrays():
    m, x, y = lp_model()
    p = vo.PersistentHighs.from_model(model=m)
    idx = np.array([0, 1])

    def op():
        p.update_col_bounds(idx, np.zeros(2), np.array([10.0, 10.0]))
        p.update_col_costs(idx.astype(np.uint32), np.array([-3.0, -2.0]))
        p.update_row_bounds(np.array([1]), np.array([-math.inf]), np.array([6.0]))
        raises(p.update_col_bounds, np.array([5]), np.zeros(1), np.ones(1))
        raises(p.update_col_costs, idx, np.array([math.nan, 1.0]))
        p.resolve()
    return op


def interrupting(x):
    raise KeyboardInterrupt


def blackbox_engine_failures():
    def op():
        vo.solve_pso(bad_objective, [(0, 1)], pop_size=3, max_iterations=3)
        vo.solve_sa(lambda x: math.nan, [(0, 1)], max_iterations=5)
        vo.solve_cmaes(lambda x: "3", [(0, 1)], variant="full", max_generations=2)
        for solver in (vo.solve_de, vo.solve_pso, vo.solve_sa, vo.solve_cmaes, vo.solve_portfolio):
            try:
                solver(interrupting, [(0, 1)])
            except KeyboardInterrupt:
                pass
            raises(solver, None, [(0, 1)])
        raises(vo.solve_pso, sphere, [])
        raises(vo.solve_portfolio, sphere, [])
        raises(vo.solve_cmaes, sphere, [(0, 1)], pop_size=1)
        raises(vo.solve_cmaes, sphere, [(0, 1)], variant=None)
        raises(vo.solve_sa, sphere, [(0, 1)], cooling_rate="x")
        raises(vo.solve_portfolio, sphere, [(0, 1)], seed=1)
        raises(vo.solve_portfolio, sphere, [(0, 1, 2)])
    return op


def steered_runs():
    """Every steering option on every engine that takes it, and their error paths."""
    box = [(-1, 1), (0, 3)]
    steer = dict(x0=[0.5, 1.0], max_evals=40, time_limit=60.0, integrality=[False, True],
                 constraints=lambda x: [x[0] - x[1]], callback=lambda d: d["generation"] == 3)
    failing = dict(constraints=lambda x: 1 / 0, callback=lambda d: None, max_evals=30)

    def op():
        for run in (vo.solve_de, vo.solve_parallel_de, vo.solve_pso, vo.solve_sa, vo.solve_cmaes):
            for options in (steer, failing):
                r = run(sphere, box, **options)
                r.message, r.constraint_violation, r.x, repr(r)
        vo.solve_cmaes(sphere, box, variant="full", restarts=1, **steer)
        vo.stochastic_solve(lambda x, s: sphere(x), box, [1, 2], **steer)
        front = vo.pareto_frontier([sphere, lambda x: x[0]], box, method="nsga2", pop_size=6, generations=5,
                                   **steer)
        front[0]["constraint_violation"]
        raises(vo.solve_de, sphere, box, x0=[5, 5])
        raises(vo.solve_de, sphere, box, x0=[0.0])
        raises(vo.solve_pso, sphere, box, max_evals=-1)
        raises(vo.solve_sa, sphere, box, time_limit=-1.0)
        raises(vo.solve_cmaes, sphere, box, callback=3)
        raises(vo.solve_cmaes, sphere, box, constraints="g")
        raises(vo.solve_de, sphere, box, integrality=[True])
        calls = itertools.count()
        raises(vo.solve_de, sphere, box, constraints=lambda x: [0.0] * (1 + (next(calls) > 0)))
        raises_any(vo.solve_de, sphere, box, callback=bad_objective)
        raises(vo.pareto_frontier, [sphere, sphere], box, max_evals=5)


def unusable_numbers():
    """Every solver refusing a model with a NaN right-hand side and a lower bound of +inf."""
    m = vo.Model()
    x = m.variable("x", 0, 1)
    m.variable("z", float("inf"), float("inf"))
    m.minimize(x)
    m.add(x <= float("nan"))
    solvers = ["highs", "osqp", "clarabel", "ipopt", "scipy", "bonmin"]

    def op():
        for solver in solvers:
            m.solve(solver=solver)
        vo.minimize(x * x, [x >= float("nan")])
    return op


def option_refusals():
    """A warm start longer than the model, a NaN time limit, HiGHS refusing cones and
    nonlinear terms at load, sizes that cannot fit in memory."""
    m, x, y = lp_model()
    cone, nlp = conic_model(), nlp_model()
    psd = vo.Model()
    xs = psd.variables("X", 1000 * 1001 // 2)
    psd.add_psd_cone(xs)

    def op():
        raises(m.solve, warm_start=[1.0, 2.0, 3.0])
        raises(m.solve, solver="ipopt", warm_start=[1.0, 2.0, 3.0])
        m.solve(time_limit=float("nan"))
        raises(vo.PersistentHighs.from_model, model=cone)
        raises(vo.PersistentHighs.from_model, model=nlp)
        raises(psd.solve)
        raises(vo.pareto_frontier, [sphere, sphere], [(0, 1)], 2 ** 62)
    return op


def broken_executors():
    """Executors that fail: not futures, a dead pool, cancelled futures, another answer."""
    import concurrent.futures as cf

    class NotFutures:
        def submit(self, fn, *args):
            return 42

    class Dead:
        def submit(self, fn, *args):
            f = cf.Future()
            f.set_exception(cf.BrokenExecutor("gone"))
            return f

    class Ignoring:
        def submit(self, fn, *args):
            f = cf.Future()
            f.set_result(1.0)
            return f

    def op():
        for ex in (NotFutures(), Dead(), Ignoring()):
            raises_any(vo.solve_cmaes, sphere, [(0, 1)], max_generations=2, executor=ex)
            raises_any(vo.solve_admm, [prox(1.0)], 1, max_iter=2, executor=ex)
        vo.solve_admm([failing_subproblem], 2, max_iter=3)
    return op


def stop_requests():
    """KeyboardInterrupt raised by conversions in operators, warm starts and probabilities."""
    m, x, y = lp_model()

    class Stops:
        def __float__(self):
            raise KeyboardInterrupt

    stop = Stops()

    def op():
        for f in (lambda: x + stop, lambda: x <= stop, lambda: m.solve(solver="ipopt", warm_start=[stop, 1.0]),
                  lambda: vo.stochastic_solve(scenario_cost, [(0, 1)], [{"probability": stop}])):
            try:
                f()
            except KeyboardInterrupt:
                continue
            raise AssertionError("KeyboardInterrupt was swallowed")
    return op


PATHS = [
    ("expr: linear arithmetic", expr_linear),
    ("expr: quadratic arithmetic", expr_quadratic),
    ("expr: nonlinear arithmetic", expr_nonlinear),
    ("expr: velmo package functions", expr_functions),
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
    ("another model's variables, truth values, unknown options", foreign_and_truth),
    ("result: getters and errors", result_getters),
    ("result: diagnostics and validate", diagnostics),
    ("result: exact infeasibility reports (HiGHS)", exact_reports),
    ("result: ranging after solve(ranging=True)", ranging),
    ("export: to_lp, summary, to_python", exports),
    ("persistent: updates and resolve", persistent),
    ("persistent: loading", persistent_load),
    ("persistent: error paths", persistent_errors),
    ("persistent: NumPy array updates", persistent_arrays),
    ("expr: sums grown with +=, builtin sum and NumPy", growing_sums),
    ("model: add_matrix, bound arrays, write, read_model", lambda: bulk_input(tempfile.mkdtemp())),
    ("blackbox: solve_de, solve_parallel_de", blackbox),
    ("blackbox: failing objectives and errors", blackbox_failures),
    ("blackbox: stochastic_solve and its errors", stochastic),
    ("blackbox: solve_admm and its errors", admm),
    ("blackbox: runs through an executor", executors),
    ("blackbox: pareto_frontier sweep, nsga2, nsga3", pareto),
    ("blackbox: pareto_frontier failures and errors", pareto_failures),
    ("blackbox: pso, sa, cmaes, portfolio", blackbox_engines),
    ("blackbox: engine failures, interrupts and errors", blackbox_engine_failures),
    ("blackbox: x0, budgets, callback, integers, constraints", steered_runs),
    ("solve: unusable numbers refused by every solver", unusable_numbers),
    ("solve: option and size refusals", option_refusals),
    ("blackbox: broken executors", broken_executors),
    ("stop requests from conversions", stop_requests),
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
