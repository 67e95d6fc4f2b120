"""Random small models solved with every forced solver and with the automatic choice.

A solve either returns a Result whose status is one of the eight texts and whose values (if
any) cover every variable, or is refused with the ValueError when the solver would have to
drop the model's cones or nonlinear terms, or passes on an exception the solver package
itself raised (OSQP and SciPy refuse crossed bounds, Bonmin throws on some degenerate models
that Ipopt reports a status for); nothing else. A model holding a number no solver takes (NaN,
a lower bound of +inf, an upper one of -inf) gives status "error" on every solver, and only
such a model does.
The model is never changed.
VELMO_FUZZ_EXAMPLES selects a longer run, as for the algebra fuzzer.
"""

import math
import os
import traceback

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import velmo
import velmo_opt as vo

EXAMPLES = max(1, int(os.environ.get("VELMO_FUZZ_EXAMPLES", "300")) // 25)
SOLVERS = [None, "highs", "osqp", "scipy", "slsqp", "clarabel", "ipopt", "bonmin", "nosuchsolver"]
STATUSES = {"optimal", "infeasible", "unbounded", "infeasible_or_unbounded", "time_limit",
            "iteration_limit", "error", "unknown"}
BOUNDS = [(0, 1), (-1, 1), (-math.inf, math.inf), (0, math.inf), (-5, -5), (2, 1), (-1e300, 1e300),
          (math.nan, 1), (math.inf, math.inf), (-math.inf, -math.inf)]
COEFS = [1, -1, 2.5, 0, 1e-16, 1e6, -3]

index = st.integers(0, 3)
linear = st.lists(st.tuples(st.sampled_from(COEFS), index), min_size=1, max_size=3)
rows = st.tuples(st.sampled_from(["<=", ">=", "=="]), linear,
                 st.sampled_from([0, 1, -2, 10, math.nan, math.inf, -math.inf]))
model_draw = st.fixed_dictionaries({
    "kinds": st.lists(st.sampled_from(["c", "c", "i"]), min_size=1, max_size=4),
    "bounds": st.lists(st.sampled_from(BOUNDS), min_size=4, max_size=4),
    "rows": st.lists(rows, max_size=4),
    "objective": st.tuples(linear, st.sampled_from([None, "square", "product", "sin", "sqrt", "exp", "power"]),
                           st.sampled_from([0, 3])),
    "nonlinear": st.lists(st.tuples(st.sampled_from(["sin", "cos", "square", "atan", "abs", "log"]), index,
                                    st.sampled_from(["<=", ">="]), st.sampled_from([0.5, 2])), max_size=2),
    "cone": st.sampled_from([None, "soc", "psd"]),
    "sense": st.sampled_from(["minimize", "maximize"]),
    "solver": st.sampled_from(SOLVERS),
    "time_limit": st.sampled_from([1.0, 0.0, math.nan, -1.0]),  # no run may take long
})


def affine(m_vars, terms):
    return vo.sum([c * m_vars[i % len(m_vars)] for c, i in terms])


def compare(lhs, sense, rhs):
    return lhs <= rhs if sense == "<=" else lhs >= rhs if sense == ">=" else lhs == rhs


def build(drawn):
    m = vo.Model("fuzz")
    xs = []
    for k, kind in enumerate(drawn["kinds"]):
        lo, hi = drawn["bounds"][k]
        xs.append(m.variable(f"x{k}", lo, hi) if kind == "c" else m.integer(f"k{k}", lo, hi))
    for sense, terms, rhs in drawn["rows"]:
        m.add(compare(affine(xs, terms), sense, rhs))
    terms, extra, constant = drawn["objective"]
    obj = affine(xs, terms) + constant
    x = xs[0]
    obj = {None: obj, "square": obj + x * x, "product": obj + x * xs[-1],
           "sin": obj + vo.sin(x), "sqrt": obj + vo.sqrt(x * x + 1),
           "exp": obj + velmo.exp(x) - velmo.log(x * x + 1), "power": obj + velmo.power(velmo.square(x) + 1, 0.75)}[extra]
    getattr(m, drawn["sense"])(obj)
    for fn, i, sense, rhs in drawn["nonlinear"]:
        v = xs[i % len(xs)]
        functions = {"sin": vo.sin, "cos": vo.cos, "square": lambda a: a * a, "atan": velmo.atan, "abs": velmo.abs,
                     "log": lambda a: velmo.log(velmo.power(a, 2) + 1)}
        m.add(compare(functions[fn](v), sense, rhs))
    if drawn["cone"] == "soc":
        m.add_soc_cone(xs[:2] if len(xs) > 1 else [xs[0], xs[0]])
    elif drawn["cone"] == "psd":
        m.add_psd_cone((xs * 3)[:3])
    cones = drawn["cone"] is not None
    nonlinear = extra in ("sin", "sqrt", "exp", "power") or bool(drawn["nonlinear"])
    return m, cones, nonlinear


def unusable(drawn):
    """Whether the model holds a number no solver takes: NaN, a lower bound of +inf or an upper
    one of -inf, on a variable or a row (a row over variables only)."""
    n = len(drawn["kinds"])
    for lo, hi in drawn["bounds"][:n]:
        if math.isnan(lo) or math.isnan(hi) or lo == math.inf or hi == -math.inf:
            return True
    for sense, _, rhs in drawn["rows"]:
        if math.isnan(rhs) or (sense != "<=" and rhs == math.inf) or (sense != ">=" and rhs == -math.inf):
            return True
    return False


def raised_by_a_package(e):
    last = traceback.extract_tb(e.__traceback__)[-1]
    return "site-packages" in last.filename


def refused(solver, cones, nonlinear):
    chosen = solver or ("clarabel" if cones else "ipopt" if nonlinear else "highs")
    return (cones and chosen != "clarabel") or (nonlinear and chosen not in ("ipopt", "bonmin"))


@settings(max_examples=EXAMPLES, deadline=None, database=None, derandomize=EXAMPLES <= 12,
          suppress_health_check=[HealthCheck.too_slow])
@given(model_draw)
def test_random_models_with_every_solver(drawn):
    m, cones, nonlinear = build(drawn)
    before = (repr(m), m.num_vars, m.num_constraints, m.problem_type)
    kwargs = {} if drawn["solver"] is None else {"solver": drawn["solver"]}
    kwargs["time_limit"] = drawn["time_limit"]
    try:
        r = m.solve(**kwargs)
    except Exception as e:  # noqa: BLE001 - sorted below
        if raised_by_a_package(e):
            bonmin = drawn["solver"] == "bonmin" or (drawn["solver"] is None and "i" in drawn["kinds"])
            assert bonmin or drawn["solver"] in ("osqp", "scipy", "slsqp") or not (cones or nonlinear), e
        else:
            assert isinstance(e, ValueError) and "cannot take the model's" in str(e), e
            assert refused(drawn["solver"], cones, nonlinear), str(e)
    else:
        assert not refused(drawn["solver"], cones, nonlinear)
        assert r.status in STATUSES
        assert (r.status == "error") == unusable(drawn), (r.status, r.solver)
        if r.status == "optimal":
            assert len(r.primals) == m.num_vars
            assert isinstance(r.objective, float)
    assert (repr(m), m.num_vars, m.num_constraints, m.problem_type) == before
