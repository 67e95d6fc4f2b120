"""Evaluations through an executor: the same run as the serial one, bit for bit, with thread
pools, process pools and Dask; failures scored where the serial call's would be; an interrupt
cancels what is still queued; objectives a process pool cannot send are refused up front."""

import concurrent.futures as cf
import math
import pickle
import time

import pytest

import velmo as vo


# ---- objectives at module level, so that process pools can send them

def f1(x):
    return x[0] + 0.25 * x[1]


def f2(x):
    if x[0] > 0.8:
        raise RuntimeError("no value here")  # scores +inf
    return (1 - x[0]) ** 2 + x[1]


def f3(x):
    return math.nan if x[1] < 0.1 else x[1] ** 2 - x[0]


def scenario_cost(x, s):
    if s.get("broken") and x[0] > 7:
        raise ValueError("scenario failed")
    return 2.0 * x[0] - 5.0 * min(x[0], s["demand"])


SCENARIOS = [{"demand": d, "probability": p, "broken": d == 8} for d, p in ((4, 0.2), (6, 0.5), (8, 0.3))]


def make_sub(b):
    return _Sub(b)


class _Sub:
    """The proximal step of (x - b)^2: argmin (x - b)^2 + rho/2 |x - target|^2."""

    def __init__(self, b):
        self.b = b

    def __call__(self, rho, target):
        if self.b == 3.0 and target[0] > 2.9:
            raise RuntimeError("counts as zeros")
        return [(2 * bi + rho * ti) / (2 + rho) for bi, ti in zip([self.b, -self.b], target)]


SUBS = [make_sub(1.0), make_sub(2.0), make_sub(3.0)]

RUNS = {
    "cmaes_simple": lambda **kw: _bb(vo.solve_cmaes(f2, [(0, 1)] * 3, max_generations=8, seed=4, **kw)),
    "cmaes_full": lambda **kw: _bb(vo.solve_cmaes(f3, [(0, 1)] * 3, variant="full", max_generations=6,
                                                  restarts=2, tol=-1.0, **kw)),
    "nsga2": lambda **kw: vo.pareto_frontier([f1, f2, f3], [(0, 1), (0, 1)], method="nsga2", pop_size=16,
                                             generations=6, seed=5, **kw),
    "nsga3": lambda **kw: vo.pareto_frontier([f1, f2, f3], [(0, 1), (0, 1)], method="nsga3", pop_size=12,
                                             generations=4, das_dennis_divisions=3, seed=9, **kw),
    "stochastic": lambda **kw: _bb(vo.stochastic_solve(scenario_cost, [(0, 10)], SCENARIOS, max_generations=15,
                                                       pop_size=8, seed=3, **kw)),
    "stochastic_plain": lambda **kw: _bb(vo.stochastic_solve(scenario_cost, [(0, 10)], SCENARIOS[:2] + [{"demand": 8}],
                                                             max_generations=10, pop_size=6, **kw)),
    "admm": lambda **kw: vo.solve_admm(SUBS, 2, rho=0.7, max_iter=60, **kw),
}


def _bb(r):
    return (r.x, r.objective, r.history, r.evaluations, r.iterations, r.converged)


def same(a, b):
    """Equal, NaN included (every float printed exactly)."""
    return repr(a) == repr(b)


@pytest.fixture(scope="module")
def serial():
    return {name: run() for name, run in RUNS.items()}


@pytest.mark.parametrize("name", RUNS)
@pytest.mark.parametrize("pool", [cf.ThreadPoolExecutor, cf.ProcessPoolExecutor])
def test_same_run_as_serial(serial, name, pool):
    with pool(max_workers=3) as ex:
        assert same(RUNS[name](executor=ex), serial[name])
    assert same(RUNS[name](executor=None), serial[name])


class InOrder:
    """Runs each submitted call at once and records it: the submission order is visible. What
    is submitted is a wrapper with the objective as its first argument."""

    def __init__(self):
        self.calls = []

    def submit(self, fn, *args):
        self.calls.append((args[0], pickle.loads(pickle.dumps(args[1:]))))
        f = cf.Future()
        try:
            f.set_result(fn(*args))
        except BaseException as e:  # noqa: BLE001 - the future carries it, as a pool's does
            f.set_exception(e)
        return f


def test_calls_are_submitted_in_the_serial_order():
    seen = []

    def record(f):
        def wrapped(x):
            seen.append((f.__name__, list(x)))
            return f(x)
        wrapped.__name__ = f.__name__
        return wrapped

    objectives = [record(f) for f in (f1, f2, f3)]
    plain = vo.pareto_frontier(objectives, [(0, 1), (0, 1)], method="nsga2", pop_size=8, generations=3)
    serial_calls, seen[:] = list(seen), []
    ex = InOrder()
    assert same(vo.pareto_frontier(objectives, [(0, 1), (0, 1)], method="nsga2", pop_size=8, generations=3,
                                   executor=ex), plain)
    assert seen == serial_calls
    assert [(fn.__name__, args[0]) for fn, args in ex.calls] == serial_calls


class Interrupting:
    def __init__(self):
        self.calls = 0

    def __call__(self, x):
        self.calls += 1
        if self.calls == 5:
            raise KeyboardInterrupt
        time.sleep(0.01)
        return x[0]


def test_an_interrupt_cancels_the_queued_calls_and_propagates():
    obj = Interrupting()
    with cf.ThreadPoolExecutor(max_workers=1) as ex:
        with pytest.raises(KeyboardInterrupt):
            vo.pareto_frontier([obj, f1], [(0, 1)], method="nsga2", pop_size=40, generations=3, executor=ex)
    assert obj.calls < 40  # the rest of the first batch was cancelled, not run


@pytest.mark.parametrize("run", [
    lambda ex: vo.solve_cmaes(lambda x: x[0], [(0, 1)], executor=ex),
    lambda ex: vo.pareto_frontier([lambda x: x[0], f2], [(0, 1)], method="nsga2", executor=ex),
    lambda ex: vo.stochastic_solve(lambda x, s: x[0], [(0, 1)], [1, 2], executor=ex),
    lambda ex: vo.solve_admm([lambda rho, t: t], 1, executor=ex),
])
def test_a_process_pool_refuses_what_it_cannot_send_before_any_call(run):
    with cf.ProcessPoolExecutor(max_workers=1) as ex:
        with pytest.raises(Exception, match="cannot be sent to the process pool's workers") as info:
            run(ex)
    assert isinstance(info.value, (pickle.PicklingError, AttributeError, TypeError))


@pytest.mark.parametrize("call", [
    lambda: vo.solve_cmaes(f1, [(0, 1)], executor=print),
    lambda: vo.pareto_frontier([f1, f2], [(0, 1)], method="nsga2", executor=object()),
    lambda: vo.stochastic_solve(scenario_cost, [(0, 1)], SCENARIOS, executor="pool"),
    lambda: vo.solve_admm(SUBS, 2, executor=3),
    lambda: vo.solve_admm(SUBS, 2, 1.0, 10, 1e-6, cf.ThreadPoolExecutor()),  # keyword-only
])
def test_something_without_submit_is_not_an_executor(call):
    with pytest.raises(TypeError, match="executor|positional"):
        call()


def test_dask_cluster_gives_the_serial_run(serial):
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        ex = client.get_executor()
        assert same(RUNS["nsga2"](executor=ex), serial["nsga2"])
        assert same(RUNS["admm"](executor=ex), serial["admm"])


# ---- a broken executor is an error, never a run of +inf scores

class NotFutures:
    def submit(self, fn, *args):
        return 42


class Failing:
    """Futures that fail with the executor's own error, as a dead pool's do."""

    def __init__(self, error):
        self.error = error

    def submit(self, fn, *args):
        f = cf.Future()
        if isinstance(self.error, cf.CancelledError):
            f.cancel()
        else:
            f.set_exception(self.error)
        return f


class Ignoring:
    """Runs something other than what it was given."""

    def submit(self, fn, *args):
        f = cf.Future()
        f.set_result(1.0)
        return f


BROKEN = [
    (NotFutures(), AttributeError),
    (Failing(cf.BrokenExecutor("the pool died")), cf.BrokenExecutor),
    (Failing(cf.CancelledError()), cf.CancelledError),
    (Failing(pickle.PicklingError("cannot pickle the answer")), pickle.PicklingError),
    (Ignoring(), TypeError),
]


@pytest.mark.parametrize("name", ["cmaes_simple", "nsga2", "stochastic", "admm"])
@pytest.mark.parametrize("executor, error", BROKEN, ids=[type(e[0]).__name__ + "-" + e[1].__name__ for e in BROKEN])
def test_an_executor_failure_propagates(name, executor, error):
    with pytest.raises(error):
        RUNS[name](executor=executor)


def test_the_objectives_own_failures_still_score_through_an_executor():
    def fails(x):
        raise RuntimeError("the objective's own")

    with cf.ThreadPoolExecutor(max_workers=2) as ex:
        assert vo.solve_cmaes(fails, [(0, 1)], max_generations=2, executor=ex).objective == math.inf
        r = vo.solve_admm([lambda rho, t: 1 / 0], 2, max_iter=5, executor=ex)
    assert (r["iterations"], r["converged"]) == (5, False)
