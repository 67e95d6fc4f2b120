"""Result: getters, value/values/basis, repr, and the absent-data rules."""

import re

import pytest

import velmo as vo


@pytest.fixture
def solved():
    m = vo.Model()
    x = m.variable("x", 0, 10)
    y = m.variable("y", 0, 10)
    m.add(x + y <= 4)
    m.maximize(3 * x + 2 * y + 0.5)
    return m, x, y, m.solve()


def test_getters_of_an_optimal_lp(solved):
    m, x, y, r = solved
    assert (r.status, r.is_optimal, r.solver) == ("optimal", True, "HiGHS")
    assert r.objective == 12.5 and isinstance(r.objective, float)
    assert isinstance(r.solve_time, float) and r.solve_time >= 0
    assert isinstance(r.iterations, int)
    assert r.nodes is None and r.gap is None
    assert r.primals == [4.0, 0.0]
    assert r.var_names_list == ["x", "y"]
    assert r.duals == [-3.0]
    assert r.value(x) == 4.0 and r.value(y) == 0.0
    assert r.values() == {"x": 4.0, "y": 0.0}


def test_returned_lists_are_fresh_copies(solved):
    _, x, _, r = solved
    r.primals.append(1.0)
    r.duals.clear()
    r.var_names_list.pop()
    r.values()["x"] = -1
    assert (r.primals, r.duals, r.var_names_list, r.value(x)) == ([4.0, 0.0], [-3.0], ["x", "y"], 4.0)


def test_repr_formats(solved):
    r = solved[3]
    assert re.fullmatch(r"SolveResult\(status=optimal, objective=12\.500000, solver=HiGHS, time=\d+\.\d{3}s\)", repr(r))
    m = vo.Model()
    x = m.variable("x", -3, 5)
    m.minimize(x)
    assert "objective=-3.000000," in repr(m.solve())
    m.add(x >= 6)
    assert re.fullmatch(r"SolveResult\(status=infeasible, solver=HiGHS, time=\d+\.\d{3}s\)", repr(m.solve()))


def test_absent_solution():
    m = vo.Model()
    x = m.variable("x", 0, 1)
    m.add(x >= 2)
    r = m.solve()
    assert (r.status, r.objective, r.duals, r.is_optimal) == ("infeasible", None, None, False)
    for read in (lambda: r.primals, r.values, lambda: r.value(x)):
        with pytest.raises(ValueError, match="^No solution available$"):
            read()
    assert r.var_names_list == ["x"]


def test_value_of_a_variable_beyond_the_primals_or_of_another_model(solved):
    m, _, _, r = solved
    with pytest.raises(ValueError, match="No solution available"):
        r.value(m.variable("added after the solve"))
    big = vo.Model()
    big.variables("z", 3)
    for stranger in (big.variable("far"), big.variables("near", 1)[0], vo.Model().variable("first")):
        with pytest.raises(ValueError, match="^value\\(\\): the variable belongs to another model"):
            r.value(stranger)
    with pytest.raises(TypeError):
        solved[3].value(1)
    with pytest.raises(TypeError):
        solved[3].value(solved[1] + 1)


def test_values_with_repeated_names_keeps_first_position_and_last_value():
    m = vo.Model()
    a = m.variable("a", 1, 1)
    m.variable("b", 2, 2)
    m.variable("a", 3, 3)
    m.minimize(a)
    r = m.solve()
    assert list(r.values().items()) == [("a", 3.0), ("b", 2.0)]


def test_mip_results_have_nodes_and_gap_but_no_duals():
    m = vo.Model()
    a, b = m.integer("a", 0, 10), m.integer("b", 0, 10)
    m.add(2 * a + 2 * b <= 7)
    m.maximize(3 * a + 2 * b)
    r = m.solve()
    assert r.duals is None
    assert isinstance(r.nodes, int) and isinstance(r.gap, float)


def test_result_is_read_only_and_not_constructible(solved):
    r = solved[3]
    with pytest.raises(TypeError):
        type(r)()
    with pytest.raises(AttributeError):
        r.status = "optimal"
    assert vo.Result.__doc__ == "The solve result returned to Python."
    assert vo.Result.value.__text_signature__ == "($self, var)"
    assert vo.Result.status.__doc__ == "Solution status as a string."
