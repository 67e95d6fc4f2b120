"""How fast each black-box optimiser gets down on 5-dimensional Rosenbrock: the best value so
far (BlackBoxResult.history) against the evaluations spent, saved as convergence.png next to
this file (or to the path given). Without matplotlib it prints the final values instead.

    pip install ".[examples]" && python examples/convergence.py [out.png]
"""

import os
import sys

import velmo as vo


def rosenbrock(x):
    return sum(100 * (b - a * a) ** 2 + (1 - a) ** 2 for a, b in zip(x, x[1:]))


box = [(-2, 2)] * 5
runs = {
    "solve_de": vo.solve_de(rosenbrock, box, max_generations=200, tol=0),
    "solve_pso": vo.solve_pso(rosenbrock, box, max_iterations=400, tol=0),
    "solve_sa": vo.solve_sa(rosenbrock, box),
    'solve_cmaes(variant="full")': vo.solve_cmaes(rosenbrock, box, variant="full", tol=0, max_generations=300),
}
for name, r in runs.items():
    print(f"{name:28} best {r.objective:.3e} after {r.evaluations} evaluations")


def curve(r):
    """(evaluations, best so far): history holds one entry for the start and one per
    generation or iteration, each worth the same number of evaluations."""
    per_entry = r.evaluations / len(r.history)
    best, points = float("inf"), []
    for k, value in enumerate(r.history):
        best = min(best, value)
        points.append(((k + 1) * per_entry, best))
    return points


try:
    import matplotlib
except ImportError:
    print('matplotlib is not installed: pip install ".[examples]" to draw the picture')
    sys.exit(0)
matplotlib.use("Agg")  # draw to a file, no display needed
import matplotlib.pyplot as plt  # noqa: E402

fig, ax = plt.subplots(figsize=(6, 4.5))
for name, r in runs.items():
    points = curve(r)
    ax.plot([e for e, _ in points], [max(b, 1e-16) for _, b in points], label=name)
ax.set_yscale("log")
ax.set_xlabel("objective evaluations")
ax.set_ylabel("best value so far")
ax.set_title("Rosenbrock, 5 variables, box [-2, 2]")
ax.legend()
fig.tight_layout()
out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                          "convergence.png")
fig.savefig(out, dpi=120)
print(f"saved {out}")
