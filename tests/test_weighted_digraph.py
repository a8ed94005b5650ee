"""WeightedDigraph: directed weights, allowed self-loops (which are cycles), its
(to_id, from_id) argument order and messages, and density E / (n(n-1))."""

import pytest

from morvena import WeightedDigraph
from graph_model import machine_for, make


def test_edges_have_a_direction_and_own_weights():
    g = make(WeightedDigraph, 2)
    g.add_edge(2, 1, 1.5)
    assert g.neighbours(1) == [(2, 1.5)] and g.neighbours(2) == []
    assert g.get_weight(2, 1) == 1.5 and g.edge_count() == 1 and g.total_weight() == 1.5
    assert g.has_path(2, 1) and not g.has_path(1, 2) and not g.has_cycle()
    with pytest.raises(ValueError, match="^X and Y nodes are not connected$"):
        g.get_weight(1, 2)
    g.add_edge(2, 1, 3.0)
    g.add_edge(1, 2, 7.0)
    assert (g.get_weight(2, 1), g.get_weight(1, 2), g.edge_count(), g.total_weight()) == (3.0, 7.0, 2, 10.0)
    assert g.has_cycle() and g.weighted_degree(2) == 7.0 and g.density() == 1.0
    t = g.transpose()
    assert t.get_weight(1, 2) == 3.0 and t.get_weight(2, 1) == 7.0
    g.remove_edge(1, 2)
    assert g.neighbours(2) == [] and g.density() == 0.5 and t.edge_count() == 2


def test_self_loop_is_a_cycle():
    g = make(WeightedDigraph, 2)
    g.add_edge(1, 1, -4.0)
    assert g.has_cycle() and g.degree(1) == 1 and g.weighted_degree(1) == -4.0 and g.has_path(1, 1)
    assert g.transpose().neighbours(1) == [(1, -4.0)]
    for call in (g.is_connected, g.get_weight, g.remove_edge):
        with pytest.raises(ValueError, match="^Cannot connect nodes to oneself$"):
            call(1, 1)
    g.remove(1)
    assert g.edge_count() == 0 and not g.has_cycle() and g.density() == 0.0


TestWeightedDigraphModel = machine_for(WeightedDigraph).TestCase
