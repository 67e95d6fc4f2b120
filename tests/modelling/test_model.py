"""The Model container: construction, variables, objective, constraints, cones and the
problem classification."""

import threading

import pytest

import velmo_opt as vo

SOC = ("add_soc_cone: need at least 2 variables [head, x_1, \u2026]; the cone imposes "
       "head >= ||(x_1,\u2026)||_2.")
PSD = ("add_psd_cone: entry count must equal d(d+1)/2 for some d>=1 (upper-triangle, "
       "column-major svec of a symmetric matrix).")
OBJECTIVE = "Expected Var, Expr, QuadExpr, NlExpr, or numeric value"


@pytest.mark.parametrize("args, kwargs, text", [
    ((), {}, "Model('model', vars=0, constraints=0, type=LP)"),
    (("m",), {}, "Model('m', vars=0, constraints=0, type=LP)"),
    (("",), {}, "Model('', vars=0, constraints=0, type=LP)"),
    ((None,), {}, "Model('model', vars=0, constraints=0, type=LP)"),
    ((), {"name": "it's"}, "Model('it's', vars=0, constraints=0, type=LP)"),
    (("\u00e9t\u00e9",), {}, "Model('\u00e9t\u00e9', vars=0, constraints=0, type=LP)"),
])
def test_new_model_repr(args, kwargs, text):
    m = vo.Model(*args, **kwargs)
    assert repr(m) == text
    assert (m.num_vars, m.num_constraints, m.problem_type) == (0, 0, "LP")


def test_repr_counts_and_classifies(m):
    x = m.variable("x", lower=0)
    y = m.integer("y", lower=0, upper=10)
    m.variable("z")
    m.maximize(3 * x + 2 * y)
    m.add(x + y <= 4, name="capacity")
    m.add(x + 3 * y <= 6)
    m.add(vo.sin(x) <= 1)
    assert repr(m) == "Model('model', vars=3, constraints=2, type=NLP)"
    assert m.num_constraints == 2


def test_single_variables(m, linear_parts):
    x = m.variable("x")
    k = m.integer("k", lower=5, upper=1)  # bounds are not checked
    b = m.binary("b")
    n = m.variable("n", lower=float("nan"), upper=float("-inf"))
    same = m.variable("x")
    assert [repr(v) for v in (x, k, b, n, same)] == [
        "Var('x')", "Var('k')", "Var('b')", "Var('n')", "Var('x')"]
    assert [linear_parts(repr(v * 1)) for v in (x, k, b, n, same)] == [
        ({i: 1}, 0) for i in range(5)]
    assert m.num_vars == 5
    assert type(x) is vo.Var


@pytest.mark.parametrize("method, kind", [
    ("variables", "LP"), ("integers", "MILP"), ("binaries", "MILP")])
def test_batch_variables(m, linear_parts, method, kind):
    m.variable("first")
    vs = getattr(m, method)("x", 3)
    assert type(vs) is list
    assert [repr(v) for v in vs] == ["Var('x_0')", "Var('x_1')", "Var('x_2')"]
    assert [linear_parts(repr(v * 1))[0] for v in vs] == [{1: 1}, {2: 1}, {3: 1}]
    assert m.num_vars == 4
    assert m.problem_type == kind
    assert getattr(m, method)("x", 0) == []
    assert getattr(m, method)("", 2)[1].__repr__() == "Var('_1')"
    assert m.num_vars == 6


def test_batch_names_count_without_leading_zeros(m):
    vs = m.variables("v", 12, lower=0, upper=1)
    assert [repr(v) for v in vs[9:]] == ["Var('v_9')", "Var('v_10')", "Var('v_11')"]
    big = m.integers("w", 100_000)
    assert repr(big[-1]) == "Var('w_99999')"
    assert m.num_vars == 100_012


@pytest.mark.parametrize("call, exc", [
    (lambda m: m.variables("x", -1), OverflowError),
    (lambda m: m.integers("x", -(2 ** 70)), OverflowError),
    (lambda m: m.binaries("x", 2 ** 64), OverflowError),
    (lambda m: m.variables("x", 2 ** 32 + 1), OverflowError),
    (lambda m: m.variables("x", 3, lower="0"), TypeError),
    (lambda m: m.integers("x", 3, upper=None), TypeError),
])
def test_failed_batches_add_nothing(m, call, exc):
    m.variable("a")
    with pytest.raises(exc):
        call(m)
    assert m.num_vars == 1
    assert repr(m.variable("b") * 1) == "x1"


def test_vars_outlive_their_model():
    x = vo.Model().variable("x")
    assert repr(x) == "Var('x')"
    assert repr(x + 1 <= 2) == "x0 <= 1"


# ---- objective

@pytest.mark.parametrize("make, kind", [
    (lambda x, y: x, "LP"),
    (lambda x, y: 2 * x + y - 1, "LP"),
    (lambda x, y: 3, "LP"),
    (lambda x, y: 2.5, "LP"),
    (lambda x, y: True, "LP"),
    (lambda x, y: x * y, "QP"),
    (lambda x, y: x ** 1, "QP"),  # a QuadExpr objective is quadratic even without products
    (lambda x, y: x ** 2 + x - 4, "QP"),
    (lambda x, y: vo.sin(x), "NLP"),
    (lambda x, y: vo.sin(x) - vo.sin(x), "NLP"),
    (lambda x, y: x / y, "NLP"),
])
@pytest.mark.parametrize("sense", ["minimize", "maximize"])
def test_objective_kinds(m, make, kind, sense):
    x, y = m.variable("x"), m.variable("y")
    assert getattr(m, sense)(make(x, y)) is None
    assert m.problem_type == kind
    m.integer("k")
    assert m.problem_type == {"LP": "MILP", "QP": "MIQP", "NLP": "NLP"}[kind]


@pytest.mark.parametrize("bad", ["x", None, [1], object(), vo.Model()])
def test_bad_objective_keeps_the_previous_one(m, bad):
    x = m.variable("x")
    m.minimize(x * x)
    with pytest.raises(ValueError) as info:
        m.maximize(bad)
    assert str(info.value) == OBJECTIVE
    assert m.problem_type == "QP"


def test_objective_is_replaced(m):
    x = m.variable("x")
    m.minimize(vo.sin(x))
    m.maximize(x * x)
    assert m.problem_type == "QP"
    m.minimize(x)
    assert m.problem_type == "LP"


# ---- constraints

def test_add_stores_copies(m):
    x, y = m.variable("x"), m.variable("y")
    c = x + y <= 5
    assert m.add(c) is None
    assert m.add(c, name="cap") is None
    assert m.add(c, name=None) is None
    assert m.num_constraints == 3
    assert repr(c) == "x0 + x1 <= 5"  # naming the stored copy leaves the object alone
    m.add(vo.sin(x) <= 1)
    m.add(vo.sin(x) <= 1, name="s")
    assert m.num_constraints == 3
    assert m.problem_type == "NLP"


def test_constraint_without_nonlinear_terms_is_stored_apart_but_stays_linear(m):
    x, y = m.variable("x"), m.variable("y")
    c = x ** 1 + 2 <= y  # a NonlinearConstraint with no nonlinear terms
    m.add(c)
    assert m.num_constraints == 0
    assert m.problem_type == "LP"
    m.add(x * y <= 1)
    assert m.num_constraints == 0
    assert m.problem_type == "NLP"


def test_foreign_variables_are_refused(m):
    other = vo.Model()
    far = other.variables("f", 10)[-1]
    for call in (lambda: m.add(far <= 1), lambda: m.minimize(far), lambda: m.add_soc_cone([far, far])):
        with pytest.raises(ValueError, match="another model"):
            call()
    assert repr(m) == "Model('model', vars=0, constraints=0, type=LP)"


# ---- cones

class VarSequence:
    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


def test_soc_cones(m):
    t, x, y = m.variable("t"), m.variable("x"), m.variable("y")
    for bad in ([], [t], (x,)):
        with pytest.raises(ValueError) as info:
            m.add_soc_cone(bad)
        assert str(info.value) == SOC
    assert m.add_soc_cone([t, x]) == 0
    assert m.add_soc_cone((t, x, y)) == 1
    assert m.add_soc_cone(VarSequence([t, t])) == 2  # duplicates are not rejected
    with pytest.raises(ValueError):
        m.add_soc_cone([t])
    assert m.add_soc_cone(vars=[y, x]) == 3
    assert m.problem_type == "LP"
    assert m.num_constraints == 0


@pytest.mark.parametrize("n, ok", [
    (0, False), (1, True), (2, False), (3, True), (4, False), (5, False), (6, True),
    (7, False), (9, False), (10, True), (15, True), (20, False), (21, True), (5050, True),
    (5051, False),
])
def test_psd_cone_lengths(m, n, ok):
    vs = m.variables("v", n)
    if ok:
        assert m.add_psd_cone(vs) == 0
        assert m.add_psd_cone(tuple(vs)) == 1
    else:
        with pytest.raises(ValueError) as info:
            m.add_psd_cone(vs)
        assert str(info.value) == PSD
        assert m.add_psd_cone(m.variables("w", 1)) == 0  # the failure added nothing


def test_cone_positions_are_per_kind(m):
    a, b, c = m.variables("a", 3)
    assert m.add_psd_cone([a]) == 0
    assert m.add_soc_cone([a, b]) == 0
    assert m.add_psd_cone([a, b, c]) == 1
    assert m.add_soc_cone([c, a, b]) == 1
    m.minimize(a + b)
    assert m.problem_type == "LP"


# ---- classification

@pytest.mark.parametrize("build, kind", [
    (lambda m, x, y: None, "LP"),
    (lambda m, x, y: m.integer("k"), "MILP"),
    (lambda m, x, y: m.binary("b"), "MILP"),
    (lambda m, x, y: (m.binary("b"), m.minimize(x * y)), "MIQP"),
    (lambda m, x, y: m.minimize(x ** 2 + y), "QP"),
    (lambda m, x, y: (m.integer("k"), m.add(vo.cos(x) >= 0)), "NLP"),
    (lambda m, x, y: (m.minimize(x * y), m.add(x / y <= 1)), "NLP"),
    (lambda m, x, y: m.add(x * x <= 1), "NLP"),
    (lambda m, x, y: (m.add_soc_cone([x, y]), m.minimize(x)), "LP"),
    (lambda m, x, y: (m.add_psd_cone([x, y, x]), m.integer("k")), "MILP"),
    (lambda m, x, y: m.add(y ** 1 >= x), "LP"),
])
def test_problem_type(m, build, kind):
    x, y = m.variable("x"), m.variable("y")
    build(m, x, y)
    assert m.problem_type == kind
    assert repr(m).endswith(f"type={kind})")


def test_concurrent_use_from_threads(m):
    x = m.variable("x")

    def work():
        for _ in range(200):
            m.variables("t", 5)
            m.add(x <= 1)
            m.minimize(x)
            repr(m)

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert (m.num_vars, m.num_constraints) == (1 + 4 * 200 * 5, 4 * 200)


def test_argument_conversion_runs_before_the_model_is_locked(m):
    """Python code run by an argument's conversion may use the same model."""

    class Sneaky:
        def __init__(self, value):
            self.value = value

        def __float__(self):
            m.variable("inner")
            return float(self.value)

        def __index__(self):
            m.variable("inner")
            return self.value

        def __len__(self):
            return 2

        def __getitem__(self, i):
            if i >= 2:
                raise IndexError(i)
            return m.variable(f"cone{i}")

    x = m.variable("x", lower=Sneaky(0), upper=Sneaky(1))
    assert [repr(v) for v in m.variables("b", Sneaky(2))] == ["Var('b_0')", "Var('b_1')"]
    m.minimize(Sneaky(3))
    assert m.add_soc_cone(Sneaky(0)) == 0
    assert repr(x) == "Var('x')"
    assert m.num_vars == 3 + 3 + 1 + 2  # each call adds its own variables and the inner ones
