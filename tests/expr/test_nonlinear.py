"""NlExpr: sin/cos/sqrt, arithmetic with a nonlinear operand, tree and expression texts,
nonlinear comparisons and very deep trees."""

import math
import operator

import pytest

import velmo_opt as vo

B = "Var can be multiplied by a scalar, Var, or NlExpr"
C = "Expr can be multiplied by a scalar or NlExpr"
D = "division by zero"
E = "Expected Var, Expr, NlExpr, or numeric for nonlinear operand"
ERRORS = (B, C, D, E)

OPS = {"+": operator.add, "-": operator.sub, "*": operator.mul, "/": operator.truediv}


@pytest.fixture
def env(xyz):
    x, y, _ = xyz
    return {"x": x, "e": y + 1, "q": x * y, "g": vo.sin(x), "n": 2, "zero": 0, "four": 4,
            "s": "a"}


ARITHMETIC = [
    ("g", "+", "n", "2 + sin(x0)"),
    ("g", "+", "x", "x0 + sin(x0)"),
    ("g", "+", "e", "x1 + 1 + sin(x0)"),
    ("g", "+", "q", "sin(x0) + (x0 * x1)"),
    ("g", "+", "g", "sin(x0) + sin(x0)"),
    ("g", "+", "s", E),
    ("g", "-", "n", "-2 + sin(x0)"),
    ("g", "-", "x", "-x0 + sin(x0)"),
    ("g", "-", "e", "-x1 - 1 + sin(x0)"),
    ("g", "-", "q", "sin(x0) - (x0 * x1)"),
    ("g", "-", "g", "sin(x0) - sin(x0)"),
    ("g", "-", "s", E),
    ("g", "*", "n", "2*sin(x0)"),
    ("g", "*", "zero", "0*sin(x0)"),
    ("g", "*", "x", "(sin(x0) * x0)"),
    ("g", "*", "e", "(sin(x0) * (x1 + 1))"),
    ("g", "*", "q", "(sin(x0) * (x0 * x1))"),
    ("g", "*", "g", "(sin(x0) * sin(x0))"),
    ("g", "*", "s", E),
    ("g", "/", "four", "0.25*sin(x0)"),
    ("g", "/", "zero", D),
    ("g", "/", "x", "(sin(x0) / x0)"),
    ("g", "/", "e", "(sin(x0) / (x1 + 1))"),
    ("g", "/", "q", "(sin(x0) / (x0 * x1))"),
    ("g", "/", "g", "(sin(x0) / sin(x0))"),
    ("g", "/", "s", E),
    ("n", "+", "g", "2 + sin(x0)"),
    ("n", "-", "g", "2 - sin(x0)"),
    ("n", "*", "g", "2*sin(x0)"),
    ("n", "/", "g", "(2 / sin(x0))"),
    ("s", "+", "g", E),
    ("s", "-", "g", E),
    ("s", "*", "g", E),
    ("s", "/", "g", E),
    ("x", "+", "g", "x0 + sin(x0)"),
    ("x", "-", "g", "x0 - sin(x0)"),
    ("x", "*", "g", "(x0 * sin(x0))"),
    ("x", "/", "g", "(x0 / sin(x0))"),
    ("e", "+", "g", "x1 + 1 + sin(x0)"),
    ("e", "-", "g", "x1 + 1 - sin(x0)"),
    ("e", "*", "g", "((x1 + 1) * sin(x0))"),
    ("e", "/", "g", "((x1 + 1) / sin(x0))"),
    ("q", "+", "g", "(x0 * x1) + sin(x0)"),
    ("q", "-", "g", "(x0 * x1) - sin(x0)"),
    ("q", "*", "g", "((x0 * x1) * sin(x0))"),
    ("q", "/", "g", "((x0 * x1) / sin(x0))"),
]


@pytest.mark.parametrize("left, op, right, expected", ARITHMETIC)
def test_arithmetic_results(env, left, op, right, expected):
    a, b = env[left], env[right]
    before = (repr(a), repr(b))
    if expected in ERRORS:
        with pytest.raises(ValueError) as info:
            OPS[op](a, b)
        assert str(info.value) == expected
    else:
        result = OPS[op](a, b)
        assert type(result) is vo.NlExpr
        assert repr(result) == expected
    assert (repr(a), repr(b)) == before


@pytest.mark.parametrize("make, text", [
    (lambda x, y: vo.sin(x), "sin(x0)"),
    (lambda x, y: vo.cos(y), "cos(x1)"),
    (lambda x, y: vo.sqrt(x), "sqrt(x0)"),
    (lambda x, y: vo.sin(x) + vo.cos(x), "sin(x0) + cos(x0)"),
    (lambda x, y: vo.cos(x) + vo.sin(x), "cos(x0) + sin(x0)"),
    (lambda x, y: -vo.sin(x), "-sin(x0)"),
    (lambda x, y: -vo.sin(x) * 2, "-2*sin(x0)"),
    (lambda x, y: vo.sin(x) * -0.5 + vo.cos(x) * -1, "-0.5*sin(x0) - cos(x0)"),
    (lambda x, y: 2 * x + vo.sin(x), "2*x0 + sin(x0)"),
    (lambda x, y: vo.sin(x) + 1 - 1, "sin(x0)"),
    (lambda x, y: -(vo.sin(x) - x), "x0 - sin(x0)"),
    (lambda x, y: vo.sin(x) * (1 + 2 ** -52), "sin(x0)"),
    # a NaN factor also makes the constant NaN; a NaN coefficient is not >= 0
    (lambda x, y: vo.sin(x) * float("nan"), "NaN - NaN*sin(x0)"),
    (lambda x, y: x + vo.sin(x) * float("nan"), "x0NaN - NaN*sin(x0)"),
    (lambda x, y: vo.sin(x) + float("nan"), "NaN + sin(x0)"),
    (lambda x, y: vo.sin(x) - math.inf, "-inf + sin(x0)"),
    (lambda x, y: vo.sin(x) + x - x, "sin(x0)"),
    (lambda x, y: 1 / x, "(1 / x0)"),
    (lambda x, y: x / y, "(x0 / x1)"),
    (lambda x, y: (x + 1) / (y * 2), "((x0 + 1) / (2 * x1))"),
    (lambda x, y: x / (x / y), "(x0 / (x0 / x1))"),
    (lambda x, y: (x * y) * x, "((x0 * x1) * x0)"),
    # node conversion: linear entries, the constant, then the terms, left-deep
    (lambda x, y: vo.sin(2), "sin(2)"),
    (lambda x, y: vo.sqrt(-1), "sqrt(-1)"),
    (lambda x, y: vo.cos(True), "cos(1)"),
    (lambda x, y: vo.sin(x + 1), "sin((x0 + 1))"),
    (lambda x, y: vo.sin(2 * x), "sin((2 * x0))"),
    (lambda x, y: vo.sin(x * 0), "sin((0 * x0))"),
    (lambda x, y: vo.sin(x * (1 + 2 ** -52)), "sin(x0)"),
    (lambda x, y: vo.sin(x - x), "sin(0)"),
    (lambda x, y: vo.sin(-(x - x)), "sin(-0)"),
    (lambda x, y: vo.sin(x * y), "sin((x0 * x1))"),
    (lambda x, y: vo.sin(x * y + x), "sin((x0 + (x0 * x1)))"),
    (lambda x, y: vo.sin(x * y * 3), "sin((3 * (x0 * x1)))"),
    (lambda x, y: vo.sqrt(x ** 2), "sqrt((x0 * x0))"),
    (lambda x, y: vo.sin(x ** 1), "sin(x0)"),
    (lambda x, y: vo.sin(vo.sin(x)), "sin(sin(x0))"),
    (lambda x, y: vo.sin(2 * vo.sin(x)), "sin((2 * sin(x0)))"),
    (lambda x, y: vo.sin(vo.sin(x) + 1), "sin((1 + sin(x0)))"),
    (lambda x, y: vo.cos(vo.sin(x) - vo.sin(x)), "cos((sin(x0) + (-1 * sin(x0))))"),
    (lambda x, y: vo.sin(vo.cos(y) * 0 + 0.5), "sin((0.5 + (0 * cos(x1))))"),
])
def test_nonlinear_texts(xyz, make, text):
    x, y, _ = xyz
    assert repr(make(x, y)) == text


def test_tree_of_a_mixed_expression(xyz):
    x, y, _ = xyz
    # 2x0 + x1 + 3 + sin(x0): linear entries in map order, then the constant, then terms
    text = repr(vo.sin(2 * x + y + 3 + vo.sin(x)))
    assert text in ("sin(((((2 * x0) + x1) + 3) + sin(x0)))",
                    "sin((((x1 + (2 * x0)) + 3) + sin(x0)))")


@pytest.mark.parametrize("f", [vo.sin, vo.cos, vo.sqrt])
@pytest.mark.parametrize("arg", ["a", None, [1], object()])
def test_functions_reject_other_arguments(f, arg):
    with pytest.raises(ValueError) as info:
        f(arg)
    assert str(info.value) == E


@pytest.mark.parametrize("make, text", [
    (lambda x, y: vo.sin(x) <= 1, "sin(x0) <= 1"),
    (lambda x, y: vo.sqrt(x) <= 3, "sqrt(x0) <= 3"),
    (lambda x, y: 1 >= vo.sin(x), "sin(x0) <= 1"),
    (lambda x, y: vo.sin(x) + 1 == 3, "sin(x0) == 2"),
    (lambda x, y: vo.sin(x) >= vo.sin(x), "sin(x0) - sin(x0) >= -0"),
    (lambda x, y: vo.sin(x) <= x * y, "sin(x0) - (x0 * x1) <= -0"),
    (lambda x, y: vo.sin(x) + x <= y + 2, "x0 - x1 + sin(x0) <= 2"),
    (lambda x, y: vo.sin(x) - x == -x, "sin(x0) == -0"),
    (lambda x, y: vo.cos(x) >= -0.0, "cos(x0) >= -0"),
    (lambda x, y: x <= vo.sin(x), "x0 - sin(x0) <= -0"),
    (lambda x, y: 2 * x - 1 >= vo.cos(y) * 2, "2*x0 - 2*cos(x1) >= 1"),
])
def test_nonlinear_comparisons(xyz, make, text):
    x, y, _ = xyz
    c = make(x, y)
    assert type(c) is vo.Constraint
    assert repr(c) == text


@pytest.mark.parametrize("make", [
    lambda g: g <= "a",
    lambda g: g == None,  # noqa: E711
    lambda g: g >= [g],
    lambda g: "a" <= g,
])
def test_nonlinear_comparison_errors(xyz, make):
    with pytest.raises(ValueError) as info:
        make(vo.sin(xyz[0]))
    assert str(info.value) == E


def test_operands_share_trees_and_stay_unchanged(xyz):
    x, y, _ = xyz
    g = vo.sin(x) + 2 * y
    built = [g + g, g - g, g * g, g / g, -g, vo.sin(g), g <= g, g * 3, 3 - g]
    del built
    assert repr(g) == "2*x1 + sin(x0)"


DEPTH = 1_000_000


@pytest.mark.parametrize("step, head, leaf, tail", [
    (lambda e, x: vo.sin(e), "sin(", "x0", ")"),
    (lambda e, x: e * x, "(", "x0", " * x0)"),
    (lambda e, x: 1 / e, "(1 / ", "x0", ")"),
])
def test_million_level_trees(m, step, head, leaf, tail):
    x = m.variable("x")
    e = x
    for _ in range(DEPTH):
        e = step(e, x)
    assert repr(e) == head * DEPTH + leaf + tail * DEPTH
    c = e <= 1
    assert repr(c).endswith(" <= 1")
    wider = vo.sin(e + x) * 2 - e
    assert repr(wider).startswith("2*sin(")
    m.add(c)
    m.add(e >= wider, name="deep")
    m.minimize(e)
    assert m.problem_type == "NLP"
    # Freeing the last holders releases a million nodes without recursing.
    del e, c, wider, m


def _squared_sine(xyz, times):
    e = vo.sin(xyz[0])
    for _ in range(times):
        e = e * e  # both children are the same shared node
    return e


def test_shared_subexpressions_print_in_full(xyz):
    # Each squaring doubles the text: 12 * 2**k - 5 characters.
    assert len(repr(_squared_sine(xyz, 10))) == 12 * 2**10 - 5
    assert len(repr(_squared_sine(xyz, 23))) == 12 * 2**23 - 5  # past the point where it is measured


def test_text_of_a_too_deeply_shared_expression_is_refused(xyz):
    e = _squared_sine(xyz, 60)
    for shown in (e, e <= 1):
        with pytest.raises(ValueError, match="expression text would exceed 1073741824 characters"):
            repr(shown)
