"""The type stubs catch what they promise to: a misspelt option or a value of the wrong kind is
a type error, and every option used correctly passes. (stubtest, in .ci/run, checks the stubs
against the compiled module.)"""

import pathlib
import textwrap

import pytest

mypy_api = pytest.importorskip("mypy.api", reason="mypy comes with the docs extra")

ROOT = pathlib.Path(__file__).resolve().parents[2]

GOOD = """
    import concurrent.futures as cf
    import velmo as vo

    def f(x: list[float]) -> float:
        return x[0]

    m = vo.Model("m")
    x = m.variable("x", lower=0)
    m.minimize(x)
    r = m.solve(solver="highs", time_limit=5, gap=1e-4, verbose=False, threads=2, warm_start=[1.0],
                presolve=True, basis=None, solver_method="simplex", run_crossover="on", parallel="off",
                scale_cleanup=True, simplex_scale_strategy=2, eliminate_redundant=True)
    r2 = m.solve(warm_start=r)
    value: float | None = r2.objective
    p = vo.PersistentHighs.from_model(model=m, verbose=False, threads=1, gap=0.0, time_limit=1.0)
    vo.minimize(x, [x >= 1], verbose=False, time_limit=1)
    box = [(0.0, 1.0)]
    vo.solve_de(f, box, pop_size=10, max_generations=5, f=0.5, cr=0.9, seed=1, tol=0)
    vo.solve_parallel_de(f, box, pop_size=10, max_generations=5, seed=1)
    vo.solve_pso(f, box, pop_size=10, max_iterations=5, seed=1, tol=0)
    vo.solve_sa(f, box, max_iterations=5, seed=1, temp_init=10, cooling_rate=0.9)
    with cf.ThreadPoolExecutor() as pool:
        vo.solve_cmaes(f, box, pop_size=6, max_generations=5, sigma=0.2, seed=1, tol=0,
                       variant="full", restarts=1, executor=pool)
        vo.pareto_frontier([f, f], box, 5, seed=1, method="nsga2", pop_size=8, generations=3,
                           das_dennis_divisions=4, executor=pool)
        vo.stochastic_solve(lambda x, s: x[0], box, [1, 2], max_generations=3, seed=1, pop_size=8,
                            executor=pool)
        vo.solve_admm([lambda rho, t: t], 1, rho=1.0, max_iter=3, tol=1e-3, executor=pool)
    vo.solve_portfolio(f, box, max_evals=100)
"""

# (call, a fragment of the error mypy must report on its line)
BAD = [
    ('m.solve(time_limt=5)', 'Unexpected keyword argument "time_limt"'),
    ('m.solve(verbose=1)', 'Argument "verbose"'),
    ('m.solve(solver="higs")', 'Argument "solver"'),
    ('vo.PersistentHighs.from_model(modle=m)', 'Unexpected keyword argument "modle"'),
    ('vo.solve_de(f, box, pop_sise=30)', 'Unexpected keyword argument "pop_sise"'),
    ('vo.solve_cmaes(f, box, variant="ful")', 'Argument "variant"'),
    ('vo.solve_cmaes(f, box, executor=3)', 'Argument "executor"'),
    ('vo.solve_parallel_de(f, box, tol=0)', 'Unexpected keyword argument "tol"'),
    ('vo.pareto_frontier([f, f], box, generatoins=3)', 'Unexpected keyword argument "generatoins"'),
    ('vo.stochastic_solve(f, box, [1], seed="a")', 'Argument "seed"'),
    ('vo.solve_portfolio(f, box, max_evals=100, seed=1)', 'Unexpected keyword argument "seed"'),
]


def test_stubs_pass_correct_calls_and_flag_each_mistake(tmp_path, monkeypatch):
    lines = textwrap.dedent(GOOD).splitlines()
    first_bad = len(lines) + 1
    lines += [call for call, _ in BAD]
    (tmp_path / "calls.py").write_text("\n".join(lines) + "\n")
    monkeypatch.setenv("MYPYPATH", str(ROOT / "python"))
    out, err, _ = mypy_api.run([str(tmp_path / "calls.py"), "--no-incremental", "--hide-error-context",
                                "--no-error-summary", "--show-error-codes"])
    errors: dict[int, list[str]] = {}
    for line in out.splitlines():
        parts = line.split(":", 3)
        if len(parts) == 4 and parts[2].strip() == "error":
            errors.setdefault(int(parts[1]), []).append(parts[3])
    assert {n: e for n, e in errors.items() if n < first_bad} == {}, (out, err)
    for k, (call, fragment) in enumerate(BAD):
        reported = errors.get(first_bad + k, [])
        assert any(fragment in e for e in reported), (call, reported)
