"""Ctrl-C during a long solve reaches the caller as KeyboardInterrupt within a second, on every
solver that runs long (HiGHS LP and MIP, with threads=1 too, PersistentHighs.resolve, Ipopt,
Bonmin), and the process stays usable: a small solve right after answers as usual.

Each case runs in a subprocess of its own, which sends SIGINT to itself one second into the
solve (doubling the model until the solve lasts that long) and prints how long the interrupt
took to arrive; the subprocess has a time bound, so a swallowed or late interrupt fails the
test instead of hanging it.
"""

import json
import os
import subprocess
import sys
import textwrap

import pytest

CHILD = textwrap.dedent("""
    import json, os, random, signal, sys, threading, time
    import velmo as vo

    case = sys.argv[1]

    def random_lp(n, integer=False):
        rng = random.Random(1)
        m = vo.Model()
        xs = [m.integer(f"x{i}", 0, 20) if integer else m.variable(f"x{i}", 0) for i in range(n)]
        for r in range(n):
            m.add(vo.sum([rng.randint(1, 9) * xs[(r * 7 + k * 13) % n] for k in range(12)])
                  <= rng.randint(50, 200))
        m.maximize(vo.sum([rng.randint(1, 20) * x for x in xs]))
        return m

    def market_split(rows=5, n=40):
        # Equality knapsacks with half-sum right-hand sides: branch and bound runs for minutes.
        rng = random.Random(3)
        m = vo.Model()
        xs = [m.binary(f"x{j}") for j in range(n)]
        for i in range(rows):
            a = [rng.randint(0, 99) for _ in range(n)]
            m.add(vo.sum([a[j] * xs[j] for j in range(n)]) == sum(a) // 2)
        m.minimize(vo.sum(xs))
        return m

    def chained_nlp(n, integer=False):
        m = vo.Model()
        xs = [m.integer(f"x{i}", -5, 5) if integer and i % 2 == 0 else m.variable(f"x{i}", -5, 5)
              for i in range(n)]
        obj = 0
        for i in range(n - 1):
            d = xs[i + 1] - xs[i] * xs[i]
            obj = obj + 100 * d * d + vo.sin(xs[i]) * vo.cos(xs[i + 1])
        m.minimize(obj)
        return m

    def make(case, n):
        if case == "lp":
            m = random_lp(n); return lambda: m.solve()
        if case == "mip":
            m = market_split(); return lambda: m.solve()
        if case == "mip-threads-1":
            m = market_split(); return lambda: m.solve(threads=1)
        if case == "persistent":
            p = vo.PersistentHighs.from_model(model=market_split()); return p.resolve
        if case == "ipopt":
            m = chained_nlp(n); return lambda: m.solve(solver="ipopt")
        m = chained_nlp(n // 10, integer=True); return lambda: m.solve()

    # The model doubles until its solve outlasts the one second before the signal (a quiet
    # machine solves the first sizes sooner).
    n, out = {"lp": 12000}.get(case, 3000), None
    for attempt in range(4):
        run = make(case, n)
        when = 1.0
        if case == "ipopt":
            # CasADi builds its functions before Ipopt starts and looks at no signal meanwhile:
            # an uninterrupted run (after one that pays the imports) shows how long the whole
            # takes, and the signal comes late in the next one, while Ipopt iterates.
            run()
            t0 = time.perf_counter()
            run()
            when = max(1.0, 0.85 * (time.perf_counter() - t0))
        sent = []
        timer = threading.Timer(when, lambda: (sent.append(time.perf_counter()), os.kill(os.getpid(), signal.SIGINT)))
        returned = None
        try:
            timer.start()
            try:
                r = run()
                returned = r.status
            finally:
                timer.cancel()
            time.sleep(0.3)  # a signal sent as the run ended arrives here
        except KeyboardInterrupt:
            if returned is None:
                out = {"delay": time.perf_counter() - sent[0], "size": n}
                break
        else:
            if sent:
                out = {"returned": returned}  # the signal came during the run and was lost
                break
        n *= 2
    out = out or {"returned": "always finished before the signal"}
    small = vo.Model()
    x = small.variable("x", 0, 4)
    small.maximize(x)
    out["after"] = small.solve().status
    print(json.dumps(out))
""")

CASES = ["lp", "mip", "mip-threads-1", "persistent", "ipopt", "bonmin"]


@pytest.mark.parametrize("case", CASES)
def test_ctrl_c_stops_a_long_solve_within_a_second(case):
    # CasADi builds its functions before Ipopt or Bonmin starts and looks at no signal meanwhile.
    # The child aims its signal past that phase from a timed run, but on a loaded machine the
    # phase can stretch past the aim, so those cases get three tries at landing in the solve.
    for _ in range(3 if case in ("ipopt", "bonmin") else 1):
        done = subprocess.run([sys.executable, "-c", CHILD, case], capture_output=True, text=True, timeout=90,
                              env={**os.environ, "PYTHONUNBUFFERED": "1"})
        lines = [line for line in done.stdout.splitlines() if line.startswith("{")]
        assert lines, done.stdout[-2000:] + done.stderr[-2000:]
        out = json.loads(lines[-1])
        assert "delay" in out, f"the solve returned {out.get('returned')!r} instead of raising KeyboardInterrupt"
        if out["delay"] < 1.0:
            break
    print(f"{case}: KeyboardInterrupt {out['delay']:.3f} s after SIGINT (size {out['size']})")
    assert out["delay"] < 1.0
    assert out["after"] == "optimal"


# Bonmin's own SIGINT handler leaves state behind it (flags that end every later run in
# "unknown", the handler itself), and answers a second SIGINT during a run by ending the
# process. The run is interrupted at several moments, from CasADi's set-up to deep in the
# branch and bound, by one signal or by two a few milliseconds apart; after each, a small
# MINLP must solve as usual. Then Ctrl-C outside any solve, after a Bonmin run on another
# thread too, must still raise KeyboardInterrupt rather than reach a handler Bonmin left behind.
BONMIN_CHILD = textwrap.dedent("""
    import json, os, signal, threading, time
    import velmo as vo

    def chained_minlp(n):
        m = vo.Model()
        xs = [m.integer(f"x{i}", -5, 5) if i % 2 == 0 else m.variable(f"x{i}", -5, 5) for i in range(n)]
        obj = 0
        for i in range(n - 1):
            d = xs[i + 1] - xs[i] * xs[i]
            obj = obj + 100 * d * d + vo.sin(xs[i]) * vo.cos(xs[i + 1])
        m.minimize(obj)
        return m

    small = vo.Model()
    k, y = small.integer("k", 0, 5), small.variable("y", -3, 3)
    small.minimize(vo.square(k - 2.4) + vo.square(y - 1))

    def small_solve():
        r = small.solve(solver="bonmin")
        return [r.status, r.objective]

    # Like Python's own handler, but only the first signal of a round raises: the second of a
    # pair may come after the first has already stopped the run.
    hits = []
    def on_sigint(signum, frame):
        hits.append(signum)
        if len(hits) == 1:
            raise KeyboardInterrupt
    signal.signal(signal.SIGINT, on_sigint)

    def send(count):
        for i in range(count):
            time.sleep(0.002 * i)
            os.kill(os.getpid(), signal.SIGINT)

    out = {"delays": [], "returned": [], "after": [small_solve()]}
    n = 300
    for when, count in ((0.01, 1), (0.3, 1), (1.0, 1), (0.01, 1), (0.3, 2), (1.0, 2)):
        while True:
            hits.clear()
            m = chained_minlp(n)
            sent = []
            timer = threading.Timer(when, lambda: (sent.append(time.perf_counter()), send(count)))
            returned, late = None, False
            try:
                timer.start()
                try:
                    returned = m.solve(solver="bonmin").status
                finally:
                    timer.cancel()
                time.sleep(0.3)  # a signal sent as the run ended arrives here
            except KeyboardInterrupt:
                if returned is None:
                    out["delays"].append(time.perf_counter() - sent[0])
                    timer.join()
                    time.sleep(0.1)
                    break
                late = True  # the run ended as the signal came: it still reached us
                timer.join()
                time.sleep(0.1)
            if sent and not late:
                out["returned"].append(returned)
                break
            n *= 2  # finished before the signal: a bigger model
        out["after"].append(small_solve())
    worker = threading.Thread(target=small_solve)
    worker.start()
    worker.join()
    hits.clear()
    try:
        os.kill(os.getpid(), signal.SIGINT)
        time.sleep(3)
        out["idle"] = "no KeyboardInterrupt"
    except KeyboardInterrupt:
        out["idle"] = "KeyboardInterrupt"
    out["after"].append(small_solve())
    print(json.dumps(out))
""")


def test_ctrl_c_leaves_bonmin_usable_for_later_runs():
    done = subprocess.run([sys.executable, "-c", BONMIN_CHILD], capture_output=True, text=True, timeout=120,
                          env={**os.environ, "PYTHONUNBUFFERED": "1"})
    lines = [line for line in done.stdout.splitlines() if line.startswith("{")]
    assert lines, f"exit status {done.returncode}: " + done.stdout[-2000:] + done.stderr[-2000:]
    out = json.loads(lines[-1])
    print("Bonmin: KeyboardInterrupt after " + ", ".join(f"{d:.3f}" for d in out["delays"]) + " s")
    assert out["returned"] == [], "a signal during the run was lost"
    assert len(out["delays"]) == 6 and max(out["delays"]) < 1.0
    for status, objective in out["after"]:
        assert status == "optimal"
        assert abs(objective - 0.16) < 1e-6
    assert out["idle"] == "KeyboardInterrupt"
