"""The velmo package's bulk functions against the loops they replace and against peers, all
in one run:

1. x'Σx for a dense 1,000 x 1,000 Σ (a long-only minimum-variance portfolio): `vo.quad_form`
   against the same objective built by a loop of `vo.product` under `vo.sum`, and against
   CVXPY's `quad_form` with its compile to OSQP's form (`get_problem_data`). For velmo, the
   modelling time of solve() (compilation and loading) is its wall time minus OSQP's own run.
2. A 10^6-term linear objective: `vo.dot` against loops (`vo.sum` of a generator, and the
   specified `velmo_opt.sum` of a list), and against CVXPY's `c @ w` compile.
3. An exp/log NLP of 10,000 variables translated into CasADi by solve() against the same model
   written directly in CasADi (vectorised), both run by the same Ipopt.

    python bench/bench_functions.py [quad_form|dot|nlp ...]
"""

import sys
import time

import casadi
import numpy as np

import velmo as vo
import velmo_opt
from timing import timed

PARTS = sys.argv[1:] or ["quad_form", "dot", "nlp"]


def quad_form_part(n=1000):
    rng = np.random.default_rng(1)
    f = rng.normal(size=(n, n // 10))
    sigma = f @ f.T / n + 0.01 * np.eye(n)

    def velmo_model(build):
        m = vo.Model("minvar")
        w = m.variables("w", n, lower=0)
        t0 = time.perf_counter()
        risk = build(w)
        t1 = time.perf_counter()
        m.minimize(risk)
        m.add(vo.sum(w) == 1)
        t2 = time.perf_counter()
        r = m.solve()
        t3 = time.perf_counter()
        return dict(expression=t1 - t0, solve_model=t3 - t2 - r.solve_time, solver=r.solve_time,
                    objective=r.objective, status=r.status)

    bulk = velmo_model(lambda w: vo.quad_form(w, sigma))
    # The loop's fastest spelling: Python floats (a NumPy scalar on the left of * costs more).
    s = sigma.tolist()
    loop = velmo_model(lambda w: vo.sum(s[i][j] * vo.product(w[i], w[j]) for i in range(n) for j in range(n)))
    print(f"quad_form n={n}: velmo {bulk['status']} f={bulk['objective']:.6g} (loop f={loop['objective']:.6g})")
    for name, r in (("vo.quad_form", bulk), ("loop of vo.product", loop)):
        print(f"  {name:<20} expression {r['expression']:.3f} s, solve() modelling {r['solve_model']:.3f} s, "
              f"OSQP {r['solver']:.3f} s")
    try:
        import cvxpy as cp
    except ImportError:
        print("  CVXPY not installed")
        return
    t0 = time.perf_counter()
    w = cp.Variable(n)
    prob = cp.Problem(cp.Minimize(cp.quad_form(w, cp.psd_wrap(sigma))), [cp.sum(w) == 1, w >= 0])
    t1 = time.perf_counter()
    prob.get_problem_data(cp.OSQP)
    t2 = time.perf_counter()
    prob.solve(solver=cp.OSQP)
    print(f"  CVXPY quad_form      expression {t1 - t0:.3f} s, compile {t2 - t1:.3f} s, f={prob.value:.6g}")
    ours = bulk["expression"] + bulk["solve_model"]
    print(f"  ratio velmo (expression + solve() modelling) / CVXPY (expression + compile): "
          f"{ours / (t2 - t0):.3f}x; loop / quad_form expression: {loop['expression'] / bulk['expression']:.0f}x")


def dot_part(n=1_000_000):
    rng = np.random.default_rng(2)
    c = rng.uniform(-1, 1, size=n)
    m = vo.Model("dot")
    xs = m.variables("x", n, lower=0, upper=1)
    bulk, t_dot = timed(lambda: vo.dot(c, xs))
    cl = c.tolist()  # Python floats: the loops' fastest spelling
    gen, t_gen = timed(lambda: vo.sum(cl[i] * xs[i] for i in range(n)))
    listed, t_list = timed(lambda: velmo_opt.sum([cl[i] * xs[i] for i in range(n)]))
    assert type(bulk) is type(gen) is type(listed)
    print(f"dot n={n:,}: vo.dot {t_dot:.3f} s; vo.sum(generator) {t_gen:.3f} s ({t_gen / t_dot:.0f}x); "
          f"velmo_opt.sum(list) {t_list:.3f} s ({t_list / t_dot:.0f}x)")
    m.maximize(bulk)
    (_, t_solve) = timed(lambda: m.solve())
    print(f"  solve() of the 10^6-column LP: {t_solve:.3f} s")
    try:
        import cvxpy as cp
    except ImportError:
        print("  CVXPY not installed")
        return
    t0 = time.perf_counter()
    w = cp.Variable(n)
    prob = cp.Problem(cp.Maximize(c @ w), [w >= 0, w <= 1])
    t1 = time.perf_counter()
    prob.get_problem_data(cp.HIGHS if "HIGHS" in cp.installed_solvers() else cp.CLARABEL)
    t2 = time.perf_counter()
    print(f"  CVXPY c @ w expression {t1 - t0:.3f} s, compile {t2 - t1:.3f} s; "
          f"ratio vo.dot / CVXPY expression + compile {t_dot / (t2 - t0):.3f}x")


OPTS = {"ipopt": {"print_level": 0, "sb": "yes"}, "print_time": False}
timing = {}


class Timed:
    """casadi.nlpsol wrapped so that solve()'s translation, nlpsol and Ipopt are timed apart."""

    def __init__(self):
        self.real = casadi.nlpsol

    def __call__(self, *args):
        timing["enter"] = time.perf_counter()
        solver = self.real(*args)
        timing["nlpsol"] = time.perf_counter() - timing["enter"]

        def run(**kwargs):
            t = time.perf_counter()
            out = solver(**kwargs)
            timing["ipopt"] = time.perf_counter() - t
            return out
        run.stats = solver.stats
        return run


def nlp_part(n=10_000):
    """min sum_k exp(0.1 x_k) - log(2 + x_k) + exp(x_{k+1} - x_k)
       s.t. log(2 + x_k) + x_{k+1}^1.5 = 1.2 for even k,  0 <= x <= 5."""
    def build():
        m = vo.Model("explog")
        x = m.variables("x", n, lower=0, upper=5)
        m.minimize(vo.sum(vo.exp(0.1 * v) - vo.log(2 + v) for v in x)
                   + vo.sum(vo.exp(x[k + 1] - x[k]) for k in range(n - 1)))
        for k in range(0, n - 1, 2):
            m.add(vo.log(2 + x[k]) + vo.power(x[k + 1], 1.5) == 1.2)
        return m

    m, t_build = timed(build)
    timing.clear()
    casadi.nlpsol = Timed()
    try:
        t0 = time.perf_counter()
        r = m.solve()
        t_solve = time.perf_counter() - t0
    finally:
        casadi.nlpsol = casadi.nlpsol.real
    translate = timing["enter"] - t0

    t0 = time.perf_counter()
    x = casadi.SX.sym("x", n)
    f = casadi.sum1(casadi.exp(0.1 * x) - casadi.log(2 + x)) + casadi.sum1(casadi.exp(x[1:] - x[:-1]))
    k = np.arange(0, n - 1, 2)
    g = casadi.log(2 + x[k.tolist()]) + x[(k + 1).tolist()] ** 1.5
    t1 = time.perf_counter()
    solver = casadi.nlpsol("solver", "ipopt", {"x": x, "f": f, "g": g}, OPTS)
    t2 = time.perf_counter()
    sol = solver(x0=np.full(n, 2.5), lbx=np.zeros(n), ubx=np.full(n, 5.0), lbg=np.full(len(k), 1.2),
                 ubg=np.full(len(k), 1.2))
    t3 = time.perf_counter()
    print(f"exp/log NLP n={n:,}: velmo {r.status} f={r.objective:.8g}; CasADi "
          f"{solver.stats()['return_status']} f={float(sol['f']):.8g}")
    print(f"  velmo  build {t_build:.3f} s; solve() {t_solve:.3f} s = translation {translate:.3f} + nlpsol "
          f"{timing['nlpsol']:.3f} + Ipopt {timing['ipopt']:.3f} + rest")
    print(f"  CasADi expressions {t1 - t0:.3f} s + nlpsol {t2 - t1:.3f} + Ipopt {t3 - t2:.3f} = {t3 - t0:.3f} s")
    print(f"  ratio solve() / CasADi (expressions + nlpsol + Ipopt) {t_solve / (t3 - t0):.2f}x; with velmo's "
          f"model building {(t_build + t_solve) / (t3 - t0):.2f}x; translation alone / CasADi expressions "
          f"{translate / (t1 - t0):.1f}x")


for part in PARTS:
    {"quad_form": quad_form_part, "dot": dot_part, "nlp": nlp_part}[part]()
