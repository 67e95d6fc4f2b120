"""Model.write (LP text or MPS through HiGHS) and velmo.read_model: round trips keep the
optimum, the names and the sense; what a format cannot hold is refused."""

import numpy as np
import pytest

import velmo as vo


def lp_model():
    m = vo.Model("plan")
    x, y = m.variables("x", 2, lower=[0, 0], upper=[10, np.inf], names=["make", "buy"])
    m.add(x + 2 * y <= 14, name="hours")
    m.add(3 * x - y >= 0, name="mix")
    m.add(x - y == 2, name="gap")
    m.maximize(3 * x + 4 * y + 5)
    return m


def milp_model():
    m = vo.Model("pack")
    k = m.integers("k", 3, lower=0, upper=[4, 4, 1], names=["a", "b", "c"])
    z = m.variable("z", -2, 2)
    m.add_matrix(np.array([[2.0, 3.0, 4.0, 1.0], [1.0, -1.0, 0.0, 1.0]]), k + [z], ["<=", ">="], [11, -1],
                 name=["weight", "balance"])
    m.minimize(-5 * k[0] - 6 * k[1] - 7 * k[2] + z)
    return m


def qp_model():
    m = vo.Model("q")
    a, b = m.variable("a", 0, 5), m.variable("b", 0, 5)
    m.add(a + b >= 2, name="floor")
    m.minimize(a * a + a * b + (b * b) * 2 - a + 1)
    return m


@pytest.mark.parametrize("suffix", [".lp", ".mps", ".MPS"])
@pytest.mark.parametrize("build", [lp_model, milp_model])
def test_round_trip_keeps_optimum_names_and_sense(tmp_path, build, suffix):
    m = build()
    path = tmp_path / f"model{suffix}"
    m.write(path)
    back = vo.read_model(str(path))
    want, got = m.solve(), back.solve()
    assert got.status == want.status == "optimal"
    assert got.objective == pytest.approx(want.objective)
    assert got.values() == pytest.approx(want.values())
    assert back.problem_type == m.problem_type and back.num_constraints == m.num_constraints
    assert back.summary().split(":", 1)[1] == m.summary().split(":", 1)[1]
    row_names = [line.split(":")[0].strip() for line in back.to_lp().splitlines() if ": " in line][1:]
    assert row_names == [line.split(":")[0].strip() for line in m.to_lp().splitlines() if ": " in line][1:]


@pytest.mark.parametrize("suffix", [".lp", ".mps"])
def test_quadratic_objective_round_trip(tmp_path, suffix):
    m = qp_model()
    m.write(tmp_path / f"q{suffix}")
    back = vo.read_model(tmp_path / f"q{suffix}")
    assert back.problem_type == "QP"
    assert back.solve().objective == pytest.approx(m.solve().objective, abs=1e-6)


def test_ranged_rows_become_two_constraints(tmp_path):
    path = tmp_path / "ranged.mps"
    path.write_text("NAME r\nROWS\n N obj\n L lim\nCOLUMNS\n x obj -1 lim 1\n y obj -1 lim 1\n"
                    "RHS\n rhs lim 4\nRANGES\n rng lim 3\nBOUNDS\n UP bnd x 3\n UP bnd y 3\nENDATA\n")
    m = vo.read_model(path)
    assert m.num_constraints == 2
    lp = m.to_lp()
    assert " lim: x + y <= 4" in lp and " lim_lower: x + y >= 1" in lp
    assert m.solve().objective == pytest.approx(-4)


@pytest.mark.parametrize("call, exc, text", [
    ("m.write(d / 'm.txt')", ValueError, "write(): the file name must end in .lp or .mps, got '{d}/m.txt'"),
    ("m.write(5)", TypeError, "'path'"),
    ("nl.write(d / 'n.mps')", ValueError, "write(): the model's nonlinear constraints cannot be written to an MPS file"),
    ("cone.write(d / 'c.lp')", ValueError, "write(): the model's cones cannot be written to an LP file"),
    ("inf_obj.write(d / 'i.lp')", ValueError,
     "write(): the model's infinite or NaN objective coefficients cannot be written to an LP file"),
    ("lonely.write(d / 'l.mps')", ValueError, "write(): the model's integer variables without a linear "
     "constraint entry or a linear cost cannot be written to an MPS file"),
    ("m.write(d / 'missing' / 'm.lp')", FileNotFoundError, None),
    ("m.write(d)", ValueError, None),
    ("vo.read_model(d / 'none.lp')", FileNotFoundError, "read_model(): no such file: '{d}/none.lp'"),
    ("vo.read_model(d / 'junk.mps')", ValueError, "read_model(): HiGHS could not read '{d}/junk.mps'"),
    ("vo.read_model(d / 'm.csv')", ValueError, "read_model(): the file name must end in .lp or .mps, got '{d}/m.csv'"),
    ("vo.read_model(5)", TypeError, None),
])
def test_unwritable_models_and_unreadable_files(tmp_path, call, exc, text):
    (tmp_path / "junk.mps").write_text("this is not a model\n")
    m = lp_model()
    nl = vo.Model()
    w = nl.variable("w")
    nl.add(vo.sin(w) <= 0.5)
    cone = vo.Model()
    cone.add_soc_cone(cone.variables("t", 2))
    inf_obj = vo.Model()
    inf_obj.minimize(inf_obj.variable("v") + float("inf"))
    # HiGHS's MPS writer would drop the integrality of k (no matrix entry, no linear cost).
    lonely = vo.Model()
    k, u = lonely.integer("k", 0, 3), lonely.variable("u", 0, 1)
    lonely.add(u <= 1)
    lonely.minimize(k * k - 3 * u)
    with pytest.raises(exc) as info:
        eval(call, dict(m=m, nl=nl, cone=cone, inf_obj=inf_obj, lonely=lonely, d=tmp_path, vo=vo))
    if text is not None:
        assert text.format(d=tmp_path) in str(info.value)


def test_write_mps_of_a_nan_model_writes_nothing(tmp_path):
    m = vo.Model()
    x = m.variable("x")
    m.minimize(x * float("nan"))
    with pytest.raises(ValueError, match="nothing was written"):
        m.write(tmp_path / "n.mps")
    assert not (tmp_path / "n.mps").exists()
