"""Models written with the velmo package's functions, solved by the real solvers: Hock-
Schittkowski problems that need exp, log and real powers (published optima), the textbook
models users write (each against an independent solve), and to_python of every new node."""

import math
import re
import subprocess
import sys

import numpy as np
import pytest
from scipy.optimize import minimize as scipy_minimize

import velmo as vo


def hs062(m):
    x = [m.variable(f"x{i}", lower=0, upper=1) for i in range(3)]
    x1, x2, x3 = x
    b = [255 * vo.log((x1 + x2 + x3 + 0.03) / (0.09 * x1 + x2 + x3 + 0.03)),
         280 * vo.log((x2 + x3 + 0.03) / (0.07 * x2 + x3 + 0.03)),
         290 * vo.log((x3 + 0.03) / (0.13 * x3 + 0.03))]
    m.minimize(-32.174 * vo.sum(b))
    m.add(x1 + x2 + x3 == 1)
    return [0.7, 0.2, 0.1], -26272.51448


def _hs080_body(m):
    lo = [-2.3, -2.3, -3.2, -3.2, -3.2]
    x = [m.variable(f"x{i}", lower=lo[i], upper=-lo[i]) for i in range(5)]
    prod = x[0]
    for v in x[1:]:
        prod = vo.product(prod, v)
    m.add(vo.sum(vo.square(v) for v in x) == 10)
    # A QuadExpr minus a QuadExpr is refused by the operators: add the negation instead.
    m.add(x[1] * x[2] + -5 * vo.product(x[3], x[4]) == 0)
    cubes = vo.power(x[0], 3) + vo.power(x[1], 3)
    m.add(cubes == -1)
    return x, prod, cubes


def hs080(m):
    _, prod, _ = _hs080_body(m)
    m.minimize(vo.exp(prod))
    return [-2, 2, 2, -1, -1], 0.0539498478


def hs081(m):
    _, prod, cubes = _hs080_body(m)
    m.minimize(vo.exp(prod) - 0.5 * vo.square(cubes + 1))
    return [-2, 2, 2, -1, -1], 0.0539498478


def hs110(m):
    x = [m.variable(f"x{i}", lower=2.001, upper=9.999) for i in range(10)]
    prod = x[0]
    for v in x[1:]:
        prod = vo.product(prod, v)
    m.minimize(vo.sum(vo.square(vo.log(v - 2)) + vo.square(vo.log(10 - v)) for v in x) - vo.power(prod, 0.2))
    return [9.0] * 10, -45.77846971


def hs111(m):
    c = [-6.089, -17.164, -34.054, -5.914, -24.721, -14.986, -24.1, -10.708, -26.662, -22.179]
    x = [m.variable(f"x{i}", lower=-100, upper=100) for i in range(10)]
    e = [vo.exp(v) for v in x]
    log_total = vo.log(vo.sum(e))
    m.minimize(vo.sum(vo.product(e[j], c[j] + x[j] - log_total) for j in range(10)))
    m.add(vo.dot([1, 2, 2, 1, 1], [e[0], e[1], e[2], e[5], e[9]]) == 2)
    m.add(vo.dot([1, 2, 1, 1], [e[3], e[4], e[5], e[6]]) == 1)
    m.add(vo.dot([1, 1, 1, 2, 1], [e[2], e[6], e[7], e[8], e[9]]) == 1)
    return [-2.3] * 10, -47.76109026


@pytest.mark.parametrize("problem", [hs062, hs080, hs081, hs110, hs111])
def test_hock_schittkowski_reaches_the_published_optimum(problem):
    m = vo.Model(problem.__name__)
    start, optimum = problem(m)
    assert m.problem_type == "NLP"
    r = m.solve(warm_start=start)
    assert r.status == "optimal" and r.solver == "Ipopt"
    assert r.objective == pytest.approx(optimum, rel=1e-6)


@pytest.fixture
def markowitz_data():
    rng = np.random.default_rng(3)
    n = 6
    f = rng.normal(size=(n, n))
    sigma = f @ f.T / n + 0.05 * np.eye(n)
    mu = rng.uniform(0.02, 0.12, size=n)
    target = float(np.median(mu))
    cons = [{"type": "eq", "fun": lambda w: w.sum() - 1}, {"type": "ineq", "fun": lambda w: mu @ w - target}]
    ref = scipy_minimize(lambda w: w @ sigma @ w, np.full(n, 1 / n), jac=lambda w: 2 * sigma @ w,
                         bounds=[(0, None)] * n, constraints=cons, method="SLSQP", options={"ftol": 1e-14})
    assert ref.success
    return sigma, mu, target, ref.fun


@pytest.mark.parametrize("written", ["quad_form", "sum_of_products"])
def test_markowitz_matches_scipy(markowitz_data, written):
    sigma, mu, target, expected = markowitz_data
    n = len(mu)
    m = vo.Model("markowitz")
    w = m.variables("w", n, lower=0)
    if written == "quad_form":
        risk = vo.quad_form(w, sigma)
    else:
        risk = vo.sum(sigma[i, j] * vo.product(w[i], w[j]) for i in range(n) for j in range(n))
    assert m.problem_type in ("LP", "QP")
    m.minimize(risk)
    m.add(vo.sum(w) == 1)
    m.add(vo.dot(mu, w) >= target)
    assert m.problem_type == "QP"
    r = m.solve(solver="ipopt")
    assert r.status == "optimal"
    assert r.objective == pytest.approx(expected, rel=1e-6)
    # The default QP path (OSQP) agrees to its own tolerance.
    assert m.solve().objective == pytest.approx(expected, rel=1e-2)


def test_ridge_regression_matches_the_closed_form():
    rng = np.random.default_rng(5)
    A = rng.normal(size=(25, 4))
    b = A @ np.array([1.0, -2.0, 0.5, 3.0]) + 0.1 * rng.normal(size=25)
    lam = 0.7
    m = vo.Model("ridge")
    beta = m.variables("beta", 4, lower=-math.inf)
    m.minimize(vo.sum(vo.square(A[i] @ beta - b[i]) for i in range(len(b))) + lam * vo.sum(vo.square(v) for v in beta))
    r = m.solve(solver="ipopt")
    exact = np.linalg.solve(A.T @ A + lam * np.eye(4), A.T @ b)
    assert r.status == "optimal"
    np.testing.assert_allclose(r.primals, exact, rtol=1e-6)
    assert r.objective == pytest.approx(np.sum((A @ exact - b) ** 2) + lam * exact @ exact, rel=1e-9)


def test_rosenbrock_matches_scipy():
    m = vo.Model("rosenbrock")
    x = m.variable("x", lower=-2, upper=2)
    y = m.variable("y", lower=-2, upper=2)
    m.minimize(vo.square(1 - x) + 100 * vo.square(y - x ** 2))
    r = m.solve(warm_start=[-1.2, 1.0])
    ref = scipy_minimize(lambda p: (1 - p[0]) ** 2 + 100 * (p[1] - p[0] ** 2) ** 2, [-1.2, 1.0],
                         jac=lambda p: [-2 * (1 - p[0]) - 400 * p[0] * (p[1] - p[0] ** 2), 200 * (p[1] - p[0] ** 2)],
                         method="BFGS", options={"gtol": 1e-12})
    assert r.status == "optimal"
    np.testing.assert_allclose(r.primals, ref.x, atol=1e-6)
    assert r.objective == pytest.approx(0.0, abs=1e-12)


def test_bonmin_takes_the_new_nodes():
    m = vo.Model("minlp")
    x = m.variable("x", lower=0.5, upper=4)
    k = m.integer("k", lower=0, upper=5)
    m.minimize(vo.exp(x - 2) - vo.log(x) + vo.square(k - 2.4))
    m.add(vo.power(x, 1.5) + k <= 6)
    r = m.solve(solver="bonmin")
    assert r.status == "optimal"
    xs, ks = r.primals
    # k = 2 is the nearest integer to 2.4; x then solves x * exp(x - 2) = 1.
    assert ks == pytest.approx(2, abs=1e-6)
    assert xs * math.exp(xs - 2) == pytest.approx(1, abs=1e-6)


def every_node_model():
    m = vo.Model("every node")
    x = m.variable("x", lower=0.1, upper=3)
    y = m.variable("y", lower=-1, upper=1)
    z = m.variable("z", lower=0.5, upper=2)
    m.minimize(vo.exp(x - 1) - vo.log(x) + vo.square(vo.atan(y) - 0.3) + vo.tanh(z))
    m.add(vo.abs(y) <= 1, name="abs_cap")
    m.add(vo.tan(y) <= 2)
    m.add(vo.power(z, 1.5) >= 0.5, name="z_power")
    return m


def test_every_new_node_solves_exports_and_rebuilds():
    m = every_node_model()
    r = m.solve()
    assert r.status == "optimal"
    expected = 1 + math.tanh(0.5 ** (1 / 1.5))
    assert r.objective == pytest.approx(expected, rel=1e-7)
    assert m.problem_type == "NLP"
    # Validation reads the linear rows only: with none, every variable counts as unused.
    assert [f["category"] for f in m.validate()] == ["unused_variable"] * 3
    assert m.summary().endswith("0 constraints (0 <=, 0 >=, 0 ==), 0 nonzeros, type=NLP")
    lp = m.to_lp()
    assert " obj: \\ <nonlinear objective: LP export unsupported>" in lp
    assert "\\ <nonlinear constraint z_power: LP export unsupported>" in lp
    code = m.to_python()
    for fn in ("vo.exp(", "vo.log(", "vo.atan(", "vo.tanh(", "vo.abs(", "vo.tan(", "vo.power("):
        assert fn in code
    program = code + "\nprint('PROGRAM', repr(m.to_python()))\n"
    out = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True, check=True).stdout
    objective = float(re.search(r"Objective: (\S+)", out).group(1))
    assert objective == pytest.approx(r.objective, rel=1e-9)
    rebuilt = eval(re.search(r"PROGRAM (.*)", out).group(1))
    assert rebuilt == code
    for c in ("abs_cap", "z_power"):
        assert c in code
