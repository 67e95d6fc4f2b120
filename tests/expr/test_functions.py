"""The velmo package's expression functions: exp, log, tan, atan, tanh, abs, power, square,
product, dot, quad_form and sum; their types, texts and values, their errors, and the notes the
operator errors carry."""

import math
import sys

import numpy as np
import pytest
import scipy.sparse as sp

import velmo as vo
import velmo_opt

POINT = (0.7, -1.3, 2.1)


@pytest.fixture
def model():
    """x, y, z fixed at POINT by their bounds, so that value_at reads an expression's value."""
    m = vo.Model()
    return m, [m.variable(n, lower=v, upper=v) for n, v in zip("xyz", POINT)]


def value_at(m, expr):
    """The value of `expr` over m's variables, read back through an Ipopt solve of m."""
    m.minimize(expr)
    r = m.solve(solver="ipopt")
    assert r.status == "optimal"
    return r.objective


def test_package_adds_its_functions_and_keeps_velmo_opt_unchanged():
    for name in vo.ADDITIONS:
        assert callable(getattr(vo, name)) and (name in vo.__all__) == (name != "abs")
    assert vo.sum is not velmo_opt.sum and vo.sin is velmo_opt.sin
    assert len([n for n in dir(velmo_opt) if not n.startswith("_")]) == 24
    # The new functions make velmo_opt's own objects, one type per class.
    assert type(vo.exp(1)) is velmo_opt.NlExpr
    assert vo._ext.__name__ == "velmo._ext"


@pytest.mark.parametrize("build, text, kind", [
    (lambda x, y: vo.exp(x), "exp(x0)", "NlExpr"),
    (lambda x, y: vo.log(x + 1), "log((x0 + 1))", "NlExpr"),
    (lambda x, y: vo.tan(2 * x), "tan((2 * x0))", "NlExpr"),
    (lambda x, y: vo.atan(x * y), "atan((x0 * x1))", "NlExpr"),
    (lambda x, y: vo.tanh(vo.sin(x)), "tanh(sin(x0))", "NlExpr"),
    (lambda x, y: vo.abs(x), "abs(x0)", "NlExpr"),
    (lambda x, y: vo.exp(2), "exp(2)", "NlExpr"),
    (lambda x, y: 3 * vo.exp(x) - vo.log(y), "3*exp(x0) - log(x1)", "NlExpr"),
    (lambda x, y: vo.power(x, 2.5), "(x0 ** 2.5)", "NlExpr"),
    (lambda x, y: vo.power(x, -1), "(x0 ** -1)", "NlExpr"),
    (lambda x, y: vo.power(x, 0), "(x0 ** 0)", "NlExpr"),
    (lambda x, y: vo.power(x * y, 2), "((x0 * x1) ** 2)", "NlExpr"),
    (lambda x, y: vo.square(vo.sin(x)), "(sin(x0) ** 2)", "NlExpr"),
    (lambda x, y: vo.power(x + 1, 1), "x0 + 1", "Expr"),
    (lambda x, y: vo.power(x, 1), "x0", "Expr"),
    (lambda x, y: vo.power(x * y, 1), "QuadExpr(linear=0, quad_terms=1)", "QuadExpr"),
    (lambda x, y: vo.power(x, np.float64(2)), "QuadExpr(linear=0, quad_terms=1)", "QuadExpr"),
    (lambda x, y: vo.square(1 - x), "QuadExpr(linear=-2*x0 + 1, quad_terms=1)", "QuadExpr"),
    (lambda x, y: vo.square(x + y), "QuadExpr(linear=0, quad_terms=3)", "QuadExpr"),
    (lambda x, y: vo.product(x - 1, x - 1), "QuadExpr(linear=-2*x0 + 1, quad_terms=1)", "QuadExpr"),
    (lambda x, y: vo.product(2 * x, y), "QuadExpr(linear=0, quad_terms=1)", "QuadExpr"),
    (lambda x, y: vo.product(x, 3), "3*x0", "Expr"),
    (lambda x, y: vo.product(2, 3), "6", "Expr"),
    (lambda x, y: vo.product(x * y, 2), "QuadExpr(linear=0, quad_terms=1)", "QuadExpr"),
    (lambda x, y: vo.product(x * y, x), "((x0 * x1) * x0)", "NlExpr"),
    (lambda x, y: vo.product(x, vo.exp(y)), "(x0 * exp(x1))", "NlExpr"),
])
def test_types_and_texts(model, build, text, kind):
    _, (x, y, _z) = model
    r = build(x, y)
    assert type(r).__name__ == kind
    assert repr(r) in (text, text.replace("x0 + x1", "x1 + x0"))


@pytest.mark.parametrize("build, expected", [
    (lambda x, y, z: vo.exp(x) + vo.log(z) + vo.tanh(y), math.exp(0.7) + math.log(2.1) + math.tanh(-1.3)),
    (lambda x, y, z: vo.tan(x) * vo.atan(y) + vo.abs(y), math.tan(0.7) * math.atan(-1.3) + 1.3),
    (lambda x, y, z: vo.power(z, 2.5) + vo.power(x + z, -0.5), 2.1 ** 2.5 + 2.8 ** -0.5),
    (lambda x, y, z: vo.square(1 - x) + 100 * vo.square(y - x ** 2), 0.3 ** 2 + 100 * (-1.3 - 0.49) ** 2),
    (lambda x, y, z: vo.product(2 * x - y + 1, 3 * z + y - 2), (1.4 + 1.3 + 1) * (6.3 - 1.3 - 2)),
    (lambda x, y, z: vo.square(x + 2 * y - z + 4), (0.7 - 2.6 - 2.1 + 4) ** 2),
    (lambda x, y, z: vo.power(vo.square(x - y), 1.5), 4.0 ** 1.5),
])
def test_values_match_python_arithmetic(model, build, expected):
    m, (x, y, z) = model
    assert value_at(m, build(x, y, z)) == pytest.approx(expected, rel=1e-9)


def test_sum_takes_any_iterable_in_the_narrowest_type(model):
    m, (x, y, z) = model
    assert repr(vo.sum([])) == "0" and type(vo.sum(())) is velmo_opt.Expr
    assert repr(vo.sum(i * x for i in range(4))) == "6*x0"
    assert type(vo.sum((x, 2, y - 1))) is velmo_opt.Expr
    assert type(vo.sum(np.array([x, y, z]))) is velmo_opt.Expr
    assert type(vo.sum([x, x * y])) is velmo_opt.QuadExpr
    # A term that is not linear or quadratic makes it an NlExpr; terms keep the items' order.
    mixed = vo.sum([x * y, vo.exp(x), 1, x])
    assert repr(mixed) == "x0 + 1 + (x0 * x1) + exp(x0)"
    # Linear-valued QuadExpr and NlExpr items do not widen the type.
    assert type(vo.sum([x ** 1, x])) is velmo_opt.Expr
    assert vo.sum([x, -x]).__repr__() == "0"
    total = vo.sum(vo.square(x - c) for c in range(3))
    assert value_at(m, total) == pytest.approx(sum((0.7 - c) ** 2 for c in range(3)))


def test_sum_of_many_items_keeps_every_term():
    # 200,000 products through a generator: a sum that copied its accumulator per item would
    # not finish here.
    m = vo.Model()
    xs = m.variables("x", 200_000)
    assert repr(vo.sum(x * x for x in xs)) == "QuadExpr(linear=0, quad_terms=200000)"
    total = vo.sum(2 * x for x in xs)
    assert type(total) is velmo_opt.Expr and repr(total).count("2*x") == 200_000


def test_dot_and_quad_form_match_loops(model):
    m, (x, y, z) = model
    c = np.array([1.5, -2.0, 0.0])
    assert value_at(m, vo.dot(c, [x, y, z])) == pytest.approx(1.5 * 0.7 + 2.6)
    assert repr(vo.dot([2, 3], (x, x))) == "5*x0"
    assert type(vo.dot([1, 1], [x * y, x])) is velmo_opt.QuadExpr
    Q = np.array([[2.0, 1.0, 0.0], [3.0, 1.0, -1.0], [0.0, 0.5, 4.0]])
    p = np.array(POINT)
    for form in (Q, Q.tolist(), sp.csr_matrix(Q), sp.coo_matrix(Q)):
        q = vo.quad_form([x, y, z], form)
        assert type(q) is velmo_opt.QuadExpr
        assert value_at(m, q) == pytest.approx(p @ Q @ p, rel=1e-9)
    # Dense zeros make no terms; (i, j) and (j, i) share one.
    assert repr(vo.quad_form([x, y, z], Q)) == "QuadExpr(linear=0, quad_terms=5)"


@pytest.mark.parametrize("call, kind, message", [
    (lambda x: vo.exp("a"), ValueError, "Expected Var, Expr, NlExpr, or numeric for nonlinear operand"),
    (lambda x: vo.power(x, "2"), TypeError, "power(): argument 'exponent' must be a number, not str"),
    (lambda x: vo.power(x, math.inf), ValueError, "power(): the exponent must be a finite number"),
    (lambda x: vo.power(x, math.nan), ValueError, "power(): the exponent must be a finite number"),
    (lambda x: vo.product(x, None), ValueError, "Expected Var, Expr, NlExpr, or numeric for nonlinear operand"),
    (lambda x: vo.sum([x, "a"]), ValueError,
     "sum() items must be Var, Expr, QuadExpr, NlExpr, or numeric (item 1 is str)"),
    (lambda x: vo.sum(5), TypeError, "sum(): argument 'items' must be an iterable of expressions or numbers, not int"),
    (lambda x: vo.sum("ab"), TypeError, "sum(): argument 'items' must be an iterable of expressions or numbers, not str"),
    (lambda x: vo.dot([1, 2], [x]), ValueError, "dot(): 2 coefficients for 1 items"),
    (lambda x: vo.dot([[1]], [x]), ValueError, "dot(): coefficients must be one-dimensional (got 2 dimensions)"),
    (lambda x: vo.dot([1], [None]), ValueError,
     "dot() items must be Var, Expr, QuadExpr, NlExpr, or numeric (item 0 is NoneType)"),
    (lambda x: vo.dot([1], 3), TypeError, "dot(): argument 'items' must be a sequence, not int"),
    (lambda x: vo.quad_form([x, x + 1], np.eye(2)), ValueError, "quad_form() items must be Var (item 1 is Expr)"),
    (lambda x: vo.quad_form([x], np.eye(2)), ValueError, "quad_form(): Q must be 1 x 1 for 1 items (got 2 x 2)"),
    (lambda x: vo.quad_form([x], sp.eye(2)), ValueError, "quad_form(): Q must be 1 x 1 for 1 items (got 2 x 2)"),
    (lambda x: vo.quad_form([x], [1.0]), ValueError,
     "quad_form(): Q must be a two-dimensional matrix (got 1 dimensions)"),
    (lambda x: vo.exp(), TypeError, "exp() missing required argument 'obj' (pos 1)"),
])
def test_errors(model, call, kind, message):
    _, (x, _y, _z) = model
    with pytest.raises(kind) as info:
        call(x)
    assert str(info.value) == message


@pytest.mark.parametrize("call, kind, text, hint", [
    (lambda x, y: (x - 1) * (x - 1), ValueError, "Expr can be multiplied by a scalar or NlExpr", "vo.product(a, b)"),
    (lambda x, y: 2 * x * y, ValueError, "Expr can be multiplied by a scalar or NlExpr", "vo.product(a, b)"),
    (lambda x, y: x * (y + 1), ValueError, "Var can be multiplied by a scalar, Var, or NlExpr", "vo.product(a, b)"),
    (lambda x, y: x ** 3, ValueError, "Only power of 1 or 2 supported for variables", "vo.power(e, p)"),
    (lambda x, y: x * y - x * y, ValueError, "Unsupported operand type for QuadExpr", "(-q2)"),
    (lambda x, y: (1 - x) ** 2, TypeError, "unsupported operand type(s) for ** or pow(): 'velmo_opt.Expr' and 'int'",
     "vo.square(e)"),
    (lambda x, y: (x * y) ** 2, TypeError,
     "unsupported operand type(s) for ** or pow(): 'velmo_opt.QuadExpr' and 'int'", "vo.power(e, p)"),
    (lambda x, y: vo.sin(x) ** 0.5, TypeError,
     "unsupported operand type(s) for ** or pow(): 'velmo_opt.NlExpr' and 'float'", "vo.power(e, p)"),
    (lambda x, y: x ** 0.5, TypeError, "unsupported operand type(s) for ** or pow(): 'velmo_opt.Var' and 'float'",
     "vo.power(e, p)"),
])
def test_operator_errors_keep_their_text_and_point_to_the_function(model, call, kind, text, hint):
    _, (x, y, _z) = model
    with pytest.raises(kind) as info:
        call(x, y)
    assert str(info.value) == text
    notes = getattr(info.value, "__notes__", [])
    if sys.version_info >= (3, 11):
        assert any(hint in n for n in notes)
    else:
        assert notes == []


def test_power_of_other_operands_still_reaches_their_own_reflected_form(model):
    _, (x, _y, _z) = model

    class Exponent:
        def __rpow__(self, base):
            return "rpow"

    assert (x + 1) ** Exponent() == "rpow"
    assert x ** Exponent() == "rpow"
    with pytest.raises(TypeError):
        2 ** (x + 1)
