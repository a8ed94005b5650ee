"""WeightedDigraph: a self-loop is a cycle, and density is E / (n(n-1)) with each
directed edge counted once (its argument order and messages are the model's)."""

import pytest

from morvena import WeightedDigraph
from graph_model import machine_for, make


@pytest.mark.parametrize("edges, cycle, density", [([(1, 1)], True, 0.5), ([(1, 2)], False, 0.5),
                                                   ([(1, 2), (2, 1)], True, 1.0), ([], False, 0.0)])
def test_cycles_and_density(edges, cycle, density):
    g = make(WeightedDigraph, 2, edges)
    assert g.has_cycle() == cycle and g.density() == density and g.total_weight() == len(edges)


TestWeightedDigraphModel = machine_for(WeightedDigraph).TestCase
