"""Random programs of expression operations, each step checked against the pure-Python
reference: result type, text (up to the order of linear terms), or the exact error.

CI runs a bounded number of programs; VELMO_FUZZ_EXAMPLES=100000 selects the long run (see
the README's development section).
"""

import math
import operator
import os
from functools import partial

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import algebra_reference as ref
import velmo
import velmo_opt as vo

EXAMPLES = int(os.environ.get("VELMO_FUZZ_EXAMPLES", "300"))
MAX_TEXT = 3000  # longer results are checked but not reused, so programs stay fast


class FloatFails:
    def __float__(self):
        raise RuntimeError("no float here")


class HasIndex:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


def _variables():
    """x, y, z (indices 0 to 2) and a variable with index 12 of a second model whose name repr
    prints as is; each with the set of models its expression's variables come from."""
    m = vo.Model()
    wide = vo.Model()
    wide.variables("w", 12)
    made = [m.variable("x"), m.variable("y"), m.variable("z"), wide.variable("q'uote")]
    homes = [m, m, m, wide]
    return [(v, ref.Var(i, n), frozenset([h])) for v, i, n, h in
            zip(made, (0, 1, 2, 12), ("x", "y", "z", "q'uote"), homes)]


NUMBERS = [0, 1, -1, 2, 3, 0.5, -0.0, 0.1, 1e-16, 1e-15, 1 + 1e-15, 1e300, -1e300, 5e-324,
           math.nan, math.inf, -math.inf, True, False, 2 ** 70, np.float64(3.5), np.int64(-2),
           np.float32(0.1), HasIndex(7)]
OTHERS = ["a", None, b"x", [1], 10 ** 400, FloatFails(), 1j]
EXPONENTS = [1, 2, 0, 3, -1, 2 ** 31 - 1, 2 ** 31, -2 ** 31, -2 ** 31 - 1, True, False,
             np.int64(2), HasIndex(1), 2.0, np.float64(2), "2", None]
MODULI = [5, None, 2.0, "m", HasIndex(3)]
BINARY = {"+": operator.add, "-": operator.sub, "*": operator.mul, "/": operator.truediv}
COMPARE = {"<=": operator.le, ">=": operator.ge, "==": operator.eq, "!=": operator.ne,
           "<": operator.lt, ">": operator.gt}
FUNCTIONS = {"sin": vo.sin, "cos": vo.cos, "sqrt": vo.sqrt,
             **{name: getattr(velmo, name) for name in ("exp", "log", "tan", "atan", "tanh", "abs")}}
EXPRESSION_TYPES = (vo.Var, vo.Expr, vo.QuadExpr, vo.NlExpr)
# Exponents of velmo.power: any finite number; NaN, infinities and non-numbers are refused.
PACKAGE_EXPONENTS = [1, 2, 2.5, 0, -1, 0.5, 3, -0.0, 1e300, True, np.float64(2), HasIndex(2), math.nan,
                     math.inf, "2", None]

index = st.integers(0, 63)
steps = st.one_of(
    st.tuples(st.sampled_from(sorted(BINARY)), index, index),
    st.tuples(st.sampled_from(sorted(COMPARE)), index, index),
    st.tuples(st.just("neg"), index),
    st.tuples(st.just("pow"), index, st.sampled_from(range(len(EXPONENTS))),
              st.sampled_from(range(-1, len(MODULI)))),
    st.tuples(st.just("sum"), st.lists(index, max_size=5), st.booleans()),
    st.tuples(st.sampled_from(sorted(FUNCTIONS)), index),
    st.tuples(st.sampled_from(["minimize", "maximize"]), index),
    st.tuples(st.just("power"), index, st.sampled_from(range(len(PACKAGE_EXPONENTS)))),
    st.tuples(st.just("square"), index),
    st.tuples(st.just("product"), index, index),
    st.tuples(st.just("package_sum"), st.lists(index, max_size=5), st.sampled_from(["list", "tuple", "generator"])),
)

fuzzed = {"programs": 0, "steps": 0}


def refused_as_foreign(call):
    with pytest.raises(ValueError, match="another model"):
        call()


def check_model_refusals(v, homes):
    """A model takes an expression only over its own variables: every other model refuses it,
    and an expression over two models is refused by both and by the one-line solves."""
    constraint = isinstance(v, vo.Constraint)
    store = (lambda model: model.add(v)) if constraint else (lambda model: model.minimize(v))
    if homes:
        refused_as_foreign(lambda: store(vo.Model()))
    if len(homes) > 1:
        for home in homes:
            before = (home.num_constraints, home.to_python())
            refused_as_foreign(lambda: store(home))
            assert (home.num_constraints, home.to_python()) == before
        refused_as_foreign(lambda: vo.minimize(0, [v]) if constraint else vo.maximize(v))


def outcome_of_real(f, homes=frozenset()):
    try:
        v = f()
    except Exception as e:  # noqa: BLE001 - any exception is an outcome to compare
        return ("raise", type(e), str(e)), None
    if isinstance(v, bool):
        return ("bool", v), None
    if isinstance(v, str):
        return ("problem", v), None
    name = type(v).__name__
    text = repr(v)
    if isinstance(v, EXPRESSION_TYPES + (vo.Constraint,)):
        check_model_refusals(v, homes)
    if isinstance(v, vo.Constraint):
        with pytest.raises(ValueError, match="^A constraint has no truth value"):
            bool(v)
        # The kind shows in which list the constraint lands, in a model that takes it.
        scratch = next(iter(homes)) if len(homes) == 1 else vo.Model()
        before = scratch.num_constraints
        if len(homes) > 1:
            return ("value", name, ref.canonical(name, text), "mixed"), v
        scratch.add(v)
        kind = "linear" if scratch.num_constraints == before + 1 else "nonlinear"
        return ("value", name, ref.canonical(name, text), kind), v
    return ("value", name, ref.canonical(name, text), None), v


def outcome_of_reference(f):
    try:
        v = f()
    except ref.Refused as e:
        return ("raise", e.kind, e.message), None
    if isinstance(v, bool):
        return ("bool", v), None
    if isinstance(v, str):
        return ("problem", v), None
    name = ref.type_name(v)
    kind = v.kind if name == "Constraint" else None
    return ("value", name, ref.canonical(name, ref.text(v)), kind), v


def same(real, expected):
    if expected[0] == "raise" and real[0] == "raise":
        return real[1] is expected[1] and (expected[2] is None or real[2] == expected[2])
    return real == expected


def objective_type(sense, v, homes=frozenset()):
    """The class of a model with this objective, in the model of its variables (a fresh one
    with 13 variables when it has none)."""
    if homes:
        m = next(iter(homes))
    else:
        m = vo.Model()
        m.variables("v", 13)
    getattr(m, sense)(v)
    return m.problem_type


# Built at the start of every random program (and checked like any step): coefficients at and
# near the 1e-15 drop threshold and near one, a product, a nonlinear term.
PRELUDE = [("*", 0, 19), ("*", 2, 19), ("neg", 10), ("*", 2, 21), ("*", 0, 2), ("sin", 0),
           ("/", 4, 17)]


def run_program(program, prelude=()):
    values = _variables()  # expressions: the variables, then every result worth reusing
    atoms = [(n, n, frozenset()) for n in NUMBERS] + [(o, o, frozenset()) for o in OTHERS]
    nonlinear_homes = set()  # models holding a constraint with a nonlinear term
    trace = []

    def pick(i):
        # Even indices pick expressions, odd ones numbers and other objects.
        half = i // 2
        return values[half % len(values)] if i % 2 == 0 else atoms[half % len(atoms)]

    for step in list(prelude) + list(program):
        op = step[0]
        if op in BINARY or op in COMPARE:
            (a, ra, ha), (b, rb, hb) = pick(step[1]), pick(step[2])
            homes = ha | hb
            if not (isinstance(a, EXPRESSION_TYPES) or isinstance(b, EXPRESSION_TYPES)):
                continue  # plain Python on both sides
            operands = [a, b]
            if op in BINARY:
                real, expect = partial(BINARY[op], a, b), partial(ref.binary, op, ra, rb)
            else:
                real, expect = partial(COMPARE[op], a, b), partial(ref.comparison, op, ra, rb)
            shown = f"{a!r} {op} {b!r}"
        elif op in ("neg", "pow"):
            a, ra, homes = pick(step[1])
            if not isinstance(a, EXPRESSION_TYPES):
                continue
            operands = [a]
            if op == "neg":
                real, expect = partial(operator.neg, a), partial(ref.unary_minus, ra)
                shown = f"-{a!r}"
            elif step[3] < 0:
                e = EXPONENTS[step[2]]
                real, expect = partial(pow, a, e), partial(ref.power, ra, e)
                shown = f"{a!r} ** {e!r}"
            else:
                e, mod = EXPONENTS[step[2]], MODULI[step[3]]
                real, expect = partial(pow, a, e, mod), partial(ref.power, ra, e, mod, three=True)
                shown = f"pow({a!r}, {e!r}, {mod!r})"
        elif op in ("power", "square"):
            a, ra, homes = pick(step[1])
            operands = [a]
            e = PACKAGE_EXPONENTS[step[2]] if op == "power" else 2
            real = partial(velmo.power, a, e) if op == "power" else partial(velmo.square, a)
            expect = partial(ref.pkg_power, ra, e)
            shown = f"velmo.{op}({a!r}, {e!r})"
        elif op == "product":
            (a, ra, ha), (b, rb, hb) = pick(step[1]), pick(step[2])
            homes = ha | hb
            operands = [a, b]
            real, expect = partial(velmo.product, a, b), partial(ref.pkg_product, ra, rb)
            shown = f"velmo.product({a!r}, {b!r})"
        elif op == "package_sum":
            items = [pick(i) for i in step[1]]
            homes = frozenset().union(*(p[2] for p in items))
            operands = [p[0] for p in items]
            shape = {"list": list, "tuple": tuple, "generator": lambda xs: (x for x in xs)}[step[2]]
            real = partial(lambda: velmo.sum(shape([p[0] for p in items])))
            expect = partial(ref.pkg_sum, [p[1] for p in items])
            shown = f"velmo.sum({step[2]} of {operands!r})"
        elif op == "sum":
            items = [pick(i) for i in step[1]]
            real_items = [p[0] for p in items]
            ref_items = [p[1] for p in items]
            homes = frozenset().union(*(p[2] for p in items))
            if step[2]:
                real_items, ref_items = tuple(real_items), tuple(ref_items)
            operands = list(real_items)
            real, expect = partial(vo.sum, real_items), partial(ref.vsum, ref_items)
            shown = f"sum({real_items!r})"
        else:
            a, ra, homes = pick(step[1])
            operands = [a]
            if op in FUNCTIONS:
                real, expect = partial(FUNCTIONS[op], a), partial(ref.function, op, ra)
            else:
                real, expect = partial(objective_type, op, a, homes), partial(ref.objective_class, ra)
            shown = f"{op}({a!r})"

        before = [repr(o) for o in operands]
        got, value = outcome_of_real(real, homes)
        wanted, ref_value = outcome_of_reference(expect)
        if len(homes) == 1 and wanted[0] == "problem" and homes <= nonlinear_homes:
            wanted = ("problem", "NLP")  # a nonlinear constraint stored in the model decides
        if isinstance(ref_value, ref.NonlinearConstraint) and ref_value.expr.terms and len(homes) == 1:
            nonlinear_homes.update(homes)
        if len(homes) > 1:
            # Over two models the arithmetic answers as ever, but no model takes the result.
            if wanted[0] == "problem":
                wanted = ("raise", ValueError, None)
            elif wanted[0] == "value" and wanted[1] == "Constraint":
                wanted = wanted[:3] + ("mixed",)
        trace.append(shown)
        fuzzed["steps"] += 1
        assert same(got, wanted), "\n".join(trace + [f"got      {got}", f"expected {wanted}"])
        assert [repr(o) for o in operands] == before, "an operand changed:\n" + "\n".join(trace)
        if value is not None and len(ref.text(ref_value)) <= MAX_TEXT:
            values.append((value, ref_value, homes))
    fuzzed["programs"] += 1


@pytest.fixture(scope="module", autouse=True)
def report_counts():
    yield
    if "VELMO_FUZZ_EXAMPLES" in os.environ:
        print(f"\nfuzzed {fuzzed['programs']} programs, {fuzzed['steps']} checked steps")


@settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(steps, min_size=1, max_size=12))
def test_random_programs_match_the_reference(program):
    run_program(program, PRELUDE)


# Fixed cases for the corners the rules spell out, so a reference slip shows here first.
@pytest.mark.parametrize("program", [
    [("-", 0, 0)],                                # x - x drops the entry
    [("*", 0, 2), ("neg", 8)],                    # -(x*y): negative-zero constant
    [("+", 0, 29), ("<=", 8, 0)],                 # NaN constant, then a comparison
    [("*", 0, 29), ("+", 8, 2), ("sin", 10)],     # NaN coefficient glued into texts
    [("*", 0, 2), ("-", 8, 8)],                   # QuadExpr - QuadExpr is refused
    [("/", 29, 0), ("*", 8, 0)],                  # reflected division, then a product
    [("pow", 0, 1, -1), ("<=", 8, 1)],            # x ** 2 <= 0
])
def test_named_programs(program):
    run_program(program)


# Chains of additions and subtractions that branch from earlier links: sums share storage
# between links, so every link is compared with the reference when made and re-read at the
# end, after all later links were built from it.
chain_links = st.lists(st.tuples(st.sampled_from(["+", "-", "+=", "-="]), index, st.integers(0, 3)),
                       min_size=1, max_size=40)


@settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.integers(0, 7), chain_links)
def test_random_chains_leave_every_link_unchanged(start, links):
    variables = _variables()
    (x, rx, home), (y, ry, _) = variables[:2]
    variables.append((x * y, ref.binary("*", rx, ry), home))  # quadratic links too
    atoms = [(n, n, frozenset()) for n in NUMBERS] + [(o, o, frozenset()) for o in OTHERS]
    first = variables[start % len(variables)]
    a, ra = first[0] + 1, ref.binary("+", first[1], 1)
    chain = [(a, ra, repr(a), first[2])]
    for op, i, back in links:
        left, rleft, _, lhomes = chain[max(0, len(chain) - 1 - back)]
        right, rright, rhomes = variables[(i // 2) % len(variables)] if i % 2 == 0 else atoms[(i // 2) % len(atoms)]
        # Each link carries the models of both sides, however the sum grew (in place or not).
        homes = lhomes | rhomes
        got, value = outcome_of_real(partial(BINARY[op[0]], left, right), homes)
        wanted, ref_value = outcome_of_reference(partial(ref.binary, op[0], rleft, rright))
        assert same(got, wanted), (op, left, right, got, wanted)
        if value is not None:
            chain.append((value, ref_value, repr(value), homes))
    for value, ref_value, text, _ in chain:
        assert repr(value) == text
        assert ref.canonical(type(value).__name__, text) == ref.canonical(ref.type_name(ref_value), ref.text(ref_value))
