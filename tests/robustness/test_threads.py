"""Threads: models built and solved side by side, and a model read and extended by one thread
while another solves it (HiGHS gives up the interpreter lock inside its run). Every scenario
must finish within a bounded time without deadlock or crash and leave consistent results."""

import threading
import time

import velmo_opt as vo

TIMEOUT = 120  # seconds per scenario: generous, since a deadlock never finishes at all


def chain_lp(n, name="lp"):
    """max sum (k % 7 + 1) x_k s.t. x_k + 2 x_{k+1} <= 5 + k % 3, 0 <= x <= 10."""
    m = vo.Model(name)
    xs = m.variables("x", n, lower=0, upper=10)
    m.maximize(vo.sum([(k % 7 + 1) * x for k, x in enumerate(xs)]))
    for k in range(n - 1):
        m.add(xs[k] + 2 * xs[k + 1] <= 5 + k % 3)
    return m


def run_threads(*targets):
    """Runs each target in its own daemon thread; returns the exceptions they raised."""
    errors = []

    def guarded(target):
        try:
            target()
        except BaseException as e:  # noqa: BLE001 - reported to the test
            errors.append(e)

    threads = [threading.Thread(target=guarded, args=(t,), daemon=True) for t in targets]
    for t in threads:
        t.start()
    deadline = time.monotonic() + TIMEOUT
    for t in threads:
        t.join(max(0.0, deadline - time.monotonic()))
    assert not any(t.is_alive() for t in threads), "threads still running: deadlock?"
    return errors


def test_two_threads_build_and_solve_their_own_models():
    reference = chain_lp(300).solve().objective
    results = {}

    def worker(tag):
        for round_ in range(5):
            m = chain_lp(300, f"{tag}{round_}")
            r = m.solve()
            q = vo.Model()
            a, b = q.variable("a"), q.variable("b")
            one_line = vo.minimize(a * a - 2 * a + b * b, [a + b >= 3])
            results.setdefault(tag, []).append((r.status, r.objective, one_line.status))

    assert run_threads(lambda: worker("a"), lambda: worker("b")) == []
    for tag in "ab":
        assert len(results[tag]) == 5
        for status, objective, one_line_status in results[tag]:
            assert (status, one_line_status) == ("optimal", "optimal")
            assert abs(objective - reference) <= 1e-6 * abs(reference)


def test_reading_and_adding_while_another_thread_solves():
    m = chain_lp(3000)
    probe = m.variables("p", 50)
    n0, c0 = m.num_vars, m.num_constraints
    solving = threading.Event()
    done = threading.Event()
    seen = {"built_during_solve": 0, "added": 0}
    results = []

    def solver():
        try:
            for _ in range(6):
                solving.set()
                results.append(m.solve())
                solving.clear()
        finally:
            done.set()

    def reader_writer():
        k = 0
        while not done.is_set():
            # Expressions need no model lock, so this thread keeps working between solves
            # and while HiGHS runs without the interpreter lock.
            e = vo.sum(probe) * 2 + 1
            if solving.is_set():
                seen["built_during_solve"] += 1
            # Model calls wait for the solve to finish, without holding the interpreter lock.
            v = m.variable(f"extra{k}", lower=0, upper=1)
            m.add(v + e <= 100)
            assert m.num_vars == n0 + k + 1
            assert m.num_constraints == c0 + k + 1
            repr(m), m.problem_type
            k += 1
        seen["added"] = k

    assert run_threads(solver, reader_writer) == []
    assert seen["built_during_solve"] > 0
    assert m.num_vars == n0 + seen["added"]
    for r in results:
        # Each solve saw one consistent model: a value per variable of that moment.
        assert r.status == "optimal"
        assert len(r.primals) == len(r.var_names_list) >= n0


def test_two_threads_solving_one_model_take_turns():
    m = chain_lp(1500)
    expected = m.solve().objective
    objectives = []

    def worker():
        for _ in range(4):
            objectives.append(m.solve().objective)

    assert run_threads(worker, worker) == []
    assert len(objectives) == 8
    assert all(abs(o - expected) <= 1e-9 * abs(expected) for o in objectives)


def test_black_box_runs_beside_a_solve():
    def sphere(x):
        return sum(v * v for v in x)

    alone = vo.solve_de(sphere, [(-1, 1)] * 3, max_generations=60, seed=5)
    runs = []
    m = chain_lp(2000)

    def de_worker():
        for _ in range(3):
            runs.append(vo.solve_de(sphere, [(-1, 1)] * 3, max_generations=60, seed=5))

    def solve_worker():
        for _ in range(3):
            assert m.solve().status == "optimal"

    assert run_threads(de_worker, de_worker, solve_worker) == []
    # Threads interleave the objective calls, yet each run is the same run.
    assert [(r.x, r.history) for r in runs] == [(alone.x, alone.history)] * 6


def test_diagnostics_read_their_own_copies_while_the_model_grows():
    m = chain_lp(400)
    r = m.solve()
    first = r.sensitivity()
    done = threading.Event()
    reports = []

    def grower():
        try:
            for k in range(200):
                v = m.variable(f"g{k}", lower=0, upper=1)
                m.add(v <= 2)
                m.validate()
        finally:
            done.set()

    def reader():
        for _ in range(20):  # at least this many, whatever the scheduling
            reports.append((r.sensitivity(), r.infeasibility_report()["num_constraints"], len(m.validate())))
        while not done.is_set():
            reports.append((r.sensitivity(), r.infeasibility_report()["num_constraints"], len(m.validate())))

    assert run_threads(grower, reader, reader) == []
    assert reports
    # The Result's copies do not follow the model.
    assert all(s == first and n == 0 for s, n, _ in reports)


def test_exact_reports_and_ranging_on_two_results_at_once():
    # Each report runs HiGHS, which gives up the interpreter lock inside its runs.
    def hidden_conflict(k):
        m = chain_lp(200, f"h{k}")
        a, b = m.variable("a"), m.variable("b")
        m.add(a - b >= 1 + k)
        m.add(b - a >= 1)
        return m.solve()

    infeasible = [hidden_conflict(0), hidden_conflict(1)]
    lp = chain_lp(300).solve(ranging=True)
    expected = [r.infeasibility_report() for r in infeasible]
    table = lp.ranging()
    seen = []

    def worker(r, first):
        for _ in range(5):
            seen.append((r.infeasibility_report() == first, lp.ranging() == table))

    assert run_threads(*(lambda r=r, e=e: worker(r, e) for r, e in zip(infeasible, expected))) == []
    assert expected[0]["constraint_indices"] == [199, 200]
    assert len(seen) == 10 and all(a and b for a, b in seen)


def test_two_persistent_models_update_and_resolve_side_by_side():
    references = {}
    results = {}

    def worker(tag, shift):
        m = chain_lp(400, tag)
        p = vo.PersistentHighs.from_model(model=m)
        n = p.num_cols()
        for round_ in range(6):
            upper = [10.0 - shift - round_ % 3] * n
            p.update_col_bounds(list(range(n)), [0.0] * n, upper)
            p.update_col_costs([0, n - 1], [-1.0 - round_, -2.0])
            results.setdefault(tag, []).append((round_, p.resolve().objective))

    def reference(shift, round_):
        m = chain_lp(400)
        p = vo.PersistentHighs.from_model(model=m)
        n = p.num_cols()
        p.update_col_bounds(list(range(n)), [0.0] * n, [10.0 - shift - round_ % 3] * n)
        p.update_col_costs([0, n - 1], [-1.0 - round_, -2.0])
        return p.resolve().objective

    assert run_threads(lambda: worker("a", 0), lambda: worker("b", 1)) == []
    for tag, shift in (("a", 0), ("b", 1)):
        assert len(results[tag]) == 6
        for round_, objective in results[tag]:
            key = (shift, round_)
            references.setdefault(key, reference(shift, round_))
            assert abs(objective - references[key]) <= 1e-6 * abs(references[key])


def test_one_persistent_model_shared_by_two_threads_takes_turns():
    m = chain_lp(1500)
    p = vo.PersistentHighs.from_model(model=m)
    allowed = [p.resolve().objective]
    for cost in (-5.0, -3.0):
        q = vo.PersistentHighs.from_model(model=m)
        q.update_col_costs([0], [cost])
        allowed.append(q.resolve().objective)
    seen = []

    def worker(cost):
        for _ in range(4):
            p.update_col_costs([0], [cost])  # minimisation form of the same objective
            p.update_col_costs([0], [-1.0])
            seen.append(p.resolve().objective)

    assert run_threads(lambda: worker(-5.0), lambda: worker(-3.0)) == []
    assert len(seen) == 8
    # Every resolve ran on a whole model: the original one, or one of the two changed ones.
    assert all(min(abs(o - a) for a in allowed) <= 1e-7 * abs(allowed[0]) for o in seen)
    assert p.col_costs()[0] == -1.0


def test_scenario_and_admm_runs_beside_each_other_and_a_solve():
    scenarios = [{"c": c} for c in (0.5, -1.0, 2.0)]

    def cost(x, s):
        time.sleep(0)  # offer the interpreter lock to the other threads on every call
        return sum((v - s["c"]) ** 2 for v in x)

    def prox(c):
        def step(rho, t):
            # A subproblem may itself run a search (here a tiny scenario solve) before answering.
            inner = vo.stochastic_solve(lambda y, s: (y[0] - s) ** 2, [(0, 1)], [c / 10],
                                        pop_size=4, max_generations=2)
            return [(c + rho * v) / (1 + rho) + 0.0 * inner.objective for v in t]
        return step

    subproblems = [prox(c) for c in (1.0, -2.0, 4.0)]

    def scenario_run():
        return vo.stochastic_solve(cost, [(-3, 3)] * 2, scenarios, max_generations=15, seed=3)

    def admm_run():
        return vo.solve_admm(subproblems, 5, max_iter=300)

    alone_s, alone_a = scenario_run(), admm_run()
    runs_s, runs_a = [], []
    m = chain_lp(2000)

    def scenario_worker():
        for _ in range(2):
            runs_s.append(scenario_run())

    def admm_worker():
        for _ in range(2):
            runs_a.append(admm_run())

    def solve_worker():
        for _ in range(2):
            assert m.solve().status == "optimal"

    assert run_threads(scenario_worker, scenario_worker, admm_worker, admm_worker, solve_worker) == []
    assert [(r.x, r.history) for r in runs_s] == [(alone_s.x, alone_s.history)] * 4
    assert runs_a == [alone_a] * 4 and alone_a["converged"] is True


def test_pareto_fronts_run_beside_a_solve():
    def f1(x):
        return x[0]

    def f2(x):
        return (1 - x[0]) ** 2 + sum(v * v for v in x[1:])

    def runs():
        return [vo.pareto_frontier([f1, f2], [(0, 1)] * 3, 6, method="nsga2", generations=40, seed=3),
                vo.pareto_frontier([f1, f2, lambda x: x[1]], [(0, 1)] * 3, method="nsga3", pop_size=12,
                                   generations=30, das_dennis_divisions=4),
                vo.pareto_frontier([f1, f2], [(0, 1)], 3)]

    alone = runs()
    results = []
    m = chain_lp(2000)

    def front_worker():
        for _ in range(2):
            results.append(runs())

    def solve_worker():
        for _ in range(3):
            assert m.solve().status == "optimal"

    assert run_threads(front_worker, front_worker, solve_worker) == []
    # The objective calls of the two threads interleave, yet every run is the run alone.
    assert results == [alone] * 4


def test_runs_through_one_shared_executor_side_by_side():
    import concurrent.futures as cf

    def f2(x):
        return (1 - x[0]) ** 2 + x[1]

    objectives = [lambda x: x[0], f2, lambda x: x[1] - x[0]]
    subproblems = [lambda rho, t, b=b: [(2 * b + rho * v) / (2 + rho) for v in t] for b in (1.0, 2.0, 3.0)]

    def front():
        return repr(vo.pareto_frontier(objectives, [(0, 1), (0, 1)], method="nsga3", pop_size=12, generations=4,
                                       das_dennis_divisions=3, executor=pool))

    def admm():
        return repr(vo.solve_admm(subproblems, 2, max_iter=40, executor=pool))

    with cf.ThreadPoolExecutor(max_workers=3) as pool:
        alone = (front(), admm())
        got = []
        assert run_threads(*[lambda: got.append((front(), admm())) for _ in range(3)]) == []
    assert got == [alone] * 3


def test_every_black_box_engine_side_by_side_equals_a_lone_run():
    def rosenbrock(x):
        return sum(100.0 * (b - a * a) ** 2 + (1.0 - a) ** 2 for a, b in zip(x, x[1:]))

    box = [(-2, 2)] * 3
    runs = {
        "pso": lambda: vo.solve_pso(rosenbrock, box, max_iterations=150, tol=0, seed=3),
        "sa": lambda: vo.solve_sa(rosenbrock, box, max_iterations=3000, seed=4),
        "simple": lambda: vo.solve_cmaes(rosenbrock, box, max_generations=300, seed=5),
        "full": lambda: vo.solve_cmaes(rosenbrock, box, variant="full", restarts=2, tol=-1,
                                       max_generations=80, seed=6),
        "portfolio": lambda: vo.solve_portfolio(rosenbrock, box, max_evals=1500),
    }
    alone = {name: run() for name, run in runs.items()}
    seen = []

    def worker():
        for name, run in runs.items():
            seen.append((name, run()))

    assert run_threads(worker, worker) == []
    assert len(seen) == 2 * len(runs)
    for name, r in seen:
        a = alone[name]
        assert (r.x, r.history, r.evaluations, r.converged) == (a.x, a.history, a.evaluations, a.converged), name


def _nonlinear_model(n):
    m = vo.Model("nlp")
    xs = m.variables("x", n, lower=-2, upper=2)
    objective = vo.sin(xs[0]) - 2 * vo.sum(xs)
    for x in xs:
        objective = objective + x * x
    m.minimize(objective)
    for k in range(n - 1):
        m.add(xs[k] * xs[k + 1] <= 0.5)
    return m


def test_nonlinear_and_conic_solves_beside_a_thread_that_reads_and_extends_the_model():
    # Ipopt runs holding the interpreter lock, Clarabel without it; either way the other
    # thread waits for the model and each solve sees one consistent model.
    m = _nonlinear_model(60)
    cone = vo.Model("cone")
    t, u = cone.variable("t"), cone.variable("u", 1, 2)
    cone.add_soc_cone([t, u])
    cone.minimize(t)
    done = threading.Event()
    results = []

    def solver():
        try:
            for _ in range(4):
                results.append((m.solve(), cone.solve()))
        finally:
            done.set()

    added = {"n": 0}

    def reader_writer():
        n0 = m.num_vars
        while not done.is_set():
            v = m.variable(f"extra{added['n']}", 0, 1)
            m.add(vo.cos(v) >= 0)
            cone.add(t >= 0)
            repr(m), m.problem_type, cone.num_constraints
            added["n"] += 1
            assert m.num_vars == n0 + added["n"]

    assert run_threads(solver, reader_writer) == []
    for r, c in results:
        assert (r.status, r.solver, c.status, c.solver) == ("optimal", "Ipopt", "optimal", "Clarabel")
        assert len(r.primals) == len(r.var_names_list) >= 60
        assert abs(c.objective - 1) <= 1e-6


def test_package_functions_build_models_in_threads_beside_a_solve():
    """velmo's functions (velmo._ext) make velmo_opt's objects from several threads at once."""
    import numpy as np

    import velmo

    results = {}

    def build_and_solve(key):
        m = vo.Model(f"f{key}")
        x = m.variable("x", lower=0.1, upper=3)
        ys = m.variables("y", 50, lower=-1, upper=1)
        m.minimize(velmo.exp(x - 1) - velmo.log(x) + velmo.sum(velmo.square(y - 0.5) for y in ys)
                   + velmo.quad_form(ys[:10], np.eye(10)) + velmo.dot(np.ones(50), ys))
        results[key] = m.solve().objective

    errors = run_threads(*[lambda k=k: build_and_solve(k) for k in range(3)], lambda: chain_lp(200).solve())
    assert errors == []
    assert len(set(round(v, 6) for v in results.values())) == 1


def test_steered_runs_side_by_side_equal_lone_runs():
    """x0, budgets, callbacks (one running a nested search), integers and constraints in two
    threads at once give the lone runs' results."""
    def sphere(x):
        return sum((v - 0.4) ** 2 for v in x)

    box = [(-2, 2), (0, 5), (-1, 1)]

    def nested(info):
        vo.solve_de(sphere, [(0, 1)], max_evals=20)
        return info["generation"] == 6

    steer = dict(x0=[0.0, 1.0, 0.0], max_evals=600, time_limit=600.0, integrality=[False, True, False],
                 constraints=lambda x: [x[0] + x[2] - 0.5], callback=nested)
    runs = {
        "de": lambda: vo.solve_de(sphere, box, **steer),
        "pso": lambda: vo.solve_pso(sphere, box, **steer),
        "sa": lambda: vo.solve_sa(sphere, box, **steer),
        "full": lambda: vo.solve_cmaes(sphere, box, variant="full", restarts=1, **steer),
        "stochastic": lambda: vo.stochastic_solve(lambda x, s: sphere(x) + s, box, [0.0, 1.0], **steer),
        "nsga2": lambda: vo.pareto_frontier([sphere, lambda x: x[1]], box, method="nsga2", pop_size=10, **steer),
    }
    key = {name: (lambda r: r) if name == "nsga2" else
           (lambda r: (r.x, r.history, r.evaluations, r.message, r.constraint_violation)) for name in runs}
    alone = {name: key[name](run()) for name, run in runs.items()}
    seen = []

    def worker():
        for name, run in runs.items():
            seen.append((name, key[name](run())))

    assert run_threads(worker, worker) == []
    assert len(seen) == 2 * len(runs)
    for name, got in seen:
        assert got == alone[name], name


def test_matrix_rows_added_while_another_thread_solves_and_reads_results():
    import numpy as np

    m = chain_lp(300)
    n = m.num_vars
    first = m.solve()
    first_report = (first.sensitivity(), first.var_names_list, first.objective)
    rounds = []

    def adder():
        for k in range(60):
            cols = m.variables(f"a{k}", 5, lower=np.zeros(5), upper=np.full(5, 2.0))
            m.add_matrix(np.eye(5), cols, "<=", np.full(5, 3.0), name=f"r{k}")

    def solver():
        for _ in range(15):
            r = m.solve()
            rounds.append((r, r.var_names_list, r.sensitivity()))

    assert run_threads(adder, solver, solver) == []
    assert m.num_vars == n + 300 and m.num_constraints == 299 + 300
    # Every Result keeps the model as it was at its solve, however the model grew since.
    assert (first.sensitivity(), first.var_names_list, first.objective) == first_report
    for r, names, report in rounds:
        assert r.status == "optimal" and r.objective == first.objective
        assert r.var_names_list == names and r.sensitivity() == report


def test_threads_extend_one_shared_sum_without_touching_it():
    m = vo.Model()
    xs = m.variables("x", 400)
    base = 0
    for x in xs[:100]:
        base += x
    text = repr(base)
    results = {}

    def extender(tag, start):
        def run():
            for _ in range(30):
                e = base
                for x in xs[start:start + 100]:
                    e += x
                results.setdefault(tag, set()).add(repr(e))
        return run

    assert run_threads(extender("a", 100), extender("b", 200), extender("c", 300)) == []
    assert repr(base) == text
    for tag, start in (("a", 100), ("b", 200), ("c", 300)):
        assert len(results[tag]) == 1  # the same sum every round, whoever appended first
        assert results[tag].pop() == repr(vo.sum(xs[:100] + xs[start:start + 100]))


class ReadsOtherModel:
    """An option value whose conversion reads another model, once both threads are converting."""

    def __init__(self, barrier, other, value):
        self.barrier, self.other, self.value = barrier, other, value

    def __float__(self):
        self.barrier.wait(timeout=10)
        self.other.num_vars  # takes the other model's lock
        return self.value


def test_solves_whose_options_read_each_others_model_do_not_deadlock():
    for option in ("time_limit", "warm_start"):
        m1, m2 = chain_lp(20, "m1"), chain_lp(20, "m2")
        barrier = threading.Barrier(2)

        def kwargs(other):
            item = ReadsOtherModel(barrier, other, 5.0)
            return {"time_limit": item} if option == "time_limit" else {"warm_start": [item] * 20}

        results = []
        assert run_threads(lambda: results.append(m1.solve(**kwargs(m2)).status),
                           lambda: results.append(m2.solve(**kwargs(m1)).status)) == []
        assert results == ["optimal", "optimal"]


def test_threads_offering_each_other_their_variables_are_refused_while_both_solve():
    """Models created at once in two threads get distinct serials: each refuses the other's
    variables, in its constraints, objective, cones and results, while both keep solving."""
    models = {name: chain_lp(300, name) for name in ("a", "b")}
    handles = {name: m.variables("h", 3, lower=0, upper=1) for name, m in models.items()}
    refused = {"a": 0, "b": 0}

    def worker(name, other):
        m, mine, theirs = models[name], handles[name], handles[other]
        for _ in range(20):
            r = m.solve()
            assert r.status == "optimal"
            for call in (lambda: m.add(mine[0] + theirs[0] <= 1), lambda: m.maximize(theirs[1]),
                         lambda: m.add_soc_cone([mine[0], theirs[2]]), lambda: r.value(theirs[0])):
                try:
                    call()
                except ValueError as e:
                    assert "another model" in str(e)
                    refused[name] += 1
            m.add(mine[0] + mine[1] <= 1)

    assert run_threads(lambda: worker("a", "b"), lambda: worker("b", "a")) == []
    assert refused == {"a": 80, "b": 80}
    assert models["a"].num_constraints == models["b"].num_constraints == 299 + 20
