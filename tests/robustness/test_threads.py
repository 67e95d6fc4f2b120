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
    n0 = m.num_vars
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
            assert m.num_constraints == n0 - 1 + k + 1
            repr(m), m.problem_type
            k += 1
        seen["added"] = k

    probe = vo.Model().variables("p", 50)  # variables of another model: indices 0..49 here
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
