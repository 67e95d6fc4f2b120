"""Fronts against problems whose true Pareto fronts are known in closed form.

The bounds below come from runs with several seeds (the runs are deterministic; the bounds
leave room for a change of seed, not for a change of algorithm):
- ZDT1 / ZDT2, n = 10, NSGA-II, P = 100, 250 generations: over seeds 1, 2, 3, 7, 42, 99 the
  mean vertical distance f2 - front(f1) of the returned points was at most 1.1e-3 (ZDT1) and
  5.0e-4 (ZDT2), the largest single one 2.6e-2; bound: mean below 1e-2.
- DTLZ2, 3 objectives, n = 12, NSGA-III with H = 12 (91 directions), P = 92, 150 generations:
  over seeds 1, 2, 7, 42 every point was within 2.1e-2 of the unit sphere (mean at most
  2.7e-3) and the points reached all 91 niches; bounds: 5e-2 per point, 1e-2 mean, 91 niches.
- Weighted sum of two convex quadratics: in one dimension every point was within 4e-6 of the
  analytic front over six seeds (bound 1e-5). In two dimensions the sweep's DE runs (10 n
  individuals) stop once the best value has not moved for ten generations, which can happen
  early; the largest miss over six seeds was 3.6e-2 (bound 1e-1).
"""

import math

import pytest

import velmo_opt as vo
from moo_reference import Individual, das_dennis, dominates
from pareto_helpers import dtlz2, first, zdt1, zdt2


@pytest.mark.parametrize("objective, front", [(zdt1, lambda a: 1 - math.sqrt(a)), (zdt2, lambda a: 1 - a * a)],
                         ids=["zdt1", "zdt2"])
def test_zdt_fronts_are_close_to_the_true_front_and_mutually_non_dominated(objective, front):
    result = vo.pareto_frontier([first, objective], [(0, 1)] * 10, method="nsga2", pop_size=100,
                                generations=250)
    assert len(result) == 100
    points = [Individual(d["x"], d["objectives"]) for d in result]
    assert not any(dominates(a, b) for a in points for b in points)
    gaps = [f2 - front(f1) for f1, f2 in (d["objectives"] for d in result)]
    assert min(gaps) >= -1e-12  # nothing beats the true front
    assert sum(gaps) / len(gaps) < 1e-2
    f1s = [d["objectives"][0] for d in result]
    assert min(f1s) < 0.01 and max(f1s) > 0.99  # the whole front, not one end of it


def test_dtlz2_nsga3_points_lie_on_the_sphere_and_reach_every_direction():
    result = vo.pareto_frontier(dtlz2(3), [(0, 1)] * 12, method="nsga3", pop_size=92, generations=150)
    radii = [math.sqrt(sum(v * v for v in d["objectives"])) for d in result]
    assert max(abs(r - 1) for r in radii) < 5e-2
    assert sum(abs(r - 1) for r in radii) / len(radii) < 1e-2
    directions = das_dennis(3, 12)
    assert len(directions) == 91

    def niche(f):
        # The direction of smallest angle to the point.
        return max(range(91), key=lambda r: sum(a * b for a, b in zip(f, directions[r]))
                   / math.sqrt(sum(b * b for b in directions[r])))

    assert len({niche(d["objectives"]) for d in result}) == 91


@pytest.mark.parametrize("a, b, bound", [([0.0], [1.0], 1e-5), ([0.0, 0.0], [1.0, 2.0], 1e-1)],
                         ids=["one dimension", "two dimensions"])
def test_weighted_sum_points_of_two_convex_quadratics_lie_on_the_analytic_front(a, b, bound):
    # min w |x-a|^2 + (1-w) |x-b|^2 is x = w a + (1-w) b: f1 = (1-w)^2 d^2, f2 = w^2 d^2,
    # so the front is sqrt(f1) + sqrt(f2) = d with d = |a - b|.
    f1 = lambda x: sum((v - c) ** 2 for v, c in zip(x, a))
    f2 = lambda x: sum((v - c) ** 2 for v, c in zip(x, b))
    distance = math.dist(a, b)
    result = vo.pareto_frontier([f1, f2], [(-3, 3)] * len(a), n_points=11)
    for d in result:
        w = d["weights"][0]
        assert abs(math.sqrt(d["objectives"][0]) + math.sqrt(d["objectives"][1]) - distance) < bound
        assert math.dist(d["x"], [w * p + (1 - w) * q for p, q in zip(a, b)]) < 10 * bound
