"""Time and memory per nonlinear constraint, velmo against Pyomo, measured in one run.

Builds N constraints x[i] * x[i+1] + sin(x[i]) <= 1 and keeps them in a list. Time is the
wall time of the list comprehension divided by N, and beside it the process CPU time (the
machine is shared, so wall time also counts other programs' turns); each figure is the best
of three runs. Memory is the growth of the process's resident set (read from
/proc/self/statm) over the comprehension, divided by N, minus the 8 bytes of the list's own
pointer per item; intermediate objects are freed as the loop goes, so what remains is what
one held constraint costs. A second velmo figure stores the constraints in the model
instead (Model.add keeps its own copy; the Python objects are dropped).

Each run is a fresh interpreter (a child process), and the model with its variables stays
alive during the measurement, so no memory freed earlier is reused and flatters the growth.

    python bench/bench_build_nonlinear.py [N]
"""

import gc
import os
import subprocess
import sys
import time

import velmo as vo

PAGE = os.sysconf("SC_PAGE_SIZE")


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def measure(build, n):
    gc.collect()
    gc.disable()  # no collector pauses inside the timed loop, for every library alike
    try:
        before = rss()
        t0, c0 = time.perf_counter(), time.process_time()
        held = build()
        seconds, cpu = time.perf_counter() - t0, time.process_time() - c0
        grown = rss() - before
    finally:
        gc.enable()
    list_bytes = 8 if isinstance(held, list) else 0
    return seconds / n * 1e9, cpu / n * 1e9, grown / n - list_bytes


def velmo_list(n):
    m = vo.Model()
    x = m.variables("x", n + 1)
    sin = vo.sin
    return m, lambda: [x[i] * x[i + 1] + sin(x[i]) <= 1 for i in range(n)]


def velmo_model(n):
    m = vo.Model()
    x = m.variables("x", n + 1)
    sin = vo.sin

    def build():
        add = m.add
        for i in range(n):
            add(x[i] * x[i + 1] + sin(x[i]) <= 1)
        return m
    return m, build


def pyomo_list(n):
    import pyomo.environ as pyo

    model = pyo.ConcreteModel()
    model.x = pyo.Var(range(n + 1))
    x = [model.x[i] for i in range(n + 1)]
    sin = pyo.sin
    return model, lambda: [x[i] * x[i + 1] + sin(x[i]) <= 1 for i in range(n)]


SETUPS = {"velmo": velmo_list, "velmo in model": velmo_model, "Pyomo": pyomo_list}


def run_one(name, n):
    owner, build = SETUPS[name](n)  # the owner keeps the variables alive while measuring
    print(*measure(build, n))


def main():
    if len(sys.argv) > 2 and sys.argv[1] == "--one":
        return run_one(sys.argv[2], int(sys.argv[3]))
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 200_000
    rows = {}
    for name in SETUPS:
        runs = []
        for _ in range(3):
            out = subprocess.run([sys.executable, __file__, "--one", name, str(n)], check=True,
                                 capture_output=True, text=True).stdout.split()
            runs.append([float(v) for v in out])
        rows[name] = [min(r[k] for r in runs) for k in range(3)]
    for name, (ns, cpu, mem) in rows.items():
        print(f"{name:15s} {ns:8.1f} ns/constraint (cpu {cpu:7.1f} ns)  {mem:7.1f} bytes/constraint")
    v, p = rows["velmo"], rows["Pyomo"]
    print(f"N = {n}; velmo vs Pyomo: {p[0] / v[0]:.1f}x faster (cpu {p[1] / v[1]:.1f}x), "
          f"{p[2] / v[2]:.1f}x less memory per constraint "
          f"(targets: at most 1000 ns and 250 bytes)")


if __name__ == "__main__":
    main()
