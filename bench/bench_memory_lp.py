"""Memory of building and solving (time limit 0) a transportation LP of S x D variables
(default 1000 x 1000: 10^6 variables, 2,000 rows, 2*10^6 nonzeros), each library in a fresh
process: resident set after the imports, after the build (the model's own memory) and the
peak over the solve. The "solve adds" column is the solve's peak above the built model,
as a share of the model's own memory.

    python bench/bench_memory_lp.py [sources] [sinks] [library,library,...]
"""

import json
import subprocess
import sys
import time

import numpy as np

S = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
D = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
ONLY = sys.argv[3].lower().split(",") if len(sys.argv) > 3 and sys.argv[3] != "--one" else None


def status_mb(key):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(key):
                return int(line.split()[1]) / 1024
    return float("nan")


def reset_peak():
    # Writing 5 to clear_refs resets VmHWM to the current RSS (Linux 4.0 and later).
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")


def data():
    rng = np.random.default_rng(7)
    cost = rng.uniform(1.0, 20.0, size=(S, D)).round(2)
    demand = rng.integers(5, 50, size=D).astype(float)
    supply = np.full(S, demand.sum() / S * 1.1)
    return cost, demand, supply


def transport_matrix():
    import scipy.sparse as sp

    n = S * D
    rows = np.concatenate([np.repeat(np.arange(S), D), S + np.tile(np.arange(D), S)])
    cols = np.concatenate([np.arange(n), np.arange(n)])
    return sp.csr_matrix((np.ones(2 * n), (rows, cols)), shape=(S + D, n))


def build_velmo(cost, demand, supply):
    import velmo as vo

    m = vo.Model("transport")
    x = m.variables("x", S * D, lower=0)
    m.add_matrix(transport_matrix(), x, ["<="] * S + [">="] * D, np.concatenate([supply, demand]))
    m.minimize(vo.dot(cost.ravel(), x))
    return m, lambda: m.solve(time_limit=0.0)


def build_pyoptinterface(cost, demand, supply):
    import pyoptinterface as poi
    from pyoptinterface import highs

    highs.autoload_library()
    mdl = highs.Model()
    mdl.set_model_attribute(poi.ModelAttribute.Silent, True)
    x = [[mdl.add_variable(lb=0.0) for _ in range(D)] for _ in range(S)]
    for i in range(S):
        mdl.add_linear_constraint(poi.quicksum(x[i]), poi.Leq, float(supply[i]))
    for k in range(D):
        mdl.add_linear_constraint(poi.quicksum(x[i][k] for i in range(S)), poi.Geq, float(demand[k]))
    c = cost.tolist()
    obj = poi.ExprBuilder()
    for i in range(S):
        for k in range(D):
            obj.add_affine_term(x[i][k], c[i][k])
    mdl.set_objective(obj, poi.ObjectiveSense.Minimize)
    mdl.set_raw_parameter("time_limit", 0.0)
    return mdl, mdl.optimize


def build_highspy(cost, demand, supply):
    import highspy

    a = transport_matrix().tocsc()
    lp = highspy.HighsLp()
    lp.num_col_, lp.num_row_ = S * D, S + D
    lp.col_cost_ = cost.ravel()
    lp.col_lower_ = np.zeros(S * D)
    lp.col_upper_ = np.full(S * D, highspy.kHighsInf)
    lp.row_lower_ = np.concatenate([np.full(S, -highspy.kHighsInf), demand])
    lp.row_upper_ = np.concatenate([supply, np.full(D, highspy.kHighsInf)])
    lp.a_matrix_.format_ = highspy.MatrixFormat.kColwise
    lp.a_matrix_.start_ = a.indptr.astype(np.int32)
    lp.a_matrix_.index_ = a.indices.astype(np.int32)
    lp.a_matrix_.value_ = a.data
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    h.setOptionValue("time_limit", 0.0)

    def solve():
        h.passModel(lp)
        h.run()
    return lp, solve


LIBRARIES = {"highspy": build_highspy, "velmo": build_velmo, "PyOptInterface": build_pyoptinterface}


def one(name):
    import gc

    cost, demand, supply = data()
    # The libraries' imports happen inside the builders; import them here so that the
    # baseline holds them.
    if name == "velmo":
        import scipy.sparse  # noqa: F401
        import velmo  # noqa: F401
    elif name == "highspy":
        import highspy  # noqa: F401
        import scipy.sparse  # noqa: F401
    else:
        import pyoptinterface  # noqa: F401
        from pyoptinterface import highs
        highs.autoload_library()
    gc.collect()
    base = status_mb("VmRSS")
    t0 = time.perf_counter()
    model, solve = LIBRARIES[name](cost, demand, supply)
    gc.collect()
    built = status_mb("VmRSS")
    t_build = time.perf_counter() - t0
    reset_peak()
    t0 = time.perf_counter()
    result = solve()
    t_solve = time.perf_counter() - t0
    peak = status_mb("VmHWM")
    del result
    return {"model": built - base, "solve_adds": peak - built, "peak": peak - base,
            "build_s": t_build, "solve_s": t_solve}


def main():
    if "--one" in sys.argv:
        print(json.dumps(one(sys.argv[sys.argv.index("--one") + 1])))
        return
    print(f"transportation LP {S}x{D}: {S * D} variables; MB above the process after its imports "
          "(the machine is shared with other jobs)")
    print(f"{'library':16s} {'model':>9s} {'solve adds':>11s} {'share':>7s} {'peak':>9s} {'build s':>8s} {'solve s':>8s}")
    for name in LIBRARIES:
        if ONLY is not None and name.lower() not in ONLY:
            continue
        out = subprocess.run([sys.executable, __file__, str(S), str(D), "--one", name], capture_output=True, text=True)
        if out.returncode != 0:
            print(f"{name:16s} skipped: {out.stderr.strip().splitlines()[-1:]}")
            continue
        r = json.loads(out.stdout.strip().splitlines()[-1])
        print(f"{name:16s} {r['model']:9.1f} {r['solve_adds']:11.1f} {r['solve_adds'] / r['model']:7.2f} "
              f"{r['peak']:9.1f} {r['build_s']:8.2f} {r['solve_s']:8.2f}")


if __name__ == "__main__":
    main()
