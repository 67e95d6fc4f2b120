"""What listening for Ctrl-C costs a HiGHS run, on the transportation LP of bench_transport_lp.py.

velmo installs an interrupt callback for every HiGHS run; HiGHS calls it between iterations.
This loads the LP into highspy once, straight from NumPy, and times HiGHS's own run() with no
callback, with a pure-Python no-op callback (an upper bound: velmo's is compiled) and through
velmo's solve, repeating each in turn and keeping each one's fastest run. It also counts how
often HiGHS calls back.

    python bench/bench_interrupt_check.py [sources] [sinks] [repeats]
"""

import sys
import time

import highspy
import numpy as np

S = int(sys.argv[1]) if len(sys.argv) > 1 else 100
D = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
REPEATS = int(sys.argv[3]) if len(sys.argv) > 3 else 3
rng = np.random.default_rng(7)
COST = rng.uniform(1.0, 20.0, size=(S, D)).round(2)
DEMAND = rng.integers(5, 50, size=D).astype(float)
SUPPLY = np.full(S, DEMAND.sum() / S * 1.1)
INTERRUPTS = ["kCallbackSimplexInterrupt", "kCallbackIpmInterrupt", "kCallbackMipInterrupt"]


def highspy_run(callback):
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    n = S * D
    h.addVars(n, np.zeros(n), np.full(n, np.inf))
    h.changeColsCost(n, np.arange(n, dtype=np.int32), COST.ravel())
    cols = np.arange(n, dtype=np.int32)
    h.addRows(S, np.full(S, -np.inf), SUPPLY, n, np.arange(0, n, D, dtype=np.int32), cols, np.ones(n))
    by_sink = cols.reshape(S, D).T.ravel()
    h.addRows(D, DEMAND, np.full(D, np.inf), n, np.arange(0, n, S, dtype=np.int32), by_sink, np.ones(n))
    if callback is not None:
        h.setCallback(callback, None)
        for name in INTERRUPTS:
            h.startCallback(getattr(highspy.cb.HighsCallbackType, name))
    t0 = time.perf_counter()
    h.run()
    return time.perf_counter() - t0, h.getInfo().objective_function_value


def velmo_run():
    import velmo as vo

    m = vo.Model("transport")
    x = m.variables("x", S * D, lower=0)
    for i in range(S):
        m.add(vo.sum(x[i * D:(i + 1) * D]) <= SUPPLY[i])
    for j in range(D):
        m.add(vo.sum(x[j::D]) >= DEMAND[j])
    m.minimize(vo.sum([c * v for c, v in zip(COST.ravel().tolist(), x)]))
    spent = [0.0]
    real = highspy.Highs

    class TimedHighs(real):  # HiGHS's own run() inside velmo's solve, callback included
        def run(self):
            t0 = time.perf_counter()
            status = super().run()
            spent[0] += time.perf_counter() - t0
            return status

    highspy.Highs = TimedHighs
    try:
        r = m.solve()
    finally:
        highspy.Highs = real
    return spent[0], r.objective


def main():
    calls = [0]

    def counting(*args):
        calls[0] += 1

    def noop(*args):
        pass

    highspy_run(counting)
    best = {"no callback": [], "Python no-op callback": [], "velmo solve": []}
    for _ in range(REPEATS):
        best["no callback"].append(highspy_run(None))
        best["Python no-op callback"].append(highspy_run(noop))
        best["velmo solve"].append(velmo_run())
    print(f"transportation LP {S} x {D}: HiGHS called back {calls[0]} times in one run")
    base = min(t for t, _ in best["no callback"])
    for name, runs in best.items():
        t = min(t for t, _ in runs)
        print(f"{name:24s} run() {t:7.3f} s (fastest of {REPEATS})  ratio {t / base:.3f}  objective {runs[0][1]:.4f}")


if __name__ == "__main__":
    main()
