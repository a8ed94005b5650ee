"""WeightedGraph: weights kept unchanged and equal in both directions, each
edge's weight counted once, and density as the true ratio."""

import math

import pytest

from morvena import WeightedGraph
from graph_model import machine_for, make


@pytest.mark.parametrize("weight", [2.5, 4, -2.0, 0.0, math.inf, -math.inf, 1e308, 5e-324, math.nan])
def test_weights_are_stored_unchanged_and_counted_once(weight):
    g = make(WeightedGraph, 2)
    g.add_edge(1, 2, weight)
    with pytest.raises(TypeError, match="^argument 'weight': must be real number, not str$"):
        g.add_edge(1, 2, "heavy")
    seen = [g.get_weight(1, 2), g.get_weight(2, 1), g.neighbours(2)[0][1], g.weighted_degree(1), g.total_weight()]
    assert all(type(w) is float for w in seen) and g.edge_count() == 1
    assert all(map(math.isnan, seen)) if math.isnan(weight) else seen == [weight] * 5


@pytest.mark.parametrize(
    "n, edges, density",
    [(1, [], 0.0), (1, [(1, 1)], 0.0), (2, [(1, 2)], 1.0), (3, [(1, 2)], 1 / 3), (4, [(1, 2), (3, 4), (2, 3)], 0.5),
     (3, [(1, 2), (2, 3), (1, 3)], 1.0)],
)
def test_density(n, edges, density):
    assert make(WeightedGraph, n, edges).density() == pytest.approx(density)


TestWeightedGraphModel = machine_for(WeightedGraph).TestCase
