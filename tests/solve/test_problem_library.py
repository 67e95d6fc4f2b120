"""Every solver on every problem of the library it can take, and a time or iteration limit
for each solver, all on the real packages."""

import pytest

import velmo as vo
from problems import PROBLEMS, cases, check, expected_status

DISPLAY = {"highs": "HiGHS", "osqp": "OSQP", "scipy": "SciPy/SLSQP", "clarabel": "Clarabel", "ipopt": "Ipopt",
           "bonmin": "Bonmin"}
CONTINUOUS = ["highs", "osqp", "scipy", "clarabel", "ipopt"]


@pytest.mark.parametrize("problem, solver", cases(), ids=[f"{p.id}-{s}" for p, s in cases()])
def test_problem_library(problem, solver):
    result = problem.build().solve(solver=solver, **problem.options)
    check(problem, result, status=expected_status(problem, solver), duals=solver == "highs")
    assert result.solver == DISPLAY[solver]
    assert isinstance(result.iterations, int)
    if solver != "highs":
        assert result.basis() is None and result.nodes is None and result.gap is None
    if solver not in ("highs", "osqp"):
        assert result.duals is None
    if solver == "bonmin" and result.status == "optimal":  # integer columns hold integers
        model = problem.build()
        assert all(abs(v - round(v)) <= 1e-9 for v in result.primals) or model.problem_type != "MIQP"
    if solver == "osqp":
        assert result.iterations > 0


def test_every_solver_reports_the_same_optimum_for_one_qp():
    # A halved or doubled cross term moves the optimum away from -7 at (1, 2).
    qp = next(p for p in PROBLEMS if p.id == "qp_cross_term")
    for solver in CONTINUOUS + ["bonmin"]:
        r = qp.build().solve(solver=solver)
        assert r.objective == pytest.approx(-7, abs=1e-6), solver
        assert r.primals == pytest.approx([1, 2], abs=1e-4), solver


def _library(problem_id):
    return next(p for p in PROBLEMS if p.id == problem_id)


def _milp():
    m = vo.Model()
    xs = m.integers("x", 30, 0, 10)
    for k in range(29):
        m.add(3 * xs[k] + 5 * xs[k + 1] <= 17 + k % 4)
    m.maximize(vo.sum([(k % 5 + 2) * x for k, x in enumerate(xs)]))
    return m


@pytest.mark.parametrize(
    "solver, build, options, status",
    [
        ("highs", _milp, {"time_limit": 0.0}, "time_limit"),
        ("osqp", _library("qp_cross_term").build, {"time_limit": 1e-9}, "unknown"),
        ("scipy", _library("hs035").build, {"time_limit": 0.001}, "unknown"),  # no iterations at all
        ("clarabel", _library("socp_robust_lp").build, {"time_limit": 1e-9}, "time_limit"),
        ("ipopt", _library("hs071").build, {"time_limit": 1e-9}, "time_limit"),
        ("bonmin", _library("minlp_ex1221").build, {"time_limit": 0.0}, "time_limit"),
    ],
)
def test_limits_stop_each_solver(solver, build, options, status):
    r = build().solve(solver=solver, **options)
    assert (r.status, r.solver) == (status, DISPLAY[solver])
    # SLSQP alone reports its last point whatever happened.
    assert (r.objective is not None) == (solver == "scipy")
