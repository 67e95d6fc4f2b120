"""Sums built step by step (+, +=, -, builtin sum, NumPy reductions over object arrays)
share storage between steps; every value that some name still holds stays as it was."""

import numpy as np
import pytest

import velmo_opt as vo


@pytest.fixture
def xs(m):
    return m.variables("x", 6)


def terms(e, parse):
    return parse(repr(e))


def grow_in_function(e, t):
    e += t  # rebinds the parameter only
    e -= 2
    return e


@pytest.mark.parametrize("kind", ["linear", "quadratic"])
def test_values_held_elsewhere_never_change(xs, kind):
    x, y, z = xs[:3]
    base = x + y if kind == "linear" else x * y + x
    base = base + 1  # a value that is the tip of its shared storage
    before = repr(base)
    alias = base
    held = [base]
    grown = grow_in_function(base, z)   # extends the storage base sits at the end of
    branch = base + 3 * x               # base is no longer at the end: copied
    base += y                           # rebinds the name; alias and held keep the old value
    for _ in range(3):
        base = base + z
    assert repr(alias) == before and repr(held[0]) == before
    assert repr(grow_in_function(alias, x)) == repr(alias + x - 2)
    assert repr(alias) == before
    assert repr(grown) == repr(alias + z - 2)
    assert repr(branch) == repr(alias + x + x + x)
    assert type(branch) is type(alias) and type(grown) is type(alias)


def test_branches_from_one_value_are_independent(xs, linear_parts):
    x, y, z, w = xs[:4]
    a = x + y
    b = a + z
    c = a - z
    d = b + w
    e = c + w
    assert terms(a, linear_parts) == ({0: 1, 1: 1}, 0)
    assert terms(b, linear_parts) == ({0: 1, 1: 1, 2: 1}, 0)
    assert terms(c, linear_parts) == ({0: 1, 1: 1, 2: -1}, 0)
    assert terms(d, linear_parts) == ({0: 1, 1: 1, 2: 1, 3: 1}, 0)
    assert terms(e, linear_parts) == ({0: 1, 1: 1, 2: -1, 3: 1}, 0)


def test_self_addition_and_cancellation_follow_the_term_rules(xs, linear_parts):
    x, y, z = xs[:3]
    e = x + 2 * y
    assert terms(e + e, linear_parts) == ({0: 2, 1: 4}, 0)
    f = e - x           # the x entry drops out (coefficient 0 is below the threshold)
    assert terms(f, linear_parts) == ({1: 2}, 0)
    g = f + 0 * z       # a zero coefficient added through add_term drops as well
    assert terms(g, linear_parts) == ({1: 2}, 0)
    assert repr(x * 0 + y) in ("0*x0 + x1", "x1 + 0*x0")  # set_term keeps its zero
    h = e + 1e-16 * x - 1e-16 * x
    assert terms(h, linear_parts) == ({0: 1, 1: 2}, 0)
    q = x * y + x
    assert repr(q + q) == "QuadExpr(linear=2*x0, quad_terms=2)"
    assert repr(q) == "QuadExpr(linear=x0, quad_terms=1)"


def builtin_sum(items):
    return sum(items)


def plus_equals(items):
    acc = 0
    for t in items:
        acc += t
    return acc


def rebinding(items):
    acc = items[0]
    for t in items[1:]:
        acc = acc + t
    return acc


def numpy_sum(items):
    a = np.empty(len(items), dtype=object)
    a[:] = items
    return a.sum()


@pytest.mark.parametrize("how", [builtin_sum, plus_equals, rebinding, numpy_sum])
def test_every_way_of_summing_gives_the_module_sum(m, how, linear_parts):
    v = m.variables("v", 300)
    items = [(k % 7 - 3) * v[k % 50] + (1 if k % 11 == 0 else 0) for k in range(300)]
    snapshot = [repr(t) for t in items]
    got = how(items)
    assert terms(got, linear_parts) == terms(vo.sum(items), linear_parts)
    assert [repr(t) for t in items] == snapshot


def test_numpy_matmul_over_object_arrays(m, linear_parts):
    v = np.empty(200, dtype=object)
    v[:] = m.variables("v", 200)
    c = np.arange(200, dtype=float)
    e = c @ v
    assert terms(e, linear_parts) == ({k: float(k) for k in range(200)}, 0)  # 0*v0 stays
    rows = np.ones((3, 200)) @ v
    assert all(terms(r, linear_parts) == ({k: 1.0 for k in range(200)}, 0) for r in rows)


def test_quadratic_sums_keep_every_product_term(m):
    w = m.variables("w", 40)
    items = [w[i] * w[j] * 0.5 for i in range(40) for j in range(i, 40)]
    held = items[0] + w[0]
    before = repr(held)
    total = sum(items, held)
    assert repr(total) == f"QuadExpr(linear=x0, quad_terms={len(items) + 1})"
    assert repr(held) == before
    assert repr(total - w[0]) == f"QuadExpr(linear=0, quad_terms={len(items) + 1})"


def test_grown_sums_solve_like_any_expression(m):
    v = m.variables("v", 500, lower=0, upper=1)
    e = 0
    for t in v:
        e += t
    m.add(e <= 10)
    obj = 0
    for k, t in enumerate(v):
        obj = obj + (k % 3) * t
    m.maximize(obj)
    r = m.solve()
    assert r.status == "optimal" and r.objective == pytest.approx(20)
