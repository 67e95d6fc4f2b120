"""QuadExpr: arithmetic with a quadratic operand on either side, comparisons and repr."""

import operator
import re

import pytest

import velmo_opt as vo

B = "Var can be multiplied by a scalar, Var, or NlExpr"
C = "Expr can be multiplied by a scalar or NlExpr"
D = "division by zero"
E = "Expected Var, Expr, NlExpr, or numeric for nonlinear operand"
Q = "Unsupported operand type for QuadExpr"
ERRORS = (B, C, D, E, Q)

OPS = {"+": operator.add, "-": operator.sub, "*": operator.mul, "/": operator.truediv}

# Tree text of q = x*y + 2*x + 1: linear part, constant, then the product term.
QT = "(((2 * x0) + 1) + (x0 * x1))"


@pytest.fixture
def env(xyz):
    x, y, z = xyz
    return {"x": x, "z": z, "e": y + 1, "q": x * y + 2 * x + 1, "g": vo.sin(x), "n": 2,
            "zero": 0, "s": "a"}


@pytest.fixture(scope="session")
def quad_parts(linear_parts):
    def parse(text):
        match = re.fullmatch(r"QuadExpr\(linear=(.*), quad_terms=(\d+)\)", text)
        assert match is not None, text
        terms, constant = linear_parts(match.group(1))
        return terms, constant, int(match.group(2))
    return parse


# expected: an error message, a TypeError, a (terms, constant, quad count) triple for a
# QuadExpr, or the exact repr of an NlExpr
ARITHMETIC = [
    ("q", "+", "n", ({0: 2}, 3, 1)),
    ("q", "+", "x", ({0: 3}, 1, 1)),
    ("q", "+", "z", ({0: 2, 2: 1}, 1, 1)),
    ("q", "+", "e", ({0: 2, 1: 1}, 2, 1)),
    ("q", "+", "q", ({0: 4}, 2, 2)),
    ("q", "+", "g", "2*x0 + 1 + (x0 * x1) + sin(x0)"),
    ("q", "+", "s", Q),
    ("q", "-", "n", ({0: 2}, -1, 1)),
    ("q", "-", "x", ({0: 1}, 1, 1)),
    ("q", "-", "e", ({0: 2, 1: -1}, 0, 1)),
    ("q", "-", "q", Q),
    ("q", "-", "g", "2*x0 + 1 + (x0 * x1) - sin(x0)"),
    ("q", "-", "s", Q),
    ("q", "*", "n", ({0: 4}, 2, 1)),
    ("q", "*", "zero", ({0: 0}, 0, 1)),
    ("q", "*", "x", f"({QT} * x0)"),
    ("q", "*", "e", f"({QT} * (x1 + 1))"),
    ("q", "*", "q", f"({QT} * {QT})"),
    ("q", "*", "g", f"({QT} * sin(x0))"),
    ("q", "*", "s", E),
    ("q", "/", "n", ({0: 1}, 0.5, 1)),
    ("q", "/", "zero", D),
    ("q", "/", "x", f"({QT} / x0)"),
    ("q", "/", "e", f"({QT} / (x1 + 1))"),
    ("q", "/", "q", f"({QT} / {QT})"),
    ("q", "/", "g", f"({QT} / sin(x0))"),
    ("q", "/", "s", E),
    # reflected forms with a number or an unsupported object on the left
    ("n", "+", "q", ({0: 2}, 3, 1)),
    ("n", "-", "q", TypeError),
    ("n", "*", "q", ({0: 4}, 2, 1)),
    ("n", "/", "q", f"(2 / {QT})"),
    ("s", "+", "q", Q),
    ("s", "-", "q", TypeError),
    ("s", "*", "q", E),
    ("s", "/", "q", E),
    # Var, Expr and NlExpr on the left decide with their own forward forms
    ("x", "+", "q", ({0: 3}, 1, 1)),
    ("x", "-", "q", ({0: -1}, -1, 1)),
    ("x", "*", "q", B),
    ("x", "/", "q", f"(x0 / {QT})"),
    ("e", "+", "q", ({1: 1, 0: 2}, 2, 1)),
    ("e", "-", "q", ({1: 1, 0: -2}, 0, 1)),
    ("e", "*", "q", C),
    ("e", "/", "q", f"((x1 + 1) / {QT})"),
    ("g", "+", "q", "2*x0 + 1 + sin(x0) + (x0 * x1)"),
    ("g", "-", "q", "-2*x0 - 1 + sin(x0) - (x0 * x1)"),
    ("g", "*", "q", f"(sin(x0) * {QT})"),
    ("g", "/", "q", f"(sin(x0) / {QT})"),
]


@pytest.mark.parametrize("left, op, right, expected", ARITHMETIC)
def test_arithmetic_results(env, quad_parts, left, op, right, expected):
    a, b = env[left], env[right]
    before = (repr(a), repr(b))
    if expected is TypeError:
        with pytest.raises(TypeError):
            OPS[op](a, b)
    elif isinstance(expected, str) and expected in ERRORS:
        with pytest.raises(ValueError) as info:
            OPS[op](a, b)
        assert str(info.value) == expected
    else:
        result = OPS[op](a, b)
        if isinstance(expected, tuple):
            assert type(result) is vo.QuadExpr
            assert quad_parts(repr(result)) == expected
        else:
            assert type(result) is vo.NlExpr
            assert repr(result) == expected
    assert (repr(a), repr(b)) == before


@pytest.mark.parametrize("make, text", [
    (lambda x, y: x * y, "QuadExpr(linear=0, quad_terms=1)"),
    (lambda x, y: x * y + 2 * x + 1, "QuadExpr(linear=2*x0 + 1, quad_terms=1)"),
    (lambda x, y: x ** 1, "QuadExpr(linear=x0, quad_terms=0)"),
    (lambda x, y: x * y + x * y, "QuadExpr(linear=0, quad_terms=2)"),
    (lambda x, y: x * y + x * y * -1, "QuadExpr(linear=0, quad_terms=2)"),
    (lambda x, y: (x * y) * 0, "QuadExpr(linear=0, quad_terms=1)"),
    (lambda x, y: -(x * y), "QuadExpr(linear=-0, quad_terms=1)"),
    (lambda x, y: -(x * y + x), "QuadExpr(linear=-x0, quad_terms=1)"),
    (lambda x, y: x - x * y, "QuadExpr(linear=x0, quad_terms=1)"),
    (lambda x, y: (x + 1) - x * y, "QuadExpr(linear=x0 + 1, quad_terms=1)"),
    # the Var is promoted to an Expr with constant 0 before the constants are added
    (lambda x, y: x - (x * y + x), "QuadExpr(linear=0, quad_terms=1)"),
    (lambda x, y: x + (-(x * y) - x), "QuadExpr(linear=0, quad_terms=1)"),
    (lambda x, y: (x * y + x) - x, "QuadExpr(linear=0, quad_terms=1)"),
    (lambda x, y: x ** 2 + x ** 1 - x, "QuadExpr(linear=0, quad_terms=1)"),
    (lambda x, y: (x * y) / 4 + 0.5, "QuadExpr(linear=0.5, quad_terms=1)"),
])
def test_quad_texts(xyz, make, text):
    x, y, _ = xyz
    assert repr(make(x, y)) == text


@pytest.mark.parametrize("make, message", [
    (lambda x, y: x * y - x * y, Q),
    (lambda x, y: x * (x * y), B),
    (lambda x, y: (x + 1) * (x * y), C),
    (lambda x, y: (x * y) / 0, D),
    (lambda x, y: (x * y) / 0.0, D),
    (lambda x, y: (x * y) + None, Q),
    (lambda x, y: (x * y) * None, E),
    (lambda x, y: (x * y) / [1], E),
])
def test_quad_errors(xyz, make, message):
    x, y, _ = xyz
    with pytest.raises(ValueError) as info:
        make(x, y)
    assert str(info.value) == message


@pytest.mark.parametrize("make", [
    lambda x, y: 5 - x * y,
    lambda x, y: "a" - x * y,
    lambda x, y: None - x * y,
    lambda x, y: (x * y) ** 2,
])
def test_quad_type_errors(xyz, make):
    x, y, _ = xyz
    with pytest.raises(TypeError):
        make(x, y)


@pytest.mark.parametrize("make, text", [
    (lambda x, y: x ** 2 <= 4, "(x0 * x0) <= 4"),
    (lambda x, y: y * x <= 1, "(x0 * x1) <= 1"),
    (lambda x, y: x * y + 2 * (y * x) <= 1, "(x0 * x1) + 2*(x0 * x1) <= 1"),
    (lambda x, y: x * y + x * y == 0, "(x0 * x1) + (x0 * x1) == -0"),
    (lambda x, y: x * y * 3 - 2 <= 1, "3*(x0 * x1) <= 3"),
    (lambda x, y: -(x * y) * 2 >= 0, "-2*(x0 * x1) >= 0"),
    (lambda x, y: (x * y) * 0 <= 1, "0*(x0 * x1) <= 1"),
    (lambda x, y: x * y + 2 * x + 1 <= 5, "2*x0 + (x0 * x1) <= 4"),
    (lambda x, y: 5 <= x * y, "(x0 * x1) >= 5"),
    (lambda x, y: x * y >= x, "-x0 + (x0 * x1) >= -0"),
    (lambda x, y: x * y == y + 1, "-x1 + (x0 * x1) == 1"),
    (lambda x, y: x * y >= x * y, "(x0 * x1) - (x0 * x1) >= -0"),
    (lambda x, y: x * y + 1 <= vo.sin(x), "(x0 * x1) - sin(x0) <= -1"),
    # without product terms a number right side gives a linear row, anything else not
    (lambda x, y: x ** 1 <= 4, "x0 <= 4"),
    (lambda x, y: x ** 1 + 2 >= 4, "x0 >= 2"),
    (lambda x, y: x ** 1 + 2 <= y, "x0 - x1 <= -2"),
])
def test_quad_comparisons(xyz, make, text):
    x, y, _ = xyz
    c = make(x, y)
    assert type(c) is vo.Constraint
    assert repr(c) == text


@pytest.mark.parametrize("make", [
    lambda x, y: x * y <= "a",
    lambda x, y: x * y == None,  # noqa: E711
    lambda x, y: x ** 1 >= [1],
])
def test_quad_comparison_errors(xyz, make):
    x, y, _ = xyz
    with pytest.raises(ValueError) as info:
        make(x, y)
    assert str(info.value) == E
