"""The exact infeasibility report and ranging, against the solve they follow and against
highspy fed directly (the floor).

1. infeasibility_report() on infeasible LPs of 100, 1,000 and 10,000 rows whose conflict
   (two rows over free variables) bound propagation cannot show, so HiGHS's IIS is taken:
   report time against the model's own solve time, and against highspy's getIis on the same
   LP loaded by passModel (the peer's fastest path) with iis_strategy 3 (what the report asks
   HiGHS for, then filters) and 4 (irreducible by itself; left out at 10,000 rows, where it
   takes many minutes).
2. solve(ranging=True) on the transportation LP of bench_transport_lp.py (100 x 1000): the
   extra time of the ranging read against the solve, the time of ranging() itself, and
   highspy's own getRanging on the same LP.

    python bench/bench_exact_report.py
"""

import numpy as np

from bench_diagnostics import D, S, transport, transport_data
from timing import median_time, timed
import velmo as vo


def hidden_conflict(n):
    """n rows: a feasible chain x_k + x_{k+1} <= 15 over [0, 10], then a - b >= 1 and
    b - a >= 1 over free a, b (no bound to propagate from)."""
    m = vo.Model()
    xs = m.variables("x", n - 1, lower=0, upper=10)
    for k in range(n - 2):
        m.add(xs[k] + xs[k + 1] <= 15)
    a, b = m.variable("a"), m.variable("b")
    m.add(a - b >= 1, name="up")
    m.add(b - a >= 1, name="down")
    m.minimize(vo.sum(xs))
    return m


def highspy_iis(n, strategy=4):
    """The same LP through highspy's bulk passModel, then getIis."""
    import highspy

    inf = highspy.kHighsInf
    cols = n + 1  # n - 1 chain variables, a, b
    starts, index, value = [0], [], []
    for j in range(n - 1):  # column j is in chain rows j - 1 and j
        for r in (j - 1, j):
            if 0 <= r < n - 2:
                index.append(r)
                value.append(1.0)
        starts.append(len(index))
    for coefs in ((1.0, -1.0), (-1.0, 1.0)):  # a, then b
        index += [n - 2, n - 1]
        value += list(coefs)
        starts.append(len(index))
    lp = highspy.HighsLp()
    lp.num_col_, lp.num_row_ = cols, n
    lp.col_cost_ = np.r_[np.ones(n - 1), 0.0, 0.0]
    lp.col_lower_ = np.r_[np.zeros(n - 1), -inf, -inf]
    lp.col_upper_ = np.r_[np.full(n - 1, 10.0), inf, inf]
    lp.row_lower_ = np.r_[np.full(n - 2, -inf), 1.0, 1.0]
    lp.row_upper_ = np.r_[np.full(n - 2, 15.0), inf, inf]
    lp.a_matrix_.format_ = highspy.MatrixFormat.kColwise
    lp.a_matrix_.start_ = np.array(starts, dtype=np.int32)
    lp.a_matrix_.index_ = np.array(index, dtype=np.int32)
    lp.a_matrix_.value_ = np.array(value)

    def run():
        h = highspy.Highs()
        h.setOptionValue("output_flag", False)
        h.setOptionValue("iis_strategy", strategy)
        h.passModel(lp)
        h.run()
        return sorted(h.getIis()[1].row_index_)
    return run


def highspy_ranging(cost, demand, supply):
    import highspy

    n = S * D
    start = np.arange(0, 2 * n + 1, 2, dtype=np.int32)
    index = np.empty(2 * n, dtype=np.int32)
    index[0::2] = np.repeat(np.arange(S), D)
    index[1::2] = S + np.tile(np.arange(D), S)
    lp = highspy.HighsLp()
    lp.num_col_, lp.num_row_ = n, S + D
    lp.col_cost_ = np.array(cost)
    lp.col_lower_ = np.zeros(n)
    lp.col_upper_ = np.full(n, highspy.kHighsInf)
    lp.row_lower_ = np.concatenate([np.full(S, -highspy.kHighsInf), demand])
    lp.row_upper_ = np.concatenate([np.full(S, supply), np.full(D, highspy.kHighsInf)])
    lp.a_matrix_.format_ = highspy.MatrixFormat.kColwise
    lp.a_matrix_.start_ = start
    lp.a_matrix_.index_ = index
    lp.a_matrix_.value_ = np.ones(2 * n)
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    h.passModel(lp)
    _, t_run = timed(h.run)
    _, t_rng = timed(h.getRanging)
    return t_run, t_rng


def main():
    print("The machine has 2 cores shared with other work: figures are loaded-machine figures.")
    print("1. exact infeasibility report (HiGHS IIS) against the solve")
    print(f"{'rows':>7s} {'solve s':>9s} {'report s':>9s} {'report/solve':>13s} {'highspy s3 s':>13s} "
          f"{'report/s3':>10s} {'highspy s4 s':>13s} {'report/s4':>10s}")
    for n in (100, 1_000, 10_000):
        m = hidden_conflict(n)
        t_solve, r = median_time(m.solve, 3)
        t_report, rep = median_time(r.infeasibility_report, 3)
        t_s3, peer = median_time(highspy_iis(n, 3), 3)
        assert r.status == "infeasible" and rep["constraint_indices"] == [n - 2, n - 1] == peer, (rep, peer)
        line = (f"{n:7d} {t_solve:9.4f} {t_report:9.4f} {t_report / t_solve:13.1f} {t_s3:13.4f} "
                f"{t_report / t_s3:10.2f}")
        if n <= 1_000:
            _, t_s4 = timed(highspy_iis(n, 4))
            line += f" {t_s4:13.4f} {t_report / t_s4:10.3f}"
        print(line)

    print("2. ranging on the transportation LP (100,000 variables, 1,100 rows)")
    m = transport()
    cost, demand, supply = transport_data()
    t_plain, plain = median_time(m.solve, 3)
    t_ranged, ranged = median_time(lambda: m.solve(ranging=True), 3)
    t_table, table = median_time(ranged.ranging, 3)
    assert abs(plain.objective - ranged.objective) <= 1e-6 * abs(plain.objective)
    assert len(table["cost_ranges"]) == S * D and len(table["rhs_ranges"]) == S + D
    t_run, t_peer = highspy_ranging(cost, demand, supply)
    extra = t_ranged - t_plain
    print(f"solve() {t_plain:.3f} s, solve(ranging=True) {t_ranged:.3f} s: +{extra:.3f} s "
          f"({100 * extra / t_plain:.0f}% of the solve); ranging() dict {t_table:.3f} s")
    print(f"highspy alone: run {t_run:.3f} s, getRanging {t_peer:.3f} s ({100 * t_peer / t_run:.0f}% of its run); "
          f"velmo's extra / highspy getRanging = {extra / t_peer:.2f}")


if __name__ == "__main__":
    main()
