"""Random small LPs through every diagnostic: nothing raises where the rules say it returns,
a reported infeasible subsystem really is infeasible on HiGHS, and a feasible model never
has one.

VELMO_FUZZ_EXAMPLES selects a longer run, as for the algebra programs.
"""

import math
import os

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import velmo_opt as vo

EXAMPLES = max(1, int(os.environ.get("VELMO_FUZZ_EXAMPLES", "300")) // 3)
CATEGORIES = {"infeasible_bounds", "unused_variable", "scaling", "large_rhs", "empty_constraint",
              "trivially_infeasible"}

bound = st.sampled_from([-math.inf, -5, -1, 0, 0.5, 2, 5, math.inf])
# Coefficients on a coarse grid: a contradiction is then either none or far above both
# HiGHS's tolerance and the propagation's.
coef = st.sampled_from([-3, -1, -0.5, 0, 1, 2, 1e3])
row = st.tuples(st.lists(st.tuples(st.integers(0, 3), coef), max_size=4),
                st.sampled_from(["<=", ">=", "=="]), st.sampled_from([-4, -1, 0, 1, 3, 2e12]),
                st.sampled_from([None, "c", "named row"]))
program = st.tuples(st.lists(st.tuples(bound, bound), min_size=1, max_size=4), st.lists(row, max_size=6),
                    st.booleans())


def build(variables, rows, keep=None):
    m = vo.Model()
    xs = [m.variable(f"v{k}", lo, hi) for k, (lo, hi) in enumerate(variables)]
    for i, (terms, sense, rhs, name) in enumerate(rows):
        if keep is not None and i not in keep:
            continue
        e = vo.sum([c * xs[j % len(xs)] for j, c in terms]) if terms else vo.sum([])
        c = e <= rhs if sense == "<=" else e >= rhs if sense == ">=" else e == rhs
        m.add(c, name=name)
    m.minimize(vo.sum(xs))
    return m, xs


@settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(program)
def test_random_models_through_the_diagnostics(prog):
    variables, rows, eliminate = prog
    m, xs = build(variables, rows)
    for f in m.validate():
        assert f["category"] in CATEGORIES and f["severity"] in ("ERROR", "WARN", "INFO")
    r = m.solve(eliminate_redundant=eliminate)
    s = r.sensitivity()
    assert len(s["shadow_prices"]) == (len(rows) if r.duals is not None else 0)
    assert len(s["most_impactful"]) == min(5, len(s["shadow_prices"]))
    if r.status == "optimal":
        for x in xs:
            d = r.why_detail(x)
            assert d["explanation"] == (r.why(x) if rows else d["explanation"])
    if not rows:
        return
    rep = r.infeasibility_report()
    assert rep["num_constraints"] == len(rep["constraint_indices"]) == len(rep["suggestions"])
    if rep["num_constraints"]:
        again, _ = build(variables, rows, set(rep["constraint_indices"]))
        assert again.solve().status in ("infeasible", "infeasible_or_unbounded", "error"), rep
    if r.status == "optimal":
        assert rep["num_constraints"] == 0, rep


@settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(program)
def test_random_models_through_the_exact_report_and_ranging(prog):
    variables, rows, eliminate = prog
    m, xs = build(variables, rows)
    r = m.solve(eliminate_redundant=eliminate, ranging=True)
    if r.status == "optimal" and r.duals is not None:
        table = r.ranging()
        assert [name for name, *_ in table["cost_ranges"]] == [f"v{k}" for k in range(len(xs))]
        for _, cost, lo, hi in table["cost_ranges"]:
            assert lo <= cost + 1e-9 and cost <= hi + 1e-9
        for pos, _, rhs, lo, hi in table["rhs_ranges"]:
            assert 0 <= pos < len(rows) and not (math.isnan(lo) or math.isnan(hi))
    else:
        try:
            r.ranging()
        except ValueError:
            pass
        else:
            raise AssertionError("ranging without an optimal LP")
    if not rows:
        return
    rep = r.infeasibility_report()
    assert set(rep["bounds"]) <= {f"v{k}" for k in range(len(xs))}
    if rep["num_constraints"] or rep["bounds"]:
        assert r.status != "optimal", rep
