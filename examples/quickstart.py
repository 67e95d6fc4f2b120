"""Quickstart: build a small production-planning model with velmo."""

import velmo as vo

m = vo.Model("plan")
x = m.variable("x", lower=0)
y = m.integer("y", lower=0, upper=10)
m.maximize(3 * x + 2 * y)
m.add(x + y <= 4, name="capacity")
m.add(x + 3 * y <= 6)

print(m)
result = m.solve()
print(result)
print("values:", result.values())
print("capacity row:", x + y <= 4)
print("a nonlinear constraint:", vo.sin(x) + x * y <= 1)
