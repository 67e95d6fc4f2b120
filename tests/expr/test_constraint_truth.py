"""A Constraint has no truth value: Python code that would test one (a chained comparison,
`in`, list.index, NumPy's elementwise comparisons) fails instead of answering for something
else than what was written."""

import numpy as np
import pytest

import velmo as vo

TRUTH = "^A constraint has no truth value"


@pytest.fixture
def xyz():
    m = vo.Model()
    return m, *m.variables("v", 3, lower=0, upper=10)


def test_a_chained_range_is_refused_and_two_constraints_solve_it(xyz):
    m, x, y, _ = xyz
    with pytest.raises(ValueError, match=TRUTH) as info:
        m.add(1 <= x <= 2)
    # The message says how to write it instead.
    assert "m.add(lb <= e) and m.add(e <= ub)" in str(info.value) and "`is`" in str(info.value)
    assert m.num_constraints == 0
    m.add(1 <= x + y)
    m.add(x + y <= 2)
    m.minimize(3 * x + y)
    assert m.solve().objective == pytest.approx(1.0)


@pytest.mark.parametrize("probe", [
    lambda x, y, z: bool(x <= 1),
    lambda x, y, z: not (x == y),
    lambda x, y, z: z in [x, y],
    lambda x, y, z: [y, z, x].index(x),
    lambda x, y, z: [y, x].remove(x),
    lambda x, y, z: (x + 1 >= y) or True,
    lambda x, y, z: vo.sin(x) <= 1 if (x * y <= 2) else None,
    lambda x, y, z: np.array([[1.0, 2.0], [3.0, 4.0]]) @ np.array([x, y]) <= np.array([3.0, 4.0]),
    lambda x, y, z: np.array([x, y], dtype=object) <= np.array([1, 2]),
])
def test_python_and_numpy_truth_tests_fail_loudly(xyz, probe):
    with pytest.raises(ValueError, match=TRUTH):
        probe(*xyz[1:])


def test_identity_and_not_equal_still_answer(xyz):
    _, x, y, _ = xyz
    assert (x != y) is False and (x + 1 != 3) is False  # != answers without a truth test
    assert x in [x] and [y, x].index(y) == 0  # identity comes first in list searches
    assert any(v is x for v in [y, x])
    # An elementwise comparison asked for as objects gives constraints, one per row.
    rows = np.less_equal(np.array([x, y], dtype=object), np.array([1, 2]), dtype=object)
    assert [repr(c) for c in rows] == ["x0 <= 1", "x1 <= 2"]
