"""The Pareto front of ZDT1 (Zitzler, Deb and Thiele, 2000) found by pareto_frontier's NSGA-II,
drawn against the true front f2 = 1 - sqrt(f1) and saved as pareto_front.png next to this file
(or to the path given). Without matplotlib it prints the front and says how to get the picture.

    pip install ".[examples]" && python examples/pareto_front.py [out.png]
"""

import math
import os
import sys

import velmo as vo

N = 10  # decision variables, each in [0, 1]


def f1(x):
    return x[0]


def f2(x):
    g = 1.0 + 9.0 * sum(x[1:]) / (len(x) - 1)
    return g * (1.0 - math.sqrt(x[0] / g))


front = vo.pareto_frontier([f1, f2], [(0.0, 1.0)] * N, method="nsga2", pop_size=100,
                           generations=250, seed=42)
points = sorted(d["objectives"] for d in front)
gap = sum(b - (1 - math.sqrt(a)) for a, b in points) / len(points)
print(f"{len(points)} non-dominated points; mean distance above the true front {gap:.2e}")

try:
    import matplotlib
except ImportError:
    for a, b in points[:: max(1, len(points) // 10)]:
        print(f"  f1 = {a:.4f}  f2 = {b:.4f}  (true front {1 - math.sqrt(a):.4f})")
    print('matplotlib is not installed: pip install ".[examples]" to draw the picture')
    sys.exit(0)
matplotlib.use("Agg")  # draw to a file, no display needed
import matplotlib.pyplot as plt  # noqa: E402

true_f1 = [k / 200 for k in range(201)]
fig, ax = plt.subplots(figsize=(6, 4.5))
ax.plot(true_f1, [1 - math.sqrt(a) for a in true_f1], color="0.6", lw=2, label="true front")
ax.scatter([a for a, _ in points], [b for _, b in points], s=14, color="C3",
           label="pareto_frontier (NSGA-II, 100 x 250)")
ax.set_xlabel("f1")
ax.set_ylabel("f2")
ax.set_title("ZDT1, 10 variables")
ax.legend()
fig.tight_layout()
out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                          "pareto_front.png")
fig.savefig(out, dpi=120)
print(f"saved {out}")
