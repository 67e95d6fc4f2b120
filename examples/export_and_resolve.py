"""Exports a small production model as LP text, as a one-line summary and as a Python
program, reads the LP text back with HiGHS, then keeps the model loaded in HiGHS and re-solves
it while a price and a capacity change.

    python examples/export_and_resolve.py
"""

import os
import subprocess
import sys
import tempfile

import highspy

import velmo as vo

m = vo.Model("production")
chairs = m.integer("chairs", lower=0, upper=100)
tables = m.variable("tables (sets)", lower=0)  # a name the LP format cannot hold as it is
m.maximize(45 * chairs + 80 * tables)
m.add(5 * chairs + 20 * tables <= 400, name="wood")
m.add(10 * chairs + 15 * tables <= 450, name="labour")

print(m.summary())
print(m.to_lp())

# Another reader takes the LP text back.
with tempfile.TemporaryDirectory() as tmp:
    path = os.path.join(tmp, "production.lp")
    with open(path, "w", encoding="utf-8") as f:
        f.write(m.to_lp())
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    h.readModel(path)
    h.run()
    print("HiGHS on the LP text:", h.getInfoValue("objective_function_value")[1])

# The generated program rebuilds and solves the same model on its own.
program = m.to_python()
run = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True, check=True)
print("the generated program prints:", run.stdout.splitlines()[-2])
print("velmo's own solve:", m.solve().objective)

# One model kept in HiGHS; costs are in the minimisation form (negated for a maximised model).
p = vo.PersistentHighs.from_model(model=m)
print("loaded:", p.resolve())
p.update_col_costs([1], [-95.0])           # tables now sell for 95
print("tables at 95:", p.resolve().objective, p.resolve().primals)
p.update_row_bounds([1], [float("-inf")], [600.0])  # more labour
print("more labour:", p.resolve().objective, "rows:", p.row_bounds())
