"""PersistentHighs and the text exports on the transportation LP (100 sources x 1000 sinks:
100,000 variables, 1,100 rows, 200,000 nonzeros), all measured in this one run:

1. one cost changed, then PersistentHighs.resolve() (HiGHS hot-starts from its basis) against
   a fresh Model.solve() of the changed model;
2. new bounds for all 100,000 columns: update_col_bounds in one bulk call against the same
   change made entry by entry (one highspy changeColBounds call per column, and one
   update_col_bounds call per column);
3. to_lp() and to_python() of the model, in MB of text per second.

    python bench/bench_persistent_highs.py [sources] [sinks] [repeats]
"""

import statistics
import sys

import numpy as np

from timing import median_time, timed
import velmo as vo

S = int(sys.argv[1]) if len(sys.argv) > 1 else 100
D = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
REPEATS = int(sys.argv[3]) if len(sys.argv) > 3 else 3
rng = np.random.default_rng(7)
COST = rng.uniform(1.0, 20.0, size=(S, D)).round(2).ravel().tolist()
DEMAND = rng.integers(5, 50, size=D).astype(float).tolist()
SUPPLY = sum(DEMAND) / S * 1.1


def build(cost):
    m = vo.Model("transport")
    x = m.variables("x", S * D, lower=0)
    for i in range(S):
        m.add(vo.sum(x[i * D:(i + 1) * D]) <= SUPPLY)
    for j in range(D):
        m.add(vo.sum(x[j::D]) >= DEMAND[j])
    m.minimize(vo.sum([c * v for c, v in zip(cost, x)]))
    return m


def main():
    n = S * D
    m, t_build = timed(lambda: build(COST))
    print(f"transportation LP {S} x {D}: {n:,} columns, {S + D:,} rows; build {t_build:.2f} s")

    # 1. Re-solve after one cost change.
    p, t_load = timed(lambda: vo.PersistentHighs.from_model(model=m))
    first, t_first = timed(p.resolve)
    # The column that carries the most flow gets dearer, so the optimum really moves.
    j = int(np.argmax(first.primals))
    times_resolve, times_fresh, objectives = [], [], []
    for k in range(REPEATS):
        price = COST[j] + 5.0 * (k + 1)
        p.update_col_costs([j], [price])
        r, t = timed(p.resolve)
        times_resolve.append(t)
        changed = list(COST)
        changed[j] = price
        fresh_model = build(changed)
        fr, tf = timed(fresh_model.solve)
        times_fresh.append(tf)
        objectives.append((r.objective, fr.objective, r.iterations, fr.iterations))
        p.update_col_costs([j], [COST[j]])
        p.resolve()
    for ro, fo, _, _ in objectives:
        assert abs(ro - fo) <= 1e-6 * abs(fo), (ro, fo)
    t_r, t_f = statistics.median(times_resolve), statistics.median(times_fresh)
    print(f"\n1. one cost changed (column {j}); load {t_load:.3f} s, first run {t_first:.3f} s")
    print(f"   resolve()            {t_r:8.4f} s   ({objectives[0][2]} simplex iterations)")
    print(f"   fresh Model.solve()  {t_f:8.4f} s   ({objectives[0][3]} simplex iterations; building the model: +{t_build:.2f} s)")
    print(f"   ratio fresh / resolve: {t_f / t_r:.1f}x (with the rebuild: {(t_f + t_build) / t_r:.1f}x)")

    # 2. New bounds for every column.
    lows = [0.0] * n
    ups = [1000.0 + (k % 7) for k in range(n)]
    idx = list(range(n))
    t_bulk = median_time(lambda: p.update_col_bounds(idx, lows, ups), REPEATS)[0]
    assert p.col_bounds()[1][:3] == ups[:3]

    import highspy
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    h.passModel(p_lp(m))
    h.run()  # solved, like the persistent model: HiGHS does more per change once it holds a basis

    def per_entry_highspy():
        change = h.changeColBounds
        for k in range(n):
            change(k, lows[k], ups[k])
    t_hs = median_time(per_entry_highspy, REPEATS)[0]

    def per_entry_velmo():
        update = p.update_col_bounds
        for k in range(n):
            update([k], [lows[k]], [ups[k]])
    t_pv = median_time(per_entry_velmo, repeats=1)[0]
    # The same change from NumPy arrays, against highspy's own bulk call on the same arrays.
    idx_np = np.arange(n, dtype=np.int32)
    lows_np, ups_np = np.array(lows), np.array(ups)
    t_np = median_time(lambda: p.update_col_bounds(idx_np, lows_np, ups_np), REPEATS)[0]
    t_hs_bulk = median_time(lambda: h.changeColsBounds(n, idx_np, lows_np, ups_np), REPEATS)[0]
    costs_np = np.array(COST)
    t_cost = median_time(lambda: p.update_col_costs(idx_np, costs_np), REPEATS)[0]
    t_hs_cost = median_time(lambda: h.changeColsCost(n, idx_np, costs_np), REPEATS)[0]
    print(f"\n2. bounds of all {n:,} columns")
    print(f"   update_col_bounds, NumPy arrays         {t_np:8.4f} s   / highspy changeColsBounds "
          f"(same arrays) {t_hs_bulk:8.4f} s = {t_np / t_hs_bulk:.2f}x")
    print(f"   update_col_costs, NumPy arrays          {t_cost:8.4f} s   / highspy changeColsCost "
          f"(same arrays) {t_hs_cost:8.4f} s = {t_cost / t_hs_cost:.2f}x")
    print(f"   update_col_bounds, one bulk call (lists) {t_bulk:8.4f} s")
    print(f"   highspy changeColBounds, one per column {t_hs:8.4f} s   ratio {t_hs / t_bulk:.1f}x")
    print(f"   update_col_bounds, one call per column  {t_pv:8.4f} s   ratio {t_pv / t_bulk:.1f}x")

    # 3. Text exports.
    lp, t_lp = timed(m.to_lp)
    t_lp = min(t_lp, median_time(m.to_lp, REPEATS)[0])
    py, t_py = timed(m.to_python)
    t_py = min(t_py, median_time(m.to_python, REPEATS)[0])
    mb_lp = len(lp.encode()) / 2 ** 20
    mb_py = len(py.encode()) / 2 ** 20
    print("\n3. text exports")
    print(f"   to_lp()      {mb_lp:6.2f} MB in {t_lp:.3f} s: {mb_lp / t_lp:7.1f} MB/s")
    print(f"   to_python()  {mb_py:6.2f} MB in {t_py:.3f} s: {mb_py / t_py:7.1f} MB/s")


def p_lp(m):
    """The same LP as a highspy HighsLp, for the per-entry peer."""
    import highspy
    lp = highspy.HighsLp()
    n = S * D
    lp.num_col_ = n
    lp.num_row_ = S + D
    lp.col_cost_ = np.array(COST)
    lp.col_lower_ = np.zeros(n)
    lp.col_upper_ = np.full(n, highspy.kHighsInf)
    lp.row_lower_ = np.array([-highspy.kHighsInf] * S + DEMAND)
    lp.row_upper_ = np.array([SUPPLY] * S + [highspy.kHighsInf] * D)
    # Column j = i * D + k sits in supply row i and demand row S + k.
    starts = np.arange(0, 2 * n + 1, 2, dtype=np.int32)
    rows = np.empty(2 * n, dtype=np.int32)
    rows[0::2] = np.repeat(np.arange(S), D)
    rows[1::2] = S + np.tile(np.arange(D), S)
    lp.a_matrix_.format_ = highspy.MatrixFormat.kColwise
    lp.a_matrix_.start_ = starts
    lp.a_matrix_.index_ = rows
    lp.a_matrix_.value_ = np.ones(2 * n)
    return lp


if __name__ == "__main__":
    main()
