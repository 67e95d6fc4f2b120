"""Models and options no solver can take: every solver gives the same answer.

A NaN bound, right-hand side or coefficient, a lower bound of +inf or an upper bound of -inf
gives status "error" with no objective and no values, and no solver runs. A row bounded on
neither side is harmless everywhere. A warm start longer than the model is refused before any
solver runs; a NaN or negative time limit stops every solver at once.
"""

import math

import pytest

import velmo as vo

inf, nan = math.inf, math.nan
SOLVERS = ["highs", "osqp", "clarabel", "ipopt", "scipy", "bonmin"]
DISPLAY = {"highs": "HiGHS", "osqp": "OSQP", "clarabel": "Clarabel", "ipopt": "Ipopt",
           "scipy": "SciPy/SLSQP", "bonmin": "Bonmin"}


def model_with(bad):
    """min x + y over [0, 10]^2 with x + y >= 1 and one unusable number added."""
    m = vo.Model()
    x = m.variable("x", 0, 10)
    y = m.variable("y", 0, 10)
    m.minimize(x + y)
    m.add(x + y >= 1)
    bad(m, x, y)
    return m


BAD = {
    "row x >= inf": lambda m, x, y: m.add(x >= inf),
    "row x <= -inf": lambda m, x, y: m.add(x <= -inf),
    "row x == inf": lambda m, x, y: m.add(x == inf),
    "NaN right-hand side": lambda m, x, y: m.add(x + y <= nan),
    "NaN coefficient": lambda m, x, y: m.add(nan * x + y <= 5),
    "NaN lower bound": lambda m, x, y: m.variable("z", nan, 1),
    "NaN upper bound": lambda m, x, y: m.variable("z", 0, nan),
    "lower bound +inf": lambda m, x, y: m.variable("z", inf, inf),
    "upper bound -inf": lambda m, x, y: m.variable("z", -inf, -inf),
    "NaN cost": lambda m, x, y: m.minimize(x + nan * y),
    "NaN Hessian entry": lambda m, x, y: m.minimize(x + nan * (x * y)),
}


@pytest.mark.parametrize("solver", SOLVERS)
@pytest.mark.parametrize("bad", BAD, ids=list(BAD))
def test_unusable_numbers_give_error_on_every_solver(solver, bad):
    r = model_with(BAD[bad]).solve(solver=solver)
    assert (r.status, r.objective, r.solver) == ("error", None, DISPLAY[solver])
    with pytest.raises(ValueError, match="No solution available"):
        r.values()


def test_unusable_numbers_are_refused_by_the_automatic_choice_and_the_one_line_calls():
    m = model_with(BAD["NaN right-hand side"])
    assert m.solve().status == "error"
    x = m.variable("w")
    assert vo.minimize(x, [x >= nan]).status == "error"
    assert vo.minimize(x * x, [x <= -inf]).status == "error"


@pytest.mark.parametrize("solver", SOLVERS)
def test_a_row_bounded_on_neither_side_solves_everywhere(solver):
    r = model_with(lambda m, x, y: m.add(x + y <= inf)).solve(solver=solver)
    assert r.status == "optimal"
    assert r.objective == pytest.approx(1, abs=1e-5)


@pytest.mark.parametrize("solver", SOLVERS)
def test_a_warm_start_longer_than_the_model_is_refused_before_the_solve(solver):
    m = model_with(lambda *_: None)
    with pytest.raises(ValueError, match="warm_start has 3 values but the model has 2 variables"):
        m.solve(solver=solver, warm_start=[0.5, 0.5, 0.5])
    assert m.solve(solver=solver, warm_start=[0.5, 0.5]).status == "optimal"


# What each solver reports when it is given no time at all: it stops at its first check.
# OSQP words its time limit without "time_limit" and SLSQP knows only optimal and unknown;
# Bonmin looks at the clock only between nodes, so a model settled at its root still solves.
NO_TIME = {"highs": "time_limit", "osqp": "unknown", "clarabel": "time_limit", "ipopt": "time_limit",
           "scipy": "unknown"}


@pytest.mark.parametrize("limit", [nan, -1.0, -inf, 0.0])
@pytest.mark.parametrize("solver", sorted(NO_TIME))
def test_a_nan_or_negative_time_limit_is_no_time_at_all(solver, limit):
    m = model_with(lambda m, x, y: m.minimize(x + y + x * x + y * y))
    assert m.solve(solver=solver, time_limit=limit).status == NO_TIME[solver]
