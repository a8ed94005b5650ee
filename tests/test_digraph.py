"""Digraph: direction, refused self-loops, its message variants, and the
transpose and cycle test it shares with WeightedDigraph."""

import networkx as nx
import pytest

from morvena import Digraph, WeightedDigraph
from graph_model import machine_for, make, random_pair


def test_edges_have_a_direction():
    g = make(Digraph, 3, [(1, 2)])
    assert g.neighbours(1) == [2] and g.neighbours(2) == []
    assert (g.degree(1), g.degree(2), g.edge_count()) == (1, 0, 1)
    assert g.is_connected(2, 1) and not g.is_connected(1, 2)
    assert g.has_path(1, 2) and not g.has_path(2, 1)
    g.add_edge(1, 2)
    assert g.edge_count() == 2 and g.has_cycle()
    with pytest.raises(ValueError, match="^No connection between specified nodes$"):
        g.remove_edge(3, 1)
    g.remove_edge(1, 2)
    assert g.neighbours(2) == [] and g.neighbours(1) == [2]


@pytest.mark.parametrize("cls", [Digraph, WeightedDigraph])
def test_transpose_is_independent(cls):
    g = make(cls, 3, [(1, 2), (1, 3), (3, 2)])
    g.remove(3)
    t = g.transpose()
    assert type(t) is cls and t.keys() == [1, 2] and t.edge_count() == 1
    assert [n if isinstance(n, int) else n[0] for n in t.neighbours(2)] == [1] and t.neighbours(1) == []
    assert t.extract(1) is g.extract(1)
    t.remove(1)
    t.insert("t")
    g.insert("g")
    assert t.keys() == [2, 4] and g.keys() == [1, 2, 4] and g.edge_count() == 1


@pytest.mark.parametrize("cls", [Digraph, WeightedDigraph])
@pytest.mark.parametrize("seed", range(6))
def test_cycles_and_transposes_match_networkx(cls, seed):
    ours, theirs = random_pair(cls, seed, nodes=40, edges=45 + 5 * seed)
    assert ours.has_cycle() == (not nx.is_directed_acyclic_graph(theirs))
    t = ours.transpose()
    reversed_edges = {(u, v) for u in t.keys() for v in (x if isinstance(x, int) else x[0] for x in t.neighbours(u))}
    assert reversed_edges == set(theirs.reverse().edges)
    assert t.has_cycle() == ours.has_cycle()
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
