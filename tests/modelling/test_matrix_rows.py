"""Model.add_matrix and the batch variable methods' per-variable bounds and names."""

import math

import numpy as np
import pytest
import scipy.sparse as sp

import velmo_opt as vo


@pytest.fixture
def xs(m):
    return m.variables("x", 3, lower=[0, 1, -math.inf], upper=np.array([5.0, 6.0, 7.0]))


A = [[1.0, 2.0, 0.0], [0.0, 1.0, -1.0]]


@pytest.mark.parametrize("make", [np.array, sp.csr_matrix, sp.csc_matrix, sp.coo_array, list],
                         ids=["dense", "csr", "csc", "coo", "lists"])
def test_rows_match_the_comparisons_they_stand_for(m, xs, make):
    x, y, z = xs
    rows = m.add_matrix(make(A), xs, ["<=", "=="], np.array([4.0, 5.0]), name=["cap", "bal"])
    assert list(rows) == [0, 1]
    twin = vo.Model()
    a, b, c = twin.variables("x", 3, lower=[0, 1, -math.inf], upper=[5, 6, 7])
    twin.add(a + 2 * b <= 4, name="cap")
    twin.add(b - c == 5, name="bal")
    assert m.to_lp() == twin.to_lp()


def test_scalar_sense_and_rhs_stems_and_positions(m, xs):
    m.add(xs[0] >= 0)
    rows = m.add_matrix(np.eye(3), xs, ">=", 1, name="low")
    assert rows == range(1, 4)
    lp = m.to_lp()
    assert " low_0: x_0 >= 1" in lp and " low_2: x_2 >= 1" in lp
    assert m.add_matrix(np.zeros((0, 3)), xs, "<=", 0) == range(4, 4)


def test_zeros_duplicates_and_repeated_variables_fold_like_sums(m, xs):
    x, y, _ = xs
    # Explicit sparse zeros and duplicate entries; y listed twice as a column.
    a = sp.csr_matrix((np.array([0.0, 2.0, 3.0, 1.0]), np.array([0, 1, 1, 2]), np.array([0, 4])), shape=(1, 3))
    m.add_matrix(a, [x, y, y], "<=", 9)
    assert " c0: 6 x_1 <= 9" in m.to_lp()


def test_solved_model_with_matrix_rows(m, xs):
    m.add_matrix(sp.csr_matrix(A), xs, "<=", [4, 5])
    m.maximize(xs[0] + xs[1] + xs[2])
    r = m.solve()
    assert r.status == "optimal" and r.objective == pytest.approx(10)
    assert r.values() == {"x_0": pytest.approx(2), "x_1": pytest.approx(1), "x_2": pytest.approx(7)}


MSG = "add_matrix(): "


@pytest.mark.parametrize("call, exc, text", [
    ("m.add_matrix(np.ones(3), xs, '<=', 1)", ValueError, MSG + "A must be two-dimensional"),
    ("m.add_matrix(np.ones((2, 2)), xs, '<=', 1)", ValueError, MSG + "A has 2 columns but 3 variables were given"),
    ("m.add_matrix([[math.nan, 1, 1]], xs, '<=', 1)", ValueError, MSG + "A holds a NaN or infinite coefficient"),
    ("m.add_matrix(sp.csr_matrix([[math.inf, 1, 1]]), xs, '<=', 1)", ValueError,
     MSG + "A holds a NaN or infinite coefficient"),
    ("m.add_matrix(np.ones((1, 3)), xs, '<=', math.nan)", ValueError, MSG + "rhs holds NaN"),
    ("m.add_matrix(np.ones((1, 3)), xs, '<', 1)", ValueError, MSG + 'sense must be "<=", ">=" or "=="'),
    ("m.add_matrix(np.ones((2, 3)), xs, ['<='] * 3, 1)", ValueError,
     MSG + "sense must be one text or one per row (2), got 3"),
    ("m.add_matrix(np.ones((2, 3)), xs, '<=', [1, 2, 3])", ValueError,
     MSG + "rhs must be a number or one per row (2), got 3"),
    ("m.add_matrix(np.ones((1, 3)), xs, '<=', [[1]])", ValueError, MSG + "rhs must be one-dimensional"),
    ("m.add_matrix(np.ones((1, 3)), xs, '<=', 1, name=['a', 'b'])", ValueError,
     MSG + "name must give one name per row (1), got 2"),
    ("m.add_matrix(np.ones((1, 3)), xs[:2] + [far], '<=', 1)", ValueError,
     MSG + "variable 2 belongs to another model; a model takes only expressions over the variables it created"),
    ("m.add_matrix(np.ones((1, 3)), xs, '<=', '1')", TypeError, "'rhs'"),
    ("m.add_matrix(np.ones((1, 3)), 'xyz', '<=', 1)", TypeError, "'variables'"),
    ("m.add_matrix(np.ones((1, 3)), xs[:2] + [xs[0] + 1], '<=', 1)", TypeError, "'variables'"),
    ("m.add_matrix(np.ones((1, 3)), xs, None, 1)", TypeError, "'sense'"),
    ("m.add_matrix(np.ones((1, 3)), xs, '<=', 1, name=[1])", TypeError, "'name'"),
    ("m.variables('v', 2, lower=[0, 1, 2])", ValueError, "variables(): lower has 3 entries for 2 variables"),
    ("m.integers('v', 2, upper=[[1, 2]])", ValueError, "integers(): upper must be one-dimensional"),
    ("m.variables('v', 2, names=['a'])", ValueError, "variables(): names has 1 entries for 2 variables"),
    ("m.binaries('v', 1, names=[3])", TypeError, "'names'"),
    ("m.variables('v', 1, lower='0')", TypeError, "'lower'"),
])
def test_bad_matrices_and_bounds_change_nothing(m, xs, call, exc, text):
    far = vo.Model().variables("f", 9)[8]
    before = (m.to_lp(), m.num_vars)
    with pytest.raises(exc) as info:
        eval(call, dict(m=m, xs=xs, far=far, np=np, sp=sp, math=math))
    assert str(info.value) == text if exc is ValueError else text in str(info.value)
    assert (m.to_lp(), m.num_vars) == before


def test_batch_bounds_and_names_per_variable(m):
    k = m.integers("k", 3, lower=np.arange(3), upper=(4, 5, 6), names=["a", "b", "c"])
    b = m.binaries("b", 2, names=("p", "q"))
    assert [repr(v) for v in k + b] == ["Var('a')", "Var('b')", "Var('c')", "Var('p')", "Var('q')"]
    lp = m.to_lp()
    assert " 1 <= b <= 5" in lp and " 0 <= p <= 1" in lp
    assert m.variables("e", 0, lower=[], names=[]) == []
