"""The linear-quadratic control model (lqcp-N, from the JuMP paper's benchmark set, as
transcribed here): y on an (N+1) x (N+1) grid and N controls u, a discretised heat equation
as equality rows, a quadratic tracking objective. Built and handed to HiGHS with a time limit
of 0 (so HiGHS's own run is left out) by velmo (matrix rows), PyOptInterface, linopy and
highspy fed from NumPy arrays (the floor), each in a fresh process, in this one run.

    python bench/bench_lqcp.py [N] [library,library,...]
"""

import json
import os
import sys

import numpy as np

from timing import handoff_one_per_process, timed

N = int(sys.argv[1]) if len(sys.argv) > 1 else 500
# LQCP_CHECK=1 solves to the end instead (time limit off) and prints the objectives, to check
# that every library builds the same model.
LIMIT = float("inf") if os.environ.get("LQCP_CHECK") else 0.0
ONLY = sys.argv[2].lower().split(",") if len(sys.argv) > 2 and sys.argv[2] != "--one" else None
M = N
DX, T, A = 1.0 / N, 1.58, 0.001
DT = T / M
H2 = DX * DX
NY = (M + 1) * (N + 1)


def y(i, j):
    return i * (N + 1) + j


def u(i):
    return NY + i - 1


def rows():
    """The equality rows as COO triplets over the NY + M columns, right-hand side 0."""
    r, c, v = [], [], []
    k = 0
    i, j = np.meshgrid(np.arange(M), np.arange(1, N), indexing="ij")
    i, j = i.ravel(), j.ravel()
    pde = np.arange(i.size)
    for cols, val in ((y(i + 1, j), 1 / DT + 1 / H2), (y(i, j), -1 / DT + 1 / H2), (y(i, j - 1), -0.5 / H2),
                      (y(i, j + 1), -0.5 / H2), (y(i + 1, j - 1), -0.5 / H2), (y(i + 1, j + 1), -0.5 / H2)):
        r.append(pde), c.append(cols), v.append(np.full(pde.size, val))
    k = pde.size
    jj = np.arange(N + 1)
    r.append(k + jj), c.append(y(0, jj)), v.append(np.ones(N + 1))
    k += N + 1
    ii = np.arange(1, M + 1)
    for cols, val in ((y(ii, 2), 1.0), (y(ii, 1), -4.0), (y(ii, 0), 3.0)):
        r.append(k + ii - 1), c.append(cols), v.append(np.full(M, val))
    k += M
    for cols, val in ((y(ii, N - 2), 1 / (2 * DX)), (y(ii, N - 1), -4 / (2 * DX)),
                      (y(ii, N), 3 / (2 * DX) + 1.0), (u(ii), -1.0)):
        r.append(k + ii - 1), c.append(cols), v.append(np.full(M, val))
    k += M
    return np.concatenate(r), np.concatenate(c), np.concatenate(v), k


def objective_parts():
    """Diagonal weights, linear coefficients and constant of the objective."""
    jj = np.arange(N + 1)
    target = 0.5 * (1 - (jj * DX) ** 2)
    wy = np.full(N + 1, 0.25 * DX * 2)
    wy[0] = wy[-1] = 0.25 * DX
    wu = np.full(M, 0.25 * A * DT * 2)
    wu[-1] = 0.25 * A * DT
    cols = np.concatenate([y(M, jj), u(np.arange(1, M + 1))])
    weights = np.concatenate([wy, wu])
    linear = np.concatenate([-2 * wy * target, np.zeros(M)])
    return cols, weights, linear, float((wy * target ** 2).sum())


def bench_velmo():
    import scipy.sparse as sp
    import velmo as vo

    def build():
        r, c, v, k = rows()
        m = vo.Model("lqcp")
        ys = m.variables("y", NY, lower=0, upper=1)
        us = m.variables("u", M, lower=-1, upper=1)
        xs = ys + us
        m.add_matrix(sp.csr_matrix((v, (r, c)), shape=(k, NY + M)), xs, "==", 0)
        cols, w, lin, const = objective_parts()
        obj = const
        for col, wt, li in zip(cols.tolist(), w.tolist(), lin.tolist()):
            x = xs[col]
            obj += (x * x) * wt + li * x
        m.minimize(obj)
        return m

    m, t_build = timed(build)
    r, t_solve = timed(lambda: m.solve(solver="highs", time_limit=LIMIT))
    return {"build": t_build, "hand-off": t_solve, "status": f"{r.status} {r.objective}"}


def bench_highspy():
    import highspy
    import scipy.sparse as sp

    def build():
        r, c, v, k = rows()
        a = sp.csc_matrix((v, (r, c)), shape=(k, NY + M))
        cols, w, lin, const = objective_parts()
        n = NY + M
        cost = np.zeros(n)
        cost[cols] = lin
        integrality = np.zeros(n, dtype=np.int32)
        lp = (n, k, a.nnz, int(highspy.MatrixFormat.kColwise), int(highspy.ObjSense.kMinimize), const, cost,
              np.concatenate([np.zeros(NY), np.full(M, -1.0)]), np.ones(n), np.zeros(k), np.zeros(k),
              a.indptr.astype(np.int32), a.indices.astype(np.int32), a.data, integrality)
        q = sp.csc_matrix((2 * w, (cols, cols)), shape=(n, n))  # 0.5 x'Qx
        return lp, q

    (lp, q), t_build = timed(build)

    def hand_off():
        h = highspy.Highs()
        h.setOptionValue("output_flag", False)
        h.setOptionValue("time_limit", LIMIT)
        h.passModel(*lp)  # highspy's fastest path: the arrays straight in
        h.passHessian(q.shape[0], q.nnz, highspy.HessianFormat.kTriangular, q.indptr.astype(np.int32),
                      q.indices.astype(np.int32), q.data)
        h.run()
        return f"{h.getModelStatus()} {h.getInfo().objective_function_value}"

    status, t = timed(hand_off)
    return {"build": t_build, "hand-off": t, "status": str(status)}


def bench_pyoptinterface():
    import pyoptinterface as poi
    from pyoptinterface import highs

    highs.autoload_library()

    def build():
        r, c, v, k = rows()
        mdl = highs.Model()
        mdl.set_model_attribute(poi.ModelAttribute.Silent, True)
        xs = [mdl.add_variable(lb=0.0, ub=1.0) for _ in range(NY)] + [mdl.add_variable(lb=-1.0, ub=1.0) for _ in range(M)]
        order = np.argsort(r, kind="stable")
        r, c, v = r[order], c[order].tolist(), v[order].tolist()
        bounds = np.searchsorted(r, np.arange(k + 1)).tolist()
        for row in range(k):
            lo, hi = bounds[row], bounds[row + 1]
            f = poi.ExprBuilder()
            for col, coef in zip(c[lo:hi], v[lo:hi]):
                f.add_affine_term(xs[col], coef)
            mdl.add_linear_constraint(f, poi.Eq, 0.0)
        cols, w, lin, const = objective_parts()
        obj = poi.ExprBuilder()
        for col, wt, li in zip(cols.tolist(), w.tolist(), lin.tolist()):
            obj.add_quadratic_term(xs[col], xs[col], wt)
            obj.add_affine_term(xs[col], li)
        # (the objective constant changes neither the build nor the hand-off; left out)
        mdl.set_objective(obj, poi.ObjectiveSense.Minimize)
        mdl.set_raw_parameter("time_limit", LIMIT)
        return mdl

    mdl, t_build = timed(build)
    _, t = timed(mdl.optimize)
    status = mdl.get_model_attribute(poi.ModelAttribute.TerminationStatus)
    value = mdl.get_model_attribute(poi.ModelAttribute.ObjectiveValue) if LIMIT > 0 else None
    return {"build": t_build, "hand-off": t, "status": f"{status} {value} (without the constant)"}


def bench_linopy():
    import linopy
    import pandas as pd
    import xarray as xr

    def build():
        mdl = linopy.Model()
        i_all, j_all = pd.RangeIndex(M + 1, name="i"), pd.RangeIndex(N + 1, name="j")
        yv = mdl.add_variables(lower=0, upper=1, coords=[i_all, j_all], name="y")
        uv = mdl.add_variables(lower=-1, upper=1, coords=[pd.RangeIndex(1, M + 1, name="i")], name="u")
        nxt = yv.shift(i=-1)  # y[i + 1, j] at (i, j)
        pde = ((1 / DT + 1 / H2) * nxt + (-1 / DT + 1 / H2) * yv
               - 0.5 / H2 * (yv.shift(j=1) + yv.shift(j=-1) + nxt.shift(j=1) + nxt.shift(j=-1)))
        mdl.add_constraints(pde.sel(i=slice(0, M - 1), j=slice(1, N - 1)) == 0, name="pde")
        mdl.add_constraints(yv.sel(i=0) == 0, name="start")
        inner = slice(1, M)
        mdl.add_constraints(yv.sel(i=inner, j=2) - 4 * yv.sel(i=inner, j=1) + 3 * yv.sel(i=inner, j=0) == 0,
                            name="left")
        right = ((yv.sel(i=inner, j=N - 2) - 4 * yv.sel(i=inner, j=N - 1) + 3 * yv.sel(i=inner, j=N)) / (2 * DX)
                 + yv.sel(i=inner, j=N) - uv)
        mdl.add_constraints(right == 0, name="right")
        cols, w, lin, const = objective_parts()
        wy, wu, ly = w[:N + 1], w[N + 1:], lin[:N + 1]
        last = yv.sel(i=M)
        jc = [j_all]
        obj = ((xr.DataArray(wy, coords=jc) * last * last).sum() + (xr.DataArray(ly, coords=jc) * last).sum()
               + (xr.DataArray(wu, coords=[pd.RangeIndex(1, M + 1, name="i")]) * uv * uv).sum())
        mdl.add_objective(obj)  # linopy takes no constant; it is added to the value below
        return mdl, const

    (mdl, const), t_build = timed(build)
    _, t = timed(lambda: mdl.solve(solver_name="highs", io_api="direct", output_flag=False, time_limit=LIMIT))
    value = mdl.objective.value
    return {"build": t_build, "hand-off": t,
            "status": f"{mdl.termination_condition} {None if value is None else value + const}"}


LIBRARIES = {"highspy": bench_highspy, "velmo": bench_velmo, "PyOptInterface": bench_pyoptinterface,
             "linopy": bench_linopy}


def main():
    if "--one" in sys.argv:
        print(json.dumps(LIBRARIES[sys.argv[sys.argv.index("--one") + 1]]()))
        return
    print(f"lqcp-{N}: {NY + M} variables (the machine is shared: read the ratios)")
    handoff_one_per_process(__file__, [str(N)], LIBRARIES, ONLY)


if __name__ == "__main__":
    main()
