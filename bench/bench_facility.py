"""The facility location model (fac-N, from the JuMP paper's benchmark set, as transcribed
here from its mathematical definition): F = N facilities placed in the unit square, customers
on the (N+1) x (N+1) grid of points (i/N, j/N), each customer assigned to one facility, and
the largest customer-to-facility distance d minimised.

    min d
    sum_f z[i,j,f] == 1                               every customer (i, j)
    s[i,j,f] == d + M (1 - z[i,j,f])                  M = 2 sqrt(2)
    r[i,j,f,0] == i/N - y[f,0],  r[i,j,f,1] == j/N - y[f,1]
    r[i,j,f,0]^2 + r[i,j,f,1]^2 <= s[i,j,f]^2         (cone rows, left out: HiGHS takes none)
    0 <= y <= 1, s >= 0, z binary, r and d free

Every library builds the same MILP (the cone rows left out) and hands it to HiGHS with a time
limit of 0: velmo (matrix rows), PyOptInterface (its matrix calls add_m_variables and
add_m_linear_constraints; 0.6.1 was measured), linopy and highspy fed from NumPy arrays through
passModel (the floor), each in a fresh process, in this one run. HiGHS's own run at time limit
0 (its presolve) is still a large, noisy part of every hand-off; it is printed where it can be
timed apart (velmo and the floor).

    python bench/bench_facility.py [N] [library,library,...]
"""

import json
import math
import os
import sys
import time

import numpy as np

from timing import handoff_one_per_process, timed

N = int(sys.argv[1]) if len(sys.argv) > 1 else 50
ONLY = sys.argv[2].lower().split(",") if len(sys.argv) > 2 and sys.argv[2] != "--one" else None
G = F = N
P = (G + 1) * (G + 1)  # customers, p = i * (G + 1) + j
PF = P * F
BIG_M = 2 * math.sqrt(2)
# Columns, in the order velmo creates them: y (F x 2), d, z (P x F), s (P x F), r (P x F x 2).
Y0, D0 = 0, 2 * F
Z0 = D0 + 1
S0 = Z0 + PF
R0 = S0 + PF
NCOL = R0 + 2 * PF
NROW = P + 3 * PF
# FAC_CHECK=1 solves to the end instead (time limit off) and prints the objectives, to check
# that every library builds the same model (use a small N).
LIMIT = float("inf") if os.environ.get("FAC_CHECK") else 0.0


def rows():
    """The rows as COO triplets, with their senses (all equalities) and right-hand sides."""
    p = np.repeat(np.arange(P), F)  # customer of pair (p, f)
    f = np.tile(np.arange(F), P)
    pf = np.arange(PF)
    i, j = p // (G + 1), p % (G + 1)
    r_, c_, v_ = [], [], []
    # assignment rows 0 .. P-1
    r_.append(p), c_.append(Z0 + pf), v_.append(np.ones(PF))
    # link rows P + pf: s - d + M z == M
    link = P + pf
    r_ += [link, link, link]
    c_ += [S0 + pf, np.full(PF, D0), Z0 + pf]
    v_ += [np.ones(PF), np.full(PF, -1.0), np.full(PF, BIG_M)]
    # difference rows: r_k + y_k == (i or j) / G
    for k, coord in ((0, i), (1, j)):
        row = P + (1 + k) * PF + pf
        r_ += [row, row]
        c_ += [R0 + 2 * pf + k, Y0 + 2 * f + k]
        v_ += [np.ones(PF), np.ones(PF)]
    rhs = np.concatenate([np.ones(P), np.full(PF, BIG_M), i / G, j / G])
    return np.concatenate(r_), np.concatenate(c_), np.concatenate(v_), rhs


def bench_velmo():
    import scipy.sparse as sp
    import velmo as vo

    def build():
        r, c, v, rhs = rows()
        m = vo.Model("fac")
        y = m.variables("y", 2 * F, lower=0, upper=1)
        d = m.variables("d", 1)
        z = m.binaries("z", PF)
        s = m.variables("s", PF, lower=0)
        rr = m.variables("r", 2 * PF)
        m.add_matrix(sp.csr_matrix((v, (r, c)), shape=(NROW, NCOL)), y + d + z + s + rr, "==", rhs)
        m.minimize(d[0])
        return m

    import highspy

    run_time = [0.0]

    class TimedHighs(highspy.Highs):  # times HiGHS's own run() inside our solve
        def run(self):
            t0 = time.perf_counter()
            status = super().run()
            run_time[0] += time.perf_counter() - t0
            return status

    m, t_build = timed(build)
    highspy.Highs = TimedHighs
    r, t_solve = timed(lambda: m.solve(solver="highs", time_limit=LIMIT))
    return {"build": t_build, "hand-off": t_solve, "run": run_time[0], "status": f"{r.status} {r.objective}"}


def bench_highspy():
    import highspy
    import scipy.sparse as sp

    def build():
        r, c, v, rhs = rows()
        a = sp.csc_array((v, (r, c)), shape=(NROW, NCOL))
        inf = highspy.kHighsInf
        lower = np.full(NCOL, -inf)
        upper = np.full(NCOL, inf)
        lower[Y0:D0], upper[Y0:D0] = 0.0, 1.0
        lower[Z0:S0], upper[Z0:S0] = 0.0, 1.0
        lower[S0:R0] = 0.0
        cost = np.zeros(NCOL)
        cost[D0] = 1.0
        integrality = np.zeros(NCOL, dtype=np.int32)
        integrality[Z0:S0] = 1
        return (NCOL, NROW, a.nnz, int(highspy.MatrixFormat.kColwise), int(highspy.ObjSense.kMinimize), 0.0,
                cost, lower, upper, rhs, rhs, a.indptr.astype(np.int32), a.indices.astype(np.int32), a.data,
                integrality)

    model, t_build = timed(build)

    def hand_off():
        # highspy's fastest path: the arrays straight into passModel.
        h = highspy.Highs()
        h.setOptionValue("output_flag", False)
        h.setOptionValue("time_limit", LIMIT)
        h.passModel(*model)
        _, t_run = timed(h.run)
        return f"{h.getModelStatus()} {h.getInfo().objective_function_value}", t_run

    (status, t_run), t = timed(hand_off)
    return {"build": t_build, "hand-off": t, "run": t_run, "status": str(status)}


def bench_pyoptinterface():
    import pyoptinterface as poi
    import scipy.sparse as sp
    from pyoptinterface import highs

    highs.autoload_library()

    def build():
        r, c, v, rhs = rows()
        mdl = highs.Model()
        mdl.set_model_attribute(poi.ModelAttribute.Silent, True)
        y = mdl.add_m_variables(2 * F, lb=0.0, ub=1.0)
        d = mdl.add_m_variables(1)
        z = mdl.add_m_variables(PF, domain=poi.VariableDomain.Binary)
        s = mdl.add_m_variables(PF, lb=0.0)
        rr = mdl.add_m_variables(2 * PF)
        xs = np.concatenate([y, d, z, s, rr])
        mdl.add_m_linear_constraints(sp.csr_array((v, (r, c)), shape=(NROW, NCOL)), xs, poi.Eq, rhs)
        mdl.set_objective(d[0], poi.ObjectiveSense.Minimize)
        mdl.set_raw_parameter("time_limit", LIMIT)
        return mdl

    mdl, t_build = timed(build)
    _, t = timed(mdl.optimize)
    status = mdl.get_model_attribute(poi.ModelAttribute.TerminationStatus)
    value = mdl.get_model_attribute(poi.ModelAttribute.ObjectiveValue) if LIMIT > 0 else None
    return {"build": t_build, "hand-off": t, "status": f"{status} {value}"}


def bench_linopy():
    import linopy
    import pandas as pd
    import xarray as xr

    def build():
        mdl = linopy.Model()
        ci, cj = pd.RangeIndex(G + 1, name="i"), pd.RangeIndex(G + 1, name="j")
        cf, ck = pd.RangeIndex(F, name="f"), pd.RangeIndex(2, name="k")
        y = mdl.add_variables(lower=0, upper=1, coords=[cf, ck], name="y")
        d = mdl.add_variables(name="d")
        z = mdl.add_variables(binary=True, coords=[ci, cj, cf], name="z")
        s = mdl.add_variables(lower=0, coords=[ci, cj, cf], name="s")
        r = mdl.add_variables(coords=[ci, cj, cf, ck], name="r")
        mdl.add_constraints(z.sum("f") == 1, name="assign")
        mdl.add_constraints(s - d + BIG_M * z == BIG_M, name="link")
        grid = np.arange(G + 1) / G
        mdl.add_constraints(r.sel(k=0) + y.sel(k=0) == xr.DataArray(grid, coords=[ci]), name="dx")
        mdl.add_constraints(r.sel(k=1) + y.sel(k=1) == xr.DataArray(grid, coords=[cj]), name="dy")
        mdl.add_objective(1.0 * d)
        return mdl

    mdl, t_build = timed(build)
    _, t = timed(lambda: mdl.solve(solver_name="highs", io_api="direct", output_flag=False, time_limit=LIMIT))
    return {"build": t_build, "hand-off": t, "status": f"{mdl.termination_condition} {mdl.objective.value}"}


LIBRARIES = {"highspy": bench_highspy, "velmo": bench_velmo, "PyOptInterface": bench_pyoptinterface,
             "linopy": bench_linopy}


def main():
    if "--one" in sys.argv:
        print(json.dumps(LIBRARIES[sys.argv[sys.argv.index("--one") + 1]]()))
        return
    print(f"fac-{N}: {NCOL} variables, {NROW} rows (the machine is shared: read the ratios)")
    out = handoff_one_per_process(__file__, [str(N)], LIBRARIES, ONLY)
    if "velmo" in out:
        ours = out["velmo"]["build"] + out["velmo"]["hand-off"]
        if "highspy" in out and "run" in out["velmo"]:
            mine, floor = out["velmo"], out["highspy"]
            print("velmo / highspy without HiGHS's own run = "
                  f"{(ours - mine['run']) / (floor['build'] + floor['hand-off'] - floor['run']):.2f}")


if __name__ == "__main__":
    main()
