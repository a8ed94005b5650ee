"""Digraph: the transpose and cycle test it shares with WeightedDigraph (direction,
refused self-loops and its message variants are checked by the model)."""

import networkx as nx
import pytest

from morvena import Digraph, WeightedDigraph
from graph_model import ids, machine_for, make, random_pair


@pytest.mark.parametrize("cls", [Digraph, WeightedDigraph])
@pytest.mark.parametrize("seed", range(6))
def test_cycles_and_transposes_match_networkx(cls, seed):
    ours, theirs = random_pair(cls, seed, nodes=40, edges=45 + 5 * seed)
    assert ours.has_cycle() == (not nx.is_directed_acyclic_graph(theirs))
    t = ours.transpose()
    assert type(t) is cls and {(u, v) for u in t.keys() for v in ids(t.neighbours(u))} == set(theirs.reverse().edges)
    assert t.has_cycle() == ours.has_cycle() and t.extract(t.keys()[0]) is ours.extract(t.keys()[0])
    # The transpose owns its nodes and edges: changing it leaves the original alone.
    t.remove(t.keys()[0])
    t.insert("t")
    assert ours.keys() == list(theirs.nodes) and ours.edge_count() == theirs.number_of_edges()
    assert not make(cls, 40, [(u, v) for u, v in theirs.edges if u < v]).has_cycle()


def test_long_chain_is_iterative():
    n = 1_000_000
    g = make(Digraph, n, zip(range(1, n), range(2, n + 1)))
    assert not g.has_cycle() and g.has_path(1, n) and not g.has_path(n, 1)
    assert g.dfs_list(1)[-1] == n and g.bfs_list(n) == [n]
    t = g.transpose()
    assert t.has_path(n, 1) and t.bfs_list(n)[-1] == 1
    g.add_edge(1, n)
    assert g.has_cycle()


TestDigraphModel = machine_for(Digraph).TestCase
