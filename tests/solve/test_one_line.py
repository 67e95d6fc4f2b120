"""The module functions minimize and maximize."""

import pytest

import velmo as vo
import velmo_opt


@pytest.fixture
def xy():
    m = vo.Model()
    return m.variable("x", 0, 10), m.variable("y", 0, 10)


def test_sign_and_constant_restored(xy):
    x, _ = xy
    r = vo.maximize(x + 5, [x <= 1])
    assert (r.status, r.objective, r.solver) == ("optimal", 6.0, "HiGHS")


def test_quadratic_objectives_use_osqp(xy):
    x, y = xy
    assert vo.minimize(x * x, []).solver == "OSQP"
    assert vo.minimize(x, [x >= 1]).solver == "HiGHS"
    r = vo.minimize((x - 3) * 1 + x * x - 2 * x)  # x² - x - 3
    assert r.value(x) == pytest.approx(0.5, abs=1e-6)
    assert r.objective == pytest.approx(-3.25, abs=1e-6)


def test_variables_are_free_and_named_by_index(xy):
    x, y = xy
    r = vo.minimize(y, [y >= -3])  # the model's bounds [0, 10] are not carried over
    assert r.objective == pytest.approx(-3)
    assert r.var_names_list == ["x0", "x1"]
    assert list(r.values()) == ["x0", "x1"]
    assert vo.minimize(4).var_names_list == ["x0"]


def test_nonlinear_models_go_to_ipopt(xy):
    # HiGHS would leave the impossible sin(x) >= 5 out and report x = 2 as optimal.
    x, y = xy
    r = vo.minimize(x, [vo.sin(x) >= 5, x >= 2])
    assert (r.solver, r.status, r.objective) == ("Ipopt", "infeasible", None)
    r = vo.maximize(vo.cos(y - 1) + 2, [y >= 0, y <= 3])
    assert (r.solver, r.status) == ("Ipopt", "optimal")
    assert r.objective == pytest.approx(3) and r.values()["x1"] == pytest.approx(1, abs=1e-6)


def test_deeply_shared_expression_is_walked_once(xy):
    x, y = xy
    e = vo.sin(y)
    for _ in range(200):  # a DAG of 200 nodes whose tree would have 2**200 leaves
        e = e * e
    r = vo.minimize(x, [e <= 1, x >= 1])
    assert r.var_names_list == ["x0", "x1"]


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda x: vo.minimize("x"), ValueError, "Expected Var, Expr, QuadExpr, NlExpr, or numeric value"),
        (lambda x: vo.minimize(x, 5), TypeError, "constraints"),
        (lambda x: vo.minimize(x, "x <= 1"), TypeError, "constraints"),
        (lambda x: vo.maximize(x, [x <= 1, x]), TypeError, "item 1 is Var"),
        (lambda x: vo.minimize(x, verbose=1), TypeError, "verbose"),
        (lambda x: vo.minimize(x, time_limit="1"), TypeError, "time_limit"),
        (lambda x: vo.minimize(), TypeError, "objective"),
    ],
)
def test_bad_arguments(xy, call, error, message):
    with pytest.raises(error, match=message):
        call(xy[0])


def test_other_options_are_ignored(xy):
    x, _ = xy
    assert vo.minimize(x, [x >= 1], threads=-1, solver="nosuch").objective == 1.0
    assert vo.minimize(x, constraints=(x >= 1,), verbose=False, time_limit=5).objective == 1.0


def test_signatures_and_docstrings():
    assert velmo_opt.minimize.__text_signature__ == "(objective, constraints=None, **kwargs)"
    assert velmo_opt.minimize.__doc__ == (
        "Solve a minimization problem in one line.\n"
        "Usage: result = minimize(objective_expr, [constraint1, constraint2, ...])"
    )
    assert velmo_opt.maximize.__doc__ == "Solve a maximization problem in one line."
