"""Derivative-free optimisers on the Rosenbrock function: each returns a BlackBoxResult and
is reproducible from its seed."""

import velmo as vo


def rosenbrock(x):
    return sum(100 * (b - a * a) ** 2 + (1 - a) ** 2 for a, b in zip(x, x[1:]))


box = [(-2, 2)] * 4
runs = {
    "differential evolution": vo.solve_de(rosenbrock, box, max_generations=300, tol=0),
    "particle swarm": vo.solve_pso(rosenbrock, box, max_iterations=500, tol=0),
    "simulated annealing": vo.solve_sa(rosenbrock, box),
    "evolution strategy": vo.solve_cmaes(rosenbrock, box),
    "CMA-ES": vo.solve_cmaes(rosenbrock, box, variant="full"),
    "CMA-ES, 2 restarts": vo.solve_cmaes(rosenbrock, box, variant="full", restarts=2),
    "portfolio": vo.solve_portfolio(rosenbrock, box),
}
for name, r in runs.items():
    print(f"{name:24} {r}  x = [{', '.join(f'{v:.4f}' for v in r.x)}]")

# The run stops as soon as the objective raises KeyboardInterrupt (Ctrl-C) or SystemExit;
# any other exception just scores +inf for that point.
calls = 0


def impatient(x):
    global calls
    calls += 1
    if calls == 100:
        raise KeyboardInterrupt
    return rosenbrock(x)


try:
    vo.solve_pso(impatient, box)
except KeyboardInterrupt:
    print(f"interrupted after {calls} evaluations")
