import math
import os

import numpy as np
import pytest

import velmo_opt as vo
from admm_reference import admm

KEYS = ["x", "z", "iterations", "primal_residual", "dual_residual", "converged"]


class Recorder:
    """Wraps a subproblem and keeps every call's arguments as exact bit patterns; checks that
    each call gets a float and a new list of floats."""

    def __init__(self, func, log):
        self.func = func
        self.log = log
        self.seen = []

    def __call__(self, rho, target):
        assert type(rho) is float and type(target) is list
        assert all(type(v) is float for v in target)
        assert all(target is not t for t in self.seen)
        self.seen.append(target)
        self.log.append((self, rho.hex(), tuple(v.hex() for v in target)))
        return self.func(rho, target)


def prox_quadratic(a, c):
    """argmin a/2 |x - c|^2 + rho/2 |x - t|^2, solved in closed form."""
    return lambda rho, t: [(a * cj + rho * tj) / (a + rho) for cj, tj in zip(c, t)]


def fails_on_some_targets(func):
    def sub(rho, t):
        if -1.9 < t[1] < -1.2:
            raise RuntimeError("local solver failed")
        return func(rho, t)
    return sub


def in_place(rho, t):
    t[0] = t[0] / 2 + 1  # the list is ours to keep: changing it changes nothing else
    return t


class Items:
    """A sequence that is neither a list nor a tuple."""

    def __init__(self, values):
        self.values = values

    def __len__(self):
        return len(self.values)

    def __getitem__(self, k):
        return self.values[k]


A = prox_quadratic(1.0, [1.0, -2.0, 0.5])
B = prox_quadratic(3.0, [0.0, 4.0, -1.0])
C = prox_quadratic(0.5, [2.0, 2.0, 2.0])
# (subproblems, positional args after them, keyword args)
REFERENCE_CASES = {
    "three quadratics, defaults": ([A, B, C], (3,), {}),
    "rho and tolerance": ([A, B], (3, 0.25), {"tol": 1e-9, "max_iter": 400}),
    "budget runs out": ([A, B, C], (3,), {"max_iter": 7, "tol": 0.0}),
    "a subproblem fails on some targets": ([fails_on_some_targets(B), A], (3,), {"max_iter": 50}),
    "short, long, text and non-sequence answers": (
        [lambda r, t: t[:2], lambda r, t: t + [9.0, "x"], lambda r, t: [*t, 5, -1],
         lambda r, t: "abc", lambda r, t: 3.0, B],
        (3,), {"max_iter": 20}),
    "tuples, ints and other sequences": (
        [lambda r, t: tuple(t), lambda r, t: [1, True, 2], lambda r, t: Items([np.float32(v) for v in t])],
        (3,), {"max_iter": 30}),
    "arrays of every kind": (
        [lambda r, t: np.array(t) * 0.5 + 1, lambda r, t: np.array(t, dtype=np.float32),
         lambda r, t: np.arange(4, dtype=np.int64) * 3 - 2, lambda r, t: np.array([True, False, True]),
         lambda r, t: np.array(t, dtype=np.float64)[::-1], lambda r, t: np.arange(3, dtype=np.uint8)],
        (3,), {"max_iter": 30}),
    "arrays that fail": (
        [lambda r, t: np.array(t)[:2], lambda r, t: np.ones((3, 1)), lambda r, t: np.ones((1, 3)),
         lambda r, t: np.array(["1", "2", "3"]), lambda r, t: np.float64(2.0), A],
        (3,), {"max_iter": 30}),
    "answer changes the target in place": ([in_place, A], (3,), {"max_iter": 30}),
    "nan answers": ([lambda r, t: [math.nan] * 3, A], (3,), {"max_iter": 5}),
    "nan rho and tol": ([A, B], (3, math.nan), {"max_iter": 5}),
    "no subproblems": ([], (2,), {"max_iter": 6}),
    "dim zero": ([A, B], (0,), {}),
    "dim zero, tol zero": ([A, B], (0,), {"tol": 0.0, "max_iter": 4}),
    "max_iter zero": ([A, B], (3,), {"max_iter": 0}),
}


def hexed(result):
    return {k: [x.hex() for x in v] if isinstance(v, list) else
            v.hex() if type(v) is float else v for k, v in result.items()}


@pytest.mark.parametrize("case", REFERENCE_CASES)
def test_solve_admm_reproduces_reference_exactly(case):
    funcs, args, kwargs = REFERENCE_CASES[case]
    ours_log, theirs_log = [], []
    ours = vo.solve_admm([Recorder(f, ours_log) for f in funcs], *args, **kwargs)
    recorders = [Recorder(f, theirs_log) for f in funcs]
    theirs = admm(recorders, *args, **kwargs)
    assert list(ours) == KEYS
    assert [type(v) for v in ours.values()] == [list, list, int, float, float, bool]
    assert ours["x"] is not ours["z"]
    assert hexed(ours) == hexed(theirs)
    # The same calls in the same order: which subproblem, rho and target, bit for bit.
    index = {id(r): k for k, r in enumerate(recorders)}
    assert [(index.get(id(r), None), rho, t) for r, rho, t in theirs_log] == \
           [(k % len(funcs) if funcs else None, rho, t)
            for k, (_, rho, t) in enumerate(ours_log)]


def test_edge_runs():
    identity = vo.solve_admm([lambda r, t: t, lambda r, t: t], 4)
    assert identity == {"x": [0.0] * 4, "z": [0.0] * 4, "iterations": 1, "primal_residual": 0.0,
                        "dual_residual": 0.0, "converged": True}
    calls = []
    idle = vo.solve_admm([lambda r, t: calls.append(t)], 2, max_iter=0)
    assert calls == [] and idle == {"x": [0.0, 0.0], "z": [0.0, 0.0], "iterations": 0,
                                    "primal_residual": 0.0, "dual_residual": 0.0, "converged": False}
    empty = vo.solve_admm([], 2, max_iter=9)
    assert all(math.isnan(v) for v in empty["z"]) and math.isnan(empty["dual_residual"])
    assert (empty["iterations"], empty["primal_residual"], empty["converged"]) == (9, 0.0, False)


def raise_value_error(rho, t):
    raise ValueError("no local point")


@pytest.mark.parametrize(
    "answer",
    [raise_value_error, lambda r, t: t[:-1], lambda r, t: None, lambda r, t: "1.0",
     lambda r, t: ["1", "2"], lambda r, t: iter(t), lambda r, t: {0: 1.0, 1: 2.0}],
    ids=["raises", "short", "none", "str", "texts", "iterator", "dict"],
)
def test_failing_subproblem_counts_as_zeros(answer):
    # With the other subproblem pinned at 4, z settles at 2 when the failing one gives zeros.
    result = vo.solve_admm([answer, lambda r, t: [4.0, 4.0]], 2, max_iter=40)
    assert result["z"] == [2.0, 2.0]
    assert result["primal_residual"] == pytest.approx(math.sqrt(16.0))


@pytest.mark.parametrize("stop", [KeyboardInterrupt, SystemExit])
@pytest.mark.parametrize("where", ["call", "conversion"])
def test_requests_to_stop_propagate_at_once(stop, where):
    calls = []

    class Stops:
        def __float__(self):
            raise stop

    def sub(rho, t):
        calls.append(t)
        if len(calls) == 3:
            if where == "call":
                raise stop
            return [Stops(), 0.0]
        return t

    with pytest.raises(stop):
        vo.solve_admm([sub, lambda r, t: [1.0, 1.0]], 2)
    assert len(calls) == 3


@pytest.mark.parametrize("subproblems", [[5], [lambda r, t: t, None], ["f"]])
def test_non_callables_are_refused_before_any_call(subproblems):
    calls = []
    with pytest.raises(TypeError, match="^subproblems must be callables$"):
        vo.solve_admm([lambda r, t: calls.append(t)] + subproblems, 2)
    assert calls == []


MEMORY = os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")


# The last row: each vector alone is well below the machine's memory (so the system would
# hand it out) while all eleven together exceed it.
@pytest.mark.parametrize("count, dim", [(2, 2 ** 40), (3, 2 ** 61), (0, 2 ** 62), (2 ** 3, 2 ** 58),
                                        (4, MEMORY // 8 // 11 + 1)])
def test_vectors_too_large_for_memory_raise_memory_error_before_any_call(count, dim):
    calls = []
    with pytest.raises(MemoryError):
        vo.solve_admm([lambda r, t: calls.append(r)] * count, dim, max_iter=3)
    assert calls == []


def test_arguments_bind_by_keyword_and_refuse_extras():
    result = vo.solve_admm(tol=0.5, dim=1, subproblems=[lambda r, t: [r]], max_iter=3, rho=2)
    assert result["z"] == [2.0] and result["iterations"] == 2
    with pytest.raises(TypeError, match="'verbose'"):
        vo.solve_admm([], 1, verbose=True)
    with pytest.raises(TypeError):
        vo.solve_admm([], 1, 1.0, 5, 1e-6, 0)


def stacked_problem(seed, blocks, rows, dim):
    rng = np.random.default_rng(seed)
    a = [rng.normal(size=(rows, dim)) for _ in range(blocks)]
    b = [rng.normal(size=rows) + m @ np.linspace(-1, 1, dim) for m in a]
    return a, b


def test_consensus_least_squares_matches_the_stacked_solution():
    # min sum_i |A_i x - b_i|^2 in four pieces; each proximal step
    # argmin |A_i x - b_i|^2 + rho/2 |x - t|^2 is solved exactly.
    a, b = stacked_problem(7, blocks=4, rows=12, dim=6)

    def piece(ai, bi):
        lhs = np.linalg.inv(2 * ai.T @ ai + np.eye(ai.shape[1]))
        rhs = 2 * ai.T @ bi
        return lambda rho, t: lhs @ (rhs + rho * np.asarray(t))

    result = vo.solve_admm([piece(ai, bi) for ai, bi in zip(a, b)], 6, rho=1.0, max_iter=2000,
                           tol=1e-9)
    exact = np.linalg.lstsq(np.vstack(a), np.concatenate(b), rcond=None)[0]
    assert result["converged"] is True and result["iterations"] < 2000
    assert np.max(np.abs(np.array(result["x"]) - exact)) < 1e-5


def test_lasso_split_across_examples():
    # min 1/2 |A x - b|^2 + lam |x|_1 with the rows of A split over three subproblems and the
    # l1 term as a fourth, whose proximal step is soft thresholding (Boyd et al. 2011, "Distributed
    # Optimization and Statistical Learning via ADMM": splitting across examples).
    rng = np.random.default_rng(42)
    m, n = 60, 15
    a_full = rng.normal(size=(m, n))
    x_true = np.zeros(n)
    x_true[[1, 4, 9]] = [1.5, -2.0, 0.8]
    b_full = a_full @ x_true + 0.05 * rng.normal(size=m)
    lam = 0.1 * np.max(np.abs(a_full.T @ b_full))
    rho = 5.0

    def rows(ai, bi):
        lhs = np.linalg.inv(ai.T @ ai + rho * np.eye(n))
        rhs = ai.T @ bi
        return lambda r, t: lhs @ (rhs + r * np.asarray(t))

    def l1(r, t):
        t = np.asarray(t)
        return np.sign(t) * np.maximum(np.abs(t) - lam / r, 0.0)

    pieces = [rows(a_full[k::3], b_full[k::3]) for k in range(3)] + [l1]
    result = vo.solve_admm(pieces, n, rho=rho, max_iter=5000, tol=1e-8)
    assert result["converged"] is True

    # The known solution, by cyclic coordinate descent run to a fixed point.
    x = np.zeros(n)
    col2 = (a_full ** 2).sum(axis=0)
    for _ in range(5000):
        before = x.copy()
        for j in range(n):
            r_j = b_full - a_full @ x + a_full[:, j] * x[j]
            rho_j = a_full[:, j] @ r_j
            x[j] = np.sign(rho_j) * max(abs(rho_j) - lam, 0.0) / col2[j]
        if np.max(np.abs(x - before)) < 1e-14:
            break
    z = np.array(result["z"])
    assert np.max(np.abs(z - x)) < 1e-5
    assert set(np.flatnonzero(np.abs(z) > 1e-6)) == set(np.flatnonzero(x))


def test_registration_and_docs():
    names = list(vo.__dict__)
    assert names[-1] == "solve_admm" or names.index("solve_admm") > names.index("solve_parallel_de")
    assert vo.solve_admm.__text_signature__ == "(subproblems, dim, rho=1.0, max_iter=200, tol=1e-6, *, executor=None)"
    assert vo.solve_admm.__doc__.startswith(
        "ADMM consensus solver for decomposable problems.\n"
        "subproblems: list of callables, each takes (rho: float, target: list[float]) -> list[float]\n"
        "executor: ")
