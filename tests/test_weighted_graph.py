"""WeightedGraph: weights kept unchanged and equal in both directions, each
edge's weight counted once, and density as the true ratio."""

import math

import pytest

from morvena import WeightedGraph
from graph_model import machine_for, make


def test_weights_are_symmetric_and_replaced():
    g = make(WeightedGraph, 3)
    g.add_edge(1, 2, 2.5)
    assert g.get_weight(1, 2) == g.get_weight(2, 1) == 2.5
    assert g.neighbours(1) == [(2, 2.5)] and g.weighted_degree(1) == 2.5
    assert g.edge_count() == 1 and g.total_weight() == 2.5
    g.add_edge(2, 1, 4)
    assert g.get_weight(1, 2) == 4.0 and type(g.get_weight(1, 2)) is float and g.edge_count() == 1
    g.add_edge(1, 1, 3)
    assert g.degree(1) == 2 and g.weighted_degree(1) == 7.0 and g.total_weight() == 7.0 and g.edge_count() == 2


@pytest.mark.parametrize("weight", [-2.0, 0.0, math.inf, -math.inf, 1e308, 5e-324])
def test_weights_are_stored_unchanged(weight):
    g = make(WeightedGraph, 2)
    g.add_edge(1, 2, weight)
    assert g.get_weight(2, 1) == weight and g.total_weight() == weight


def test_nan_weight():
    g = make(WeightedGraph, 2)
    g.add_edge(1, 2, math.nan)
    assert math.isnan(g.get_weight(1, 2)) and math.isnan(g.neighbours(2)[0][1]) and math.isnan(g.total_weight())
    with pytest.raises(TypeError, match="^argument 'weight': must be real number, not str$"):
        g.add_edge(1, 2, "heavy")
    assert math.isnan(g.get_weight(1, 2))


@pytest.mark.parametrize(
    "n, edges, density",
    [(1, [], 0.0), (1, [(1, 1)], 0.0), (2, [(1, 2)], 1.0), (3, [(1, 2)], 1 / 3), (4, [(1, 2), (3, 4), (2, 3)], 0.5),
     (3, [(1, 2), (2, 3), (1, 3)], 1.0)],
)
def test_density(n, edges, density):
    assert make(WeightedGraph, n, edges).density() == pytest.approx(density)


TestWeightedGraphModel = machine_for(WeightedGraph).TestCase
