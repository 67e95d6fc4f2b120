"""Diagnostics: validate a model before solving, then ask the result why.

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
r = m.solve()
print(r)
s = r.sensitivity()
print("shadow prices (minimisation form):", s["shadow_prices"])
print("tight plants:", s["active_constraints"])
print(r.why(doors))
print(r.why_detail(windows))

# Demand nobody can meet: the report names the conflicting constraints.
m.add(doors + windows >= 20, name="demand")
bad = m.solve()
print(bad.status)
report = bad.infeasibility_report()
print(report["explanation"])
for hint in report["suggestions"]:
    print(" ", hint)
