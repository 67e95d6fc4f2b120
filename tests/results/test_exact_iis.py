"""Result.infeasibility_report when bound propagation shows nothing: HiGHS's irreducible
subsystem (rows and variable bounds) of the stored model, and the deletion filter over MIP
runs when only the integer model is infeasible. Every reported set is re-solved on HiGHS:
infeasible as a whole, feasible without any one member."""

import math
import random

import pytest

import velmo as vo

INF = math.inf
KEYS = ["constraint_indices", "constraint_names", "explanation", "suggestions", "num_constraints", "bounds"]


def build(variables, rows, keep_rows=None, keep_bounds=None, objective=True):
    """variables: [(name, lo, hi, integer)]; rows: [(name, f(xs) -> Constraint)].

    keep_rows selects rows by position; keep_bounds, when given, names the variables that keep
    their bounds (the others become free)."""
    m = vo.Model()
    xs = []
    for name, lo, hi, integer in variables:
        if keep_bounds is not None and name not in keep_bounds:
            lo, hi = -INF, INF
        xs.append(m.integer(name, lo, hi) if integer else m.variable(name, lo, hi))
    for i, (name, make) in enumerate(rows):
        if keep_rows is None or i in keep_rows:
            m.add(make(xs), name=name)
    if objective:
        m.minimize(vo.sum(xs))
    return m


def feasible(variables, rows, keep_rows, keep_bounds=None):
    # No objective: an unbounded answer cannot stand in for a feasibility verdict.
    status = build(variables, rows, keep_rows, keep_bounds, objective=False).solve().status
    assert status in ("optimal", "infeasible"), status
    return status == "optimal"


def irreducible(variables, rows, members, bounds):
    """The rows with the given variables' bounds (all of them when None) are infeasible, and
    each row, and each named variable's bounds, is needed."""
    if feasible(variables, rows, members, bounds):
        return False
    if any(not feasible(variables, rows, members - {k}, bounds) for k in members):
        return False
    return all(feasible(variables, rows, members, bounds - {name}) for name in bounds or ())


def assert_irreducible(variables, rows, rep):
    """Infeasible and irreducible in the report's own reading: rows with the listed bounds
    (the other variables free) when HiGHS found it, rows with every bound when propagation did
    (its "bounds" is always empty)."""
    members, bounds = set(rep["constraint_indices"]), set(rep["bounds"])
    assert members or bounds, rep
    ok = irreducible(variables, rows, members, bounds)
    if not bounds:
        ok = ok or irreducible(variables, rows, members, None)
    assert ok, rep


FREE = [("x", -INF, INF, False), ("y", -INF, INF, False)]
NONNEG = [("x", 0, INF, False), ("y", 0, INF, False)]

# (variables, rows, expected rows, expected bound names): conflicts propagation cannot show.
CASES = {
    "opposite_differences": (FREE, [("a", lambda v: v[0] - v[1] >= 1), ("b", lambda v: v[1] - v[0] >= 1)],
                             [0, 1], []),
    "equal_sums": ([("x", 0, 2, False), ("y", 0, 2, False)],
                   [(None, lambda v: v[0] + v[1] == 1), (None, lambda v: v[0] + v[1] == 3)], [0, 1], []),
    "needs_a_bound": (NONNEG, [("gap", lambda v: v[0] - v[1] >= 2), ("cap", lambda v: v[0] + v[1] <= 1)],
                      [0, 1], ["y"]),
    # Propagation needs x <= 50 to reach the conflict; HiGHS shows the other two suffice.
    "propagation_overshoots": (NONNEG, [("gap", lambda v: v[0] - v[1] >= 2), ("cap", lambda v: v[0] + v[1] <= 1),
                                        ("spare", lambda v: v[0] <= 50)], [0, 1], []),
    "among_others": ([(f"z{k}", 0, 10, False) for k in range(4)],
                     [("r0", lambda v: v[0] + v[1] <= 15), ("r1", lambda v: v[0] - v[2] >= 1),
                      ("r2", lambda v: v[2] - v[0] >= 1), ("r3", lambda v: v[3] <= 4)], [1, 2], []),
}


@pytest.mark.parametrize("name", CASES)
def test_highs_finds_what_propagation_misses(name):
    variables, rows, expected_rows, expected_bounds = CASES[name]
    r = build(variables, rows).solve()
    assert r.status == "infeasible"
    rep = r.infeasibility_report()
    assert list(rep) == KEYS
    assert rep["constraint_indices"] == expected_rows and rep["bounds"] == expected_bounds
    assert rep["num_constraints"] == len(expected_rows) == len(rep["suggestions"])
    assert_irreducible(variables, rows, rep)


def test_texts_with_a_bound_member():
    variables, rows, _, _ = CASES["needs_a_bound"]
    rep = build(variables, rows).solve().infeasibility_report()
    assert rep["constraint_names"] == ["gap", "cap"]
    assert rep["explanation"] == (
        "The following 2 constraints and 1 variable bounds are mutually infeasible \u2014 no solution satisfies "
        "all of them simultaneously:\n  'gap' (gap: x0 - x1 >= 2)\n  'cap' (cap: x0 + x1 <= 1)\n"
        "  bound of 'y' (y >= 0)")
    assert rep["suggestions"] == ["Relax 'gap': decrease RHS from 2.0000", "Relax 'cap': increase RHS from 1.0000"]

    # Without a bound member the header is the propagation report's own.
    variables, rows, _, _ = CASES["equal_sums"]
    rep = build(variables, rows).solve().infeasibility_report()
    assert rep["explanation"] == (
        "The following 2 constraints are mutually infeasible \u2014 no solution satisfies all of them "
        "simultaneously:\n  'constraint_0' (x0 + x1 == 1)\n  'constraint_1' (x0 + x1 == 3)")
    assert rep["constraint_names"] == ["unnamed", "unnamed"]


def test_propagation_answer_stands_and_lists_no_bounds():
    rows = [("c1", lambda v: v[0] + v[1] <= 1), ("c2", lambda v: v[0] >= 2), ("c3", lambda v: v[1] <= 10)]
    rep = build(NONNEG, rows).solve().infeasibility_report()
    assert rep["constraint_indices"] == [0, 1] and rep["bounds"] == []
    assert rep["explanation"].startswith("The following 2 constraints are mutually infeasible")


def test_crossed_bounds_are_the_subsystem():
    variables = [("x", 3, 1, False), ("y", 0, 1, False)]
    rows = [(None, lambda v: v[0] + v[1] <= 10)]
    rep = build(variables, rows).solve().infeasibility_report()
    assert rep["constraint_indices"] == [] and rep["bounds"] == ["x"] and rep["num_constraints"] == 0
    assert rep["explanation"] == (
        "The following 0 constraints and 1 variable bounds are mutually infeasible \u2014 no solution satisfies "
        "all of them simultaneously:\n  bound of 'x' (3 <= x <= 1)")


EMPTY = {"constraint_indices": [], "constraint_names": [], "explanation": "No infeasible subsystem found.",
         "suggestions": [], "num_constraints": 0, "bounds": []}


@pytest.mark.parametrize("integer", [False, True])
def test_feasible_model_has_no_subsystem(integer):
    variables = [("x", 0, 5, integer), ("y", 0, 5, integer)]
    rows = [(None, lambda v: v[0] + v[1] <= 4), (None, lambda v: v[0] - v[1] >= 1)]
    assert build(variables, rows).solve().infeasibility_report() == EMPTY


# Integer models whose linear relaxation is feasible.
MIP_CASES = {
    "odd_sum": ([("x", 0, 10, True), ("y", 0, 10, True), ("z", 0, 10, False)],
                [("spare", lambda v: v[2] <= 3), ("half", lambda v: 2 * v[0] + 2 * v[1] == 1),
                 ("cap", lambda v: v[0] + v[1] <= 8)], [1], []),
    "window": ([("n", 0, 10, True), ("m", 0, 10, True)],
               [("lo", lambda v: 3 * v[0] - 3 * v[1] >= 1), ("hi", lambda v: 3 * v[0] - 3 * v[1] <= 2),
                ("extra", lambda v: v[0] + v[1] <= 20)], [0, 1], []),
    "no_integer_inside": ([("k", 0.2, 0.8, True), ("w", 0, 1, False)],
                          [(None, lambda v: v[0] + v[1] <= 10)], [], ["k"]),
}


@pytest.mark.parametrize("name", MIP_CASES)
def test_integer_conflicts_by_deletion_filter(name):
    variables, rows, expected_rows, expected_bounds = MIP_CASES[name]
    r = build(variables, rows).solve()
    assert r.status == "infeasible"
    rep = r.infeasibility_report()
    assert rep["constraint_indices"] == expected_rows and rep["bounds"] == expected_bounds
    assert "could not" not in rep["explanation"]
    assert_irreducible(variables, rows, rep)


def random_infeasible_lp(rng):
    n = rng.randint(2, 6)
    variables = [(f"v{j}", rng.choice([-INF, 0, -3]), rng.choice([INF, 4, 10]), False) for j in range(n)]
    rows = []
    for i in range(rng.randint(3, 9)):
        terms = [(j, rng.choice([-3, -2, -1, 1, 2, 3])) for j in rng.sample(range(n), rng.randint(1, min(3, n)))]
        sense = rng.choice(["<=", ">=", "=="])
        rhs = rng.randint(-8, 8)

        def make(v, terms=terms, sense=sense, rhs=rhs):
            e = vo.sum([c * v[j] for j, c in terms])
            return e <= rhs if sense == "<=" else e >= rhs if sense == ">=" else e == rhs
        rows.append((f"r{i}", make))
    return variables, rows


def test_random_infeasible_lps_give_irreducible_subsystems():
    rng = random.Random(2024)
    checked = 0
    while checked < 25:
        variables, rows = random_infeasible_lp(rng)
        r = build(variables, rows).solve()
        if r.status != "infeasible":
            continue
        assert_irreducible(variables, rows, r.infeasibility_report())
        checked += 1


@pytest.fixture
def mip_runs_time_out(monkeypatch):
    """A stand-in for HiGHS running out of time, which a real run on these small models never
    does: MIP runs on fewer than `rows[0]` rows report the time limit."""
    import sys
    import types

    import highspy

    rows = [math.inf]

    class TimedOut(highspy.Highs):
        def getModelStatus(self):
            lp = self.getLp()
            if any(int(t) for t in lp.integrality_) and lp.num_row_ < rows[0]:
                return highspy.HighsModelStatus.kTimeLimit
            return super().getModelStatus()

    proxy = types.ModuleType("highspy")
    proxy.__dict__.update(highspy.__dict__)
    proxy.Highs = TimedOut
    monkeypatch.setitem(sys.modules, "highspy", proxy)
    return rows


def test_fake_highs_timing_out_is_said_in_the_explanation(mip_runs_time_out):
    variables, rows, _, _ = MIP_CASES["odd_sum"]
    r = build(variables, rows).solve()
    # Every MIP run undecided: nothing is claimed.
    rep = r.infeasibility_report()
    assert rep["constraint_indices"] == [] and rep["explanation"] == (
        "No infeasible subsystem found. (HiGHS could not decide within the time allowed whether the model is "
        "feasible.)")
    # The whole set decided, no deletion test: every row stays and the report says it may be more than needed.
    mip_runs_time_out[0] = len(rows)
    rep = r.infeasibility_report()
    assert rep["constraint_indices"] == [0, 1, 2]
    assert rep["explanation"].endswith(
        "\n(HiGHS could not decide every test within the time allowed, so some of these may not be needed.)")
