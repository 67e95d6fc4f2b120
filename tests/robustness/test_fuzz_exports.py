"""Random models with awkward names and random linear, quadratic and nonlinear parts, exported:
the generated program must run and rebuild a model whose exports match, and the LP text must
read back into HiGHS with one uniquely named column per variable.

VELMO_FUZZ_EXAMPLES raises the number of models as for the algebra fuzzer.
"""

import math
import os
import random
import re

import highspy
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import velmo
import velmo_opt as vo

EXAMPLES = max(40, int(os.environ.get("VELMO_FUZZ_EXAMPLES", "300")) // 5)
PIECES = ["x", "y", "0", "9", " ", ":", "[", "]", "'", '"', "\\", "\n", "é", "\u202e", "class",
          "m", "e1", "end", "free", "v_0", "-", "^", "*", "/", "+", "<=", "obj"]
# Magnitudes below add_term's 1e-15 threshold (down to the smallest subnormal) and next to one
# must come back exactly, whichever place they hold in a sum.
NUMBERS = [0, 1, -1, 2, 0.5, -0.0, 1e20, 3.25, math.inf, -math.inf, math.nan, 1e-20, -3e-16, 5e-324,
           1e-300, 1e300, 1 + 2 ** -52, -1 + 2 ** -53]


def name(rng):
    return "".join(rng.choice(PIECES) for _ in range(rng.randint(0, 4)))


def operand(rng, xs, depth):
    """A random operand built with the modelling operators; failures are skipped."""
    pick = rng.random()
    if depth <= 0 or pick < 0.3:
        return rng.choice(xs) if rng.random() < 0.7 else rng.choice(NUMBERS)
    a, b = operand(rng, xs, depth - 1), operand(rng, xs, depth - 1)
    op = rng.choice(["+", "-", "*", "/", "sin", "cos", "sqrt", "neg", "pow", "exp", "log", "tan", "atan", "tanh",
                     "abs", "power", "square", "product"])
    try:
        if op == "+":
            return a + b
        if op == "-":
            return a - b
        if op == "*":
            return a * b
        if op == "/":
            return a / b
        if op == "neg":
            return -a
        if op == "pow":
            return rng.choice(xs) ** rng.choice([1, 2])
        if op == "power":
            return velmo.power(a, rng.choice([1, 2, 2.5, -1, 0.5, 3]))
        if op == "product":
            return velmo.product(a, b)
        return getattr(velmo, op)(a)
    except (ValueError, TypeError, ArithmeticError):
        return a


def random_model(seed):
    rng = random.Random(seed)
    m = vo.Model(name(rng))
    xs = []
    for _ in range(rng.randint(1, 5)):
        kind = rng.choice(["variable", "integer", "binary"])
        if kind == "binary":
            xs.append(m.binary(name(rng)))
        else:
            lo, up = rng.choice([(0, 1), (-math.inf, math.inf), (-2, math.inf), (-math.inf, 3)])
            xs.append(getattr(m, kind)(name(rng), lo, up))
    for _ in range(rng.randint(0, 5)):
        lhs, rhs = operand(rng, xs, 3), operand(rng, xs, 2)
        op = rng.choice(["<=", ">=", "=="])
        try:
            c = lhs <= rhs if op == "<=" else lhs >= rhs if op == ">=" else lhs == rhs
        except (ValueError, TypeError):
            continue
        if isinstance(c, vo.Constraint):
            m.add(c, name=name(rng) if rng.random() < 0.5 else None)
    objective = operand(rng, xs, 3)
    try:
        (m.maximize if rng.random() < 0.5 else m.minimize)(objective)
    except ValueError:
        pass
    if len(xs) >= 2 and rng.random() < 0.3:
        m.add_soc_cone(xs[:2])
    if len(xs) >= 3 and rng.random() < 0.3:
        m.add_psd_cone(xs[:3])
    return m


def zeros(text):
    """The program writes negative zero as -0, which Python reads as the integer 0."""
    return re.sub(r"(?<![\w.])-0(?![\w.])", "0", text)


def rebuilt(m):
    namespace = {}
    exec(compile(m.to_python().split("\n# Solve\n")[0], "<generated>", "exec"), namespace)
    return namespace["m"]


@settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=list(HealthCheck))
@given(st.integers(0, 2 ** 32))
def test_exported_program_and_lp_text_read_back(tmp_path_factory, seed):
    m = random_model(seed)
    once = rebuilt(m)
    assert once.summary() == m.summary()
    assert zeros(once.to_lp()) == zeros(m.to_lp())
    assert (once.problem_type, once.num_vars, once.num_constraints) == (m.problem_type, m.num_vars, m.num_constraints)
    # Written once, a model comes back in the program's own spelling, which then stays put.
    assert zeros(rebuilt(once).to_python()) == zeros(once.to_python())

    path = tmp_path_factory.mktemp("lp") / "model.lp"
    path.write_text(m.to_lp(), encoding="utf-8")
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    status = str(h.readModel(str(path)))
    rows_part = m.to_lp().split("\nBounds\n")[0]
    if re.search(r"(?<![\w.])(inf|NaN)(?![\w.])", rows_part):
        return  # the format holds no infinite or NaN coefficient: readers take "inf" as a name
    if status in ("HighsStatus.kOk", "HighsStatus.kWarning"):  # a warning: tiny entries dropped
        columns = list(h.getLp().col_names_)
        assert len(set(columns)) == len(columns) == m.num_vars
    else:
        # HiGHS refuses bounds it cannot hold (NaN, infinite the wrong way, 1e20 and beyond) and
        # matrix entries of 1e15 and beyond.
        assert re.search(r"NaN|(?<!-)inf <=|>= inf|<= -inf\n|\d{16,}", m.to_lp()), m.to_lp()


def solve_outcome(m):
    try:
        return m.solve(time_limit=5.0)
    except Exception as e:  # noqa: BLE001 - compared between the two models
        return e


@settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=list(HealthCheck))
@given(st.integers(0, 2 ** 32), st.sampled_from([".lp", ".mps"]))
def test_written_files_read_back_to_the_same_problem(tmp_path_factory, seed, suffix):
    import velmo

    m = random_model(seed)
    path = tmp_path_factory.mktemp("files") / f"model{suffix}"
    try:
        m.write(path)
    except ValueError as e:
        # Refused whole: parts the format cannot hold, or data HiGHS refuses (NaN and the like).
        assert "cannot be written" in str(e) or "nothing was written" in str(e), e
        assert not path.exists()
        return
    except OSError:
        return  # a file HiGHS's writer refused (bounds or coefficients beyond its range)
    try:
        back = velmo.read_model(path)
    except ValueError:
        # Numbers HiGHS's readers refuse, as in the test above: infinite or NaN coefficients,
        # bounds infinite the wrong way, magnitudes of 1e20 and beyond.
        lp = m.to_lp()
        assert (re.search(r"(?<![\w.])(inf|NaN)(?![\w.])", lp.split("\nBounds\n")[0])
                or re.search(r"NaN|(?<!-)inf <=|>= inf|<= -inf\n|\d{20,}", lp)), lp
        return
    assert back.num_vars == m.num_vars
    if suffix == ".mps" and back.num_constraints < m.num_constraints:
        # A row whose bounds HiGHS takes as infinite (inf, 1e20 and beyond) is a free row, and
        # the MPS reader drops free rows: the problem is the same without them.
        assert re.search(r"(?m)[<>]= -?(\d{20,}|inf)$", m.to_lp().split("\nBounds\n")[0]), m.to_lp()
    else:
        assert back.num_constraints == m.num_constraints
    # Integrality survives (a quadratic objective whose products cancelled may come back linear).
    assert back.problem_type.startswith("MI") == m.problem_type.startswith("MI"), (m.to_lp(), back.to_lp())
    want, got = solve_outcome(m), solve_outcome(back)
    if isinstance(want, Exception) or isinstance(got, Exception):
        # A solver that refuses the problem (OSQP on a maximised square) refuses both alike.
        assert type(want) is type(got), (want, got)
        return
    if want.status == "optimal" and got.status == "optimal":
        assert got.objective == pytest.approx(want.objective, rel=1e-6, abs=1e-6, nan_ok=True)
