"""Particle swarm, simulated annealing, the evolution strategies and the portfolio: whole runs
against the pure-Python references, bit for bit, and the rules of each solver's options."""

import ctypes
import math
import os

import numpy as np
import pytest

import velmo_opt as vo
import engines_reference as ref
from recording import (NanFirst, Recorder, assert_matches_reference, fails_right_half, nan_below, rosenbrock,
                       sphere)


def rastrigin(x):
    return 10 * len(x) + sum(v * v - 10 * math.cos(2 * math.pi * v) for v in x)


def shifted_sphere(x):
    return sum((v - 0.5 - 0.1 * k) ** 2 for k, v in enumerate(x))


# Cases every engine runs: (objective, bounds). Options per engine are added below.
COMMON = {
    "sphere": (sphere, [(-5, 5)] * 3),
    "rosenbrock": (rosenbrock, [(-2.0, 2.0), (-1, 3)]),
    "failures score inf": (fails_right_half, [(-3, 3)] * 2),
    "nan region": (nan_below, [(-2, 2)] * 2),
    "first value nan": (NanFirst(1, shifted_sphere), [(-1, 1)] * 2),
    "first three values nan": (NanFirst(3, rosenbrock), [(-2, 2)] * 2),
    "always nan": (lambda x: math.nan, [(0, 1)] * 2),
    "inverted box": (sphere, [(0, 1), (2, -2)]),
    "zero-width box": (shifted_sphere, [(0.25, 0.25), (-1, 1)]),
}


def cases(options, extra=()):
    table = [(name, func, bounds, options) for name, (func, bounds) in COMMON.items()]
    return table + list(extra)


def ids(table):
    return [row[0] for row in table]


def check(solver, reference, func, bounds, options):
    ours, theirs = Recorder(func), Recorder(func)
    result = solver(ours, bounds, **options)
    expected = reference(theirs, bounds)
    assert_matches_reference(result, ours, theirs.points, expected)
    return result


# ---- particle swarm

PSO_CASES = cases({"max_iterations": 30}, [
    ("one particle", sphere, [(-1, 1)] * 2, {"pop_size": 1, "max_iterations": 20}),
    ("large swarm, seed 0", rosenbrock, [(-2, 2)] * 2, {"pop_size": 33, "max_iterations": 15, "seed": 0}),
    ("constant stalls", lambda x: 1.0, [(0, 1)] * 3, {}),
    ("tol zero", shifted_sphere, [(-1, 1)], {"max_iterations": 40, "tol": 0.0}),
])


@pytest.mark.parametrize("name, func, bounds, options", PSO_CASES, ids=ids(PSO_CASES))
def test_pso_reproduces_reference(name, func, bounds, options):
    swarm = options.get("pop_size") or min(10 * len(bounds), 20)
    kw = {k: v for k, v in options.items() if k != "pop_size"}
    check(vo.solve_pso, lambda f, b: ref.pso(f, b, swarm, **kw), func, bounds, options)


@pytest.mark.parametrize("dim, swarm", [(1, 10), (2, 20), (7, 20)])
def test_pso_default_swarm_size(dim, swarm):
    result = vo.solve_pso(sphere, [(-1, 1)] * dim, max_iterations=0)
    assert (result.evaluations, result.iterations, result.converged) == (swarm, 1, False)


def test_pso_constant_objective_stops_after_iteration_ten():
    result = vo.solve_pso(lambda x: 2.0, [(0, 1)] * 2)
    assert (result.converged, result.iterations, result.evaluations) == (True, 11, 20 * 11)


def test_pso_particles_overshoot_onto_the_bound():
    # A far target pulls particles against the upper bound; they stay clamped there.
    calls = Recorder(lambda x: -x[0])
    result = vo.solve_pso(calls, [(0, 1)], pop_size=3, max_iterations=30, tol=0)
    assert result.x == [1.0]
    assert sum(p == ((1.0).hex(),) for p in calls.points) > 30


# ---- simulated annealing

SA_CASES = cases({"max_iterations": 300}, [
    ("temp_init zero", shifted_sphere, [(-1, 1)] * 2, {"temp_init": 0.0}),
    ("fast cooling", rosenbrock, [(-2, 2)] * 2, {"cooling_rate": 0.5, "temp_init": 100}),
    ("no cooling", sphere, [(-1, 1)], {"cooling_rate": 1.0, "max_iterations": 200, "seed": 3}),
    ("negative temperature", sphere, [(-1, 1)] * 2, {"temp_init": -1.0, "max_iterations": 50}),
    ("nan temperature", sphere, [(-1, 1)] * 2, {"temp_init": math.nan, "max_iterations": 50}),
    ("empty box", lambda x: len(x), [], {"max_iterations": 5}),
    ("long run", sphere, [(-3, 3)] * 2, {"max_iterations": 2000, "seed": 8}),
])


@pytest.mark.parametrize("name, func, bounds, options", SA_CASES, ids=ids(SA_CASES))
def test_sa_reproduces_reference(name, func, bounds, options):
    check(vo.solve_sa, lambda f, b: ref.sa(f, b, **options), func, bounds, options)


@pytest.mark.parametrize(
    "options, expected",
    [
        ({"max_iterations": 0}, (1, 1, False)),
        ({"max_iterations": 0, "temp_init": 1e-9}, (1, 1, True)),
        ({"temp_init": 0}, (2, 2, True)),
        ({"cooling_rate": 0.5}, (35, 35, True)),
        ({"cooling_rate": 1.5, "max_iterations": 50}, (51, 51, False)),
        ({}, (10001, 10001, False)),
    ],
)
def test_sa_budget_and_temperature_floor(options, expected):
    result = vo.solve_sa(sphere, [(-1, 1)], **options)
    assert (result.iterations, result.evaluations, result.converged) == expected


def test_sa_empty_box_calls_with_empty_lists():
    calls = Recorder(lambda x: 1.0)
    result = vo.solve_sa(calls, [], max_iterations=3)
    assert calls.points == [()] * 4
    assert (result.x, result.objective) == ([], 1.0)


# ---- evolution strategies

ES_CASES = cases({"max_generations": 40}, [
    ("explicit pop_size two", sphere, [(-1, 1)] * 2, {"pop_size": 2, "max_generations": 30}),
    ("large sigma is capped", rosenbrock, [(-2, 2)] * 2, {"sigma": 5.0, "max_generations": 30, "seed": 0}),
    ("ten dimensions", shifted_sphere, [(-1, 1)] * 10, {"max_generations": 20}),
    ("empty box", lambda x: 3.0, [], {"max_generations": 4}),
    ("tol reached", lambda x: abs(x[0]), [(-1, 1)], {"tol": 0.1, "max_generations": 500}),
])


def simple_lambda(bounds, options):
    return options.get("pop_size") or max(5, ref.default_offspring(len(bounds)))


@pytest.mark.parametrize("name, func, bounds, options", ES_CASES, ids=ids(ES_CASES))
def test_simple_es_reproduces_reference(name, func, bounds, options):
    lam = simple_lambda(bounds, options)
    kw = {k: v for k, v in options.items() if k != "pop_size"}
    check(vo.solve_cmaes, lambda f, b: ref.simple_es(f, b, lam, **kw), func, bounds, options)


CMA_CASES = cases({"variant": "full", "max_generations": 40}, [
    ("restarts", rosenbrock, [(-2, 2)] * 3,
     {"variant": "full", "max_generations": 60, "restarts": 2, "tol": -1.0}),
    ("restarts stop at target", shifted_sphere, [(-2, 2)] * 2,
     {"variant": "FULL", "restarts": 5, "max_generations": 30, "seed": 11}),
    ("later restart wins", rastrigin, [(-4, 5)] * 2,
     {"variant": "Full", "restarts": 3, "max_generations": 25, "sigma": 0.5, "seed": 0, "tol": -1.0}),
    ("restart seeds wrap", shifted_sphere, [(-1, 1)] * 2,
     {"variant": "full", "restarts": 1, "seed": 2**64 - 7919, "max_generations": 10}),
    ("explicit pop_size", rosenbrock, [(-2, 2)] * 4, {"variant": "full", "pop_size": 13, "max_generations": 30}),
    ("pop_size below four", sphere, [(-2, 2)] * 2, {"variant": "full", "pop_size": 1, "max_generations": 10}),
    ("rosenbrock to target", rosenbrock, [(-5, 5)] * 4, {"variant": "full"}),
    ("one dimension", shifted_sphere, [(-3, 3)], {"variant": "full", "max_generations": 50}),
    ("all below tol", lambda x: 1e-9, [(0, 1)] * 2, {"variant": "full"}),
    ("plateau", lambda x: 5.0, [(0, 1)] * 2, {"variant": "full", "max_generations": 100}),
])


@pytest.mark.parametrize("name, func, bounds, options", CMA_CASES, ids=ids(CMA_CASES))
def test_full_cmaes_reproduces_reference(name, func, bounds, options):
    kw = {k: v for k, v in options.items() if k != "variant"}
    check(vo.solve_cmaes, lambda f, b: ref.cmaes_full(f, b, **kw), func, bounds, options)


@pytest.mark.parametrize("variant, full", [("full", True), ("FULL", True), ("fUlL", True),
                                           ("cma", False), ("simple", False), ("full ", False), ("", False)])
def test_variant_selection(variant, full):
    # Every value is 0, below tol: only the full variant stops after its first generation.
    result = vo.solve_cmaes(lambda x: 0.0, [(0, 1)] * 2, variant=variant, max_generations=30)
    assert result.iterations == (2 if full else 31)


@pytest.mark.parametrize("dim, lam", [(0, 5), (1, 5), (2, 6), (10, 10)])
def test_simple_es_default_population(dim, lam):
    result = vo.solve_cmaes(sphere, [(-1, 1)] * dim, max_generations=3)
    assert result.evaluations == 1 + 3 * lam


def test_simple_es_without_improvement_shrinks_sigma_until_it_stops():
    # The centre is the minimum, so no offspring ever counts as a success.
    result = vo.solve_cmaes(lambda x: abs(x[0]) + abs(x[1]), [(-1, 1)] * 2)
    assert (result.converged, result.iterations, result.evaluations) == (True, 337, 1 + 6 * 336)
    assert result.x == [0.0, 0.0]


def test_full_restarts_double_the_population():
    calls = Recorder(sphere)
    result = vo.solve_cmaes(calls, [(-1, 1)] * 2, variant="full", restarts=2, max_generations=3, tol=-1.0)
    assert len(calls.points) == (1 + 6 * 3) + (1 + 12 * 3) + (1 + 24 * 3)
    assert result.iterations == 4
    assert result.evaluations in (19, 19 + 37, 19 + 37 + 73)


def test_full_restarts_keep_the_best_run_and_stop_at_the_target():
    options = dict(variant="full", max_generations=25, sigma=0.5, seed=0, tol=-1.0)
    single = vo.solve_cmaes(rastrigin, [(-4, 5)] * 2, **options)
    calls = Recorder(rastrigin)
    best = vo.solve_cmaes(calls, [(-4, 5)] * 2, restarts=3, **options)
    runs = [1 + 6 * 2**r * 25 for r in range(4)]
    assert len(calls.points) == sum(runs)
    # The second run (seed 7919, 12 offspring) is kept; its count is cumulative up to it.
    assert best.objective < single.objective
    assert best.evaluations == runs[0] + runs[1]
    # The second run reaches the target, so no third run is made.
    calls = Recorder(shifted_sphere)
    reached = vo.solve_cmaes(calls, [(-2, 2)] * 2, variant="full", restarts=5, max_generations=30, seed=11)
    assert reached.objective < 1e-8 and reached.converged
    assert len(calls.points) == reached.evaluations == (1 + 6 * 30) + (1 + 12 * 20)


def test_full_variant_on_an_empty_box_runs():
    calls = Recorder(lambda x: 1.0)
    result = vo.solve_cmaes(calls, [], variant="full", max_generations=3)
    assert set(calls.points) == {()}
    assert (result.evaluations, result.iterations) == (1 + 4 * 3, 4)


def test_simple_es_refuses_a_single_offspring_before_any_call():
    calls = Recorder(sphere)
    with pytest.raises(ValueError, match="at least 2, got 1"):
        vo.solve_cmaes(calls, [(0, 1)], pop_size=1)
    assert calls.points == []


# ---- Jacobi eigendecomposition of the full variant

def _build_probe(out_dir):
    """Without a CMake build tree (an installed wheel), compile the probe from the sources."""
    import shutil
    import subprocess

    root = os.path.join(os.path.dirname(__file__), "..", "..")
    compiler = shutil.which("g++") or shutil.which("c++")
    if compiler is None:
        pytest.skip("no C++ compiler to build the core probe library")
    path = os.path.join(out_dir, "libvelmo_core_probe.so")
    # The same floating-point rules as the module's own build.
    subprocess.run([compiler, "-std=c++20", "-O2", "-ffp-contract=off", "-fno-fast-math", "-shared", "-fPIC",
                    "-I", os.path.join(root, "src"), os.path.join(root, "tests", "native", "core_probe.cpp"),
                    os.path.join(root, "src", "blackbox", "metaheuristic.cpp"),
                    os.path.join(root, "src", "blackbox", "run_control.cpp"),
                    os.path.join(root, "src", "blackbox", "evolution_strategies.cpp"),
                    os.path.join(root, "src", "expr", "number_text.cpp"), "-o", path], check=True)
    return path


@pytest.fixture(scope="module")
def core_jacobi(tmp_path_factory):
    """The core's own decomposition, through the test-only C entry built beside the module."""
    path = os.path.join(os.path.dirname(vo.__file__), "libvelmo_core_probe.so")
    if not os.path.exists(path):
        path = _build_probe(str(tmp_path_factory.mktemp("probe")))
    entry = ctypes.CDLL(path).velmo_probe_jacobi_eigen
    entry.restype = None
    entry.argtypes = [ctypes.POINTER(ctypes.c_double), ctypes.c_size_t, ctypes.POINTER(ctypes.c_double)]

    def run(m):
        a = np.array(m, dtype=np.float64, order="C")
        n = a.shape[0]
        vectors = np.empty((n, n))
        entry(a.ctypes.data_as(ctypes.POINTER(ctypes.c_double)), n,
              vectors.ctypes.data_as(ctypes.POINTER(ctypes.c_double)))
        return np.diag(a).copy(), vectors

    return run


def symmetric_matrices():
    rng = np.random.default_rng(7)
    out = []
    for n in (1, 2, 3, 5, 8, 12, 20):
        a = rng.normal(size=(n, n))
        out.append(a @ a.T)  # positive semi-definite, like a covariance
        out.append((a + a.T) / 2 * 10.0 ** rng.integers(-3, 4))  # indefinite, scaled
    out.append(np.diag([1e6, 1.0, 1e-6]) + 1e-3)  # badly conditioned
    return [(m + m.T) / 2 for m in out]  # exactly symmetric, as the engine hands it over


@pytest.mark.parametrize("m", symmetric_matrices(), ids=lambda m: f"n{m.shape[0]}")
def test_jacobi_matches_numpy_eigh_and_the_reference(core_jacobi, m):
    values, vectors = core_jacobi(m)
    ref_values, ref_vectors = ref.jacobi(m.tolist())
    assert values.tolist() == ref_values and vectors.tolist() == ref_vectors
    order = np.argsort(values)
    values, vectors = values[order], vectors[:, order]
    expected_values, expected_vectors = np.linalg.eigh(m)
    np.testing.assert_allclose(values, expected_values, rtol=0, atol=1e-10 * max(1.0, abs(expected_values).max()))
    # Up to sign; these spectra have no repeated eigenvalue.
    signs = np.sign(np.sum(vectors * expected_vectors, axis=0))
    np.testing.assert_allclose(vectors * signs, expected_vectors, rtol=0, atol=1e-8)


def test_jacobi_on_diagonal_tiny_and_repeated_entries(core_jacobi):
    values, vectors = core_jacobi([[2.0, 0.0], [0.0, -1.0]])
    assert values.tolist() == [2.0, -1.0] and vectors.tolist() == [[1.0, 0.0], [0.0, 1.0]]
    values, _ = core_jacobi([[1.0, 1e-301], [1e-301, 1.0]])  # below the skip threshold
    assert values.tolist() == [1.0, 1.0]
    values, _ = core_jacobi([[1.0, 1.0], [1.0, 1.0]])  # equal diagonal: theta = 0, rotation by 45 degrees
    assert sorted(values.tolist()) == pytest.approx([0.0, 2.0], abs=1e-15)
    m = np.full((4, 4), 1.0) + np.eye(4)  # eigenvalues 1, 1, 1, 5
    values, v = core_jacobi(m)
    np.testing.assert_allclose(sorted(values), [1, 1, 1, 5], atol=1e-12)
    np.testing.assert_allclose(v.T @ v, np.eye(4), atol=1e-12)
    np.testing.assert_allclose(v @ np.diag(values) @ v.T, m, atol=1e-12)


# ---- portfolio

PORTFOLIO_CASES = [
    ("sphere", sphere, [(-5, 5)] * 2, 0),
    ("rosenbrock", rosenbrock, [(-2, 2)] * 3, 1200),
    ("one dimension", shifted_sphere, [(-1, 1)], 0),
    ("failing everywhere", lambda x: 1 / 0, [(0, 1)] * 2, 10),
    ("first three values nan", NanFirst(3, shifted_sphere), [(-1, 1)] * 2, 10),
    ("always nan", lambda x: math.nan, [(0, 1)], 10),
    ("inverted box", shifted_sphere, [(1, -1), (0, 0)], 10),
]


@pytest.mark.parametrize("name, func, bounds, max_evals", PORTFOLIO_CASES, ids=ids(PORTFOLIO_CASES))
def test_portfolio_reproduces_reference(name, func, bounds, max_evals):
    check(vo.solve_portfolio, lambda f, b: ref.portfolio(f, b, max_evals), func, bounds,
          {"max_evals": max_evals})


def test_portfolio_picks_the_earliest_of_equal_stages_and_repeats():
    calls = Recorder(lambda x: 3.0)
    first = vo.solve_portfolio(calls, [(0, 1)] * 2)
    # Every stage reaches 3.0: DE's outcome is returned (20 individuals, stalled after 10).
    assert (first.objective, first.evaluations, first.iterations) == (3.0, 20 * 11, 11)
    again = vo.solve_portfolio(lambda x: 3.0, [(0, 1)] * 2)
    assert (again.x, again.history, again.evaluations) == (first.x, first.history, first.evaluations)


def test_portfolio_refuses_an_empty_box():
    calls = Recorder(sphere)
    with pytest.raises(ValueError, match="at least one"):
        vo.solve_portfolio(calls, [])
    assert calls.points == []


# AddressSanitizer aborts on an allocation this large instead of failing it.
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")
huge_allocation = pytest.mark.skipif(UNDER_ASAN, reason="the sanitizer aborts on huge allocations")


@pytest.mark.parametrize("call", [
    lambda f: vo.solve_pso(f, [(0, 1)] * 4, pop_size=2**62),
    pytest.param(lambda f: vo.solve_pso(f, [(0, 1)] * 2, pop_size=2**44), marks=huge_allocation),
    lambda f: vo.solve_cmaes(f, [(0, 1)] * 4, pop_size=2**62),
    pytest.param(lambda f: vo.solve_cmaes(f, [(0, 1)] * 2, pop_size=2**44, variant="full"),
                 marks=huge_allocation),
], ids=["pso-overflow", "pso-alloc", "simple-overflow", "full-alloc"])
def test_population_too_large_for_memory_fails_before_any_call(call):
    calls = Recorder(sphere)
    with pytest.raises(MemoryError):
        call(calls)
    assert calls.points == []
