"""The module's Python surface: registration, docstrings, signatures, binding-layer errors
and the operator dispatch rules shared by every expression class."""

import ctypes
import fractions
import sys

import numpy as np
import pytest

import velmo_opt as vo

CLASS_ORDER = ["Model", "Var", "Expr", "QuadExpr", "NlExpr", "Constraint", "Result",
               "BlackBoxResult", "PersistentHighs"]
FUNCTION_ORDER = ["minimize", "maximize", "sum", "sin", "cos", "sqrt", "solve_de", "solve_pso",
                  "solve_sa", "solve_cmaes", "pareto_frontier", "stochastic_solve",
                  "solve_portfolio", "solve_parallel_de", "solve_admm"]
MODELLING_NAMES = ["Model", "Var", "Expr", "QuadExpr", "NlExpr", "Constraint",
                   "sum", "sin", "cos", "sqrt"]


def registered_names():
    return [n for n in vars(vo) if not (n.startswith("__") and n.endswith("__"))]


def test_registration_follows_the_fixed_order():
    names = registered_names()
    # Classes come first, then functions, each group in its table order; parts of the module
    # that other layers add later slot into the same order.
    assert names == [n for n in CLASS_ORDER + FUNCTION_ORDER if n in names]
    assert set(MODELLING_NAMES) <= set(names)
    assert all(isinstance(getattr(vo, n), type) for n in names if n in CLASS_ORDER)


def test_module_identity_and_cached_entry():
    assert vo.__name__ == "velmo_opt"
    assert vo.__doc__ == ""
    assert vo.sum is not sum
    entry = ctypes.PyDLL(vo.__file__).PyInit_velmo_opt
    entry.restype = ctypes.py_object
    assert entry() is vo
    assert entry() is vo


CLASS_DOCS = {
    "Model": "The main Model class exposed to Python.",
    "Var": "A variable reference returned to Python. Supports operator overloading\n"
           "to build expressions naturally: `x + 2*y >= 5`.",
    "Expr": "A linear expression in Python. Built by combining Var objects with +, -, *.",
    "QuadExpr": "A quadratic expression: linear + quadratic terms.\n"
                "Supports x**2, x*y, and combinations with linear expressions.",
    "NlExpr": "A nonlinear expression in Python. Produced by `sin`/`cos`/`sqrt` applied\n"
              "to `Var`/`Expr`, or by arithmetic combining a nonlinear operand with a\n"
              "`Var`/`Expr`/scalar. Comparison operators produce nonlinear constraints.",
    "Constraint": "A constraint object returned by comparison operators.",
}


@pytest.mark.parametrize("name, doc", CLASS_DOCS.items())
def test_class_docstrings(name, doc):
    cls = getattr(vo, name)
    assert cls.__doc__ == doc
    assert cls.__module__ == "velmo_opt"
    assert cls.__qualname__ == name


def test_model_text_signature():
    assert vo.Model.__text_signature__ == "(name=None)"


@pytest.mark.parametrize("name", ["Var", "Expr", "QuadExpr", "NlExpr", "Constraint"])
def test_value_classes_are_not_constructible(name):
    cls = getattr(vo, name)
    with pytest.raises(TypeError):
        cls()
    with pytest.raises(TypeError):
        cls.__new__(cls)


def test_instances_of_value_classes_refuse_new_attributes(m):
    x = m.variable("x")
    for obj in (x, x + 1, x * x, vo.sin(x), x <= 1):
        with pytest.raises((AttributeError, TypeError)):
            obj.index = 3
        with pytest.raises((AttributeError, TypeError)):
            type(obj)()
    with pytest.raises(AttributeError):
        m.num_vars = 3


MODEL_METHODS = [
    ("variable", "($self, name, lower=..., upper=...)", "Add a continuous variable."),
    ("integer", "($self, name, lower=..., upper=...)", "Add an integer variable."),
    ("binary", "($self, name)", "Add a binary variable."),
    ("minimize", "($self, expr)", "Set the objective to minimize. Accepts Var, Expr, or QuadExpr."),
    ("maximize", "($self, expr)", "Set the objective to maximize. Accepts Var, Expr, or QuadExpr."),
    ("add", "($self, constraint, name=None)",
     "Add a constraint. Accepts a Constraint object, with optional name."),
    ("add_soc_cone", "($self, vars)", None),
    ("add_psd_cone", "($self, entries)", None),
    ("variables", "($self, prefix, count, lower=..., upper=...)",
     "Batch-add continuous variables. Returns a list of Var objects."),
    ("integers", "($self, prefix, count, lower=..., upper=...)", "Batch-add integer variables."),
    ("binaries", "($self, prefix, count)", "Batch-add binary variables."),
    ("solve", "($self, **kwargs)", "Solve the model. Auto-detects problem type and selects best solver."),
    ("validate", "($self)", "Validate the model before solving. Returns list of warning dicts."),
    ("to_lp", "($self)", "Export the model to LP format string."),
    ("to_python", "($self)", "Generate standalone Python code that recreates this model."),
    ("summary", "($self)", "Get a human-readable model summary."),
]


@pytest.mark.parametrize("name, signature, summary", MODEL_METHODS)
def test_model_method_signatures_and_summaries(name, signature, summary):
    method = getattr(vo.Model, name)
    assert method.__text_signature__ == signature
    if summary is not None:
        assert method.__doc__.split("\n")[0] == summary


def test_model_method_table_order():
    own = [n for n in vars(vo.Model) if not n.startswith("_")]
    expected = [n for n, _, _ in MODEL_METHODS] + ["num_vars", "num_constraints", "problem_type"]
    assert [n for n in own if n in expected] == expected


RESULT_METHODS = [
    ("value", "($self, var)", "Get the value of a variable by its Var reference."),
    ("values", "($self)", "Get all variable values as a dict {name: value}."),
    ("basis", "($self)", "Basis object for LP hot-start (HiGHS only)."),
    ("infeasibility_report", "($self)",
     'Compute the Irreducible Infeasible Subsystem.\nOnly meaningful when status is "infeasible".\n'
     "Calls HiGHS: to check member by member the subsystem that bound propagation finds, and to\n"
     "find one when propagation finds none (its IIS of the linear relaxation, or MIP runs capped\n"
     "at 2 s each and 20 s in all when only the integer model is infeasible)."),
    ("sensitivity", "($self)", "Get sensitivity analysis: shadow prices, active constraints, bound status."),
    ("why", "($self, var)", "Explain why a variable has its current value at the optimum."),
    ("why_detail", "($self, var)", 'Get detailed "why" report as a dict.'),
    ("ranging", "($self)",
     "Cost and right-hand-side ranging of an LP solved by HiGHS with solve(ranging=True).\n"
     'Returns a dict: "cost_ranges" (name, cost, lowest, highest), "rhs_ranges"\n'
     '(position, label, rhs, lowest, highest) and "reduced_costs" (name, reduced cost).\n'
     "Each interval is where the optimal basis stays optimal when that one number moves."),
]


def test_result_methods_in_order_with_signatures_and_docstrings():
    own = [n for n in vars(vo.Result) if n in {name for name, _, _ in RESULT_METHODS}]
    assert own == [name for name, _, _ in RESULT_METHODS]
    for name, signature, doc in RESULT_METHODS:
        method = getattr(vo.Result, name)
        assert (method.__text_signature__, method.__doc__) == (signature, doc)


def test_variables_docstring_continues():
    assert vo.Model.variables.__doc__ == (
        "Batch-add continuous variables. Returns a list of Var objects.\n"
        "Much faster than calling variable() in a loop for large models.")


@pytest.mark.parametrize("name, doc", [
    ("num_vars", "Number of variables."),
    ("num_constraints", "Number of constraints."),
    ("problem_type", "Detected problem type."),
])
def test_model_property_docstrings(name, doc):
    assert getattr(vo.Model, name).__doc__ == doc


def test_cone_docstrings():
    soc = vo.Model.add_soc_cone.__doc__.split("\n")
    assert soc[0].startswith("Declare a first-class second-order (Lorentz) cone (")
    assert soc[0].endswith(").")
    assert soc[1:] == [
        "",
        "``vars = [head, x_1, \u2026, x_k]`` imposes ``head >= ||(x_1,\u2026,x_k)||_2``.",
        "A model with any cone is conic and is solved through Clarabel",
        "(``SecondOrderConeT``) automatically \u2014 no explicit ``solver=\"clarabel\"``",
        "needed. Combine with a quadratic/linear objective for SOCP.",
    ]
    psd = vo.Model.add_psd_cone.__doc__.split("\n")
    assert psd[0].startswith("Declare a first-class positive-semidefinite cone (")
    assert psd[0].endswith("): ``X \u2ab0 0``.")
    assert psd[1:] == [
        "",
        "``entries`` are the variables of the **upper-triangle, column-major**",
        "svec of the symmetric d\u00d7d matrix ``X``, in the order",
        "``[X00, X01, X11, X02, X12, X22, \u2026]`` (length ``d(d+1)/2``). A model with",
        "any cone auto-routes to Clarabel (``PSDTriangleConeT(d)``). The off-",
        "diagonal entries are \u221a2-scaled internally per Clarabel's convention.",
    ]


@pytest.mark.parametrize("name, signature, doc", [
    ("sum", "(items)",
     "Summation helper: velmo.sum([expr1, expr2, ...]) \u2014 accepts Var and Expr objects."),
    ("sin", "(obj)", "`sin(x)` \u2014 returns an `NlExpr` wrapping `Sin(x)`."),
    ("cos", "(obj)", "`cos(x)` \u2014 returns an `NlExpr` wrapping `Cos(x)`."),
    ("sqrt", "(obj)", "`sqrt(x)` \u2014 returns an `NlExpr` wrapping `Sqrt(x)`."),
])
def test_function_signatures_and_docstrings(name, signature, doc):
    f = getattr(vo, name)
    assert f.__text_signature__ == signature
    assert f.__doc__ == doc
    assert f.__name__ == name


# ---- binding-layer argument errors: (call, exception, parameter named in the message)

BINDING_ERRORS = [
    (lambda m, x: vo.Model(3), TypeError, "name"),
    (lambda m, x: vo.Model(name=b"m"), TypeError, "name"),
    (lambda m, x: vo.Model("a", "b"), TypeError, None),
    (lambda m, x: vo.Model(title="a"), TypeError, "title"),
    (lambda m, x: m.variable(), TypeError, "name"),
    (lambda m, x: m.variable(None), TypeError, "name"),
    (lambda m, x: m.variable(b"x"), TypeError, "name"),
    (lambda m, x: m.variable("x", lower="0"), TypeError, "lower"),
    (lambda m, x: m.variable("x", upper=None), TypeError, "upper"),
    (lambda m, x: m.variable("x", 0, 1, 2), TypeError, None),
    (lambda m, x: m.variable("x", lower=10 ** 400), OverflowError, "lower"),
    (lambda m, x: m.variable("x", 0, lower=1), TypeError, "lower"),
    (lambda m, x: m.variable("x", low=0), TypeError, "low"),
    (lambda m, x: m.integer(1.5), TypeError, "name"),
    (lambda m, x: m.integer("k", upper=[1]), TypeError, "upper"),
    (lambda m, x: m.binary("b", 0), TypeError, None),
    (lambda m, x: m.binary(name=7), TypeError, "name"),
    (lambda m, x: m.variables("x"), TypeError, "count"),
    (lambda m, x: m.variables("x", 2.0), TypeError, "count"),
    (lambda m, x: m.variables("x", "2"), TypeError, "count"),
    (lambda m, x: m.variables("x", -1), OverflowError, "count"),
    (lambda m, x: m.variables("x", 2 ** 64), OverflowError, "count"),
    (lambda m, x: m.variables(None, 2), TypeError, "prefix"),
    (lambda m, x: m.variables("x", 2, lower="a"), TypeError, "lower"),
    (lambda m, x: m.integers("x", -5), OverflowError, "count"),
    (lambda m, x: m.integers("x", 2, upper=object()), TypeError, "upper"),
    (lambda m, x: m.binaries("b", -1), OverflowError, "count"),
    (lambda m, x: m.binaries("b", None), TypeError, "count"),
    (lambda m, x: m.binaries("b", 2, 0), TypeError, None),
    (lambda m, x: m.minimize(), TypeError, "expr"),
    (lambda m, x: m.maximize(x, x), TypeError, None),
    (lambda m, x: m.add("x <= 1"), TypeError, "constraint"),
    (lambda m, x: m.add(x), TypeError, "constraint"),
    (lambda m, x: m.add(x <= 1, name=3), TypeError, "name"),
    (lambda m, x: m.add(x <= 1, "a", "b"), TypeError, None),
    (lambda m, x: m.add_soc_cone("xy"), TypeError, "vars"),
    (lambda m, x: m.add_soc_cone(5), TypeError, "vars"),
    (lambda m, x: m.add_soc_cone({0: x, 1: x}), TypeError, "vars"),
    (lambda m, x: m.add_soc_cone([x, x + 0]), TypeError, "vars"),
    (lambda m, x: m.add_psd_cone([x, 1, x]), TypeError, "entries"),
    (lambda m, x: m.add_psd_cone(entries=None), TypeError, "entries"),
    (lambda m, x: vo.sum(), TypeError, "items"),
    (lambda m, x: vo.sum((x, x)), TypeError, "items"),
    (lambda m, x: vo.sum(iter([x])), TypeError, "items"),
    (lambda m, x: vo.sum([x], [x]), TypeError, None),
    (lambda m, x: vo.sin(), TypeError, "obj"),
    (lambda m, x: vo.cos(x, x), TypeError, None),
    (lambda m, x: vo.sqrt(x=x), TypeError, "x"),
]


@pytest.mark.parametrize("call, exc, pname", BINDING_ERRORS)
def test_binding_layer_errors(m, call, exc, pname):
    x = m.variable("x")
    with pytest.raises(exc) as info:
        call(m, x)
    if pname is not None:
        assert f"'{pname}'" in str(info.value)
    # Binding failures happen before the operation: nothing was added.
    assert m.num_vars == 1
    assert m.num_constraints == 0
    assert repr(m) == "Model('model', vars=1, constraints=0, type=LP)"


def test_parameters_bind_by_keyword(m):
    x = m.variable(name="x", upper=3, lower=1)
    assert repr(x) == "Var('x')"
    assert [repr(v) for v in m.variables(count=2, prefix="p")] == ["Var('p_0')", "Var('p_1')"]
    m.add(name="c", constraint=x <= 1)
    m.minimize(expr=x)
    assert repr(vo.sum(items=[x, 1])) == "x0 + 1"
    assert repr(vo.sin(obj=x)) == "sin(x0)"
    assert repr(vo.Model(name="n")) == "Model('n', vars=0, constraints=0, type=LP)"


# ---- operand classification and operator dispatch

class HasFloat:
    def __float__(self):
        return 2.5


class HasIndex:
    def __index__(self):
        return 3


class FloatFails:
    def __float__(self):
        raise RuntimeError("no float here")


@pytest.mark.parametrize("number, text", [
    (True, "x0 + 1"),
    (False, "x0"),
    (np.float64(2), "x0 + 2"),
    (np.int32(-4), "x0 - 4"),
    (np.float32(0.5), "x0 + 0.5"),
    (fractions.Fraction(1, 4), "x0 + 0.25"),
    (HasFloat(), "x0 + 2.5"),
    (HasIndex(), "x0 + 3"),
    (2 ** 70, "x0 + 1180591620717411300000"),
])
def test_numbers_are_anything_float_accepts(xyz, number, text):
    x = xyz[0]
    assert repr(x + number) == text


@pytest.mark.parametrize("other", ["1", b"1", None, [1], FloatFails(), 10 ** 400, 1j, object()])
def test_non_numbers_raise_the_operation_error(xyz, other):
    x = xyz[0]
    with pytest.raises(ValueError, match="Unsupported operand type \u2014 use Var, Expr, or numeric"):
        x + other
    with pytest.raises(ValueError, match="Unsupported operand type \u2014 use Var, Expr, or numeric"):
        other - x


class Greedy:
    """Offers every reflected operator: a forward form that raises must not defer to them."""

    def __radd__(self, other):
        return "radd"

    __rsub__ = __rmul__ = __rtruediv__ = __rpow__ = __radd__

    def __ge__(self, other):
        return "ge"

    __le__ = __eq__ = __ge__


@pytest.fixture
def operands(xyz):
    x, y, _ = xyz
    return {"Var": x, "Expr": x + y, "QuadExpr": x * y, "NlExpr": vo.sin(x)}


@pytest.mark.parametrize("kind", ["Var", "Expr", "QuadExpr", "NlExpr"])
@pytest.mark.parametrize("op", ["+", "-", "*", "/"])
def test_forward_forms_raise_instead_of_deferring(operands, kind, op):
    a = operands[kind]
    with pytest.raises(ValueError):
        eval(f"a {op} b", {"a": a, "b": Greedy()})


def test_power_and_comparisons_defer(operands):
    x = operands["Var"]
    # Only a non-integer exponent answers NotImplemented, so the other side may answer.
    assert x ** Greedy() == "radd"
    # A comparison with an unsupported right side raises; reflection happens only when the
    # left operand gives up.
    for kind, obj in operands.items():
        with pytest.raises(ValueError):
            obj <= Greedy()
        assert (Greedy() <= obj) == "ge"


@pytest.mark.parametrize("kind", ["Var", "Expr", "QuadExpr", "NlExpr"])
def test_ordering_comparisons_and_hashing_are_refused(operands, kind):
    a = operands[kind]
    for expr in ("a < b", "a > b", "b < a", "b > a", "a < 3", "3 > a"):
        with pytest.raises(TypeError):
            eval(expr, {"a": a, "b": operands["Var"]})
    with pytest.raises(TypeError):
        hash(a)
    with pytest.raises(TypeError):
        {a: 1}
    with pytest.raises(TypeError):
        +a
    with pytest.raises(TypeError):
        abs(a)


@pytest.mark.parametrize("kind", ["Var", "Expr", "QuadExpr", "NlExpr"])
def test_not_equal_negates_a_successful_equality(operands, kind):
    a = operands[kind]
    assert (a != 3) is False
    assert (3 != a) is False
    assert (a != operands["NlExpr"]) is False
    assert type(a == 3) is vo.Constraint
    with pytest.raises(ValueError):
        a != "3"


def test_constraints_have_no_truth_value_and_print(operands):
    c = operands["Var"] <= 1
    with pytest.raises(ValueError, match="^A constraint has no truth value"):
        bool(c)
    assert type(c) is vo.Constraint
    assert repr(c) == str(c) == "x0 <= 1"


def test_no_reference_leaks_on_success_or_failure(operands):
    x = operands["Var"]
    e = operands["Expr"]
    before = (sys.getrefcount(x), sys.getrefcount(e), sys.getrefcount(vo.Expr),
              sys.getrefcount(vo.NlExpr), sys.getrefcount(vo.Constraint))
    for _ in range(1000):
        x + e
        e * 2 <= x
        vo.sin(e) / x
        vo.sum([x, e, 1])
        for bad in ("a", None):
            for f in (lambda: x + bad, lambda: e * bad, lambda: x <= bad, lambda: vo.sum([x, bad]),
                      lambda: vo.sin(bad), lambda: e / bad):
                with pytest.raises(ValueError):
                    f()
    after = (sys.getrefcount(x), sys.getrefcount(e), sys.getrefcount(vo.Expr),
             sys.getrefcount(vo.NlExpr), sys.getrefcount(vo.Constraint))
    assert before == after
