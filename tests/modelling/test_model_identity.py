"""Every expression knows the model its variables come from: a model, a one-line solve and a
result refuse another model's variables before anything is stored, compiled or solved, while
the arithmetic across models answers as ever."""

import gc
import sys

import pytest

import velmo as vo

FOREIGN = "another model"


@pytest.fixture
def two():
    m = vo.Model("m")
    x, y = m.variable("x", 0, 4), m.variable("y", 0, 4)
    m.add(x + y <= 3, name="cap")
    m.maximize(x + 2 * y)
    m2 = vo.Model("m2")
    a, b = m2.variable("a", 0, 1), m2.variable("b", 0, 1)
    return m, x, y, m2, a, b


def snapshot(model):
    return model.to_python(), model.num_constraints, model.problem_type


@pytest.mark.parametrize("call", [
    "m2.add(b + x <= 1.5)",               # x has index 0 in m, like a in m2
    "m2.add(x <= 1)",
    "m2.add(vo.sin(x) + a <= 1, name='n')",
    "m2.add(x * a >= 0)",
    "m2.add(vo.sum([a, b, x]) == 1)",
    "m2.minimize(x)",
    "m2.maximize(a + x * x)",
    "m2.minimize(vo.sqrt(a) / y)",
    "m2.add_soc_cone([a, x])",
    "m2.add_psd_cone([a, b, y])",
    "m2.add_matrix([[1, 1]], [a, x], '<=', 1)",  # x's index is one of m2's
    "m2.add(sum([a, b, x]) <= 1)",          # a sum grown in place
    "m2.minimize(vo.exp(x))",
    "m2.add(vo.log(a) + vo.power(y, 3) <= 1)",
    "m2.maximize(vo.product(b, x))",
    "m2.add(vo.sum(v for v in (a, b, y)) <= 2)",
    "m2.minimize(vo.dot([1.0, 2.0], [a, x]))",
    "m2.minimize(vo.quad_form([a, x], [[1, 0], [0, 1]]))",
])
def test_a_model_refuses_another_models_variables_and_stays_as_it_was(two, call):
    m, x, y, m2, a, b = two
    before = snapshot(m2), snapshot(m)
    with pytest.raises(ValueError, match=FOREIGN):
        eval(call)
    assert (snapshot(m2), snapshot(m)) == before
    assert m2.solve().status == "optimal"


def test_the_reported_diet_mistake_is_refused_and_the_right_row_solves(two):
    m, x, y, m2, a, b = two
    with pytest.raises(ValueError, match=r"^add\(\): the constraint holds variables of another model "
                                         r"\(it mixes the variables of two models\)"):
        m2.add(b + x <= 1.5)
    m2.add(b + a <= 1.5)
    m2.maximize(a + b)
    assert m2.solve().objective == pytest.approx(1.5)


@pytest.mark.parametrize("call", [
    "vo.minimize(x + a)",
    "vo.maximize(a, [x <= 1])",
    "vo.minimize(0, [a <= 1, b + y >= 0])",
    "vo.minimize(x * a, [])",
])
def test_one_line_solves_take_the_variables_of_one_model(two, call):
    m, x, y, m2, a, b = two
    with pytest.raises(ValueError, match=FOREIGN):
        eval(call)


def test_results_answer_only_for_their_own_models_variables(two):
    m, x, y, m2, a, b = two
    r = m.solve()
    assert (r.value(x), r.value(y)) == (0.0, 3.0)
    for method in (r.value, r.why, r.why_detail):
        with pytest.raises(ValueError, match=r"^\w+\(\): the variable belongs to another model"):
            method(a)  # index 0, like x
    quick = vo.minimize(a + b, [a + b >= 1])
    assert quick.value(a) + quick.value(b) == pytest.approx(1.0)
    with pytest.raises(ValueError, match=FOREIGN):
        quick.value(x)
    persistent = vo.PersistentHighs.from_model(model=m).resolve()
    assert persistent.value(y) == 3.0
    with pytest.raises(ValueError, match=FOREIGN):
        persistent.value(b)


def test_arithmetic_across_models_still_answers(two):
    _, x, y, _, a, b = two
    assert repr(x + a) == "2*x0"  # both have index 0
    assert repr(x - a) == "0"
    assert repr(x * b) == "QuadExpr(linear=0, quad_terms=1)"
    assert repr(vo.sin(x) <= a) == "-x0 + sin(x0) <= -0"
    assert (x != a) is False


def test_a_var_keeps_no_model_alive_and_a_new_model_never_takes_a_dead_ones_variables():
    m = vo.Model("short-lived")
    count = sys.getrefcount(m)
    orphans = m.variables("o", 3) + [m.variable("p"), m.binary("q")]
    assert sys.getrefcount(m) == count
    del m
    gc.collect()
    for _ in range(50):  # new models may reuse the dead one's memory, never its identity
        fresh = vo.Model()
        fresh.variables("f", 5)
        with pytest.raises(ValueError, match=FOREIGN):
            fresh.add(orphans[0] <= 1)
    assert repr(orphans[1] + 1) == "x1 + 1"


def test_expressions_without_variables_go_into_any_model(two):
    m, x, y, m2, a, b = two
    empty = vo.sum([]) + 2
    m2.add(empty <= 3)
    m.add(empty - 1 >= 0)
    vo.Model().minimize(empty * 4)
    with pytest.raises(ValueError, match=FOREIGN):
        m2.minimize(x - x + 5 - a)  # the cancelled x still came from m
