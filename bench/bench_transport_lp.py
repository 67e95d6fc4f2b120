"""Transportation LP (100 sources x 1000 sinks: 100,000 variables, 1,100 rows, 200,000
nonzeros) built and solved by velmo, PuLP, Pyomo, linopy and highspy fed directly from NumPy
arrays (the floor), and PyOptInterface. Prints build / compile / load / run seconds per library
and the ratios of the totals, all measured in this one run (each library in a fresh process).

    python bench/bench_transport_lp.py [sources] [sinks] [library,library,...]

The 1,000,000-variable size, by hand (PuLP and Pyomo take minutes there, so leave them out):

    python bench/bench_transport_lp.py 1000 1000 highspy,velmo,linopy,PyOptInterface
"""

import json
import os
import subprocess
import sys
import time

import numpy as np

S = int(sys.argv[1]) if len(sys.argv) > 1 else 100
D = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
ONLY = sys.argv[3].lower().split(",") if len(sys.argv) > 3 and sys.argv[3] != "--one" else None
# TRANSPORT_LIMIT=0 hands every model to HiGHS with that time limit, for the modelling figures
# without waiting for HiGHS's run (which they leave out anyway).
LIMIT = float(os.environ.get("TRANSPORT_LIMIT", "inf"))
rng = np.random.default_rng(7)
COST = rng.uniform(1.0, 20.0, size=(S, D)).round(2)
DEMAND = rng.integers(5, 50, size=D).astype(float)
SUPPLY = np.full(S, DEMAND.sum() / S * 1.1)


def timed(fn):
    t0 = time.perf_counter()
    out = fn()
    return out, time.perf_counter() - t0


def bench_velmo():
    import highspy
    import velmo as vo

    run_time = [0.0]

    class TimedHighs(highspy.Highs):  # times HiGHS's own run() inside our solve
        def run(self):
            t0 = time.perf_counter()
            status = super().run()
            run_time[0] += time.perf_counter() - t0
            return status

    def build():
        m = vo.Model("transport")
        x = m.variables("x", S * D, lower=0)
        for i in range(S):
            m.add(vo.sum(x[i * D:(i + 1) * D]) <= SUPPLY[i])
        for j in range(D):
            m.add(vo.sum(x[j::D]) >= DEMAND[j])
        m.minimize(vo.sum([c * v for c, v in zip(COST.ravel().tolist(), x)]))
        return m

    m, t_build = timed(build)
    real = highspy.Highs
    highspy.Highs = TimedHighs
    try:
        r, t_solve = timed(lambda: m.solve(time_limit=LIMIT))
    finally:
        highspy.Highs = real
    load = r.solve_time - run_time[0]
    return {"build": t_build, "compile": t_solve - r.solve_time, "load": load, "run": run_time[0],
            "objective": r.objective}


def bench_velmo_matrix():
    """The same model written with matrix rows and `vo.dot`, as a user with the data in arrays would."""
    import highspy
    import scipy.sparse as sp
    import velmo as vo

    run_time = [0.0]

    class TimedHighs(highspy.Highs):
        def run(self):
            t0 = time.perf_counter()
            status = super().run()
            run_time[0] += time.perf_counter() - t0
            return status

    def build():
        n = S * D
        rows = np.concatenate([np.repeat(np.arange(S), D), S + np.tile(np.arange(D), S)])
        cols = np.concatenate([np.arange(n), np.arange(n)])
        a = sp.csr_matrix((np.ones(2 * n), (rows, cols)), shape=(S + D, n))
        m = vo.Model("transport")
        x = m.variables("x", n, lower=0)
        m.add_matrix(a, x, ["<="] * S + [">="] * D, np.concatenate([SUPPLY, DEMAND]))
        m.minimize(vo.dot(COST.ravel(), x))
        return m

    m, t_build = timed(build)
    real = highspy.Highs
    highspy.Highs = TimedHighs
    try:
        r, t_solve = timed(lambda: m.solve(time_limit=LIMIT))
    finally:
        highspy.Highs = real
    load = r.solve_time - run_time[0]
    return {"build": t_build, "compile": t_solve - r.solve_time, "load": load, "run": run_time[0],
            "objective": r.objective}


def bench_highspy():
    import highspy

    def build():
        # Column j = (i, k) has entries in supply row i and demand row S + k.
        n = S * D
        inf = highspy.kHighsInf
        start = np.arange(0, 2 * n + 1, 2, dtype=np.int32)
        index = np.empty(2 * n, dtype=np.int32)
        index[0::2] = np.repeat(np.arange(S), D)
        index[1::2] = S + np.tile(np.arange(D), S)
        return (n, S + D, 2 * n, int(highspy.MatrixFormat.kColwise), int(highspy.ObjSense.kMinimize), 0.0,
                COST.ravel(), np.zeros(n), np.full(n, inf),
                np.concatenate([np.full(S, -inf), DEMAND]), np.concatenate([SUPPLY, np.full(D, inf)]),
                start, index, np.ones(2 * n), np.zeros(n, dtype=np.int32))

    # highspy's fastest path: the arrays straight into passModel (a HighsLp's array setters
    # convert element by element and take seconds at this size).
    model, t_build = timed(build)
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    h.setOptionValue("time_limit", LIMIT)
    _, t_load = timed(lambda: h.passModel(*model))
    _, t_run = timed(h.run)
    return {"build": t_build, "compile": 0.0, "load": t_load, "run": t_run,
            "objective": h.getInfo().objective_function_value}


def bench_pulp():
    import pulp

    def build():
        p = pulp.LpProblem("transport", pulp.LpMinimize)
        x = [[pulp.LpVariable(f"x_{i}_{k}", lowBound=0) for k in range(D)] for i in range(S)]
        p += pulp.lpSum(COST[i, k] * x[i][k] for i in range(S) for k in range(D))
        for i in range(S):
            p += pulp.lpSum(x[i]) <= SUPPLY[i]
        for k in range(D):
            p += pulp.lpSum(x[i][k] for i in range(S)) >= DEMAND[k]
        return p

    p, t_build = timed(build)
    solver = pulp.HiGHS(msg=False) if "HiGHS" in pulp.listSolvers(onlyAvailable=True) else pulp.HiGHS_CMD(msg=False)
    _, t_solve = timed(lambda: p.solve(solver))
    return {"build": t_build, "compile": 0.0, "load": 0.0, "run": t_solve,
            "objective": pulp.value(p.objective)}


def bench_pyomo():
    import pyomo.environ as pyo

    def build():
        mdl = pyo.ConcreteModel()
        mdl.I = pyo.RangeSet(0, S - 1)
        mdl.K = pyo.RangeSet(0, D - 1)
        mdl.x = pyo.Var(mdl.I, mdl.K, domain=pyo.NonNegativeReals)
        mdl.obj = pyo.Objective(expr=sum(COST[i, k] * mdl.x[i, k] for i in range(S) for k in range(D)))
        mdl.supply = pyo.Constraint(mdl.I, rule=lambda mm, i: sum(mm.x[i, k] for k in range(D)) <= SUPPLY[i])
        mdl.demand = pyo.Constraint(mdl.K, rule=lambda mm, k: sum(mm.x[i, k] for i in range(S)) >= DEMAND[k])
        return mdl

    mdl, t_build = timed(build)
    solver = pyo.SolverFactory("appsi_highs")
    _, t_solve = timed(lambda: solver.solve(mdl))
    return {"build": t_build, "compile": 0.0, "load": 0.0, "run": t_solve, "objective": pyo.value(mdl.obj)}


def bench_linopy():
    import linopy
    import pandas as pd
    import xarray as xr

    def build():
        mdl = linopy.Model()
        i = pd.RangeIndex(S, name="i")
        k = pd.RangeIndex(D, name="k")
        x = mdl.add_variables(lower=0, coords=[i, k], name="x")
        mdl.add_constraints(x.sum(dim="k") <= xr.DataArray(SUPPLY, coords=[i]), name="supply")
        mdl.add_constraints(x.sum(dim="i") >= xr.DataArray(DEMAND, coords=[k]), name="demand")
        mdl.add_objective((xr.DataArray(COST, coords=[i, k]) * x).sum())
        return mdl

    mdl, t_build = timed(build)
    _, t_solve = timed(lambda: mdl.solve(solver_name="highs", io_api="direct", output_flag=False,
                                         time_limit=LIMIT))
    return {"build": t_build, "compile": 0.0, "load": 0.0, "run": t_solve, "objective": mdl.objective.value}


def bench_pyoptinterface():
    import pyoptinterface as poi
    from pyoptinterface import highs

    highs.autoload_library()  # the HiGHS library of the highsbox package

    def build():
        mdl = highs.Model()
        mdl.set_model_attribute(poi.ModelAttribute.Silent, True)
        x = [[mdl.add_variable(lb=0.0) for _ in range(D)] for _ in range(S)]
        for i in range(S):
            mdl.add_linear_constraint(poi.quicksum(x[i]), poi.Leq, float(SUPPLY[i]))
        for k in range(D):
            mdl.add_linear_constraint(poi.quicksum(x[i][k] for i in range(S)), poi.Geq, float(DEMAND[k]))
        cost = COST.tolist()
        obj = poi.ExprBuilder()
        for i in range(S):
            for k in range(D):
                obj.add_affine_term(x[i][k], cost[i][k])
        mdl.set_objective(obj, poi.ObjectiveSense.Minimize)
        if LIMIT < float("inf"):
            mdl.set_raw_parameter("time_limit", LIMIT)
        return mdl

    mdl, t_build = timed(build)
    _, t_solve = timed(mdl.optimize)
    return {"build": t_build, "compile": 0.0, "load": 0.0, "run": t_solve,
            "objective": mdl.get_model_attribute(poi.ModelAttribute.ObjectiveValue) if LIMIT > 0 else None}


LIBRARIES = [("highspy (floor)", bench_highspy), ("velmo", bench_velmo), ("velmo-matrix", bench_velmo_matrix),
             ("PuLP", bench_pulp),
             ("Pyomo", bench_pyomo), ("linopy", bench_linopy), ("PyOptInterface", bench_pyoptinterface)]


def run_one(name):
    """One library in a process of its own: peers that load a HiGHS library of their own
    (PyOptInterface's highsbox) crash beside another HiGHS in the same process."""
    out = subprocess.run([sys.executable, __file__, str(S), str(D), "--one", name],
                         capture_output=True, text=True)
    if out.returncode != 0:
        raise RuntimeError(f"exit {out.returncode}: {out.stderr.strip().splitlines()[-1:]}")
    return json.loads(out.stdout.strip().splitlines()[-1])


def objective_text(value):
    return "-" if value is None or LIMIT == 0 else f"{value:.4f}"


def main():
    if "--one" in sys.argv:
        name = sys.argv[sys.argv.index("--one") + 1]
        row = dict(LIBRARIES)[name]()
        print(json.dumps(row))
        return
    print(f"transportation LP: {S * D} variables, {S + D} rows, {2 * S * D} nonzeros")
    rows = {}
    for name, _ in LIBRARIES:
        if ONLY is not None and name.split()[0].lower() not in ONLY:
            continue
        try:
            rows[name] = run_one(name)
        except Exception as e:  # a missing peer is reported, not fatal
            print(f"{name}: skipped ({type(e).__name__}: {e})")
    print(f"{'library':16s} {'build':>8s} {'compile':>8s} {'load':>8s} {'run':>8s} {'total':>8s} {'objective':>14s}")
    for name, r in rows.items():
        r["total"] = r["build"] + r["compile"] + r["load"] + r["run"]
        print(f"{name:16s} {r['build']:8.3f} {r['compile']:8.3f} {r['load']:8.3f} {r['run']:8.3f} "
              f"{r['total']:8.3f} {objective_text(r['objective']):>14s}")
    print("(PuLP, Pyomo, linopy: 'run' is their whole solve call, loading included; PyOptInterface "
          "loads HiGHS while it builds)")
    for ours_name in ("velmo", "velmo-matrix"):
        if ours_name not in rows:
            continue
        ours = rows[ours_name]
        for name, r in rows.items():
            if not name.startswith("velmo"):
                print(f"{ours_name} total / {name} total = {ours['total'] / r['total']:.2f}")
        floor = rows.get("highspy (floor)")
        if floor:
            model_ours = ours["build"] + ours["compile"] + ours["load"]
            model_floor = floor["build"] + floor["load"]
            print(f"{ours_name} modelling (build + compile + load, HiGHS's run excluded) / floor's = "
                  f"{model_ours / model_floor:.2f}")


if __name__ == "__main__":
    main()
