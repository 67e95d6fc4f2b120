"""Diagnostics: validate a model before solving, ask the result why, range its costs and
right-hand sides, and find the conflict in an infeasible plan.

    python examples/diagnostics.py
"""

import velmo as vo

# A production plan (Wyndor glass): doors and windows made in three plants.
m = vo.Model("wyndor")
doors = m.variable("doors", lower=0)
windows = m.variable("windows", lower=0)
m.add(doors <= 4, name="plant1")
m.add(2 * windows <= 12, name="plant2")
m.add(3 * doors + 2 * windows <= 18, name="plant3")
m.maximize(3 * doors + 5 * windows)

print("findings before solving:", m.validate())
r = m.solve(ranging=True)
print(r)
s = r.sensitivity()
print("shadow prices (minimisation form):", s["shadow_prices"])
print("tight plants:", s["active_constraints"])
print(r.why(doors))
print(r.why_detail(windows))

# Ranging: how far each profit and each plant capacity may move before the plan changes.
table = r.ranging()
print(f"{'profit of':10s} {'now':>6s} {'lowest':>8s} {'highest':>8s}")
for name, cost, lo, hi in table["cost_ranges"]:
    print(f"{name:10s} {cost:6g} {lo:8g} {hi:8g}")
print(f"{'capacity':10s} {'now':>6s} {'lowest':>8s} {'highest':>8s}")
for _, label, rhs, lo, hi in table["rhs_ranges"]:
    print(f"{label:10s} {rhs:6g} {lo:8g} {hi:8g}")

# Demand nobody can meet: the report names the conflicting constraints.
m.add(doors + windows >= 20, name="demand")
bad = m.solve()
print(bad.status)
report = bad.infeasibility_report()
print(report["explanation"])
for hint in report["suggestions"]:
    print(" ", hint)

# A two-month stock plan that cannot meet its orders: the conflict runs through both stock
# balances, which bound propagation cannot follow, so the report asks HiGHS for it.
plan = vo.Model("stock")
made1, made2 = plan.variable("made1", 0, 40), plan.variable("made2", 0, 40)
sold1, sold2 = plan.variable("sold1", 0), plan.variable("sold2", 0)
stock1, stock2 = plan.variable("stock1", 0, 10), plan.variable("stock2", 0, 10)
plan.add(stock1 == 5 + made1 - sold1, name="balance1")
plan.add(stock1 + made2 - sold2 - stock2 == 0, name="balance2")
plan.add(sold1 + sold2 >= 90, name="orders")
plan.add(made1 + made2 <= 100, name="budget")
plan.maximize(sold1 + sold2)
stuck = plan.solve()
print(stuck.status)
report = stuck.infeasibility_report()
print(report["explanation"])
print("bounds taking part:", report["bounds"])
