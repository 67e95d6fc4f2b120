"""Model.validate: one model per finding kind with its exact text, the thresholds, and the
group order."""

import math

import pytest

import velmo as vo

INF = math.inf


def findings(m):
    return [(f["severity"], f["category"], f["message"]) for f in m.validate()]


def test_empty_model_has_no_findings():
    assert vo.Model().validate() == []


def _bounds(lower, upper):
    def build():
        m = vo.Model()
        x = m.variable("x", lower, upper)
        m.add(x + 0 <= 100)
        return m
    return build


def _used_only_in_objective():
    m = vo.Model()
    x, y, z = m.variable("x"), m.variable("y"), m.variable("z")
    m.add(0 * y + x <= 1)  # a zero coefficient still counts as use
    m.minimize(z)
    return m


def _scaling(small, large):
    def build():
        m = vo.Model()
        x, y = m.variable("x"), m.variable("y")
        m.add(small * x + large * y <= 1)
        return m
    return build


def _large_rhs():
    m = vo.Model()
    x = m.variable("x")
    m.add(x <= 1, name="a")
    m.add(x >= -5e12, name="b")
    m.add(x <= 2e12)
    return m


def _empty_rows():
    m = vo.Model()
    x = m.variable("x")
    m.add(x <= 1)
    for _ in range(3):
        m.add(x - x <= 1)
    return m


def _trivial(sense, upper_y):
    def build():
        m = vo.Model()
        x, y = m.variable("x", 1, 5), m.variable("y", 1, upper_y)
        if sense == "<=":
            m.add(x + y <= 1, name="c")
        else:
            m.add(x + y >= 20)
        m.add(x <= 0)  # a single term is never judged
        return m
    return build


@pytest.mark.parametrize(
    "build, expected",
    [
        (_bounds(5, 4), [("ERROR", "infeasible_bounds", "Variable 'x' has infeasible bounds: lower=5.0000 > upper=4.0000")]),
        (_bounds(5, 4.99999999999), []),
        (_bounds(-INF, -INF), []),
        (_used_only_in_objective, [("INFO", "unused_variable", "Variable 'z' is not used in any constraint")]),
        (_scaling(1e-3, 1e4), [("WARN", "scaling", "Coefficient range is 1e7 (min=1.00e-3, max=1.00e4) \u2014 may cause numerical issues. Consider scaling.")]),
        (_scaling(1e-3, 1e3), []),  # exactly 1e6
        (_scaling(1e-16, 1.0), []),  # tiny coefficients are dropped from the range
        (_large_rhs, [("WARN", "large_rhs", "Constraint 'b' has very large RHS: -5.00e12"),
                      ("WARN", "large_rhs", "Constraint 'constraint_2' has very large RHS: 2.00e12")]),
        (_empty_rows, [("INFO", "empty_constraint", "3 constraint(s) have no variables")]),
        (_trivial("<=", 5), [("ERROR", "trivially_infeasible", "Constraint 'c' is trivially infeasible: min activity 2.0000 > RHS 1.0000")]),
        (_trivial(">=", 2), [("ERROR", "trivially_infeasible", "Constraint 'unnamed' is trivially infeasible: max activity 7.0000 < RHS 20.0000")]),
        (_trivial(">=", INF), []),  # an unbounded variable counts as 1e20 and rescues the row
    ],
)
def test_each_finding(build, expected):
    assert findings(build()) == expected


def test_all_six_in_group_order():
    m = vo.Model()
    x, y = m.variable("x", 3, 1), m.variable("y", 0, 1)
    m.variable("idle")
    m.add(1e-4 * x + 1e4 * y <= 1e13)
    m.add(x - x >= 1)
    m.add(x + y >= 50, name="far")
    cats = [f[1] for f in findings(m)]
    assert cats == ["infeasible_bounds", "unused_variable", "scaling", "large_rhs", "empty_constraint", "trivially_infeasible"]
    assert all(set(f) == {"severity", "category", "message"} for f in m.validate())


def test_duplicate_names_are_reported_once_per_name_after_the_other_findings():
    m = vo.Model()
    p = m.variable("p", 3, 1)
    m.variable("q")
    m.variable("p")
    m.variables("p", 2)      # p_0, p_1
    m.variable("p_0")
    m.variable("p")
    m.add(p >= 0)
    assert findings(m)[-2:] == [
        ("WARN", "duplicate_name", "Variable name 'p' is shared by 3 variables; values() keeps only the last of them"),
        ("WARN", "duplicate_name", "Variable name 'p_0' is shared by 2 variables; values() keeps only the last of them"),
    ]
    assert findings(m)[0][1] == "infeasible_bounds"
    unique = vo.Model()
    unique.variables("u", 3)
    assert "duplicate_name" not in [f[1] for f in findings(unique)]
